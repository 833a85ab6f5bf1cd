// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdlib>

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
    if (!xvfb.becomeQtDisplay()) {
        return EXIT_FAILURE;
    }
    const QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
