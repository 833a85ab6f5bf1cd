// SPDX-License-Identifier: GPL-3.0-or-later
// The portal client against a mock desktop portal (python-dbusmock) on a session bus of each test's own.
#include "platform/desktop/GlobalShortcutsPortal.h"

#include <algorithm>
#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "platform/desktop/GlibWait.h"

namespace norik::platform::desktop {
namespace {

class MockPortal {
public:
    explicit MockPortal(const char* parameters) {
        GError* raw = nullptr;
        m_process.reset(g_subprocess_new(G_SUBPROCESS_FLAGS_NONE, &raw, NORIK_TEST_PYTHON, "-m", "dbusmock",
                                         "--template", NORIK_TEST_PORTAL_TEMPLATE, "-p", parameters, nullptr));
        const GErrorPtr error(raw);
        if (m_process == nullptr) {
            ADD_FAILURE() << messageOf(error.get(), "the mock portal did not start");
            return;
        }
        EXPECT_TRUE(waitForBusName("org.freedesktop.portal.Desktop")) << "the mock portal never took its name";
    }
    MockPortal(const MockPortal&) = delete;
    MockPortal& operator=(const MockPortal&) = delete;
    ~MockPortal() {
        if (m_process != nullptr) {
            g_subprocess_send_signal(m_process.get(), SIGTERM);
            g_subprocess_wait(m_process.get(), nullptr, nullptr);
        }
    }

    static void press(const char* id) {
        const GObjectPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
        g_dbus_connection_call(bus.get(), "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                               "dev.norik.Test", "Press", g_variant_new("(s)", id), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
                               nullptr, nullptr, nullptr);
    }

private:
    GObjectPtr<GSubprocess> m_process;
};

const ShortcutRequest reviewSelection{"review-selection", "Review selection", "CTRL+ALT+space"};
const BoundShortcut assigned{"review-selection", "Review selection", "desktop: CTRL+ALT+space"};

std::optional<ShortcutsResult> bindNow(GlobalShortcutsPortal& portal, std::vector<ShortcutRequest> shortcuts) {
    std::optional<ShortcutsResult> result;
    portal.bind(std::move(shortcuts), [&](ShortcutsResult answer) { result = std::move(answer); });
    EXPECT_TRUE(iterateUntil([&] { return result.has_value(); }));
    return result;
}

// Tests run side by side, and each mock takes the portal's well-known name.
class GlobalShortcutsPortalTest : public ::testing::Test {
protected:
    void SetUp() override { g_test_dbus_up(m_bus.get()); }
    void TearDown() override { g_test_dbus_down(m_bus.get()); }

private:
    GObjectPtr<GTestDBus> m_bus{g_test_dbus_new(G_TEST_DBUS_NONE)};
};

TEST_F(GlobalShortcutsPortalTest, BindingSendsThePreferredTriggerAndReportsWhatTheDesktopAssigned) {
    const MockPortal mock("{}");
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
    const MockPortal mock("{}");
    auto portal = GlobalShortcutsPortal::connect();
    ASSERT_TRUE(portal);
    std::vector<std::string> pressed;
    (*portal)->setActivated([&](const std::string& id) { pressed.push_back(id); });
    ASSERT_TRUE(bindNow(**portal, {reviewSelection}).value_or(ShortcutsResult{}));

    // The mock announces each press to another application's session first; seeing the second press
    // of ours means every earlier signal has been dispatched.
    MockPortal::press("review-selection");
    MockPortal::press("second");
    ASSERT_TRUE(iterateUntil([&] { return std::ranges::find(pressed, "second") != pressed.end(); }));
    EXPECT_EQ(pressed, (std::vector<std::string>{"review-selection", "second"}));
}

TEST_F(GlobalShortcutsPortalTest, DismissingTheDesktopsDialogIsReportedAsCancelled) {
    const MockPortal mock(R"({"bind_response": 1})");
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
