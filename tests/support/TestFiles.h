// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <initializer_list>
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

// Sets environment variables for a test and puts back, on destruction, what they were before.
class ScopedEnvironment {
public:
    explicit ScopedEnvironment(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            const char* value = std::getenv(name);
            m_saved.emplace(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment() {
        for (const auto& [name, value] : m_saved) {
            set(name.c_str(), value ? value->c_str() : nullptr);
        }
    }

    // Null unsets.
    static void set(const char* name, const char* value) {
        value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
    }

private:
    std::map<std::string, std::optional<std::string>> m_saved;
};

inline std::string readFile(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::filesystem::path& file, const std::string& contents) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << contents;
}

// Every entry under `folder` with its bytes (empty for folders), to prove that nothing was touched.
inline std::map<std::filesystem::path, std::string> snapshot(const std::filesystem::path& folder) {
    std::map<std::filesystem::path, std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        entries.emplace(entry.path(), entry.is_regular_file() ? readFile(entry.path()) : std::string());
    }
    return entries;
}

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

inline std::string repeated(std::string_view unit, std::size_t times) {
    std::string text;
    for (std::size_t index = 0; index < times; ++index) {
        text.append(unit);
    }
    return text;
}

inline std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

} // namespace norik::tests
