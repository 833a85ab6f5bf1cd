// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/net/CurlLibrary.h"

#include <string>
#include <string_view>
#include <utility>

#include <dlfcn.h>

namespace norik::core::net {
namespace {

// The soname of libcurl 4, the ABI Debian ships in libcurl4 (pulled in by libcurl4-openssl-dev).
constexpr const char* kSoname = "libcurl.so.4";

template <typename Function> bool resolve(void* library, Function& function, const char* name) {
    function = reinterpret_cast<Function>(dlsym(library, name)); // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
    return function != nullptr;
}

std::string failure(std::string_view reason) {
    return "Norik could not load libcurl: " + std::string{reason};
}

// The reason the last dlopen or dlsym failed. dlerror() keeps it per thread until it is read.
std::string lastDlError(std::string_view fallback) {
    const char* reason = dlerror(); // NOLINT(concurrency-mt-unsafe)
    return failure(reason != nullptr ? std::string_view{reason} : fallback);
}

struct Loaded {
    const CurlLibrary* library = nullptr;
    std::string failure;
};

Loaded load() {
    static CurlLibrary curl;
    std::string reason = loadCurlLibrary(kSoname, curl);
    if (!reason.empty()) {
        return Loaded{nullptr, std::move(reason)};
    }
    return Loaded{&curl, {}};
}

const Loaded& curlLoad() {
    static const Loaded loaded = load();
    return loaded;
}

} // namespace

std::string loadCurlLibrary(const char* soname, CurlLibrary& curl) {
    void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        return lastDlError(soname);
    }
    bool complete = true;
#define NORIK_RESOLVE(name) complete = complete && resolve(library, curl.name, #name);
    NORIK_RESOLVE(curl_global_init)
    NORIK_RESOLVE(curl_global_cleanup)
    NORIK_RESOLVE(curl_easy_init)
    NORIK_RESOLVE(curl_easy_setopt)
    NORIK_RESOLVE(curl_easy_getinfo)
    NORIK_RESOLVE(curl_easy_cleanup)
    NORIK_RESOLVE(curl_easy_strerror)
    NORIK_RESOLVE(curl_multi_init)
    NORIK_RESOLVE(curl_multi_add_handle)
    NORIK_RESOLVE(curl_multi_remove_handle)
    NORIK_RESOLVE(curl_multi_perform)
    NORIK_RESOLVE(curl_multi_poll)
    NORIK_RESOLVE(curl_multi_wakeup)
    NORIK_RESOLVE(curl_multi_info_read)
    NORIK_RESOLVE(curl_multi_strerror)
    NORIK_RESOLVE(curl_multi_cleanup)
    NORIK_RESOLVE(curl_share_init)
    NORIK_RESOLVE(curl_share_setopt)
    NORIK_RESOLVE(curl_share_cleanup)
    NORIK_RESOLVE(curl_slist_append)
    NORIK_RESOLVE(curl_slist_free_all)
    NORIK_RESOLVE(curl_url)
    NORIK_RESOLVE(curl_url_set)
    NORIK_RESOLVE(curl_url_get)
    NORIK_RESOLVE(curl_url_cleanup)
    NORIK_RESOLVE(curl_free)
#undef NORIK_RESOLVE
    if (!complete) {
        std::string reason = lastDlError("a function is missing");
        dlclose(library);
        return reason;
    }
    // curl_global_init is not thread-safe; the static initialisation in curlLoad() serialises it.
    if (curl.curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        dlclose(library);
        return failure("its initialisation failed");
    }
    return {};
}

const CurlLibrary* curlLibrary() {
    return curlLoad().library;
}

const std::string& curlLoadFailure() {
    return curlLoad().failure;
}

} // namespace norik::core::net
