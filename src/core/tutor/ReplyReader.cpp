// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/tutor/ReplyReader.h"

#include <cstdint>
#include <string>
#include <system_error>

#include <charconv>
#include <cmath>

namespace norik::core::reply_reader {
namespace {

// A reply is mostly two copies of the user's text; reading it with a general JSON library cost more
// time than the rest of a review's local work together, as that lexer touches every byte several
// times. This reader copies runs of plain characters in one go.
class Reader {
public:
    explicit Reader(std::string_view text) : m_at(text.data()), m_end(text.data() + text.size()) {}

    std::optional<TutorResult> reply() {
        TutorResult result;
        skipSpace();
        if (!readReply(result)) {
            return std::nullopt;
        }
        skipSpace();
        if (m_at != m_end) {
            return std::nullopt;
        }
        return result;
    }

private:
    static constexpr unsigned kLanguage = 1U << 0U, kCorrected = 1U << 1U, kImproved = 1U << 2U, kIssues = 1U << 3U,
                              kScore = 1U << 4U;
    static constexpr unsigned kAllFields = kLanguage | kCorrected | kImproved | kIssues | kScore;
    static constexpr unsigned kExcerpt = 1U << 0U, kExplanation = 1U << 1U, kCategory = 1U << 2U;
    static constexpr unsigned kAllIssueFields = kExcerpt | kExplanation | kCategory;

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    void skipSpace() {
        while (m_at != m_end && (*m_at == ' ' || *m_at == '\n' || *m_at == '\r' || *m_at == '\t')) {
            ++m_at;
        }
    }
    bool take(char c) {
        if (m_at == m_end || *m_at != c) {
            return false;
        }
        ++m_at;
        return true;
    }
    bool takeWord(std::string_view word) {
        if (static_cast<std::size_t>(m_end - m_at) < word.size() || std::string_view(m_at, word.size()) != word) {
            return false;
        }
        m_at += word.size();
        return true;
    }

    // The members of an object, each handed to `member` with the reader at its value; false ends it.
    template <typename Member> bool readObject(Member&& member) {
        if (!take('{') || ++m_depth > kMaxDepth) {
            return false;
        }
        skipSpace();
        if (!take('}')) {
            do {
                skipSpace();
                if (!readString(m_key)) {
                    return false;
                }
                skipSpace();
                if (!take(':')) {
                    return false;
                }
                skipSpace();
                if (!member(m_key)) {
                    return false;
                }
                skipSpace();
            } while (take(','));
            if (!take('}')) {
                return false;
            }
        }
        --m_depth;
        return true;
    }

    template <typename Element> bool readArray(Element&& element) {
        if (!take('[') || ++m_depth > kMaxDepth) {
            return false;
        }
        skipSpace();
        if (!take(']')) {
            do {
                skipSpace();
                if (!element()) {
                    return false;
                }
                skipSpace();
            } while (take(','));
            if (!take(']')) {
                return false;
            }
        }
        --m_depth;
        return true;
    }

    bool readReply(TutorResult& result) {
        unsigned seen = 0;
        const bool read = readObject([&](const std::string& key) {
            if (key == "language") {
                seen |= kLanguage;
                return readString(result.language);
            }
            if (key == "corrected") {
                seen |= kCorrected;
                return readString(result.corrected);
            }
            if (key == "improved") {
                seen |= kImproved;
                return readString(result.improved);
            }
            if (key == "issues") {
                seen |= kIssues;
                result.issues.clear();
                return readArray([&] { return readIssue(result.issues.emplace_back()); });
            }
            if (key == "score") {
                seen |= kScore;
                return readScore(result.score);
            }
            return skipValue();
        });
        return read && seen == kAllFields;
    }

    bool readIssue(TutorResult::Issue& issue) {
        unsigned seen = 0;
        const bool read = readObject([&](const std::string& key) {
            if (key == "excerpt") {
                seen |= kExcerpt;
                return readString(issue.excerpt);
            }
            if (key == "explanation") {
                seen |= kExplanation;
                return readString(issue.explanation);
            }
            if (key == "category") {
                seen |= kCategory;
                return readString(issue.category);
            }
            return skipValue();
        });
        return read && seen == kAllIssueFields;
    }

    bool skipValue() {
        if (m_at == m_end) {
            return false;
        }
        switch (*m_at) {
        case '"':
            return readString(m_scratch);
        case '{':
            return readObject([this](const std::string&) { return skipValue(); });
        case '[':
            return readArray([this] { return skipValue(); });
        case 't':
            return takeWord("true");
        case 'f':
            return takeWord("false");
        case 'n':
            return takeWord("null");
        default:
            return !numberToken().empty();
        }
    }

    // The text of a number as the JSON grammar has it; empty when there is none here.
    std::string_view numberToken() {
        const char* start = m_at;
        take('-');
        if (!take('0') && !skipDigits()) {
            return {};
        }
        if (take('.') && !skipDigits()) {
            return {};
        }
        if (take('e') || take('E')) {
            if (!take('+')) {
                take('-');
            }
            if (!skipDigits()) {
                return {};
            }
        }
        return {start, static_cast<std::size_t>(m_at - start)};
    }
    bool skipDigits() {
        const char* start = m_at;
        while (m_at != m_end && isDigit(*m_at)) {
            ++m_at;
        }
        return m_at != start;
    }

