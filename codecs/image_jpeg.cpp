// JPEG through libjpeg-turbo, which reads and writes B, G, R, X pixels
// itself. A JPEG has no opacity: decoded pixels are opaque, and encoding
// drops the opacity. Quality 90, colour kept at full resolution (4:4:4).
//
// The library reports a fatal error by calling error_exit, which must not
// return. Ours jumps back to the setjmp in the one function that drives
// the library, whose locals are plain values (the pixel buffer belongs to
// the caller), so the jump skips no destructor; the library's state is
// then destroyed as usual.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
#include <jerror.h>

#include "codecs/image_formats.hpp"

namespace qel::image_codec {

namespace {

constexpr int QUALITY = 90;

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void fail(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1); }
// Messages are not printed; a file that ends before its last scanline is
// refused rather than completed with grey.
void on_message(j_common_ptr info, int level) {
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) fail(info);
}

ErrorManager* errors_of(jpeg_error_mgr* base) { return reinterpret_cast<ErrorManager*>(base); }

void install(ErrorManager& e) {
    jpeg_std_error(&e.base);
    e.base.error_exit = fail;
    e.base.emit_message = on_message;
}

}  // namespace

bool decode_jpeg(const uint8_t* data, size_t size, image::Bitmap& out) {
    jpeg_decompress_struct info;
    ErrorManager e;
    install(e);
    info.err = &e.base;
    jpeg_create_decompress(&info);
    if (setjmp(errors_of(info.err)->jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGRA;
    if (!reserve(out, info.image_width, info.image_height)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.bgra.data() + 4 * static_cast<size_t>(info.output_scanline) * out.width;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    // JCS_EXT_BGRA fills the fourth byte with 255: every pixel is opaque.
    return true;
}

bool encode_jpeg(const image::Bitmap& bitmap, std::vector<uint8_t>& out) {
    jpeg_compress_struct info;
    ErrorManager e;
    install(e);
    info.err = &e.base;
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long length = 0;
    if (setjmp(errors_of(info.err)->jump)) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        return false;
    }
    jpeg_mem_dest(&info, &buffer, &length);
    info.image_width = bitmap.width;
    info.image_height = bitmap.height;
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, QUALITY, TRUE);
    // Full colour resolution: halving it smears the colour edges of small
    // and drawn images across their neighbours.
    info.comp_info[0].h_samp_factor = 1;
    info.comp_info[0].v_samp_factor = 1;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(bitmap.bgra.data()) + 4 * static_cast<size_t>(info.next_scanline) * bitmap.width;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    out.assign(buffer, buffer + length);
    std::free(buffer);
    return true;
}

}  // namespace qel::image_codec
