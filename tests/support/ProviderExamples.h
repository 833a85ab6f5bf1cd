// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/providers/ReviewError.h"

namespace norik::test {

// A recorded wire example from the providers' documentation, by file name.
inline std::string example(const std::string& name) {
    std::ifstream file(std::string(NORIK_PROVIDER_EXAMPLES) + "/" + name);
    EXPECT_TRUE(file.good()) << name;
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

// The message an example's error body carries, read independently of the code under test.
inline std::string exampleMessage(const std::string& name) {
    const auto body = nlohmann::json::parse(example(name));
    return body.at("error").is_string() ? body.at("error").get<std::string>()
                                        : body.at("error").at("message").get<std::string>();
}

inline const core::LLMError* llmError(const core::ReviewError& error) {
    return error.llmError();
}

inline bool isDecodingError(const core::ReviewError& error) {
    return std::holds_alternative<core::DecodingError>(error.value());
}

} // namespace norik::test
