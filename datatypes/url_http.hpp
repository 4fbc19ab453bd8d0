// The HTTP road of url! read and write: a URL whose text starts with the
// lower-case letters "http" (so https too) is requested over
// platform/http.*, and the answer becomes values here.
//
// The request: the method word in upper case (get, head, post, any other
// word its own name); the URL's encoded text (as mold gives it); the
// headers of a header block, each name and value formed (a word as its
// spelling), and nothing else; without a block the three defaults
//   Content-Type: application/x-www-form-urlencoded
//   Accept-Charset: UTF-8
//   User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64)
// and a body for methods other than get and head: a binary! as its bytes,
// a string! as its UTF-8 text, a block as its molded text.
//
// The answer: the body as a string! (decoded from UTF-8, CR LF as LF),
// binary! with /binary, a block of lines with /lines; with /info the block
// [status header-map body], where the map holds each response header
// under its name as a word, a header that came more than once as a block
// of its values. No answer at all raises the access error no-connect with
// the URL.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/cell.hpp"

namespace qel::url_http {

// Whether the URL's text (from its index) starts with "http".
bool is_http(const Cell* url);

// read and write of such a URL, with the refinements of the running read
// or write call.
Cell* read(Cell* url, const int32_t* refinements);
Cell* write(Cell* url, Cell* data, const int32_t* refinements);

// The header map of response header text ("Name: value" lines), pushed.
// A line's name is the text before its first colon; its value is the rest
// of the line after the blanks that follow the colon. A line without a
// colon is skipped.
Cell* push_header_map(const std::string& headers);

}  // namespace qel::url_http
