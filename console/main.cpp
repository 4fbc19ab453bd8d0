// The program's entry point: the start-up sequence, then the script runner
// on the interpreter thread, with the boot image built into the program.
#include "console/launch.hpp"
#include "library/boot.hpp"
#include "library/boot_image.hpp"
#include "library/startup.hpp"

int main(int argc, char** argv) {
    qel::boot::embedded = {qel::boot_image::data, qel::boot_image::size};
    qel::startup::run(argc, argv, &qel::launch::run);
}
