// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/net/CurlLibrary.h"

#include <dlfcn.h>

namespace norik::core::net {
namespace {

// The soname of libcurl 4, the ABI Debian ships in libcurl4 (pulled in by libcurl4-openssl-dev).
constexpr const char* kSoname = "libcurl.so.4";

template <typename Function> bool resolve(void* library, Function& function, const char* name) {
    function = reinterpret_cast<Function>(dlsym(library, name)); // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
    return function != nullptr;
}

const CurlLibrary* load() {
    void* library = dlopen(kSoname, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        return nullptr;
    }
    static CurlLibrary curl;
    bool complete = true;
#define NORIK_RESOLVE(name) complete = resolve(library, curl.name, #name) && complete;
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
    // curl_global_init is not thread-safe; the static initialisation in curlLibrary() serialises it.
    if (!complete || curl.curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        dlclose(library);
        return nullptr;
    }
    return &curl;
}

} // namespace

const CurlLibrary* curlLibrary() {
    static const CurlLibrary* const library = load();
    return library;
}

} // namespace norik::core::net
