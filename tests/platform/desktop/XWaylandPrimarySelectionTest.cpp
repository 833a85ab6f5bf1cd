// SPDX-License-Identifier: GPL-3.0-or-later
// GNOME's compositor, headless, with XWayland: a native Wayland client selects text and Norik's reader,
// an X11 client with no window focused, reads it. And on a plain X server, an owner that never answers.
#include <chrono>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include "platform/desktop/PrimarySelectionReader.h"
#include "platform/x11/XcbHandles.h"

#include "support/HeadlessMutter.h"
#include "support/TestFiles.h"
#include "support/XvfbServer.h"

namespace norik::platform::desktop {
namespace {

using std::chrono::seconds;

struct SelectionCase {
    const char* name;
    bool x11Owner;
    std::string selected;
    std::string expected;
};

std::string largeText() {
    // One ASCII letter first, so that the limit falls inside a two-byte character. Beyond a megabyte
    // xclip sends it in pieces (INCR).
    std::string text = "a";
    while (text.size() <= PrimarySelectionReader::maxBytes + 64) {
        text += "é";
    }
    return text;
}

class XWaylandPrimarySelection : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(XWaylandPrimarySelection, ReadsTheSelectionWithNoX11WindowFocused) {
    HeadlessMutter mutter;
    ASSERT_NO_FATAL_FAILURE(mutter.start());
    const tests::ScopedEnvironment environment({"XAUTHORITY"});
    tests::ScopedEnvironment::set("XAUTHORITY", mutter.authority.c_str());
    auto reader = PrimarySelectionReader::open(mutter.display.c_str());
    ASSERT_TRUE(reader) << reader.error();
    auto watcher = x11::XcbConnection::open(mutter.display.c_str());
    ASSERT_TRUE(watcher);
    const PrimaryOwnerChanges owners(watcher->get());

    EXPECT_EQ(reader->read(seconds{10}), std::nullopt) << "nothing is selected yet";
    mutter.select(GetParam().selected, GetParam().x11Owner);
    owners.waitForNewOwner();

    EXPECT_EQ(reader->activeWindow(), std::nullopt);
    EXPECT_EQ(reader->read(seconds{10}), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, XWaylandPrimarySelection,
                         ::testing::Values(SelectionCase{"SelectedInANativeWaylandWindow", false, "Él va à l'école.",
                                                         "Él va à l'école."},
                                           SelectionCase{"LargerThanTheLimitIsCutAtACharacter", true, largeText(),
                                                         largeText().substr(0, PrimarySelectionReader::maxBytes - 1)}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(PrimarySelectionReader, AStopEndsTheWaitForAnOwnerThatNeverAnswers) {
    const tests::XvfbServer server;
    auto owner = x11::XcbConnection::open(server.display().c_str());
    ASSERT_TRUE(owner);
    const xcb_window_t window = xcb_generate_id(owner->get());
    xcb_create_window(owner->get(), XCB_COPY_FROM_PARENT, window, x11::rootWindow(owner->get(), 0), 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(owner->get(), window, XCB_ATOM_PRIMARY, XCB_CURRENT_TIME);
    xcb_flush(owner->get());
    auto reader = PrimarySelectionReader::open(server.display().c_str());
    ASSERT_TRUE(reader);

    std::stop_source stop;
    std::optional<std::string> text{"unchanged"};
    std::jthread reading([&] { text = reader->read(std::chrono::hours{1}, stop.get_token()); });
    // The request reaching the owner shows that the reader is waiting for the answer.
    while (xcb_generic_event_t* raw = xcb_wait_for_event(owner->get())) {
        const x11::XcbReply<xcb_generic_event_t> event(raw);
        if ((event->response_type & 0x7f) == XCB_SELECTION_REQUEST) {
            break;
        }
    }
    stop.request_stop();
    reading.join();
    EXPECT_EQ(text, std::nullopt);
}

} // namespace
} // namespace norik::platform::desktop
