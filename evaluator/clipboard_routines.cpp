// The clipboard routines (see clipboard_routines.hpp).
#include "evaluator/clipboard_routines.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "codecs/image_bmp.hpp"
#include "codecs/image_codec.hpp"
#include "datatypes/block.hpp"
#include "datatypes/file.hpp"
#include "datatypes/image.hpp"
#include "datatypes/percent_codec.hpp"
#include "platform/clipboard.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/stack.hpp"
#include "runtime/unicode.hpp"

namespace qel::clipboard_io {

namespace {

constexpr const char* FILE_SCHEME = "file://";
const char* const IMAGE_TYPES[] = {"image/png", "image/jpeg", "image/gif", "image/bmp"};

bool offered(const std::vector<std::string>& types, const std::string& t) {
    return std::find(types.begin(), types.end(), t) != types.end();
}

const Cell* logic(bool v) { return v ? &shared::true_value : &shared::false_value; }

// The local names of a URI list (comment lines skipped) when every entry
// is a file: URI of this machine; nothing otherwise.
std::optional<std::vector<std::string>> local_names(const std::vector<uint8_t>& list) {
    std::vector<std::string> names;
    std::string line;
    const auto take = [&]() -> bool {
        if (line.empty() || line[0] == '#') return true;
        if (line.compare(0, 7, FILE_SCHEME) != 0) return false;
        // file://host/path: the host is empty or localhost.
        const size_t slash = line.find('/', 7);
        if (slash == std::string::npos) return false;
        const std::string host = line.substr(7, slash - 7);
        if (!host.empty() && host != "localhost") return false;
        std::string name;
        const auto* p = reinterpret_cast<const uint8_t*>(line.data()) + slash;
        const auto* end = reinterpret_cast<const uint8_t*>(line.data()) + line.size();
        while (p < end) {
            uint8_t b;
            if (url::decode_escape(p, end, b)) {
                name.push_back(static_cast<char>(b));
                p += 3;
            } else {
                name.push_back(static_cast<char>(*p++));
            }
        }
        names.push_back(name);
        return true;
    };
    for (const uint8_t b : list) {
        if (b == '\r' || b == '\n') {
            if (!take()) return std::nullopt;
            line.clear();
        } else {
            line.push_back(static_cast<char>(b));
        }
    }
    if (!take()) return std::nullopt;
    if (names.empty()) return std::nullopt;
    return names;
}

const Cell* push_files(const std::vector<std::string>& names) {
    Cell* list = block::push_new(static_cast<int32_t>(names.size()));
    for (const std::string& n : names) {
        const unicode::Loaded text =
            unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(n.data()), static_cast<uint32_t>(n.size()));
        const Cell f{TYPE_FILE, 0, text.node, 0};
        block::append_copy(list, &f);
    }
    return list;
}

bool valid_utf8(const std::vector<uint8_t>& bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const uint8_t b = bytes[i];
        const size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > bytes.size()) return false;
        for (size_t k = 1; k < n; k++)
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

}  // namespace

const Cell* read_routine(Cell* const*) {
    const std::optional<std::vector<std::string>> types = clipboard::types();
    if (!types) return &shared::false_value;
    if (offered(*types, clipboard::URI_LIST)) {
        const std::optional<std::vector<uint8_t>> list = clipboard::get(clipboard::URI_LIST);
        if (!list) return &shared::false_value;
        if (const std::optional<std::vector<std::string>> names = local_names(*list)) return push_files(*names);
    }
    for (uint32_t i = 0; i < clipboard::TEXT_TYPE_COUNT; i++) {
        if (!offered(*types, clipboard::TEXT_TYPES[i])) continue;
        const std::optional<std::vector<uint8_t>> text = clipboard::get(clipboard::TEXT_TYPES[i]);
        if (!text || !valid_utf8(*text)) return &shared::false_value;
        if (text->empty()) break;  // empty text stands for an empty clipboard
        const unicode::Loaded s = unicode::load_utf8(text->data(), static_cast<uint32_t>(text->size()), 0, true);
        Cell* out = stack::push_slot();
        *out = Cell{TYPE_STRING, 0, s.node, 0};
        return out;
    }
    for (const char* type : IMAGE_TYPES) {
        if (!offered(*types, type)) continue;
        const std::optional<std::vector<uint8_t>> bytes = clipboard::get(type);
        image::Bitmap bitmap;
        if (!bytes || !image_codec::decode(bytes->data(), bytes->size(), bitmap)) return &shared::false_value;
        return image::load(bitmap);
    }
    return &shared::none;
}

const Cell* write_routine(Cell* const* args) {
    const Cell v = *args[0];
    std::vector<clipboard::Item> items;
    switch (cell::type_of(&v)) {
        case TYPE_NONE: break;
        case TYPE_STRING: {
            const node_t n = unicode::to_utf8(&v, -1);
            SeriesBuffer* s = series::buffer_of(n);
            items.push_back({clipboard::TEXT_TYPES[0], {series::head_ptr(s), series::tail_ptr(s)}});
            break;
        }
        case TYPE_BLOCK: {
            std::string list;
            const uint32_t count = series::cell_count(series_node(v));
            for (uint32_t i = series_index(v); i < count; i++) {
                const Cell name = series::cells_of(series_node(v))[i];
                if (cell::type_of(&name) != TYPE_FILE && cell::type_of(&name) != TYPE_STRING)
                    err::raise(err::INVALID_ARG, &name);
                const std::string path = file::to_os_path(&name);
                list += FILE_SCHEME;
                url::encode_bytes(reinterpret_cast<const uint8_t*>(path.data()), path.size(), url::URL_TABLE, list);
                list += "\r\n";
            }
            items.push_back({clipboard::URI_LIST, {list.begin(), list.end()}});
            break;
        }
        case TYPE_IMAGE: {
            if (image::pixel_count(&v) == 0) break;
            const image::Bitmap bitmap = image::to_bitmap(&v);
            clipboard::Item png{IMAGE_TYPES[0], {}}, bmp{IMAGE_TYPES[3], {}};
            if (!image_codec::encode(bitmap, image_codec::Format::Png, png.bytes)) return &shared::false_value;
            bmp::write(bitmap, bmp.bytes);
            items.push_back(std::move(png));
            items.push_back(std::move(bmp));
            break;
        }
        default: err::raise(err::INVALID_ARG, &v);
    }
    return logic(clipboard::set(items));
}

}  // namespace qel::clipboard_io
