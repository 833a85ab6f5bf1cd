// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/net/HttpSession.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>
#include <sstream>
#include <utility>
#include <vector>

#include <new>

#include "core/AppInfo.h"
#include "core/net/CurlLibrary.h"

namespace norik::core::net {

namespace {

// Every entry point checks curlLibrary() before anything reaches this.
const CurlLibrary& curl() {
    return *curlLibrary();
}

struct EasyDeleter {
    void operator()(CURL* handle) const noexcept { curl().curl_easy_cleanup(handle); }
};
struct MultiDeleter {
    void operator()(CURLM* handle) const noexcept { curl().curl_multi_cleanup(handle); }
};
struct ShareDeleter {
    void operator()(CURLSH* handle) const noexcept { curl().curl_share_cleanup(handle); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const noexcept { curl().curl_slist_free_all(list); }
};
struct UrlDeleter {
    void operator()(CURLU* handle) const noexcept { curl().curl_url_cleanup(handle); }
};

using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using ShareHandle = std::unique_ptr<CURLSH, ShareDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;

// Both handles must stay alive while the easy handle is attached, and it has to be detached before
// either is cleaned up; declaring this last in a scope makes destruction do that in the right order.
class MultiAttachment {
public:
    MultiAttachment(CURLM* multi, CURL* easy) : m_multi(multi), m_easy(easy) {
        m_attached = curl().curl_multi_add_handle(m_multi, m_easy) == CURLM_OK;
    }
    ~MultiAttachment() {
        if (m_attached) {
            curl().curl_multi_remove_handle(m_multi, m_easy);
        }
    }
    MultiAttachment(const MultiAttachment&) = delete;
    MultiAttachment& operator=(const MultiAttachment&) = delete;

    [[nodiscard]] bool attached() const { return m_attached; }

private:
    CURLM* m_multi;
    CURL* m_easy;
    bool m_attached = false;
};

// An upper bound on how long one curl_multi_poll may sleep; libcurl shortens it to its own timers.
constexpr int kPollCeilingMs = 1000;

TransportError error(TransportError::Kind kind, std::string description) {
    return TransportError{kind, std::move(description)};
}

std::string tooLargeDescription() {
    return "The response was too large (more than " + std::to_string(HttpSession::kMaxBodyBytes / (1024 * 1024)) +
           " MiB).";
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// RFC 9110 token characters; anything else in a method would let a caller smuggle text into the request line.
bool isToken(std::string_view text) {
    constexpr std::string_view extra = "!#$%&'*+-.^_`|~";
    return !text.empty() && std::ranges::all_of(text, [&](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               extra.find(c) != std::string_view::npos;
    });
}

bool hasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view{"\r\n\0", 3}) != std::string_view::npos;
}

template <typename Accept> bool partMatches(CURLU* url, CURLUPart part, Accept&& accept) {
    char* value = nullptr;
    if (curl().curl_url_get(url, part, &value, 0) != CURLUE_OK || value == nullptr) {
        return false;
    }
    const bool ok = std::forward<Accept>(accept)(std::string_view{value});
    curl().curl_free(value);
    return ok;
}

bool isHttps(CURLU* url) {
    return partMatches(url, CURLUPART_SCHEME, [](std::string_view scheme) { return scheme == "https"; });
}

UrlHandle parseHttpUrl(std::string_view url) {
    if (curlLibrary() == nullptr || url.find('\0') != std::string_view::npos) {
        return nullptr;
    }
    UrlHandle handle{curl().curl_url()};
    if (!handle || curl().curl_url_set(handle.get(), CURLUPART_URL, std::string{url}.c_str(), 0) != CURLUE_OK) {
        return nullptr;
    }
    const bool httpScheme = partMatches(handle.get(), CURLUPART_SCHEME,
                                        [](std::string_view scheme) { return scheme == "http" || scheme == "https"; });
    const bool hasHost = partMatches(handle.get(), CURLUPART_HOST, [](std::string_view host) { return !host.empty(); });
    return httpScheme && hasHost ? std::move(handle) : nullptr;
}

// Bytes moved so far in either direction, headers included; any change means the exchange is alive.
curl_off_t bytesMoved(CURL* handle) {
    curl_off_t received = 0;
    curl_off_t sent = 0;
    long headers = 0;
    curl().curl_easy_getinfo(handle, CURLINFO_SIZE_DOWNLOAD_T, &received);
    curl().curl_easy_getinfo(handle, CURLINFO_SIZE_UPLOAD_T, &sent);
    curl().curl_easy_getinfo(handle, CURLINFO_HEADER_SIZE, &headers);
    return received + sent + headers;
}

std::string idleDescription(std::chrono::milliseconds idle) {
    const auto seconds = std::chrono::duration<double>(idle).count();
    std::ostringstream text;
    text << "No data arrived for " << seconds << (seconds == 1.0 ? " second." : " seconds.");
    return text.str();
}

struct BodySink {
    CURL* easy = nullptr;
    std::string body;
    bool tooLarge = false;
};

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* userData) {
    auto& sink = *static_cast<BodySink*>(userData);
    const std::size_t bytes = size * count;
    const std::size_t wanted = sink.body.size() + bytes;
    if (wanted > HttpSession::kMaxBodyBytes) {
        sink.tooLarge = true;
        return 0; // a short count makes libcurl abort with CURLE_WRITE_ERROR
    }
    // An exception must not unwind through libcurl's C frames; a short count aborts the transfer instead.
    try {
        if (wanted > sink.body.capacity()) {
            // std::string would double its capacity and could allocate past the limit; grow within it instead.
            curl_off_t announced = -1;
            curl().curl_easy_getinfo(sink.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
            std::size_t target = std::max(wanted, sink.body.capacity() * 2);
            if (announced > 0 && static_cast<std::uint64_t>(announced) >= wanted) {
                target = static_cast<std::size_t>(announced);
            }
            sink.body.reserve(std::min(target, HttpSession::kMaxBodyBytes));
        }
        sink.body.append(data, bytes);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return bytes;
}

TransportError describeFailure(CURLcode code, const char* detail, bool tooLarge) {
    if (tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        return error(TransportError::Kind::responseTooLarge, tooLargeDescription());
    }

    std::string description = curl().curl_easy_strerror(code);
    std::string_view extra{detail};
    while (!extra.empty() && (extra.back() == '\n' || extra.back() == '\r')) {
        extra.remove_suffix(1);
    }
    if (!extra.empty() && extra != description) {
        description += " (" + std::string{extra} + ")";
    }

    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return error(TransportError::Kind::timedOut, std::move(description));
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return error(TransportError::Kind::cannotConnect, std::move(description));
    default:
        return error(TransportError::Kind::other, std::move(description));
    }
}

} // namespace

bool isValidUrl(std::string_view url) {
    return parseHttpUrl(url) != nullptr;
}

struct HttpSession::Impl {
    ShareHandle share;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
    std::string userAgent = "Norik/" + std::string{core::kVersion};
    // Connections live in a multi handle's cache. libcurl 7.88 cannot share one connection cache between
    // concurrent threads, so each transfer borrows a whole multi handle: consecutive requests reuse its
    // connections, concurrent ones get their own.
    std::mutex poolLock;
    std::vector<MultiHandle> idleMultis;

