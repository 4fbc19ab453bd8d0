// The start of the program: the boot image runs, the command line goes into
// the system object, and the console of the library takes over. It runs
// the script named on the command line (ending the process with status 1
// when the script stops on an error it did not catch) or reads lines until
// quit or the end of the input.
#include "console/launch.hpp"

#include <algorithm>
#include <string>

#include "datatypes/object.hpp"
#include "datatypes/system_object.hpp"
#include "runtime/stack.hpp"
#include "library/boot.hpp"
#include "platform/console.hpp"
#include "runtime/system.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace qel::launch {

namespace {

// The process's arguments as one command line, written so that the split
// of extract-boot-args gives them back: the split cuts at blanks and tabs
// outside double quotes, each quote switching, and drops one quote at
// either end of an argument. An argument that is empty or holds a blank,
// a tab or a quote starts with a quote; it ends with one too unless it
// holds an odd count of quotes, which the added first one makes even. (An
// argument with an odd count that ends in a quote, or with a blank after
// its first quote, cannot be written so.)
std::string command_line() {
    std::string line;
    for (int i = 0; i < sys.argc; i++) {
        const std::string arg = sys.argv[i];
        if (i > 0) line += ' ';
        if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
            line += arg;
            continue;
        }
        const auto quotes = std::count(arg.begin(), arg.end(), '"');
        line += '"' + arg;
        if (quotes % 2 == 0) line += '"';
    }
    return line;
}

Cell text_cell(const std::string& text, uint32_t type) {
    const unicode::Loaded loaded =
        unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
    return Cell{type, 0, loaded.node, 0};
}

// system/script/args gets the command line, which extract-boot-args
// splits into system/options/boot and args; the console's read-argument
// then takes the switches and the script's name out of both.
void take_arguments() {
    const stack::Saved saved;
    Cell* line = stack::push(&shared::none);
    *line = text_cell(command_line(), TYPE_STRING);
    if (Cell* slot = system_object::field({"script", "args"})) *slot = *line;
    Cell* name = word::make_from_cstr("extract-boot-args");
    const Cell fn = *word::get(name);
    object::call_with_values(fn, name, nullptr, 0);
    // No arguments: the raw text is none, not empty.
    if (sys.argc < 2)
        if (Cell* slot = system_object::field({"script", "args"})) *slot = shared::none;
}

}  // namespace

// The console: cli-console-ctx/launch of the library, which reads lines
// until quit or the end of the input.
void run_console() {
    const stack::Saved saved;
    Cell* name = word::make_from_cstr("cli-console-ctx");
    const Cell* ctx = word::get(name);
    if (cell::type_of(ctx) != TYPE_OBJECT) return;
    const Cell owner = *ctx;
    const Cell launch_name = *word::make_from_cstr("launch");
    const Cell* fn = object::field_by_word(&owner, &launch_name);
    if (cell::type_of(fn) != TYPE_FUNCTION) return;
    const Cell f = *fn;
    object::call_with_values(f, &launch_name, nullptr, 0);
}

void run() {
    boot::start(boot::embedded.data, boot::embedded.size);
    take_arguments();
    run_console();
    console::flush();
}

}  // namespace qel::launch
