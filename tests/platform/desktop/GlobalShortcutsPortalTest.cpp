// SPDX-License-Identifier: GPL-3.0-or-later
// The portal client against a mock desktop portal (python-dbusmock) on a session bus of each test's own.
#include "platform/desktop/GlobalShortcutsPortal.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "platform/desktop/GlibTesting.h"

namespace norik::platform::desktop {
namespace {

const char* const kPortal = "org.freedesktop.portal.Desktop";

// The mock's own way to have the user press a shortcut.
void press(const char* id) {
    const GObjectPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    g_dbus_connection_call(bus.get(), kPortal, "/org/freedesktop/portal/desktop", "dev.norik.Test", "Press",
                           g_variant_new("(s)", id), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
}

const ShortcutRequest reviewSelection{"review-selection", "Review selection", "CTRL+ALT+space"};
const BoundShortcut assigned{"review-selection", "Review selection", "desktop: CTRL+ALT+space"};

std::optional<ShortcutsResult> bindNow(GlobalShortcutsPortal& portal, std::vector<ShortcutRequest> shortcuts) {
    std::optional<ShortcutsResult> result;
    portal.bind(std::move(shortcuts), [&](ShortcutsResult answer) { result = std::move(answer); });
    EXPECT_TRUE(iterateUntil([&] { return result.has_value(); }));
    return result;
}

class GlobalShortcutsPortalTest : public ::testing::Test {
    PrivateSessionBus m_bus;
};

TEST_F(GlobalShortcutsPortalTest, BindingSendsThePreferredTriggerAndReportsWhatTheDesktopAssigned) {
    const DbusMock mock({"--template", NORIK_TEST_PORTAL_TEMPLATE, "-p", "{}"}, kPortal);
    auto portal = GlobalShortcutsPortal::connect();
    ASSERT_TRUE(portal) << portal.error().message;
    const auto bound = bindNow(**portal, {reviewSelection});
    ASSERT_TRUE(bound && *bound) << (bound ? bound->error().message : "no answer");
    EXPECT_EQ(**bound, std::vector<BoundShortcut>{assigned});

    std::optional<ShortcutsResult> listed;
    (*portal)->list([&](ShortcutsResult answer) { listed = std::move(answer); });
    ASSERT_TRUE(iterateUntil([&] { return listed.has_value(); }));
    ASSERT_TRUE(*listed);
    EXPECT_EQ(**listed, std::vector<BoundShortcut>{assigned});
}

TEST_F(GlobalShortcutsPortalTest, PressesOfTheSessionsShortcutArriveAndOtherApplicationsPressesDoNot) {
    const DbusMock mock({"--template", NORIK_TEST_PORTAL_TEMPLATE, "-p", "{}"}, kPortal);
    auto portal = GlobalShortcutsPortal::connect();
    ASSERT_TRUE(portal);
    std::vector<std::string> pressed;
    (*portal)->setActivated([&](const std::string& id) { pressed.push_back(id); });
    ASSERT_TRUE(bindNow(**portal, {reviewSelection}).value_or(ShortcutsResult{}));

    // The mock announces each press to another application's session first; seeing the second press
    // of ours means every earlier signal has been dispatched.
    press("review-selection");
    press("second");
    ASSERT_TRUE(iterateUntil([&] { return std::ranges::find(pressed, "second") != pressed.end(); }));
    EXPECT_EQ(pressed, (std::vector<std::string>{"review-selection", "second"}));
}

TEST_F(GlobalShortcutsPortalTest, DismissingTheDesktopsDialogIsReportedAsCancelled) {
    const DbusMock mock({"--template", NORIK_TEST_PORTAL_TEMPLATE, "-p", R"({"bind_response": 1})"}, kPortal);
    auto portal = GlobalShortcutsPortal::connect();
    ASSERT_TRUE(portal);
    const auto bound = bindNow(**portal, {reviewSelection});
    ASSERT_TRUE(bound && !*bound);
    EXPECT_TRUE(bound->error().cancelled);
}

TEST_F(GlobalShortcutsPortalTest, WithoutAPortalConnectingFails) {
    EXPECT_FALSE(GlobalShortcutsPortal::connect());
}

} // namespace
} // namespace norik::platform::desktop