    MultiHandle borrowMulti() {
        {
            const std::scoped_lock guard{poolLock};
            if (!idleMultis.empty()) {
                MultiHandle multi = std::move(idleMultis.back());
                idleMultis.pop_back();
                return multi;
            }
        }
        return MultiHandle{curl().curl_multi_init()};
    }
    void giveBack(MultiHandle multi) {
        const std::scoped_lock guard{poolLock};
        idleMultis.push_back(std::move(multi));
    }

    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        if (data >= 0 && data < CURL_LOCK_DATA_LAST) {
            static_cast<Impl*>(self)->locks[static_cast<std::size_t>(data)].lock();
        }
    }
    static void unlock(CURL*, curl_lock_data data, void* self) {
        if (data >= 0 && data < CURL_LOCK_DATA_LAST) {
            static_cast<Impl*>(self)->locks[static_cast<std::size_t>(data)].unlock();
        }
    }
};

// Returns the borrowed multi handle to the pool when the transfer is over, whatever its outcome.
class HttpSession::MultiLease {
public:
    explicit MultiLease(Impl& impl) : m_impl(impl), m_multi(impl.borrowMulti()) {}
    ~MultiLease() {
        if (m_multi) {
            m_impl.giveBack(std::move(m_multi));
        }
    }
    MultiLease(const MultiLease&) = delete;
    MultiLease& operator=(const MultiLease&) = delete;

    [[nodiscard]] CURLM* get() const { return m_multi.get(); }

private:
    Impl& m_impl;
    MultiHandle m_multi;
};

HttpSession::HttpSession() : m_impl(std::make_unique<Impl>()) {
    if (curlLibrary() == nullptr) {
        return;
    }
    m_impl->share.reset(curl().curl_share_init());
    if (CURLSH* share = m_impl->share.get()) {
        curl().curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &Impl::lock);
        curl().curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &Impl::unlock);
        curl().curl_share_setopt(share, CURLSHOPT_USERDATA, m_impl.get());
        curl().curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        curl().curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    }
}

HttpSession::~HttpSession() {
    m_impl->share.reset();
}

HttpSession& HttpSession::shared() {
    static HttpSession session;
    return session;
}

