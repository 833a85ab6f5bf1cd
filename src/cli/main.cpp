// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CommandLine.h"

int main(int argc, char** argv) {
    return norik::cli::run(argc, argv);
}
