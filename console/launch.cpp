// The script runner. The header is the text "Qel" (case-sensitive), an
// optional "/System", blanks, then "["; text before it is skipped. The
// loaded block must start with the word Qel and a block; the code after
// those two values is evaluated in the global context, inside a try region:
// the script's error is printed and the process ends with status 1, as it
// does for a script that cannot be read or loaded.
#include "console/launch.hpp"

#include <cstdio>
#include <string>

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

}  // namespace

void run() {
    boot::start(boot::embedded.data, boot::embedded.size);
    // A failed script is not reported as success: the caller of qel sees
    // status 1 after the error display.
    if (sys.argc >= 2 && !run_script(sys.argv[1])) rt::end_process(rt::exit_status::SCRIPT_FAILED);
    console::flush();
}

}  // namespace qel::launch
