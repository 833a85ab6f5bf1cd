// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/text/Text.h"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace norik::core::text {
namespace {

struct UTextCloser {
    void operator()(UText* text) const { utext_close(text); }
};

// Calls `onBoundary` with the byte offset of every grapheme boundary after the start, stopping when it
// returns false. Works on the UTF-8 bytes directly, so offsets index the caller's string.
template <typename OnBoundary> void forEachGraphemeBoundary(std::string_view text, OnBoundary onBoundary) {
    if (text.empty()) {
        return;
    }
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<UText, UTextCloser> utext(
        utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
    const std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) {
        return;
    }
    breaks->setText(utext.get(), status);
    if (U_FAILURE(status)) {
        return;
    }
    for (int32_t boundary = breaks->next(); boundary != icu::BreakIterator::DONE; boundary = breaks->next()) {
        if (!onBoundary(static_cast<std::size_t>(boundary))) {
            return;
        }
    }
}

// ICU's UTF-8 macros narrow internally; the warnings are about the macro bodies, not this code.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion"
bool isWhitespaceAt(std::string_view text, std::size_t offset, std::size_t& next) {
    int32_t index = static_cast<int32_t>(offset);
    UChar32 codePoint = 0;
    U8_NEXT(text.data(), index, static_cast<int32_t>(text.size()), codePoint);
    next = static_cast<std::size_t>(index);
    return codePoint >= 0 && u_hasBinaryProperty(codePoint, UCHAR_WHITE_SPACE);
}

bool decodesCleanly(std::string_view text) {
    int32_t index = 0;
    const auto length = static_cast<int32_t>(text.size());
    while (index < length) {
        UChar32 codePoint = 0;
        U8_NEXT(text.data(), index, length, codePoint);
        if (codePoint < 0) {
            return false;
        }
    }
    return true;
}
#pragma GCC diagnostic pop

} // namespace

bool isValidUtf8(std::string_view text) {
    return decodesCleanly(text);
}

std::string trimmed(std::string_view text) {
    std::size_t begin = 0;
    std::size_t next = 0;
    while (begin < text.size() && isWhitespaceAt(text, begin, next)) {
        begin = next;
    }
    // Walk forward to find the end of the last non-whitespace code point, since UTF-8 is awkward to
    // decode backwards over invalid bytes.
    std::size_t end = begin;
    for (std::size_t offset = begin; offset < text.size(); offset = next) {
        if (!isWhitespaceAt(text, offset, next)) {
            end = next;
        }
    }
    return std::string(text.substr(begin, end - begin));
}

std::size_t graphemeCount(std::string_view text) {
    std::size_t count = 0;
    forEachGraphemeBoundary(text, [&count](std::size_t) {
        ++count;
        return true;
    });
    return count;
}

std::string prefixGraphemes(std::string_view text, std::size_t count) {
    if (count == 0) {
        return {};
    }
    std::size_t seen = 0;
    std::size_t end = text.size();
    forEachGraphemeBoundary(text, [&](std::size_t boundary) {
        if (++seen == count) {
            end = boundary;
            return false;
        }
        return true;
    });
    return std::string(text.substr(0, end));
}

std::string lowercased(std::string_view text) {
    icu::UnicodeString unicode =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.toLower(icu::Locale::getRoot());
    std::string result;
    unicode.toUTF8String(result);
    return result;
}

std::string capitalized(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const std::string first = prefixGraphemes(text, 1);
    icu::UnicodeString head =
        icu::UnicodeString::fromUTF8(icu::StringPiece(first.data(), static_cast<int32_t>(first.size())));
    head.toUpper(icu::Locale::getRoot());
    std::string result;
    head.toUTF8String(result);
    result.append(text.substr(first.size()));
    return result;
}

} // namespace norik::core::text
