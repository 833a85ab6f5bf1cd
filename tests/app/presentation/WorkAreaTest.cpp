// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/presentation/WorkArea.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
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

// Sets the desktop's root window properties on Qt's own connection, so that the code under test, on the
// same connection, reads them in order.
class WorkAreaTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        ASSERT_NE(x11, nullptr);
        m_connection = x11->connection();
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        ASSERT_EQ(QGuiApplication::primaryScreen()->geometry(), kScreen);
    }

    void TearDown() override {
        for (const char* name :
             {"_NET_WORKAREA", "_GTK_WORKAREAS_D0", "_GTK_WORKAREAS_D1", "_NET_CURRENT_DESKTOP", "_NET_CLIENT_LIST"}) {
            xcb_delete_property(m_connection, m_root, atom(name));
        }
        xcb_flush(m_connection);
    }

    xcb_atom_t atom(const std::string& name) { return platform::x11::internAtom(m_connection, name); }

    void set(const std::string& name, const std::vector<std::uint32_t>& values, xcb_window_t window = XCB_NONE,
             xcb_atom_t type = XCB_ATOM_CARDINAL) {
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window == XCB_NONE ? m_root : window, atom(name), type,
                            32, static_cast<std::uint32_t>(values.size()), values.data());
        xcb_flush(m_connection);
    }

    // A dock listed by the window manager, with these struts.
    void dock(const std::vector<std::uint32_t>& partialStrut) {
        const xcb_window_t window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, 0, window, m_root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        set("_NET_WM_STRUT_PARTIAL", partialStrut, window);
        m_docks.push_back(window);
        set("_NET_CLIENT_LIST", m_docks, m_root, XCB_ATOM_WINDOW);
    }

    [[nodiscard]] std::optional<QRect> area() const { return x11WorkArea(m_connection, m_root, kScreen); }

    // The top margin the presenter gives a panel it shows now.
    static int panelTopInset() {
        NotchReviewPresenter presenter;
        presenter.showNotice(QStringLiteral("Nothing selected"));
        const int inset = presenter.panel()->content()->layout()->contentsMargins().top();
        presenter.dismiss();
        return inset;
    }

    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = XCB_NONE;
    std::vector<xcb_window_t> m_docks;
};

TEST_F(WorkAreaTest, NetWorkAreaGivesTheTopBarToThePanel) {
    set("_NET_WORKAREA", {0, 32, 1920, 1048});
    EXPECT_EQ(area(), QRect(0, 32, 1920, 1048));
    EXPECT_EQ(workArea(*QGuiApplication::primaryScreen()), QRect(0, 32, 1920, 1048));
    EXPECT_EQ(panelTopInset(), 32);
}

TEST_F(WorkAreaTest, NetWorkAreaOfTheCurrentDesktopIsCutToTheScreen) {
    // Two monitors side by side: one area spans both.
    set("_NET_WORKAREA", {0, 10, 3840, 1070, 0, 32, 3840, 1048});
    set("_NET_CURRENT_DESKTOP", {1});
    EXPECT_EQ(area(), QRect(0, 32, 1920, 1048));
    EXPECT_EQ(panelTopInset(), 32);
}

TEST_F(WorkAreaTest, UnderAWindowManagerOnlyTheDocksAlongTheScreenCount) {
    // Spans a bar on a monitor to the right as well; only the docks tell which monitor has which.
    set("_NET_WORKAREA", {0, 50, 3840, 1030});
    dock({0, 0, 50, 0, 0, 0, 0, 0, 1920, 3839, 0, 0});
    EXPECT_EQ(area(), kScreen);
    dock({0, 0, 28, 0, 0, 0, 0, 0, 0, 1919, 0, 0});
    dock({0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 200, 800});
    EXPECT_EQ(area(), QRect(0, 28, 1920, 1012));
    EXPECT_EQ(panelTopInset(), 28);
    EXPECT_EQ(NotchReviewPresenter::maximumResultHeight(QGuiApplication::primaryScreen()), 728); // 72 % of 1012
}

TEST_F(WorkAreaTest, GtkWorkAreasOfTheScreensMonitorWin) {
    set("_NET_WORKAREA", {0, 32, 1920, 1048});
    // The other monitor first, with a taller bar, so that taking the first rectangle shows.
    set("_GTK_WORKAREAS_D0", {1920, 60, 1920, 1020, 0, 40, 1920, 1040});
    EXPECT_EQ(area(), QRect(0, 40, 1920, 1040));
    EXPECT_EQ(panelTopInset(), 40);
}

TEST_F(WorkAreaTest, GtkWorkAreasFollowTheCurrentDesktop) {
    set("_GTK_WORKAREAS_D0", {0, 40, 1920, 1040});
    set("_GTK_WORKAREAS_D1", {0, 24, 1920, 1056});
    set("_NET_CURRENT_DESKTOP", {1});
    EXPECT_EQ(area(), QRect(0, 24, 1920, 1056));
}

TEST_F(WorkAreaTest, WithoutPropertiesTheAvailableGeometryCounts) {
    EXPECT_EQ(area(), std::nullopt);
    const QScreen* screen = QGuiApplication::primaryScreen();
    EXPECT_EQ(workArea(*screen), screen->availableGeometry());
}

TEST_F(WorkAreaTest, AnAreaOffTheScreenDoesNotCount) {
    set("_NET_WORKAREA", {1920, 32, 1920, 1048});
    EXPECT_EQ(area(), std::nullopt);
}

} // namespace
} // namespace norik::app
