// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/capture/X11ClipboardReader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include <QString>
#include <poll.h>

#include "platform/x11/XcbHandles.h"

namespace norik::app {

namespace {

using platform::x11::internAtom;
using platform::x11::XcbReply;
using Clock = std::chrono::steady_clock;

// Any property of one's own window will do; the owner writes each format there.
constexpr std::string_view transferProperty = "NORIK_CLIPBOARD_SAVE";
// Get-property lengths are in 32-bit units; a single property cannot be larger than a request.
constexpr std::uint32_t wholeProperty = 0x3FFFFFFF;

struct Atoms {
    xcb_atom_t clipboard = XCB_NONE;
    xcb_atom_t targets = XCB_NONE;
    xcb_atom_t incr = XCB_NONE;
    xcb_atom_t property = XCB_NONE;
};

class Transfer {
public:
    Transfer(xcb_connection_t* connection, xcb_window_t window, const Atoms& atoms, Clock::time_point deadline)
        : m_connection(connection), m_window(window), m_atoms(atoms), m_deadline(deadline) {}

    // The owner's conversion of the CLIPBOARD to `target`; null when refused or not complete by the deadline.
    QByteArray convert(xcb_atom_t target) {
        if (Clock::now() >= m_deadline) {
            return {};
        }
        xcb_convert_selection(m_connection, m_window, m_atoms.clipboard, target, m_atoms.property, XCB_CURRENT_TIME);
        xcb_flush(m_connection);
        bool refused = false;
        const bool notified = waitFor([&](const xcb_generic_event_t& event) {
            if ((event.response_type & 0x7F) != XCB_SELECTION_NOTIFY) {
                return false;
            }
            const auto& notify = reinterpret_cast<const xcb_selection_notify_event_t&>(event);
            if (notify.requestor != m_window || notify.selection != m_atoms.clipboard || notify.target != target) {
                return false;
            }
            refused = notify.property == XCB_NONE;
            return true;
        });
        if (!notified || refused) {
            return {};
        }
        xcb_atom_t type = XCB_NONE;
        QByteArray bytes = takeProperty(&type);
        if (type != m_atoms.incr) {
            return bytes;
        }
        // Taking the INCR property deleted it, which asks the owner for the first piece; an empty piece ends.
        QByteArray whole(0, Qt::Uninitialized);
        for (;;) {
            const bool piece = waitFor([&](const xcb_generic_event_t& event) {
                if ((event.response_type & 0x7F) != XCB_PROPERTY_NOTIFY) {
                    return false;
                }
                const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
                return notify.window == m_window && notify.atom == m_atoms.property &&
                       notify.state == XCB_PROPERTY_NEW_VALUE;
            });
            if (!piece) {
                return {};
            }
            const QByteArray next = takeProperty(&type);
            if (next.isNull()) {
                return {};
            }
            if (next.isEmpty()) {
                return whole;
            }
            whole.append(next);
        }
    }

private:
    // Reads and deletes the transfer property; null when it cannot be read.
    QByteArray takeProperty(xcb_atom_t* type) {
        const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            m_connection,
            xcb_get_property(m_connection, 1, m_window, m_atoms.property, XCB_GET_PROPERTY_TYPE_ANY, 0, wholeProperty),
            nullptr));
        if (!reply) {
            return {};
        }
        *type = reply->type;
        const int length = xcb_get_property_value_length(reply.get());
        QByteArray bytes(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
        // An empty QByteArray built from a zero length is not null, which tells "nothing" from "not read".
        return bytes.isNull() ? QByteArray(0, Qt::Uninitialized) : bytes;
    }

    // Reads events until one matches, the deadline passes or the connection fails.
    bool waitFor(const std::function<bool(const xcb_generic_event_t&)>& matches) {
        for (;;) {
            while (const XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(m_connection)}) {
                if (matches(*event)) {
                    return true;
                }
            }
            if (xcb_connection_has_error(m_connection) != 0) {
                return false;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_deadline - Clock::now());
            if (left.count() <= 0) {
                return false;
            }
            pollfd descriptor{xcb_get_file_descriptor(m_connection), POLLIN, 0};
            ::poll(&descriptor, 1, static_cast<int>(left.count()));
        }
    }

    xcb_connection_t* m_connection;
    xcb_window_t m_window;
    Atoms m_atoms;
    Clock::time_point m_deadline;
};

