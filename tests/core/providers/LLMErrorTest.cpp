// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/providers/LLMError.h"

#include <gtest/gtest.h>

#include "core/providers/LLMErrorBody.h"
#include "core/providers/ReviewError.h"

namespace norik::core {
namespace {

TEST(LLMErrorTest, AProvidersOwnMessageIsShownUnlessItIsEmpty) {
    EXPECT_EQ(LLMError::rateLimited("slow down").userMessage(), "slow down");
    EXPECT_EQ(LLMError::rateLimited("").userMessage(), LLMError::rateLimited(std::nullopt).userMessage());
    EXPECT_EQ(LLMError::apiError(500, "").userMessage(), LLMError::apiError(500, std::nullopt).userMessage());
    EXPECT_EQ(ReviewError(Cancelled{}).userMessage(), "") << "a cancellation shows nothing";
}

TEST(LLMErrorBodyTest, ExtractsNestedThenFlatMessages) {
    EXPECT_EQ(LLMErrorBody::message(R"({"error":{"message":"nested","type":"x","code":null},"id":1})"), "nested");
    EXPECT_EQ(LLMErrorBody::message(R"({"error":"flat"})"), "flat");
    for (const char* body : {R"({"error":{"type":"no message"}})", "", "<html>502</html>", R"({"error":{"message":5}})",
                             R"({"message":"top level"})", R"(["error"])", "{\"error\":\"\xff\"}"}) {
        EXPECT_FALSE(LLMErrorBody::message(body).has_value()) << body;
    }
}

} // namespace
} // namespace norik::core
