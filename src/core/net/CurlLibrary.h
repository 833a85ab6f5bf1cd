// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The type-checking macros would turn calls through the function table below into calls of the real
// functions, which are deliberately not linked.
#define CURL_DISABLE_TYPECHECK
#include <string>

#include <curl/curl.h>

namespace norik::core::net {

// libcurl, loaded on first use rather than linked. libcurl pulls some thirty libraries (TLS, Kerberos,
// LDAP, …) whose loading and relocation would otherwise cost every start of `norik` about 9 ms, also
// for commands that never touch the network.
struct CurlLibrary {
#define NORIK_CURL_FUNCTION(name) decltype(&::name) name = nullptr;
    NORIK_CURL_FUNCTION(curl_global_init)
    NORIK_CURL_FUNCTION(curl_global_cleanup)
    NORIK_CURL_FUNCTION(curl_easy_init)
    NORIK_CURL_FUNCTION(curl_easy_setopt)
    NORIK_CURL_FUNCTION(curl_easy_getinfo)
    NORIK_CURL_FUNCTION(curl_easy_cleanup)
    NORIK_CURL_FUNCTION(curl_easy_strerror)
    NORIK_CURL_FUNCTION(curl_multi_init)
    NORIK_CURL_FUNCTION(curl_multi_add_handle)
    NORIK_CURL_FUNCTION(curl_multi_remove_handle)
    NORIK_CURL_FUNCTION(curl_multi_perform)
    NORIK_CURL_FUNCTION(curl_multi_poll)
    NORIK_CURL_FUNCTION(curl_multi_wakeup)
    NORIK_CURL_FUNCTION(curl_multi_info_read)
    NORIK_CURL_FUNCTION(curl_multi_strerror)
    NORIK_CURL_FUNCTION(curl_multi_cleanup)
    NORIK_CURL_FUNCTION(curl_share_init)
    NORIK_CURL_FUNCTION(curl_share_setopt)
    NORIK_CURL_FUNCTION(curl_share_cleanup)
    NORIK_CURL_FUNCTION(curl_slist_append)
    NORIK_CURL_FUNCTION(curl_slist_free_all)
    NORIK_CURL_FUNCTION(curl_url)
    NORIK_CURL_FUNCTION(curl_url_set)
    NORIK_CURL_FUNCTION(curl_url_get)
    NORIK_CURL_FUNCTION(curl_url_cleanup)
    NORIK_CURL_FUNCTION(curl_free)
#undef NORIK_CURL_FUNCTION
};

// The process's libcurl, initialised once; null when it cannot be loaded. Thread-safe.
[[nodiscard]] const CurlLibrary* curlLibrary();

// Why curlLibrary() is null, as the user reads it ("Norik could not load libcurl: …"); empty when it loaded.
[[nodiscard]] const std::string& curlLoadFailure();

// Opens the library `soname`, fills `curl` and initialises it. Empty on success, else the reason as
// curlLoadFailure() words it. Not thread-safe: dlerror() and curl_global_init are not.
[[nodiscard]] std::string loadCurlLibrary(const char* soname, CurlLibrary& curl);

} // namespace norik::core::net
