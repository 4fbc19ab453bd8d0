#include "platform/line_editor.hpp"

#include "platform/char_width.hpp"
#include "platform/key_decoder.hpp"
#include "platform/terminal.hpp"
#include "platform/utf8.hpp"

namespace qel::line_editor {

namespace {

constexpr size_t TAB_COLUMNS = 4;

void put_cp(std::string& out, uint32_t cp) {
    uint8_t b[4];
    out.append(reinterpret_cast<const char*>(b), static_cast<size_t>(utf8::encode(cp, b)));
}

// Columns of a code point the layout writes as itself.
int columns_of(uint32_t cp) {
    if (cp >= 0x1F300 && cp <= 0x1F5FF) return 2;
    return text::char_width(cp);
}

// The length of the escape sequence at text[i] (ESC [ or ESC ( with its
// digits and separators and a final byte), 0 when none starts there.
size_t sequence_at(const std::u32string& text, size_t i) {
    if (text[i] != 0x1B || i + 1 >= text.size() || (text[i + 1] != '[' && text[i + 1] != '(')) return 0;
    size_t j = i + 2;
    while (j < text.size() && ((text[j] >= '0' && text[j] <= '9') || text[j] == ';')) j++;
    return j < text.size() ? j - i + 1 : j - i;
}

struct Writer {
    std::string& out;
    size_t cols;
    size_t pos;

    void text(const std::u32string& s, size_t from, size_t to, bool hidden) {
        for (size_t i = from; i < to; i++) {
            if (!hidden) {
                if (const size_t n = sequence_at(s, i)) {
                    for (size_t k = 0; k < n; k++) put_cp(out, s[i + k]);
                    i += n - 1;
                    continue;
                }
            }
            character(s[i], hidden);
        }
    }

    // Where the next character starts: a wide one that would start in the
    // last column of a row starts the next row.
    void align_for(uint32_t cp, bool hidden) {
        if (hidden || cp < 0x20 || cp == 0x7F) return;
        if (columns_of(cp) == 2 && cols > 1 && pos % cols == cols - 1) {
            out += ' ';
            pos++;
        }
    }

