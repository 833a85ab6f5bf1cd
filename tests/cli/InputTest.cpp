// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Input.h"

#include <array>
#include <csignal>
#include <cstdint>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "core/tutor/TutorService.h"

#include "support/TestFiles.h"

namespace norik::cli {
namespace {

class InputTest : public ::testing::Test {
protected:
    ~InputTest() override { ::close(m_stop); }

    static std::array<int, 2> pipeOf() {
        std::array<int, 2> ends{-1, -1};
        EXPECT_EQ(::pipe2(ends.data(), O_CLOEXEC), 0);
        return ends;
    }
    // Reads the review input while a thread feeds `data` into a pipe, as a shell pipeline feeds standard
    // input; also gives how much got in before the read end closed.
    std::pair<std::expected<std::string, ReadError>, std::size_t> readFed(const std::string& data) const {
        const std::array<int, 2> ends = pipeOf();
        std::size_t written = 0;
        // A write to a closed pipe then fails with EPIPE instead of ending the test program.
        std::signal(SIGPIPE, SIG_IGN);
        std::thread writer([&] {
            for (ssize_t count = 0; written < data.size(); written += static_cast<std::size_t>(count)) {
                if ((count = ::write(ends[1], data.data() + written, data.size() - written)) <= 0) {
                    break; // the reader closed its end
                }
            }
            ::close(ends[1]);
        });
        auto read = readReviewInput(ends[0], m_stop);
        ::close(ends[0]);
        writer.join();
        return {std::move(read), written};
    }

    const int m_stop = ::eventfd(0, EFD_CLOEXEC);
};

// Whatever the input, stopping early must not change what gets reviewed.
TEST_F(InputTest, ReviewsTheSameTextAsTheWholeInputWouldGive) {
    for (const std::string& input : {std::string("  Ein kurzer Text.\n"), tests::repeated("e\xcc\x81", 400'000),
                                     tests::repeated("\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa", 150'000),
                                     tests::repeated(" \n", 300'000) + tests::repeated("Satz. ", 1000),
                                     std::string(core::kReviewTextLimit, 'a') + std::string(1'000'000, ' ')}) {
        const auto read = readFed(input).first;
        ASSERT_TRUE(read.has_value()) << read.error().message;
        const auto fromRead = core::prepareReviewText(*read);
        const auto fromWhole = core::prepareReviewText(input);
        EXPECT_EQ(std::tie(fromRead->text, fromRead->note), std::tie(fromWhole->text, fromWhole->note))
            << input.substr(0, 20);
    }
    const std::string endless = tests::repeated("word ", 4'000'000);
    const auto [read, written] = readFed(endless);
    ASSERT_TRUE(read.has_value());
    EXPECT_LT(written, endless.size()) << "reading goes on after the cut is known";
}

// Reading one line is checked where `norik key set` reads a piped key; here, that a stop ends any read.
TEST_F(InputTest, AStopEndsAReadOfAPipeNobodyWritesTo) {
    const std::array<int, 2> silent = pipeOf();
    const std::uint64_t one = 1;
    ASSERT_EQ(::write(m_stop, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    EXPECT_EQ(readReviewInput(silent[0], m_stop).error().kind, ReadError::Kind::interrupted);
    EXPECT_EQ(readLine(silent[0], m_stop).error().kind, ReadError::Kind::interrupted);
    ::close(silent[0]);
    ::close(silent[1]);
}

} // namespace
} // namespace norik::cli
