#include "evaluator/console_routines.hpp"

#include <string>

#include "datatypes/block.hpp"
#include "datatypes/string.hpp"
#include "datatypes/system_object.hpp"
#include "datatypes/text.hpp"
#include "evaluator/guarded.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/trace.hpp"
#include "platform/console.hpp"
#include "platform/key_decoder.hpp"
#include "platform/line_editor.hpp"
#include "platform/terminal.hpp"
#include "runtime/actions.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/entry.hpp"
#include "runtime/errors.hpp"
#include "runtime/series.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace qel::console_io {

namespace {

// The string being edited and the history block, kept from
// _set-buffer-history to the edit.
Cell edit_line{TYPE_NONE, 0, 0, 0};
Cell history{TYPE_NONE, 0, 0, 0};

void mark_kept(const stack::Marker& m) {
    m.cells(&edit_line, &edit_line + 1);
    m.cells(&history, &history + 1);
}

// The code points of a text value from its index.
std::u32string chars_of(const Cell* text) {
    std::u32string out;
    const uint32_t n = string::length(text);
    const uint32_t from = series_index(*text);
    for (uint32_t i = 0; i < n; i++) out += static_cast<char32_t>(string::char_at(text, from + i));
    return out;
}

// Any value formed, as code points.
std::u32string formed(const Cell* value) {
    if (is_any_string(cell::type_of(value))) return chars_of(value);
    const stack::TopSaved held;
    const node_t out = text::make_buffer(64);
    const Cell holder{TYPE_STRING, 0, out, 0};
    stack::push(&holder);
    actions::form(value, out, false, 0);
    return chars_of(&holder);
}

void set_text(const Cell* target, const std::u32string& s) {
    Cell t = *target;
    series_index(t) = 0;
    string::clear_latin1(&t);
    for (char32_t c : s) string::append_char(series_node(t), static_cast<uint32_t>(c));
}

struct BlockHistory : line_editor::History {
    size_t count() override {
        if (cell::type_of(&history) != TYPE_BLOCK) return 0;
        return series::cell_count(series_node(history));
    }
    std::u32string entry(size_t i) override { return formed(block::cell_at(&history, static_cast<uint32_t>(i))); }
    // The edited string itself goes into the history, so the history
    // holds the strings ask returned.
    void add(const std::u32string& line) override {
        set_text(&edit_line, line);
        Cell entry = edit_line;
        series_index(entry) = 0;
        Cell at_head = history;
        series_index(at_head) = 0;
        block::insert_values(&at_head, &entry, -1, true, 1, false);
    }
};

struct TerminalIo : line_editor::Io {
    int read_key() override { return terminal::read_key(); }
    void write(const std::string& bytes) override {
        console::write_bytes(bytes.data(), bytes.size());
        console::flush();
    }
    bool size(int& cols, int& rows) override { return terminal::size(cols, rows); }
    bool cursor_column(int& col) override { return terminal::cursor_column(col); }
};

// Tab: complete-input of the line and true, when that word has a function
// value. Any error in it counts as nothing to complete.
bool complete(void*, const std::u32string& line, size_t cursor, line_editor::Completion& out) {
    const Cell* fn = context::get_by_symbol(symbol::intern_cstr("complete-input"), context::global);
    if (!fn || !is_any_function(cell::type_of(fn))) return false;
    const Cell fn_value = *fn;
    std::vector<std::u32string> items;
    std::vector<size_t> cursors;
    const bool ok = interp::guarded([&] {
        Cell args[2];
        Cell* s = stack::push(&shared::none);
        string::make_at(s, static_cast<uint32_t>(line.size()));
        set_text(s, line);
        series_index(*s) = static_cast<uint32_t>(cursor);
        args[0] = *s;
        args[1] = shared::true_value;
        const Cell name = *word::make_from_cstr("complete-input");
        const Cell* result = trace::call_with_values(&fn_value, &name, args, 2);
        if (cell::type_of(result) != TYPE_BLOCK) return false;
        const Cell blk = *result;
        const uint32_t n = series::cell_count(series_node(blk));
        for (uint32_t i = series_index(blk); i < n; i++) {
            const Cell* item = block::cell_at(&blk, i);
            if (!is_any_string(cell::type_of(item))) continue;
            Cell whole = *item;
            cursors.push_back(series_index(whole));
            series_index(whole) = 0;
            items.push_back(chars_of(&whole));
        }
        return true;
    });
    if (!ok || items.empty()) return false;
    out.line = items[0];
    out.cursor = cursors[0];
    out.candidates.assign(items.begin() + 1, items.end());
    return true;
}

line_editor::Editor& editor() {
    static TerminalIo io;
    static line_editor::Editor e(io);
    return e;
}

// One UTF-8 character of standard input: its code point, U+FFFD for a
// byte that starts none or a sequence cut short, -1 at the end.
int32_t stdin_char() {
    const int b = terminal::stdin_byte();
    if (b < 0) return -1;
    if (b < 0x80) return b;
    int need;
    uint32_t cp;
    if ((b & 0xE0) == 0xC0) need = 1, cp = b & 0x1F;
    else if ((b & 0xF0) == 0xE0) need = 2, cp = b & 0x0F;
    else if ((b & 0xF8) == 0xF0) need = 3, cp = b & 0x07;
    else return 0xFFFD;
    while (need-- > 0) {
        const int c = terminal::stdin_byte();
        if (c < 0) return 0xFFFD;
        if ((c & 0xC0) != 0x80) return 0xFFFD;
        cp = (cp << 6) | (c & 0x3F);
    }
    return cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ? 0xFFFD : static_cast<int32_t>(cp);
}

// One line: the characters before the line feed (a CR before it stays).
// False at the end of the input with nothing read.
bool stdin_line(std::u32string& out) {
    out.clear();
    for (;;) {
        const int32_t c = stdin_char();
        if (c < 0) return !out.empty();
        if (c == '\n') return true;
        out += static_cast<char32_t>(c);
    }
}

// system/console/size as columns x rows.
void store_size(int cols, int rows) {
    Cell* size = system_object::field({"console", "size"});
    if (!size) return;
    Cell pair{TYPE_PAIR, 0, 0, 0};
    pair_x(pair) = cols;
    pair_y(pair) = rows;
    *size = pair;
}

}  // namespace