std::expected<HttpResponse, TransportError> HttpSession::send(const HttpRequest& request, std::stop_token stop) {
    if (stop.stop_requested()) {
        return std::unexpected(error(TransportError::Kind::cancelled, "The request was cancelled."));
    }
    if (curlLibrary() == nullptr) {
        return std::unexpected(error(TransportError::Kind::libraryUnavailable, curlLoadFailure()));
    }

    UrlHandle url = parseHttpUrl(request.url);
    if (!url) {
        return std::unexpected(error(TransportError::Kind::other, "The address is not a valid http or https URL."));
    }
    if (!isToken(request.method)) {
        return std::unexpected(error(TransportError::Kind::other, "The request method is not valid."));
    }

    HeaderList headers;
    auto addHeader = [&](const std::string& line) {
        curl_slist* extended = curl().curl_slist_append(headers.get(), line.c_str());
        if (extended == nullptr) {
            return false;
        }
        static_cast<void>(headers.release());
        headers.reset(extended);
        return true;
    };
    bool callerGaveContentType = false;
    for (const auto& [name, value] : request.headers) {
        if (!isToken(name) || hasLineBreakOrNul(value)) {
            return std::unexpected(error(TransportError::Kind::other, "A request header is not valid."));
        }
        callerGaveContentType = callerGaveContentType || equalsIgnoringCase(name, "Content-Type");
        // libcurl reads "Name:" as "remove this header" and "Name;" as "send it empty".
        if (!addHeader(value.empty() ? name + ";" : name + ": " + value)) {
            return std::unexpected(error(TransportError::Kind::other, "Out of memory while building the request."));
        }
    }

    const bool sendsBody = request.method == "POST" || !request.body.empty();
    // Waiting for "100 Continue" costs a round trip, and the form type libcurl picks for a body would mislabel it.
    if (!addHeader("Expect:") || (sendsBody && !callerGaveContentType && !addHeader("Content-Type:"))) {
        return std::unexpected(error(TransportError::Kind::other, "Out of memory while building the request."));
    }

    // Declared before the handles because libcurl may still touch them while the handles are cleaned up.
    std::array<char, CURL_ERROR_SIZE> errorBuffer{};
    BodySink sink;

    EasyHandle easy{curl().curl_easy_init()};
    MultiLease multi{*m_impl};
    if (!easy || !multi.get()) {
        return std::unexpected(error(TransportError::Kind::other, "Could not set up the network transfer."));
    }
    CURL* handle = easy.get();
    sink.easy = handle;
    const auto idleLimit = std::max(request.timeout.value_or(kDefaultTimeout), std::chrono::milliseconds{1});

    curl().curl_easy_setopt(handle, CURLOPT_CURLU, url.get());
    curl().curl_easy_setopt(handle, CURLOPT_SHARE, m_impl->share.get());
    curl().curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl().curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer.data());
    curl().curl_easy_setopt(handle, CURLOPT_USERAGENT, m_impl->userAgent.c_str());
    curl().curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl().curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl().curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl().curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, isHttps(url.get()) ? "https" : "http,https");
    curl().curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &writeBody);
    curl().curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
    curl().curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBodyBytes));

    if (request.method == "HEAD") {
        curl().curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
    } else if (sendsBody) {
        curl().curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        curl().curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.data());
        if (request.method != "POST") {
            curl().curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        }
    } else if (request.method != "GET") {
        curl().curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }

    MultiAttachment attachment{multi.get(), handle};
    if (!attachment.attached()) {
        return std::unexpected(error(TransportError::Kind::other, "Could not start the network transfer."));
    }

    CURLM* multiHandle = multi.get();
    std::stop_callback wakeOnStop{stop, [multiHandle] { curl().curl_multi_wakeup(multiHandle); }};

    // libcurl's own time-outs bound the whole exchange; an idle limit is kept here instead.
    using Clock = std::chrono::steady_clock;
    auto lastActivity = Clock::now();
    curl_off_t moved = 0;
    for (;;) {
        // Checked before every perform: the wake-up only interrupts the poll, it does not end the transfer.
        if (stop.stop_requested()) {
            return std::unexpected(error(TransportError::Kind::cancelled, "The request was cancelled."));
        }
        int running = 0;
        CURLMcode status = curl().curl_multi_perform(multiHandle, &running);
        if (status == CURLM_OK && running == 0) {
            break;
        }
        const auto now = Clock::now();
        if (const curl_off_t total = bytesMoved(handle); total != moved) {
            moved = total;
            lastActivity = now;
        }
        const auto idleLeft = std::chrono::ceil<std::chrono::milliseconds>(lastActivity + idleLimit - now);
        if (idleLeft <= std::chrono::milliseconds::zero()) {
            return std::unexpected(error(TransportError::Kind::timedOut, idleDescription(idleLimit)));
        }
        if (status == CURLM_OK) {
            status = curl().curl_multi_poll(multiHandle, nullptr, 0,
                                            static_cast<int>(std::min<std::int64_t>(kPollCeilingMs, idleLeft.count())),
                                            nullptr);
        }
        if (status != CURLM_OK) {
            return std::unexpected(error(TransportError::Kind::other, curl().curl_multi_strerror(status)));
        }
    }

    CURLcode result = CURLE_OK;
    int queued = 0;
    while (CURLMsg* message = curl().curl_multi_info_read(multiHandle, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == handle) {
            result = message->data.result;
        }
    }
    if (result != CURLE_OK) {
        return std::unexpected(describeFailure(result, errorBuffer.data(), sink.tooLarge));
    }

    HttpResponse response;
    curl().curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &response.status);
    response.body = std::move(sink.body);
    return response;
}

} // namespace norik::core::net
