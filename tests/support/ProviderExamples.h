// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/TestFiles.h"

namespace norik::test {

// A recorded wire example from the providers' documentation, by file name.
inline std::string example(const std::string& name) {
    std::string content = tests::readFile(std::string(NORIK_PROVIDER_EXAMPLES) + "/" + name);
    EXPECT_FALSE(content.empty()) << name;
    return content;
}

inline std::string exampleWith(const std::string& name, const char* pointer, const nlohmann::json& value) {
    auto body = nlohmann::json::parse(example(name));
    body[nlohmann::json::json_pointer(pointer)] = value;
    return body.dump();
}

// The message an example's error body carries, read independently of the code under test.
inline std::string exampleMessage(const std::string& name) {
    const auto body = nlohmann::json::parse(example(name));
    return body.at("error").is_string() ? body.at("error").get<std::string>()
                                        : body.at("error").at("message").get<std::string>();
}

} // namespace norik::test
