// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/presentation/WorkArea.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <gtest/gtest.h>

#include "app/presentation/NotchReviewPresenter.h"
#include "platform/x11/XcbHandles.h"

namespace norik::app {
namespace {

// The Xvfb screen of the suite's main().
const QRect kScreen(0, 0, 1920, 1080);

using Values = std::vector<std::uint32_t>;

struct AreaCase {
    const char* name;
    // Root window properties in order; "dock" adds a dock the window manager lists, with these struts.
    std::vector<std::pair<std::string, Values>> properties;
    std::optional<QRect> area;
};

void PrintTo(const AreaCase& row, std::ostream* out) {
    *out << row.name;
}

// Sets the desktop's properties on Qt's own connection, so that the code under test, on the same connection,
// reads them in order.
class WorkAreaTest : public ::testing::TestWithParam<AreaCase> {
protected:
    void TearDown() override {
        for (const auto& name :
             {"_NET_WORKAREA", "_GTK_WORKAREAS_D0", "_GTK_WORKAREAS_D1", "_NET_CURRENT_DESKTOP", "_NET_CLIENT_LIST"}) {
            xcb_delete_property(m_connection, m_root, platform::x11::internAtom(m_connection, name));
        }
        xcb_flush(m_connection);
    }

    void set(xcb_window_t window, const std::string& name, const Values& values, xcb_atom_t type = XCB_ATOM_CARDINAL) {
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, platform::x11::internAtom(m_connection, name),
                            type, 32, static_cast<std::uint32_t>(values.size()), values.data());
        xcb_flush(m_connection);
    }

    xcb_connection_t* m_connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    xcb_window_t m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
};

TEST_P(WorkAreaTest, GivesThePanelTheRoomTheDesktopLeaves) {
    Values docks;
    for (const auto& [name, values] : GetParam().properties) {
        const bool dock = name == "dock";
        if (dock) {
            docks.push_back(xcb_generate_id(m_connection));
            xcb_create_window(m_connection, 0, docks.back(), m_root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                              XCB_COPY_FROM_PARENT, 0, nullptr);
            set(m_root, "_NET_CLIENT_LIST", docks, XCB_ATOM_WINDOW);
        }
        set(dock ? docks.back() : m_root, dock ? "_NET_WM_STRUT_PARTIAL" : name, values);
    }
    const QScreen& screen = *QGuiApplication::primaryScreen();
    ASSERT_EQ(screen.geometry(), kScreen);
    EXPECT_EQ(x11WorkArea(m_connection, m_root, kScreen), GetParam().area);
    EXPECT_EQ(workArea(screen), GetParam().area.value_or(screen.availableGeometry()));
    NotchReviewPresenter presenter;
    presenter.showNotice(QStringLiteral("Nothing selected."));
    EXPECT_EQ(presenter.panel()->content()->layout()->contentsMargins().top(), workArea(screen).top())
        << "the panel's content starts below the top bar";
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, WorkAreaTest,
    ::testing::Values(
        AreaCase{
            "NetWorkAreaLeavesRoomForTheTopBar", {{"_NET_WORKAREA", {0, 32, 1920, 1048}}}, QRect(0, 32, 1920, 1048)},
        // Two monitors side by side: one area spans both.
        AreaCase{"NetWorkAreaOfTheCurrentDesktopIsCutToTheScreen",
                 {{"_NET_WORKAREA", {0, 10, 3840, 1070, 0, 32, 3840, 1048}}, {"_NET_CURRENT_DESKTOP", {1}}},
                 QRect(0, 32, 1920, 1048)},
        // The area spans a bar of the monitor to the right; only the docks tell which monitor has which.
        AreaCase{"UnderAWindowManagerADockOfAnotherMonitorDoesNotCount",
                 {{"_NET_WORKAREA", {0, 50, 3840, 1030}}, {"dock", {0, 0, 50, 0, 0, 0, 0, 0, 1920, 3839, 0, 0}}},
                 kScreen},
        AreaCase{"UnderAWindowManagerTheDocksAlongTheScreenCount",
                 {{"_NET_WORKAREA", {0, 50, 3840, 1030}},
                  {"dock", {0, 0, 28, 0, 0, 0, 0, 0, 0, 1919, 0, 0}},
                  {"dock", {0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 200, 800}}},
                 QRect(0, 28, 1920, 1012)},
        // The other monitor first, with a taller bar, so that taking the first rectangle shows.
        AreaCase{
            "GtkWorkAreasOfTheScreensMonitorWin",
            {{"_NET_WORKAREA", {0, 32, 1920, 1048}}, {"_GTK_WORKAREAS_D0", {1920, 60, 1920, 1020, 0, 40, 1920, 1040}}},
            QRect(0, 40, 1920, 1040)},
        AreaCase{"GtkWorkAreasFollowTheCurrentDesktop",
                 {{"_GTK_WORKAREAS_D0", {0, 40, 1920, 1040}},
                  {"_GTK_WORKAREAS_D1", {0, 24, 1920, 1056}},
                  {"_NET_CURRENT_DESKTOP", {1}}},
                 QRect(0, 24, 1920, 1056)},
        AreaCase{"WithoutPropertiesTheAvailableGeometryCounts", {}, std::nullopt},
        AreaCase{"AnAreaOffTheScreenDoesNotCount", {{"_NET_WORKAREA", {1920, 32, 1920, 1048}}}, std::nullopt}),
    [](const ::testing::TestParamInfo<AreaCase>& row) { return std::string(row.param.name); });

} // namespace
} // namespace norik::app
