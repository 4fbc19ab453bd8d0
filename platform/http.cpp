// One HTTP request on a libcurl easy handle (see http.hpp).
#include "platform/http.hpp"

#include <curl/curl.h>

#include <string_view>

#include "platform/dynlib.hpp"

namespace qel::http {

namespace {

// The libcurl functions called here, loaded on the first request.
struct Curl {
    decltype(&::curl_global_init) curl_global_init;
    decltype(&::curl_easy_init) curl_easy_init;
    decltype(&::curl_easy_setopt) curl_easy_setopt;
    decltype(&::curl_easy_perform) curl_easy_perform;
    decltype(&::curl_easy_getinfo) curl_easy_getinfo;
    decltype(&::curl_easy_cleanup) curl_easy_cleanup;
    decltype(&::curl_slist_append) curl_slist_append;
    decltype(&::curl_slist_free_all) curl_slist_free_all;

    explicit Curl(dynlib::Binder& b) {
        b.bind(curl_global_init, "curl_global_init");
        b.bind(curl_easy_init, "curl_easy_init");
        b.bind(curl_easy_setopt, "curl_easy_setopt");
        b.bind(curl_easy_perform, "curl_easy_perform");
        b.bind(curl_easy_getinfo, "curl_easy_getinfo");
        b.bind(curl_easy_cleanup, "curl_easy_cleanup");
        b.bind(curl_slist_append, "curl_slist_append");
        b.bind(curl_slist_free_all, "curl_slist_free_all");
    }
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<std::vector<uint8_t>*>(user);
    body->insert(body->end(), reinterpret_cast<uint8_t*>(data), reinterpret_cast<uint8_t*>(data) + size * count);
    return size * count;
}

// Keeps the header lines of the last response only: a status line starts
// the headers of a new response (after a redirect, or a 100 Continue).
size_t on_header(char* data, size_t size, size_t count, void* user) {
    auto* headers = static_cast<std::string*>(user);
    const std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) headers->clear();
    else if (line != "\r\n" && line != "\n") headers->append(line);
    return size * count;
}

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

struct Handle {
    const Curl& curl;
    CURL* easy = curl.curl_easy_init();
    curl_slist* headers = nullptr;
    explicit Handle(const Curl& c) : curl(c) {}
    ~Handle() {
        curl.curl_slist_free_all(headers);
        if (easy) curl.curl_easy_cleanup(easy);
    }
    bool add_header(const std::string& line) {
        curl_slist* grown = curl.curl_slist_append(headers, line.c_str());
        if (!grown) return false;
        headers = grown;
        return true;
    }
};

}  // namespace

std::optional<Response> request(const Request& rq) {
    // Without libcurl every request fails as one that cannot connect.
    const Curl* curl = dynlib::load<Curl>(dynlib::Library::Curl);
    if (!curl) return std::nullopt;
    static const bool ready = curl->curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!ready) return std::nullopt;
    Handle h(*curl);
    if (!h.easy) return std::nullopt;
    Response answer;
    CURL* e = h.easy;
    curl->curl_easy_setopt(e, CURLOPT_URL, rq.url.c_str());
    curl->curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl->curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    // A server that never answers must not hold the evaluation for ever:
    // a minute to connect, then at most half a minute without a byte.
    curl->curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, 60L);
    curl->curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl->curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, 30L);
    curl->curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &on_body);
    curl->curl_easy_setopt(e, CURLOPT_WRITEDATA, &answer.body);
    curl->curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &on_header);
    curl->curl_easy_setopt(e, CURLOPT_HEADERDATA, &answer.headers);

    static const uint8_t nothing = 0;
    const uint8_t* body = rq.body && !rq.body->empty() ? rq.body->data() : &nothing;
    const curl_off_t body_size = rq.body ? static_cast<curl_off_t>(rq.body->size()) : 0;
    if (rq.method == "GET") {
        curl->curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else if (rq.method == "HEAD") {
        curl->curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else {
        // POST as libcurl's own, so that a redirect turns it into a GET the
        // way clients do; any other method is named as it is.
        if (rq.method != "POST") curl->curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, rq.method.c_str());
        if (rq.body || rq.method == "POST") {
            curl->curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, body_size);
            curl->curl_easy_setopt(e, CURLOPT_POSTFIELDS, body);
        }
    }

    for (const auto& [name, value] : rq.headers) {
        // "Name;" is libcurl's spelling of a header with an empty value.
        if (!h.add_header(value.empty() ? name + ";" : name + ": " + value)) return std::nullopt;
    }
    for (const char* own : {"Accept", "Expect", "Content-Type"}) {
        bool named = false;
        for (const auto& header : rq.headers) named = named || same_name(header.first, own);
        // "Name:" takes out a header libcurl would add by itself.
        if (!named && !h.add_header(std::string(own) + ":")) return std::nullopt;
    }
    curl->curl_easy_setopt(e, CURLOPT_HTTPHEADER, h.headers);

    if (curl->curl_easy_perform(e) != CURLE_OK) return std::nullopt;
    long status = 0;
    curl->curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    answer.status = static_cast<int32_t>(status);
    return answer;
}

}  // namespace qel::http
