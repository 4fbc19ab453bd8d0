// One HTTP request on a libcurl easy handle (see http.hpp).
#include "platform/http.hpp"

#include <curl/curl.h>

#include <string_view>

namespace qel::http {

namespace {

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
    CURL* easy = curl_easy_init();
    curl_slist* headers = nullptr;
    ~Handle() {
        curl_slist_free_all(headers);
        if (easy) curl_easy_cleanup(easy);
    }
    bool add_header(const std::string& line) {
        curl_slist* grown = curl_slist_append(headers, line.c_str());
        if (!grown) return false;
        headers = grown;
        return true;
    }
};

}  // namespace

std::optional<Response> request(const Request& rq) {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!ready) return std::nullopt;
    Handle h;
    if (!h.easy) return std::nullopt;
    Response answer;
    CURL* e = h.easy;
    curl_easy_setopt(e, CURLOPT_URL, rq.url.c_str());
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    // A server that never answers must not hold the evaluation for ever:
    // a minute to connect, then at most half a minute without a byte.
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, 60L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, 30L);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &on_body);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &answer.body);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &on_header);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &answer.headers);

    static const uint8_t nothing = 0;
    const uint8_t* body = rq.body && !rq.body->empty() ? rq.body->data() : &nothing;
    const curl_off_t body_size = rq.body ? static_cast<curl_off_t>(rq.body->size()) : 0;
    if (rq.method == "GET") {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else if (rq.method == "HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else {
        // POST as libcurl's own, so that a redirect turns it into a GET the
        // way clients do; any other method is named as it is.
        if (rq.method != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, rq.method.c_str());
        if (rq.body || rq.method == "POST") {
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, body_size);
            curl_easy_setopt(e, CURLOPT_POSTFIELDS, body);
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
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, h.headers);

    if (curl_easy_perform(e) != CURLE_OK) return std::nullopt;
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    answer.status = static_cast<int32_t>(status);
    return answer;
}

}  // namespace qel::http