void init() {
    terminal::init();
    collector::add_mark_callback(&mark_kept);
}

const Cell* set_buffer_history(Cell* const* args) {
    edit_line = *args[0];
    history = *args[1];
    return &shared::unset;
}

const Cell* read_input(Cell* const* args) {
    if (cell::type_of(&edit_line) != TYPE_STRING) return &shared::false_value;
    const std::u32string prompt = chars_of(args[0]);
    const bool hidden = cell::type_of(args[1]) == TYPE_LOGIC && logic_value(*args[1]);
    std::u32string line;
    bool got = true;
    console::flush();
    if (terminal::stdin_is_terminal() && terminal::enter_raw()) {
        BlockHistory h;
        line = editor().edit(prompt, hidden, cell::type_of(&history) == TYPE_BLOCK ? &h : nullptr, &complete,
                             nullptr);
        terminal::leave_raw();
        // The terminal may have been resized during the edit: results are
        // cut to the width it has now.
        int cols = 0, rows = 0;
        if (terminal::size(cols, rows) && cols > 0 && rows > 0) store_size(cols, rows);
    } else {
        got = stdin_line(line);
    }
    set_text(&edit_line, line);
    return got ? &shared::true_value : &shared::false_value;
}

void start(const char* title) {
    if (!terminal::set_title(title)) {
        console::write_cstr("SetConsoleTitle failed!\n");
        rt::end_process(0);
    }
    terminal::init();
    int cols = 0, rows = 0;
    if (!terminal::size(cols, rows) || cols <= 0 || rows <= 0) cols = 80, rows = 50;
    store_size(cols, rows);
}

const Cell* init_console(Cell* const* args) {
    start(text::to_utf8(series_node(*args[0])).c_str());
    return &shared::unset;
}

const Cell* terminate_console(Cell* const*) { return &shared::unset; }

const Cell* input_stdin(Cell* const*) {
    std::u32string line;
    stdin_line(line);
    Cell* s = stack::push(&shared::none);
    string::make_at(s, line.size() > 256 ? static_cast<uint32_t>(line.size()) : 256);
    set_text(s, line);
    return s;
}

const Cell* read_stdin(Cell* const* args) {
    const int32_t want = integer_value(*args[1]);
    if (want < 0) {
        const Cell v = *args[1];
        err::raise(err::OUT_OF_RANGE, &v);
    }
    // The bytes read replace what the binary held; it grows to hold them.
    const node_t n = series_node(*args[0]);
    series::clear(n);
    uint8_t* at = series::reserve_bytes(series::buffer_of(n), static_cast<uint32_t>(want));
    const long got = terminal::stdin_read(at, static_cast<size_t>(want));
    series::set_tail_at(n, static_cast<uint32_t>(got > 0 ? got : 0) + 1);
    return &shared::unset;
}

const Cell* do_top(Cell* const* args) {
    const collector::RenumberRegion region;
    stack::rename(stack::frame_top - 1, word::make_from_cstr("do"));
    interp::eval_block(args[0], true, true);
    return stack::arg_base;
}

}  // namespace qel::console_io
