// qel that never compiles a block: every block runs through the walker,
// the reference that compiled code must agree with. The language scripts
// run through it as well as through qel.
#include "console/launch.hpp"
#include "evaluator/vm.hpp"
#include "library/boot.hpp"
#include "library/boot_image.hpp"
#include "library/startup.hpp"

int main(int argc, char** argv) {
    qel::boot::embedded = {qel::boot_image::data, qel::boot_image::size};
    qel::vm::enabled = false;
    qel::startup::run(argc, argv, &qel::launch::run);
}
