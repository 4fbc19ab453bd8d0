// HTTP requests over libcurl: one synchronous request per call, on an easy
// handle of its own that is cleaned up before the call returns; redirects
// are followed. Nothing here touches values or raises: the url! actions
// turn the answer into values and decide what a failure means. A request
// gives up after a minute without a connection, or half a minute without
// a byte of the answer.
//
// Only the headers of the request are sent, besides what the protocol
// itself needs (Host, and Content-Length with a body): libcurl's own
// Accept, Expect and form Content-Type are switched off unless the request
// names them.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qel::http {

struct Request {
    std::string method;  // upper case: GET, HEAD, POST, PUT ...
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;  // sent in this order
    std::optional<std::vector<uint8_t>> body;                   // GET and HEAD never send one
};

struct Response {
    int32_t status = 0;
    // The header lines of the last response (after any redirects), each
    // "Name: value" followed by CR LF; the status line is left out.
    std::string headers;
    std::vector<uint8_t> body;
};

// The answer, or nothing when the request could not be made (no
// connection, a malformed URL, a transfer cut short). An error status is
// an answer like any other.
std::optional<Response> request(const Request& request);

}  // namespace qel::http
