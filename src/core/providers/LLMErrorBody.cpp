// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/providers/LLMErrorBody.h"

#include <nlohmann/json.hpp>

namespace norik::core::LLMErrorBody {

std::optional<std::string> message(std::string_view body) {
    const nlohmann::json json = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (!json.is_object()) {
        return std::nullopt;
    }
    const auto error = json.find("error");
    if (error == json.end()) {
        return std::nullopt;
    }
    if (error->is_object()) {
        const auto nested = error->find("message");
        if (nested != error->end() && nested->is_string()) {
            return nested->get<std::string>();
        }
        return std::nullopt;
    }
    if (error->is_string()) {
        return error->get<std::string>();
    }
    return std::nullopt;
}

} // namespace norik::core::LLMErrorBody
