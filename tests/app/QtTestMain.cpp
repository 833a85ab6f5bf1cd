// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdlib>

#include <QApplication>
#include <gtest/gtest.h>

#include "support/XvfbServer.h"

// Widget tests need a QApplication on a real X server: a private one with a screen of a known size, never the
// user's display.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    const norik::tests::XvfbServer xvfb({"-screen", "0", "1920x1080x24"});
    if (!xvfb.becomeQtDisplay()) {
        return EXIT_FAILURE;
    }
    const QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
