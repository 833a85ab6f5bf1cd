// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/providers/LLMError.h"

#include <gtest/gtest.h>

#include "core/providers/LLMErrorBody.h"
#include "core/providers/LLMProvider.h"
#include "core/providers/ReviewError.h"

namespace norik::core {
namespace {

TEST(LLMErrorTest, AProvidersOwnMessageIsShownUnlessItIsEmpty) {
    EXPECT_EQ(LLMError::rateLimited("slow down").userMessage(), "slow down");
    EXPECT_EQ(LLMError::rateLimited("").userMessage(), LLMError::rateLimited(std::nullopt).userMessage());
    EXPECT_EQ(LLMError::apiError(503, "busy").userMessage(), "busy");
    EXPECT_EQ(LLMError::apiError(500, "").userMessage(), "The AI service returned an error (HTTP 500).");
    EXPECT_EQ(LLMError::modelNotFound("llama3").userMessage(),
              "Model \"llama3\" isn't available. Pull it or pick another in Settings.");
}

TEST(LLMErrorTest, ReviewErrorsOtherThanProviderErrors) {
    EXPECT_EQ(ReviewError(Cancelled{}).userMessage(), "");
    EXPECT_TRUE(ReviewError(Cancelled{}).isCancellation());
    EXPECT_FALSE(ReviewError(LLMError::invalidResponse()).isCancellation());
    const ReviewError transport(net::TransportError{net::TransportError::Kind::other, "SSL handshake failed"});
    EXPECT_EQ(transport.userMessage(), "SSL handshake failed");
    EXPECT_NE(ReviewError(DecodingError{"no \"text\" at content[0]"}).userMessage().find("content[0]"),
              std::string::npos);
}

TEST(LLMErrorBodyTest, ExtractsNestedThenFlatMessages) {
    EXPECT_EQ(LLMErrorBody::message(R"({"error":{"message":"nested","type":"x","code":null},"id":1})"), "nested");
    EXPECT_EQ(LLMErrorBody::message(R"({"error":"flat"})"), "flat");
    EXPECT_EQ(LLMErrorBody::message(R"({"error":{"message":""}})"), "");
    for (const char* body :
         {R"({"error":{"type":"no message"}})", "", "<html>502</html>", R"({"error":{"message":5}})",
          R"({"message":"top level"})", R"(["error"])", R"({"error":null})", "{\"error\":\"\xff\"}"}) {
        EXPECT_FALSE(LLMErrorBody::message(body).has_value()) << body;
    }
}

TEST(LLMProviderTest, RawValuesParseExactly) {
    for (const LLMProvider provider : kAllProviders) {
        EXPECT_EQ(providerFromRawValue(rawValue(provider)), provider);
    }
    EXPECT_FALSE(providerFromRawValue("openai").has_value());
}

} // namespace
} // namespace norik::core
