// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CommandLine.h"
#include "cli/DesktopLauncher.h"

int main(int argc, char** argv) {
    if (argc <= 1) {
        return norik::cli::launchDesktop(argc, argv);
    }
    return norik::cli::run(argc, argv);
}
