// qel with the collector under stress: a collection before every
// allocation, node compaction whenever a frame can be emptied, and the
// bytes that compaction vacates overwritten. Running the language scripts
// through it shows any value that C++ code failed to keep reachable, or
// any address it kept across an allocation.
#include "console/launch.hpp"
#include "library/boot.hpp"
#include "library/boot_image.hpp"
#include "library/startup.hpp"
#include "runtime/collector.hpp"

int main(int argc, char** argv) {
    qel::boot::embedded = {qel::boot_image::data, qel::boot_image::size};
    qel::collector::stress = true;
    qel::startup::run(argc, argv, &qel::launch::run);
}
