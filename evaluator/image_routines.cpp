// Image decode and encode for the codec routines (see image_routines.hpp).
#include "evaluator/image_routines.hpp"

#include <algorithm>
#include <vector>

#include "datatypes/binary.hpp"
#include "datatypes/file.hpp"
#include "datatypes/image.hpp"
#include "platform/files.hpp"
#include "runtime/errors.hpp"
#include "runtime/stack.hpp"

namespace qel::image_io {

namespace {

Cell* push_image(const uint8_t* data, size_t size, bool* known) {
    image::Bitmap bitmap;
    *known = image_codec::sniff(data, size).has_value();
    if (!*known || !image_codec::decode(data, size, bitmap)) return nullptr;
    return image::load(bitmap);
}

}  // namespace

Cell* decode(const Cell* data) {
    const Cell d = *data;
    const uint32_t t = cell::type_of(&d);
    bool known = false;
    if (t == TYPE_BINARY) {
        const std::vector<uint8_t> bytes(binary::head_ptr(&d), binary::head_ptr(&d) + binary::length(&d));
        Cell* img = push_image(bytes.data(), bytes.size(), &known);
        if (img) return img;
        if (!known) return stack::push(&shared::none);
        err::raise(err::BAD_MEDIA);
    }
    if (t == TYPE_FILE) {
        const files::ReadResult got = files::read_file(file::to_os_path(&d), {});
        Cell* img = got.status == files::ReadStatus::Done ? push_image(got.bytes.data(), got.bytes.size(), &known)
                                                          : nullptr;
        if (!img) err::raise(err::CANNOT_OPEN, &d);
        return img;
    }
    err::raise(err::INVALID_ARG, &d);
}

Cell* encode(const Cell* img, const Cell* where, image_codec::Format format) {
    const Cell i = *img, w = *where;
    if (cell::type_of(&i) != TYPE_IMAGE) err::raise(err::INVALID_ARG, &i);
    const uint32_t wt = cell::type_of(&w);
    if (wt != TYPE_NONE && wt != TYPE_BINARY && wt != TYPE_FILE) err::raise(err::INVALID_ARG, &w);
    if (image_size(i) == 0) err::raise(err::BAD_MEDIA);
    std::vector<uint8_t> bytes;
    if (!image_codec::encode(image::to_bitmap(&i), format, bytes)) err::raise(err::BAD_MEDIA);
    if (bytes.size() > image::MAX_BYTES) err::raise(err::NO_MEMORY);
    if (wt == TYPE_FILE) {
        if (!files::write_file(file::to_os_path(&w), bytes.data(), bytes.size(), {})) err::raise(err::CANNOT_OPEN, &w);
        return stack::push(&w);
    }
    if (wt == TYPE_NONE) return binary::load(bytes.data(), bytes.size());
    // Into the given binary at its index: what stood there is replaced.
    SeriesBuffer* s = series::buffer_of(series_node(w));
    const uint32_t at = std::min(series_index(w), (s->tail - s->head));
    s->tail = s->head + at;
    binary::insert_bytes(series_node(w), at, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return stack::push(&w);
}

const Cell* decode_routine(Cell* const* args) { return decode(args[0]); }

}  // namespace qel::image_io
