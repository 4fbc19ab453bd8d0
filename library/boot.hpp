// The boot image: made at build time from the built-in definitions and the
// library sources, embedded in qel, and decoded once at start-up.
//
// The image holds, in this order: assignments of the datatype words, the
// typeset words, the action words and the native words (with their spec
// blocks), then one literal per library source: the source's block, its
// index past the header, and last a block of the routines' spec blocks,
// one per entry of the routine table in its order. Start-up decodes the
// image into the root block, makes the routines from their specs, then
// runs each library source in order; what they define is the global
// context every script starts with.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qel::boot {

struct Source {
    std::string name;  // for messages
    std::string text;  // UTF-8
};

// Tool side, on a runtime started without an image. The typeset source
// holds only statements `name: make typeset! [types]`, each naming
// datatypes and typesets set before it: they are evaluated here and become
// assignments ahead of the natives, whose specs name them. Raises the
// language's errors on bad input.
std::vector<uint8_t> make_image(const Source& typesets, const std::vector<Source>& library);

// Start-up side: the image's words, the routines, the library.
void start(const uint8_t* image, size_t size);

// The image built into the executable (empty in the image tool).
struct Embedded {
    const uint8_t* data = nullptr;
    size_t size = 0;
};
extern Embedded embedded;

}  // namespace qel::boot