std::vector<xcb_atom_t> atomList(const QByteArray& bytes) {
    std::vector<xcb_atom_t> atoms(static_cast<std::size_t>(bytes.size()) / sizeof(xcb_atom_t));
    if (atoms.empty()) {
        return atoms;
    }
    std::memcpy(atoms.data(), bytes.constData(), atoms.size() * sizeof(xcb_atom_t));
    return atoms;
}

std::vector<QString> atomNames(xcb_connection_t* connection, const std::vector<xcb_atom_t>& atoms) {
    std::vector<xcb_get_atom_name_cookie_t> cookies;
    cookies.reserve(atoms.size());
    for (const xcb_atom_t atom : atoms) {
        cookies.push_back(xcb_get_atom_name(connection, atom));
    }
    std::vector<QString> names;
    names.reserve(atoms.size());
    for (const auto cookie : cookies) {
        const XcbReply<xcb_get_atom_name_reply_t> reply(xcb_get_atom_name_reply(connection, cookie, nullptr));
        names.push_back(
            reply ? QString::fromLatin1(xcb_get_atom_name_name(reply.get()), xcb_get_atom_name_name_length(reply.get()))
                  : QString());
    }
    return names;
}

// Targets that name X resources or an encoding negotiation rather than bytes one could write back.
bool isResourceOrLegacyText(const QString& name) {
    static const std::array<QString, 7> names{
        QStringLiteral("PIXMAP"), QStringLiteral("BITMAP"), QStringLiteral("DRAWABLE"),      QStringLiteral("COLORMAP"),
        QStringLiteral("WINDOW"), QStringLiteral("TEXT"),   QStringLiteral("COMPOUND_TEXT"),
    };
    return std::ranges::find(names, name) != names.end();
}

// Plain text under the MIME name Qt gives it, in UTF-8 as Qt serves text/plain: UTF8_STRING first, as Qt
// prefers it, then the MIME target itself, then Latin-1 STRING.
QByteArray plainText(Transfer& transfer, const std::vector<xcb_atom_t>& atoms, const std::vector<QString>& names) {
    for (const QString& preferred :
         {QStringLiteral("UTF8_STRING"), QStringLiteral("text/plain"), QStringLiteral("STRING")}) {
        const auto found = std::ranges::find(names, preferred);
        if (found == names.end()) {
            continue;
        }
        QByteArray bytes = transfer.convert(atoms[static_cast<std::size_t>(found - names.begin())]);
        if (bytes.isNull()) {
            continue;
        }
        return preferred == QLatin1String("STRING") ? QString::fromLatin1(bytes).toUtf8() : bytes;
    }
    return {};
}

} // namespace

ClipboardSnapshot readOtherClientsClipboard(std::chrono::milliseconds budget) {
    const Clock::time_point deadline = Clock::now() + budget;
    ClipboardSnapshot snapshot;
    auto connection = platform::x11::XcbConnection::open(nullptr);
    if (!connection) {
        return snapshot;
    }
    xcb_connection_t* const c = connection->get();
    const xcb_window_t root = platform::x11::rootWindow(c, connection->screenNumber());
    if (root == XCB_NONE) {
        return snapshot;
    }
    const Atoms atoms{internAtom(c, "CLIPBOARD"), internAtom(c, "TARGETS"), internAtom(c, "INCR"),
                      internAtom(c, transferProperty)};
    const XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atoms.clipboard), nullptr));
    if (!owner || owner->owner == XCB_NONE) {
        return snapshot;
    }

    // Unmapped and input-only: it exists only to receive the owner's answers.
    const xcb_window_t window = xcb_generate_id(c);
    const std::uint32_t eventMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, 0, window, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                      XCB_CW_EVENT_MASK, &eventMask);

    Transfer transfer(c, window, atoms, deadline);
    const std::vector<xcb_atom_t> targets = atomList(transfer.convert(atoms.targets));
    const std::vector<QString> names = atomNames(c, targets);
    bool plainTextTaken = false;
    for (std::size_t index = 0; index < targets.size(); ++index) {
        const QString& name = names[index];
        if (name.isEmpty() || isResourceOrLegacyText(name) || !ClipboardSnapshot::isContents(name)) {
            continue;
        }
        if (name == QLatin1String("UTF8_STRING") || name == QLatin1String("STRING") ||
            name == QLatin1String("text/plain")) {
            if (!std::exchange(plainTextTaken, true)) {
                snapshot.add(QStringLiteral("text/plain"), plainText(transfer, targets, names));
            }
            continue;
        }
        snapshot.add(name, transfer.convert(targets[index]));
    }
    return snapshot;
}

} // namespace norik::app