    // 7, 7.0 and 7e0 are the integer 7; 7.5 and anything beyond 64 bits are not.
    bool readScore(std::int64_t& score) {
        const std::string_view token = numberToken();
        if (token.empty()) {
            return false;
        }
        const char* const begin = token.data();
        const char* const end = begin + token.size();
        if (const auto [ptr, failure] = std::from_chars(begin, end, score); failure == std::errc{} && ptr == end) {
            return true;
        }
        double value = 0;
        const auto [ptr, failure] = std::from_chars(begin, end, value);
        if (failure == std::errc::result_out_of_range) {
            // Too small to tell from zero is zero; too large for a double is too large for a score.
            const bool tiny = token.find("e-") != token.npos || token.find("E-") != token.npos;
            value = tiny ? 0.0 : HUGE_VAL;
        } else if (failure != std::errc{} || ptr != end) {
            return false;
        }
        constexpr double kLimit = 9223372036854775808.0; // 2^63, exactly representable
        if (std::trunc(value) != value || value < -kLimit || value >= kLimit) {
            return false;
        }
        score = static_cast<std::int64_t>(value);
        return true;
    }

    bool readString(std::string& out) {
        if (!take('"')) {
            return false;
        }
        out.clear();
        for (;;) {
            const char* run = m_at;
            while (m_at != m_end && isPlain(*m_at)) {
                ++m_at;
            }
            out.append(run, m_at);
            if (m_at == m_end) {
                return false;
            }
            const auto c = static_cast<unsigned char>(*m_at);
            if (c == '"') {
                ++m_at;
                return true;
            }
            if (c == '\\') {
                ++m_at;
                if (!readEscape(out)) {
                    return false;
                }
            } else if (const std::size_t length = utf8SequenceLength(); length > 0) {
                out.append(m_at, length);
                m_at += length;
            } else {
                return false; // a control character or a byte that is not UTF-8
            }
        }
    }
    static bool isPlain(char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\';
    }

    // The length of the well-formed UTF-8 sequence of two to four bytes at the reader; 0 for any other.
    [[nodiscard]] std::size_t utf8SequenceLength() const {
        const auto left = static_cast<std::size_t>(m_end - m_at);
        auto at = [this](std::size_t index) { return static_cast<unsigned char>(m_at[index]); };
        auto within = [&](std::size_t index, unsigned low, unsigned high) {
            return index < left && at(index) >= low && at(index) <= high;
        };
        const unsigned lead = at(0);
        if (lead >= 0xC2 && lead <= 0xDF) {
            return within(1, 0x80, 0xBF) ? 2 : 0;
        }
        if (lead >= 0xE0 && lead <= 0xEF) {
            const unsigned low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
            const unsigned high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
            return within(1, low, high) && within(2, 0x80, 0xBF) ? 3 : 0;
        }
        if (lead >= 0xF0 && lead <= 0xF4) {
            const unsigned low = lead == 0xF0 ? 0x90 : 0x80;
            const unsigned high = lead == 0xF4 ? 0x8F : 0xBF; // nothing past U+10FFFF
            return within(1, low, high) && within(2, 0x80, 0xBF) && within(3, 0x80, 0xBF) ? 4 : 0;
        }
        return 0;
    }

    bool readEscape(std::string& out) {
        if (m_at == m_end) {
            return false;
        }
        const char c = *m_at++;
        switch (c) {
        case '"':
        case '\\':
        case '/':
            out.push_back(c);
            return true;
        case 'b':
            out.push_back('\b');
            return true;
        case 'f':
            out.push_back('\f');
            return true;
        case 'n':
            out.push_back('\n');
            return true;
        case 'r':
            out.push_back('\r');
            return true;
        case 't':
            out.push_back('\t');
            return true;
        case 'u':
            break;
        default:
            return false;
        }
        std::uint32_t point = 0;
        if (!readHex(point) || (point >= 0xDC00 && point <= 0xDFFF)) {
            return false;
        }
        if (point >= 0xD800 && point <= 0xDBFF) {
            std::uint32_t low = 0;
            if (!takeWord("\\u") || !readHex(low) || low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            point = 0x10000 + ((point - 0xD800) << 10U) + (low - 0xDC00);
        }
        appendUtf8(out, point);
        return true;
    }
    bool readHex(std::uint32_t& value) {
        if (m_end - m_at < 4) {
            return false;
        }
        const auto [ptr, failure] = std::from_chars(m_at, m_at + 4, value, 16);
        if (failure != std::errc{} || ptr != m_at + 4) {
            return false;
        }
        m_at += 4;
        return true;
    }
    static void appendUtf8(std::string& out, std::uint32_t point) {
        auto byte = [](std::uint32_t value) { return static_cast<char>(value); };
        if (point < 0x80) {
            out.push_back(byte(point));
        } else if (point < 0x800) {
            out.push_back(byte(0xC0U | (point >> 6U)));
            out.push_back(byte(0x80U | (point & 0x3FU)));
        } else if (point < 0x10000) {
            out.push_back(byte(0xE0U | (point >> 12U)));
            out.push_back(byte(0x80U | ((point >> 6U) & 0x3FU)));
            out.push_back(byte(0x80U | (point & 0x3FU)));
        } else {
            out.push_back(byte(0xF0U | (point >> 18U)));
            out.push_back(byte(0x80U | ((point >> 12U) & 0x3FU)));
            out.push_back(byte(0x80U | ((point >> 6U) & 0x3FU)));
            out.push_back(byte(0x80U | (point & 0x3FU)));
        }
    }

    const char* m_at;
    const char* m_end;
    std::size_t m_depth = 0;
    std::string m_key;     // the member name being read, reused for every member
    std::string m_scratch; // the text of ignored strings
};

} // namespace

std::optional<TutorResult> read(std::string_view text) {
    return Reader{text}.reply();
}

} // namespace norik::core::reply_reader
