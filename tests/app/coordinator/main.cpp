// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdlib>
#include <iostream>

#include <QApplication>
#include <gtest/gtest.h>

#include "platform/x11/XvfbServer.h"

// The tests need a running QApplication, so they get a private X server rather than the user's display.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    const norik::tests::XvfbServer xvfb;
    if (xvfb.display().empty()) {
        std::cerr << "Xvfb did not start\n";
        return EXIT_FAILURE;
    }
    ::setenv("DISPLAY", xvfb.display().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    const QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
