// The system clipboard: what it holds is offered in one or more types,
// each a MIME type ("text/plain;charset=utf-8", "text/uri-list",
// "image/png" ...) with its bytes.
//
// Under Wayland (WAYLAND_DISPLAY set, wl-copy and wl-paste on the PATH)
// the clipboard is reached through those two programs; under X11 (DISPLAY
// set, xclip on the PATH) through xclip, which offers one type at a time.
// Without either, the clipboard is private to the process: it keeps every
// type it is given, so nothing leaves the process and nothing is lost.
//
// Nothing here touches values or raises: the language's read-clipboard
// and write-clipboard turn values into items and back.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qel::clipboard {

enum class Backend { Wayland, X11, Private };

// One type of the content and its bytes.
struct Item {
    std::string type;
    std::vector<uint8_t> bytes;
};

// The MIME types of the text the clipboard's holders offer, in the order
// they are tried.
extern const char* const TEXT_TYPES[];
extern const uint32_t TEXT_TYPE_COUNT;
constexpr const char* URI_LIST = "text/uri-list";

// The backend in use, chosen from the environment at each call.
Backend backend();

// The types on offer; nothing when the clipboard cannot be reached; an
// empty list when it holds nothing.
std::optional<std::vector<std::string>> types();
// The bytes of one type; nothing when the type cannot be read.
std::optional<std::vector<uint8_t>> get(const std::string& type);
// Replaces the content with the items, the first the preferred one (an
// empty list only empties the clipboard). Under X11 only the first item
// is offered. false when the clipboard cannot be written.
bool set(const std::vector<Item>& items);

}  // namespace qel::clipboard
