// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Input.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "core/tutor/TutorService.h"

namespace norik::cli {
namespace {

// A pipe whose write end is fed by a thread, as a shell pipeline would feed standard input.
class FedPipe {
public:
    explicit FedPipe(std::string data) {
        EXPECT_EQ(::pipe2(m_ends.data(), O_CLOEXEC), 0);
        m_writer = std::thread([this, data = std::move(data)] {
            // A write to a closed pipe then fails with EPIPE instead of ending the test program.
            sigset_t pipeSignal;
            sigemptyset(&pipeSignal);
            sigaddset(&pipeSignal, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
            std::size_t written = 0;
            while (written < data.size()) {
                const ssize_t count = ::write(m_ends[1], data.data() + written, data.size() - written);
                if (count <= 0) {
                    break; // the reader closed its end
                }
                written += static_cast<std::size_t>(count);
            }
            m_written = written;
            ::close(m_ends[1]);
        });
    }
    ~FedPipe() { static_cast<void>(written()); }
    FedPipe(const FedPipe&) = delete;
    FedPipe& operator=(const FedPipe&) = delete;

    [[nodiscard]] int readEnd() const { return m_ends[0]; }
    void closeReadEnd() {
        if (m_ends[0] >= 0) {
            ::close(m_ends[0]);
            m_ends[0] = -1;
        }
    }
    // How much the writer got into the pipe before the read end was closed.
    std::size_t written() {
        closeReadEnd();
        if (m_writer.joinable()) {
            m_writer.join();
        }
        return m_written;
    }

private:
    std::array<int, 2> m_ends{-1, -1};
    std::thread m_writer;
    std::size_t m_written = 0;
};

class StopEvent {
public:
    StopEvent() : m_descriptor(::eventfd(0, EFD_CLOEXEC)) {}
    ~StopEvent() { ::close(m_descriptor); }
    StopEvent(const StopEvent&) = delete;
    StopEvent& operator=(const StopEvent&) = delete;

    [[nodiscard]] int descriptor() const { return m_descriptor; }
    void trigger() const {
        const std::uint64_t one = 1;
        EXPECT_EQ(::write(m_descriptor, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    }

private:
    int m_descriptor;
};

std::string repeated(std::string_view unit, std::size_t times) {
    std::string text;
    text.reserve(unit.size() * times);
    for (std::size_t index = 0; index < times; ++index) {
        text.append(unit);
    }
    return text;
}

// Whatever the input, stopping early must not change what gets reviewed.
TEST(ReadReviewInputTest, ReviewsTheSameTextAsTheWholeInputWouldGive) {
    const std::vector<std::pair<std::string, std::string>> inputs{
        {"short text", "  Ein kurzer Text.\n"},
        {"long words", repeated("word ", 200'000)},
        {"combining marks at every chunk edge", repeated("e\xcc\x81", 400'000)},
        {"flags, which pair up", repeated("\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa", 150'000)},
        {"long leading whitespace", repeated(" \n", 300'000) + repeated("Satz. ", 1000)},
        {"no more than the limit", std::string(core::kReviewTextLimit, 'a') + std::string(1'000'000, ' ')},
    };
    const StopEvent stop;
    for (const auto& [name, input] : inputs) {
        FedPipe pipe{input};
        const auto read = readReviewInput(pipe.readEnd(), stop.descriptor());
        ASSERT_TRUE(read.has_value()) << name << ": " << read.error().message;
        const auto fromRead = core::prepareReviewText(*read);
        const auto fromWhole = core::prepareReviewText(input);
        ASSERT_EQ(fromRead.has_value(), fromWhole.has_value()) << name;
        EXPECT_EQ(fromRead->text, fromWhole->text) << name;
        EXPECT_EQ(fromRead->note, fromWhole->note) << name;
    }
}

TEST(ReadReviewInputTest, StopsReadingOnceTheCutIsKnown) {
    const std::string endless = repeated("word ", 4'000'000);
    const StopEvent stop;
    FedPipe pipe{endless};
    const auto read = readReviewInput(pipe.readEnd(), stop.descriptor());
    ASSERT_TRUE(read.has_value());
    EXPECT_LT(read->size(), endless.size() / 10);
    EXPECT_LT(pipe.written(), endless.size()) << "the writer was never cut off";
}

TEST(ReadInputTest, AStopEndsAWaitingRead) {
    std::array<int, 2> silent{};
    ASSERT_EQ(::pipe2(silent.data(), O_CLOEXEC), 0);
    const StopEvent stop;
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds{50});
        stop.trigger();
    });
    const auto review = readReviewInput(silent[0], stop.descriptor());
    const auto line = readLine(silent[0], stop.descriptor());
    stopper.join();
    ASSERT_FALSE(review.has_value());
    EXPECT_EQ(review.error().kind, ReadError::Kind::interrupted);
    ASSERT_FALSE(line.has_value());
    EXPECT_EQ(line.error().kind, ReadError::Kind::interrupted);
    ::close(silent[0]);
    ::close(silent[1]);
}

TEST(ReadInputTest, ReadLineTakesOneLineAndLeavesTheRest) {
    const StopEvent stop;
    FedPipe pipe{"sk-key\r\nsecond\nthird"};
    EXPECT_EQ(readLine(pipe.readEnd(), stop.descriptor()), "sk-key");
    EXPECT_EQ(readLine(pipe.readEnd(), stop.descriptor()), "second");
    EXPECT_EQ(readLine(pipe.readEnd(), stop.descriptor()), "third");
    EXPECT_EQ(readLine(pipe.readEnd(), stop.descriptor()), "");

    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const auto failed = readLine(nowhere, stop.descriptor());
    ::close(nowhere);
    ASSERT_FALSE(failed.has_value());
    EXPECT_EQ(failed.error().kind, ReadError::Kind::failed);
}

} // namespace
} // namespace norik::cli
