// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TrayApp.h"

// What `norik` looks up when it starts without a command. C linkage keeps the name stable for dlsym.
extern "C" __attribute__((visibility("default"))) int norik_run_desktop(int argc, char** argv) {
    return norik::app::runTrayApp(argc, argv);
}
