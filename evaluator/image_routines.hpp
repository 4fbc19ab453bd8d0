// The image file operations as the language reaches them: the decode and
// encode routines behind the png, jpeg, bmp, gif and tiff codec objects of
// system/codecs, over the image codecs.
#pragma once
#include "codecs/image_codec.hpp"
#include "runtime/cell.hpp"

namespace qel::image_io {

// A binary! (from its index) whose first bytes name a known container
// becomes an image! (any other binary gives none; a corrupt or truncated
// file raises the access error bad-media); a file! is read and decoded
// (an unreadable file, or one that is not an image, raises cannot-open
// with the file). Other types raise invalid-arg. The result is pushed.
Cell* decode(const Cell* data);

// The image encoded in the format. The bytes go into where: none makes a
// new binary!, a binary! receives them at its index (the rest replaced), a
// file! is written (cannot-open when it cannot be). The result, pushed, is
// the binary! (or the file!). An image of no pixels at all (0x0) raises
// bad-media; one with a single side 0 gives an empty binary!.
Cell* encode(const Cell* img, const Cell* where, image_codec::Format format);

// The routine bodies: decode-image, and encode-png ... encode-tiff.
const Cell* decode_routine(Cell* const* args);
template <image_codec::Format F>
const Cell* encode_routine(Cell* const* args) {
    return encode(args[0], args[1], F);
}

}  // namespace qel::image_io
