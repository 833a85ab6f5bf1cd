// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <cstdio>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

namespace norik::tests {

class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "norik-test-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }

    [[nodiscard]] const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

inline std::string readFile(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::filesystem::path& file, const std::string& contents) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << contents;
}

// Redirects file descriptor 2 into a temporary file for the object's lifetime.
class StderrCapture {
public:
    StderrCapture() : m_saved(::dup(STDERR_FILENO)) {
        std::fflush(stderr);
        m_file = std::tmpfile();
        ::dup2(::fileno(m_file), STDERR_FILENO);
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    ~StderrCapture() {
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        std::fclose(m_file);
    }

    [[nodiscard]] std::string text() const {
        std::fflush(stderr);
        std::string captured;
        std::rewind(m_file);
        for (int character = std::fgetc(m_file); character != EOF; character = std::fgetc(m_file)) {
            captured.push_back(static_cast<char>(character));
        }
        return captured;
    }

private:
    int m_saved;
    std::FILE* m_file = nullptr;
};

// Fork before starting threads in the test: the child gets only the forking thread.
inline pid_t startChildProcess(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    return child;
}

// The child's exit code, -1 when it did not exit normally.
inline int waitForChildProcess(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline int runInChildProcess(const std::function<int()>& body) {
    return waitForChildProcess(startChildProcess(body));
}

// Sets or unsets environment variables, restoring the previous values on destruction.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment() {
        for (auto entry = m_saved.rbegin(); entry != m_saved.rend(); ++entry) {
            apply(entry->first.c_str(), entry->second ? entry->second->c_str() : nullptr);
        }
    }

    void set(const char* name, const char* value) {
        const char* previous = std::getenv(name);
        m_saved.emplace_back(name, previous ? std::optional<std::string>(previous) : std::nullopt);
        apply(name, value);
    }

private:
    static void apply(const char* name, const char* value) {
        if (value == nullptr) {
            ::unsetenv(name);
        } else {
            ::setenv(name, value, 1);
        }
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

inline std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

} // namespace norik::tests
