// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/secret/FileSecretStore.h"

#include <utility>

#include <nlohmann/json.hpp>

#include "core/log/Problems.h"
#include "core/preferences/FileStorage.h"
#include "core/xdg/BaseDirectories.h"

namespace norik::platform {

namespace {

using Json = nlohmann::json;
using std::filesystem::perms;

std::optional<Json> parseObject(const std::string& text) {
    Json document = Json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        return std::nullopt;
    }
    return document;
}

// Under the lock. Absent when the file exists but cannot be read, so that it is not overwritten.
std::optional<Json> loadForUpdate(const std::filesystem::path& file) {
    const auto text = core::storage::readFile(file);
    if (!text) {
        return std::nullopt;
    }
    if (!*text) {
        return Json::object();
    }
    if (auto document = parseObject(**text)) {
        return document;
    }
    // Moved, not overwritten: the other keys in it may still be recoverable by hand.
    const auto moved = core::storage::moveAside(file);
    if (!moved) {
        return std::nullopt;
    }
    core::reportProblem({core::Problem::Kind::fileSetAside, file, moved->string(),
                         "norik: warning: " + file.string() + " is not a JSON object; moved it to " + moved->string()});
    return Json::object();
}

} // namespace

FileSecretStore::FileSecretStore() : FileSecretStore(defaultPath()) {}

FileSecretStore::FileSecretStore(std::filesystem::path file) : m_file(std::move(file)) {}

std::filesystem::path FileSecretStore::defaultPath() {
    return core::xdg::dataHome() / "norik" / "secrets.json";
}

std::optional<std::string> FileSecretStore::read(const std::string& account) {
    const auto text = core::storage::readFile(m_file);
    if (!text || !*text) {
        return std::nullopt;
    }
    // The parser accepts only valid UTF-8, so every string it yields is valid.
    const auto document = parseObject(**text);
    if (!document) {
        return std::nullopt;
    }
    const auto found = document->find(account);
    if (found == document->end() || !found->is_string()) {
        return std::nullopt;
    }
    return found->get<std::string>();
}

std::expected<void, std::string> FileSecretStore::store(const std::string& text, const std::string& account) {
    if (auto folder = core::storage::ensureDirectory(m_file.parent_path(), perms::owner_all); !folder) {
        return folder;
    }
    const auto lock = core::storage::FileLock::acquire(m_file.string() + ".lock");
    if (!lock) {
        return std::unexpected(lock.error());
    }
    auto document = loadForUpdate(m_file);
    if (!document) {
        return std::unexpected("cannot read " + m_file.string());
    }
    if (text.empty()) {
        if (document->erase(account) == 0) {
            return {};
        }
    } else {
        (*document)[account] = text;
    }
    try {
        // A failed replace leaves the previous file whole.
        return core::storage::replaceFile(m_file, document->dump(4) + "\n", perms::owner_read | perms::owner_write);
    } catch (const Json::exception&) {
        return std::unexpected(std::string("the key is not valid UTF-8 text"));
    }
}

} // namespace norik::platform