    void character(uint32_t cp, bool hidden) {
        if (hidden) {
            out += '*';
            pos++;
            return;
        }
        if (cp == '\t') {
            out.append(TAB_COLUMNS, ' ');
            pos += TAB_COLUMNS;
            return;
        }
        if (cp < 0x20 || cp == 0x7F) {
            out += '^';
            out += static_cast<char>(cp ^ 0x40);
            pos += 2;
            return;
        }
        align_for(cp, false);
        put_cp(out, cp);
        pos += static_cast<size_t>(columns_of(cp));
    }
};

}  // namespace

Layout lay_out(const std::u32string& prompt, const std::u32string& line, size_t cursor, size_t start_col,
               size_t cols, bool hidden) {
    Layout l;
    if (cols == 0) cols = 1;
    if (cursor > line.size()) cursor = line.size();
    Writer w{l.bytes, cols, start_col};
    w.text(prompt, 0, prompt.size(), false);
    w.text(line, 0, cursor, hidden);
    if (cursor < line.size()) w.align_for(line[cursor], hidden);
    l.cursor_cols = w.pos;
    w.text(line, cursor, line.size(), hidden);
    l.end_cols = w.pos;
    return l;
}

void Editor::read_size() {
    int c = 0, r = 0;
    if (io_.size(c, r) && c > 0) cols_ = static_cast<size_t>(c);
    else if (cols_ == 0) cols_ = 80;
}

void Editor::move_to_row(size_t row) {
    if (row < row_) io_.write("\x1b[" + std::to_string(row_ - row) + "A");
    else if (row > row_) io_.write("\x1b[" + std::to_string(row - row_) + "B");
    row_ = row;
}

void Editor::move_to_col(size_t col) {
    io_.write("\r");
    if (col > 0) io_.write("\x1b[" + std::to_string(col) + "C");
}

void Editor::redraw(bool full) {
    const Layout l = lay_out(prompt_, line_, cursor_, start_col_, cols_, hidden_);
    if (full) {
        move_to_row(0);
        move_to_col(start_col_);
        io_.write("\x1b[J");
        io_.write(l.bytes);
        // Text that ends on a row boundary leaves the terminal's cursor in
        // the last column: a new line shows it on the next row.
        if (l.end_cols > 0 && l.end_cols % cols_ == 0) io_.write("\r\n");
        row_ = l.end_cols / cols_;
        end_row_ = row_;
    }
    move_to_row(l.cursor_cols / cols_);
    move_to_col(l.cursor_cols % cols_);
}

void Editor::set_line(const std::u32string& text, size_t cursor) {
    line_ = text;
    cursor_ = cursor > line_.size() ? line_.size() : cursor;
}

// The cursor below the text, on a new row.
void Editor::finish() {
    move_to_row(end_row_);
    io_.write("\r\n");
    row_ = 0;
}

std::u32string Editor::edit(const std::u32string& prompt, bool hidden, History* history, Complete complete,
                            void* complete_data) {
    prompt_ = prompt;
    hidden_ = hidden;
    read_size();
    int col = 0;
    start_col_ = io_.cursor_column(col) && col >= 0 ? static_cast<size_t>(col) % cols_ : 0;
    row_ = end_row_ = 0;
    line_.clear();
    cursor_ = 0;
    if (!saved_.empty()) {
        set_line(saved_, saved_cursor_);
        saved_.clear();
        saved_cursor_ = 0;
    }
    const size_t entries = history ? history->count() : 0;
    long recall = -1;
    redraw(true);

    auto load = [&](long i) {
        const std::u32string e = history->entry(static_cast<size_t>(i));
        set_line(e, e.size());
    };
    for (;;) {
        const int key = io_.read_key();
        switch (key) {
            case '\t': {
                Completion c;
                const bool found = !hidden_ && complete && complete(complete_data, line_, cursor_, c);
                if (!found) {
                    insert('\t');
                    break;
                }
                if (c.candidates.empty()) {
                    set_line(c.line, c.cursor);
                    break;
                }
                // The candidates are shown after the prompt; the next edit
                // starts from what they share.
                saved_ = c.line;
                saved_cursor_ = c.cursor;
                std::u32string shown;
                for (const auto& s : c.candidates) shown += s + U" ";
                set_line(shown, shown.size());
                redraw(true);
                finish();
                return U"";
            }
            case keys::ENTER:
                finish();
                if (history && !hidden_ && !line_.empty() && (entries == 0 || history->entry(0) != line_))
                    history->add(line_);
                return line_;
            case 8:
            case 127:
                if (cursor_ == 0) continue;
                line_.erase(--cursor_, 1);
                break;
            case keys::LEFT:
            case 2:
                if (cursor_ > 0) cursor_--;
                redraw(false);
                continue;
            case keys::RIGHT:
            case 6:
                if (cursor_ < line_.size()) cursor_++;
                redraw(false);
                continue;
            case keys::HOME:
            case 1:
                cursor_ = 0;
                redraw(false);
                continue;
            case keys::END:
            case 5:
                cursor_ = line_.size();
                redraw(false);
                continue;
            case keys::DOWN:
            case 14:
                if (recall < 0) set_line(U"", 0);
                else load(recall--);
                break;
            case keys::UP:
            case 16:
                if (recall < static_cast<long>(entries) - 1) load(++recall);
                else set_line(U"", 0);
                break;
            case keys::DELETE:
                if (cursor_ < line_.size()) line_.erase(cursor_, 1);
                break;
            case 11:
                if (cursor_ < line_.size()) line_.erase(cursor_);
                break;
            case 4:
                if (cursor_ < line_.size()) {
                    line_.erase(cursor_, 1);
                    break;
                }
                if (!line_.empty()) continue;
                [[fallthrough]];
            case 3:
            case keys::FAILED:
                // Ctrl-C, Ctrl-D on an empty line, or a terminal that is
                // gone: the line that quits.
                set_line(U"q", 1);
                redraw(true);
                finish();
                return line_;
            case keys::ESC:
                finish();
                return line_ + U"\x1b";
            case terminal::RESIZE: {
                // The terminal reflowed the rows at its new width.
                const Layout before = lay_out(prompt_, line_, cursor_, start_col_, cols_, hidden_);
                read_size();
                start_col_ %= cols_;
                row_ = before.cursor_cols / cols_;
                break;
            }
            default:
                if (key > 31) {
                    insert(static_cast<uint32_t>(key));
                    break;
                }
                continue;  // other control keys, Insert, Page Up/Down
        }
        redraw(true);
    }
}

bool Editor::insert(uint32_t cp) {
    line_.insert(cursor_++, 1, static_cast<char32_t>(cp));
    return true;
}

}  // namespace qel::line_editor
