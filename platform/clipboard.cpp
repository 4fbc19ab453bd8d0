// The system clipboard through wl-copy/wl-paste or xclip, or private to
// the process (see clipboard.hpp).
//
// The programs run with their output captured and their error stream on
// the null device. A writer stays behind in the background to serve the
// content until another program takes the clipboard: its output and error
// go to the null device, never to a pipe of ours, or waiting for its end
// would wait for the next copy anywhere on the desktop.
#include "platform/clipboard.hpp"

#include <unistd.h>

#include "platform/os.hpp"
#include "platform/process.hpp"

namespace qel::clipboard {

const char* const TEXT_TYPES[] = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING", "TEXT"};
const uint32_t TEXT_TYPE_COUNT = sizeof TEXT_TYPES / sizeof TEXT_TYPES[0];

namespace {

std::vector<Item> private_items;

bool set_in_env(const char* name) {
    const std::optional<std::string> v = os::get_env(name);
    return v && !v->empty();
}

bool on_path(const std::string& program) {
    const std::optional<std::string> path = os::get_env("PATH");
    if (!path) return false;
    size_t start = 0;
    while (start <= path->size()) {
        size_t end = path->find(':', start);
        if (end == std::string::npos) end = path->size();
        const std::string dir = end > start ? path->substr(start, end - start) : ".";
        if (::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

bool is_text(const std::string& type) {
    for (uint32_t i = 0; i < TEXT_TYPE_COUNT; i++)
        if (type == TEXT_TYPES[i]) return true;
    return false;
}

// A word of a command line that the process layer splits: quoted, since
// a type may hold ';'.
std::string quoted(const std::string& s) { return "'" + s + "'"; }

// Runs a command; its output is captured when out is given.
bool run(const std::string& command, const std::vector<uint8_t>* input, std::vector<uint8_t>* out) {
    process::Request rq;
    rq.command = command;
    rq.wait = true;
    if (input) {
        rq.input.kind = process::Redirect::DATA;
        rq.input.bytes = *input;
    }
    if (out) rq.output.kind = process::Redirect::DATA;
    rq.error.kind = process::Redirect::PATH;
    rq.error.path = "/dev/null";
    const int32_t status = process::run(rq);
    if (status != 0) return false;
    if (out) *out = std::move(rq.output.bytes);
    return true;
}

std::vector<std::string> lines_of(const std::vector<uint8_t>& bytes) {
    std::vector<std::string> lines;
    std::string line;
    for (const uint8_t b : bytes) {
        if (b == '\n' || b == '\r') {
            if (!line.empty()) lines.push_back(line);
            line.clear();
        } else {
            line.push_back(static_cast<char>(b));
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

}  // namespace

Backend backend() {
    if (set_in_env("WAYLAND_DISPLAY") && on_path("wl-copy") && on_path("wl-paste")) return Backend::Wayland;
    if (set_in_env("DISPLAY") && on_path("xclip")) return Backend::X11;
    return Backend::Private;
}

std::optional<std::vector<std::string>> types() {
    std::vector<uint8_t> out;
    switch (backend()) {
        case Backend::Private: {
            std::vector<std::string> t;
            for (const Item& i : private_items) t.push_back(i.type);
            return t;
        }
        case Backend::Wayland:
            // An empty clipboard makes wl-paste fail: nothing on offer.
            if (!run("wl-paste --list-types", nullptr, &out)) return std::vector<std::string>{};
            return lines_of(out);
        case Backend::X11:
            // Without an owner xclip fails: nothing on offer.
            if (!run("xclip -selection clipboard -o -t TARGETS", nullptr, &out)) return std::vector<std::string>{};
            return lines_of(out);
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> get(const std::string& type) {
    std::vector<uint8_t> out;
    switch (backend()) {
        case Backend::Private:
            for (const Item& i : private_items)
                if (i.type == type) return i.bytes;
            return std::nullopt;
        case Backend::Wayland:
            if (!run("wl-paste --no-newline --type " + quoted(type), nullptr, &out)) return std::nullopt;
            return out;
        case Backend::X11:
            if (!run("xclip -selection clipboard -o -t " + quoted(type), nullptr, &out)) return std::nullopt;
            return out;
    }
    return std::nullopt;
}

bool set(const std::vector<Item>& items) {
    switch (backend()) {
        case Backend::Private: private_items = items; return true;
        case Backend::Wayland:
            if (items.empty()) return run("wl-copy --clear", nullptr, nullptr);
            // Text without a type: wl-copy then offers it as every text type.
            return run(is_text(items[0].type) ? "wl-copy" : "wl-copy --type " + quoted(items[0].type), &items[0].bytes,
                       nullptr);
        case Backend::X11: {
            // xclip cannot give the clipboard up: empty text stands for nothing.
            static const Item nothing{TEXT_TYPES[0], {}};
            const Item& first = items.empty() ? nothing : items[0];
            // Text without a type: xclip then offers it as UTF8_STRING, which
            // every X11 program asks for.
            return run(is_text(first.type) ? "xclip -selection clipboard -i"
                                           : "xclip -selection clipboard -i -t " + quoted(first.type),
                       &first.bytes, nullptr);
        }
    }
    return false;
}

}  // namespace qel::clipboard
