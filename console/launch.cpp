// The script runner. The header is the text "Qel" (case-sensitive), an
// optional "/System", blanks, then "["; text before it is skipped. The
// loaded block must start with the word Qel and a block; the code after
// those two values is evaluated in the global context, inside a try region:
// the script's error is printed and the process ends with status 1, as it
// does for a script that cannot be read or loaded.
#include "console/launch.hpp"

#include <algorithm>
#include <cstdio>
#include <string>

#include "datatypes/object.hpp"
#include "datatypes/system_object.hpp"
#include "evaluator/guarded.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/natives.hpp"
#include "runtime/stack.hpp"
#include "lexer/scanner.hpp"
#include "library/boot.hpp"
#include "platform/console.hpp"
#include "runtime/entry.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/lowprint.hpp"
#include "runtime/system.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace qel::launch {

namespace {

bool read_file(const char* path, std::string& out) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return true;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Offset of the header start, or npos.
size_t find_header(const std::string& text) {
    for (size_t at = text.find("Qel"); at != std::string::npos; at = text.find("Qel", at + 1)) {
        size_t p = at + 3;
        if (text.compare(p, 7, "/System") == 0) p += 7;
        while (p < text.size() && is_blank(text[p])) p++;
        if (p < text.size() && text[p] == '[') return at;
    }
    return std::string::npos;
}

void error_line(const char* message) {
    rt::print_values_line({rt::PrintItem::cstr("*** Error: "), rt::PrintItem::cstr(message)});
}

bool load_and_run(const std::string& text, size_t at);

// Answers false when the script could not be read or loaded, or stopped on
// an error; the message is printed already.
bool run_script(const char* path) {
    std::string text;
    if (!read_file(path, text)) {
        std::string m = "cannot open: ";
        m += path;
        error_line(m.c_str());
        return false;
    }
    const size_t at = find_header(text);
    if (at == std::string::npos) {
        error_line("Qel header not found!");
        return false;
    }
    // The script runs inside a try region of its own, as a line of the
    // console does: its error is printed in the same display. An error
    // raised outside this region (during start-up) finds no try and ends
    // the process with -2.
    return interp::guarded(interp::OnError::Print, [&] { return load_and_run(text, at); });
}

bool load_and_run(const std::string& text, size_t at) {
    Cell* code = stack::push(&shared::none);
    lexer::load_text(text.data() + at, text.size() - at, code);
    const Cell blk = *code;
    const SeriesBuffer* s = series::buffer_of(series_node(blk));
    const Cell* cells = series::head_cell(const_cast<SeriesBuffer*>(s));
    const uint32_t n = (s->tail - s->head) / sizeof(Cell);
    if (n < 2 || cell::type_of(&cells[0]) != TYPE_WORD || cell::type_of(&cells[1]) != TYPE_BLOCK) {
        error_line(text.find("Qel/System") != std::string::npos
                       ? "contains Qel/System code which requires compilation!"
                       : "not a Qel program!");
        return false;
    }
    Cell* body = stack::push(&blk);
    series_index(body) = 2;
    interp::current_position = shared::none;
    interp::eval_block(body, true, true);
    return true;
}

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
// splits into system/options/boot and args. A script named on the command
// line goes into system/options/script and out of the arguments: the
// script sees those that follow its name.
void take_arguments() {
    const stack::Saved saved;
    Cell* line = stack::push(&shared::none);
    *line = text_cell(command_line(), TYPE_STRING);
    if (Cell* slot = system_object::field({"script", "args"})) *slot = *line;
    Cell* name = word::make_from_cstr("extract-boot-args");
    const Cell fn = *word::get(name);
    object::call_with_values(fn, name, nullptr, 0);
    if (sys.argc < 2) return;
    const Cell* args = system_object::field({"options", "args"});
    if (args && cell::type_of(args) == TYPE_BLOCK && series::cell_count(series_node(*args)) > series_index(*args))
        series::remove_bytes_at(series_node(*args), series_index(*args) * sizeof(Cell), sizeof(Cell));
    const Cell script = text_cell(sys.argv[1], TYPE_FILE);
    if (Cell* slot = system_object::field({"options", "script"})) *slot = script;
}

}  // namespace

void run() {
    boot::start(boot::embedded.data, boot::embedded.size);
    take_arguments();
    // A failed script is not reported as success: the caller of qel sees
    // status 1 after the error display.
    if (sys.argc >= 2 && !run_script(sys.argv[1])) rt::end_process(rt::exit_status::SCRIPT_FAILED);
    console::flush();
}

}  // namespace qel::launch
