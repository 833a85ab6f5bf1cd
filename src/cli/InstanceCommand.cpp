// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/InstanceCommand.h"

#include <cstdlib>

#include "platform/instance/InstanceClient.h"
#include "platform/instance/InstanceFolder.h"

namespace norik::cli {

CommandResult runInstanceRequest(platform::InstanceRequest request) {
    const auto folder = platform::instanceFolder();
    if (!folder) {
        return std::unexpected(failure(folder.error()));
    }
    const char* startupId = std::getenv("DESKTOP_STARTUP_ID");
    const auto sent = platform::sendToRunningInstance(*folder, request, platform::kStartingPatience,
                                                      startupId != nullptr ? startupId : "");
    if (!sent) {
        if (sent.error().kind == platform::RequestError::Kind::noInstance) {
            return std::unexpected(failure("Norik is not running; start it with `norik`."));
        }
        return std::unexpected(failure(sent.error().message + "."));
    }
    return {};
}

} // namespace norik::cli
