// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/PrimarySelectionReader.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/x11/XcbHandles.h"

namespace norik::platform::desktop {

namespace {

using x11::internAtom;
using x11::XcbReply;

constexpr std::uint8_t kEventTypeMask = 0x7f;

std::string latin1ToUtf8(std::string_view latin1) {
    std::string text;
    for (const char byte : latin1) {
        const auto code = static_cast<unsigned char>(byte);
        if (code < 0x80) {
            text += byte;
        } else {
            text += static_cast<char>(0xc0 | (code >> 6));
            text += static_cast<char>(0x80 | (code & 0x3f));
        }
    }
    return text;
}

void cutAtCharacter(std::string& text, std::size_t limit) {
    if (text.size() <= limit) {
        return;
    }
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80) {
        --cut;
    }
    text.resize(cut);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor) : m_descriptor(descriptor) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (m_descriptor >= 0) {
            ::close(m_descriptor);
        }
    }
    [[nodiscard]] int get() const { return m_descriptor; }

private:
    int m_descriptor;
};

struct Property {
    xcb_atom_t type = XCB_ATOM_NONE;
    std::uint8_t format = 0;
    std::string bytes;
};

// Reads the property and deletes it, which tells an incremental sender to go on.
std::optional<Property> takeProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property) {
    const XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                                PrimarySelectionReader::maxBytes / 4 + 1),
                               nullptr));
    if (reply == nullptr) {
        return std::nullopt;
    }
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
    const auto length = static_cast<std::size_t>(xcb_get_property_value_length(reply.get())) * (reply->format / 8);
    return Property{reply->type, reply->format, std::string(data, length)};
}

} // namespace

std::expected<PrimarySelectionReader, std::string> PrimarySelectionReader::open(const char* display) {
    auto connection = x11::XcbConnection::open(display);
    if (!connection) {
        return std::unexpected(std::move(connection.error()));
    }
    xcb_connection_t* c = connection->get();
    const xcb_window_t root = x11::rootWindow(c, connection->screenNumber());
    if (root == XCB_NONE) {
        return std::unexpected(std::string("The X server has no such screen"));
    }
    const Atoms atoms{internAtom(c, "UTF8_STRING"), internAtom(c, "INCR"), internAtom(c, "NORIK_PRIMARY"),
                      internAtom(c, "_NET_ACTIVE_WINDOW")};
    const xcb_window_t window = xcb_generate_id(c);
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    xcb_flush(c);
    return PrimarySelectionReader(std::move(*connection), root, window, atoms);
}

std::optional<std::string> PrimarySelectionReader::read(std::chrono::milliseconds timeout,
                                                        const std::stop_token& stop) {
    xcb_connection_t* c = m_connection.get();
    const XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, XCB_ATOM_PRIMARY), nullptr));
    if (owner == nullptr || owner->owner == XCB_NONE) {
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (auto text = convert(m_atoms.utf8, deadline, stop)) {
        return text;
    }
    auto latin1 = convert(XCB_ATOM_STRING, deadline, stop);
    if (!latin1) {
        return std::nullopt;
    }
    std::string text = latin1ToUtf8(*latin1);
    cutAtCharacter(text, maxBytes);
    return text;
}

std::optional<xcb_window_t> PrimarySelectionReader::activeWindow() {
    xcb_connection_t* c = m_connection.get();
    const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, m_root, m_atoms.activeWindow, XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (reply == nullptr || xcb_get_property_value_length(reply.get()) < 4) {
        return std::nullopt;
    }
    const xcb_window_t window = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
    return window != XCB_NONE ? std::optional(window) : std::nullopt;
}

std::optional<std::string> PrimarySelectionReader::convert(xcb_atom_t target,
                                                           std::chrono::steady_clock::time_point deadline,
                                                           const std::stop_token& stop) {
    xcb_connection_t* c = m_connection.get();
    xcb_delete_property(c, m_window, m_atoms.property);
    xcb_convert_selection(c, m_window, XCB_ATOM_PRIMARY, target, m_atoms.property, XCB_CURRENT_TIME);
    xcb_flush(c);
    const auto notify = waitFor(
        [&](const xcb_generic_event_t& event) {
            return (event.response_type & kEventTypeMask) == XCB_SELECTION_NOTIFY &&
                   reinterpret_cast<const xcb_selection_notify_event_t&>(event).requestor == m_window;
        },
        deadline, stop);
    if (notify == nullptr || reinterpret_cast<const xcb_selection_notify_event_t&>(*notify).property == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    auto first = takeProperty(c, m_window, m_atoms.property);
    if (!first || first->type == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    if (first->type != m_atoms.incr) {
        if (first->format != 8) {
            return std::nullopt;
        }
        cutAtCharacter(first->bytes, maxBytes);
        return std::move(first->bytes);
    }
    // Incremental transfer: the owner writes the next piece each time the previous one is deleted, and an
    // empty piece ends it.
    xcb_flush(c);
    std::string text;
    for (;;) {
        const auto piece = waitFor(
            [&](const xcb_generic_event_t& event) {
                const auto& change = reinterpret_cast<const xcb_property_notify_event_t&>(event);
                return (event.response_type & kEventTypeMask) == XCB_PROPERTY_NOTIFY && change.window == m_window &&
                       change.atom == m_atoms.property && change.state == XCB_PROPERTY_NEW_VALUE;
            },
            deadline, stop);
        if (piece == nullptr) {
            return std::nullopt;
        }
        auto chunk = takeProperty(c, m_window, m_atoms.property);
        xcb_flush(c);
        if (!chunk || (chunk->format != 8 && !chunk->bytes.empty())) {
            return std::nullopt;
        }
        if (chunk->bytes.empty()) {
            cutAtCharacter(text, maxBytes);
            return text;
        }
        if (text.size() <= maxBytes) {
            text += chunk->bytes;
        }
    }
}

template <typename Predicate>
x11::XcbReply<xcb_generic_event_t> PrimarySelectionReader::waitFor(Predicate wanted,
                                                                   std::chrono::steady_clock::time_point deadline,
                                                                   const std::stop_token& stop) {
    xcb_connection_t* c = m_connection.get();
    const FileDescriptor wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    const std::stop_callback onStop(stop, [&wake] {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wake.get(), &one, sizeof one);
    });
    while (!stop.stop_requested() && xcb_connection_has_error(c) == 0) {
        while (xcb_generic_event_t* raw = xcb_poll_for_event(c)) {
            XcbReply<xcb_generic_event_t> event(raw);
            if (wanted(*event)) {
                return event;
            }
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        std::array<pollfd, 2> descriptors{{{xcb_get_file_descriptor(c), POLLIN, 0}, {wake.get(), POLLIN, 0}}};
        ::poll(descriptors.data(), descriptors.size(), static_cast<int>(left.count()));
    }
    return nullptr;
}

} // namespace norik::platform::desktop
