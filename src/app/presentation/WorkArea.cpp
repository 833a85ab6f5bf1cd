// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/presentation/WorkArea.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <QGuiApplication>
#include <QScreen>

#include "platform/x11/XcbHandles.h"

namespace norik::app {
namespace {

struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

// Far more rectangles than any desktop has monitors or desktops.
constexpr std::uint32_t kMaximumValues = 4096;

// The CARDINAL values of a root window property; empty when it is not set.
std::vector<std::uint32_t> cardinals(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t property) {
    if (property == XCB_ATOM_NONE) {
        return {};
    }
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, root, property, XCB_ATOM_CARDINAL, 0, kMaximumValues), nullptr));
    if (!reply || reply->format != 32 || reply->type != XCB_ATOM_CARDINAL) {
        return {};
    }
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    const auto count = static_cast<std::size_t>(xcb_get_property_value_length(reply.get())) / sizeof(std::uint32_t);
    return {values, values + count};
}

QRect rectangleAt(std::span<const std::uint32_t> values, std::size_t index) {
    // Coordinates are CARDINALs, but a monitor left of or above the origin has negative ones.
    const auto value = [&](std::size_t offset) { return static_cast<int>(static_cast<std::int32_t>(values[offset])); };
    return {value(index * 4), value(index * 4 + 1), value(index * 4 + 2), value(index * 4 + 3)};
}

// The values of a window property of any 32-bit type; empty when it is not set.
std::vector<std::uint32_t> values32(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property) {
    if (property == XCB_ATOM_NONE) {
        return {};
    }
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, kMaximumValues),
        nullptr));
    if (!reply || reply->format != 32) {
        return {};
    }
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    const auto count = static_cast<std::size_t>(xcb_get_property_value_length(reply.get())) / sizeof(std::uint32_t);
    return {values, values + count};
}

// `screen` less the struts of the managed windows that lie along it; absent without a window manager's
// client list.
std::optional<QRect> areaLeftByStruts(xcb_connection_t* connection, xcb_window_t root, const QRect& screen) {
    const xcb_atom_t clientList = platform::x11::internAtom(connection, "_NET_CLIENT_LIST", true);
    const Reply<xcb_get_property_reply_t> listed(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, root, clientList, XCB_ATOM_WINDOW, 0, kMaximumValues), nullptr));
    const Reply<xcb_get_geometry_reply_t> rootGeometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, root), nullptr));
    if (clientList == XCB_ATOM_NONE || !listed || listed->type != XCB_ATOM_WINDOW || !rootGeometry) {
        return std::nullopt;
    }
    const xcb_atom_t partial = platform::x11::internAtom(connection, "_NET_WM_STRUT_PARTIAL", true);
    const xcb_atom_t plain = platform::x11::internAtom(connection, "_NET_WM_STRUT", true);
    const int rootWidth = rootGeometry->width;
    const int rootHeight = rootGeometry->height;
    const std::span windows(static_cast<const xcb_window_t*>(xcb_get_property_value(listed.get())),
                            static_cast<std::size_t>(xcb_get_property_value_length(listed.get())) / 4);
    QRect area = screen;
    for (const xcb_window_t window : windows) {
        std::vector<std::uint32_t> strut = values32(connection, window, partial);
        if (strut.size() < 12) {
            // A plain strut spans the whole edge of the root window.
            strut = values32(connection, window, plain);
            if (strut.size() < 4) {
                continue;
            }
            strut.resize(4);
            const auto width = static_cast<std::uint32_t>(rootWidth - 1);
            const auto height = static_cast<std::uint32_t>(rootHeight - 1);
            strut.insert(strut.end(), {0, height, 0, height, 0, width, 0, width});
        }
        const auto value = [&](std::size_t index) { return static_cast<int>(strut[index]); };
        const auto alongX = [&](std::size_t start) {
            return value(start) <= screen.right() && value(start + 1) >= screen.left();
        };
        const auto alongY = [&](std::size_t start) {
            return value(start) <= screen.bottom() && value(start + 1) >= screen.top();
        };
        if (value(0) > 0 && alongY(4)) {
            area.setLeft(std::max(area.left(), value(0)));
        }
        if (value(1) > 0 && alongY(6)) {
            area.setRight(std::min(area.right(), rootWidth - value(1) - 1));
        }
        if (value(2) > 0 && alongX(8)) {
            area.setTop(std::max(area.top(), value(2)));
        }
        if (value(3) > 0 && alongX(10)) {
            area.setBottom(std::min(area.bottom(), rootHeight - value(3) - 1));
        }
    }
    return area.isEmpty() ? std::nullopt : std::optional(area);
}

} // namespace

std::optional<QRect> x11WorkArea(xcb_connection_t* connection, xcb_window_t root, const QRect& screen) {
    const std::vector<std::uint32_t> current =
        cardinals(connection, root, platform::x11::internAtom(connection, "_NET_CURRENT_DESKTOP", true));
    const std::size_t desktop = current.empty() ? 0 : current.front();

    // One rectangle per monitor: the one that covers most of the screen is the screen's.
    const std::vector<std::uint32_t> perMonitor = cardinals(
        connection, root, platform::x11::internAtom(connection, "_GTK_WORKAREAS_D" + std::to_string(desktop), true));
    std::optional<QRect> best;
    for (std::size_t index = 0; index < perMonitor.size() / 4; ++index) {
        const QRect cut = rectangleAt(perMonitor, index).intersected(screen);
        if (!cut.isEmpty() && (!best || cut.width() * cut.height() > best->width() * best->height())) {
            best = cut;
        }
    }
    if (best) {
        return best;
    }

    // With a window manager the docks' struts tell which monitor they sit on, where _NET_WORKAREA would
    // take a bar on one monitor off all of them.
    if (const std::optional<QRect> cut = areaLeftByStruts(connection, root, screen)) {
        return cut;
    }

    // One rectangle per desktop, spanning every monitor.
    const std::vector<std::uint32_t> perDesktop =
        cardinals(connection, root, platform::x11::internAtom(connection, "_NET_WORKAREA", true));
    if (perDesktop.size() / 4 > desktop) {
        const QRect cut = rectangleAt(perDesktop, desktop).intersected(screen);
        if (!cut.isEmpty()) {
            return cut;
        }
    }
    return std::nullopt;
}

QRect workArea(const QScreen& screen) {
    const QRect available = screen.availableGeometry();
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr) {
        return available;
    }
    // Qt's connection works on the first X screen; other screens of one X server are monitors of it.
    const xcb_screen_iterator_t roots = xcb_setup_roots_iterator(xcb_get_setup(connection));
    if (roots.rem == 0) {
        return available;
    }
    // Qt scales sizes, not the screen's top left corner, between its pixels and X's.
    const QRect logical = screen.geometry();
    const qreal ratio = screen.devicePixelRatio();
    const QRect native(logical.topLeft(), (QSizeF(logical.size()) * ratio).toSize());
    const std::optional<QRect> area = x11WorkArea(connection, roots.data->root, native);
    if (!area) {
        return available;
    }
    return {logical.topLeft() + (area->topLeft() - logical.topLeft()) / ratio, area->size() / ratio};
}

} // namespace norik::app
