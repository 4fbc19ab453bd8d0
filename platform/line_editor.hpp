// The line editor: one line of input read from a terminal, with the prompt
// and the line drawn and redrawn, a cursor moved within the line, history
// recalled, Tab completion, masked (hidden) input and long lines wrapped
// over several rows. The terminal is reached through Io, so tests can give
// keys and read what was drawn; the history and the completion belong to
// the caller.
//
// Drawing moves the cursor only relatively (up, carriage return, right),
// from where the prompt began: text the terminal scrolled stays right.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qel::line_editor {

struct Io {
    virtual ~Io() = default;
    virtual int read_key() = 0;                  // key_decoder.hpp codes, terminal::RESIZE
    virtual void write(const std::string& bytes) = 0;
    virtual bool size(int& cols, int& rows) = 0;
    virtual bool cursor_column(int& col) = 0;    // where the prompt will start
};

struct History {
    virtual ~History() = default;
    virtual size_t count() = 0;
    virtual std::u32string entry(size_t i) = 0;   // 0 is the newest
    virtual void add(const std::u32string& line) = 0;  // becomes entry 0
};

// A completion: the new line and its cursor, then the candidates when
// there are several (the line then holds what they all share).
struct Completion {
    std::u32string line;
    size_t cursor = 0;
    std::vector<std::u32string> candidates;
};
// Answers false when there is nothing to complete.
using Complete = bool (*)(void* data, const std::u32string& line, size_t cursor, Completion& out);

// What the layout of prompt and line gives: the bytes to write and the
// column counts, from the start of the prompt's row, of the cursor and of
// the end of the text.
struct Layout {
    std::string bytes;
    size_t cursor_cols = 0;
    size_t end_cols = 0;
};

// Lays out the prompt (never masked) and the line. Tabs are four columns;
// an escape sequence (ESC [ or ESC ( with its parameters and final byte)
// is copied and takes none; other control characters show as ^X; wide
// characters take two columns, and one that would start in a row's last
// column starts the next row; masked characters show as "*".
Layout lay_out(const std::u32string& prompt, const std::u32string& line, size_t cursor, size_t start_col,
               size_t cols, bool hidden);

class Editor {
public:
    explicit Editor(Io& io) : io_(io) {}

    // Reads one line. Ends on Enter (the line), Esc (the line and the
    // escape character), Ctrl-C or Ctrl-D on an empty line ("q"), or Tab
    // with several candidates (an empty line; the next edit starts from
    // what they share). A failed read of keys ends the edit too.
    std::u32string edit(const std::u32string& prompt, bool hidden, History* history, Complete complete,
                        void* complete_data);

private:
    void redraw(bool full);
    void move_to_row(size_t row);
    void move_to_col(size_t col);
    void finish();
    void set_line(const std::u32string& text, size_t cursor);
    void read_size();
    bool insert(uint32_t cp);

    Io& io_;
    std::u32string prompt_;
    std::u32string line_;
    size_t cursor_ = 0;
    std::u32string saved_;   // where the next edit starts
    size_t saved_cursor_ = 0;
    bool hidden_ = false;
    size_t cols_ = 80;
    size_t start_col_ = 0;
    size_t row_ = 0;         // row of the terminal cursor, from the prompt's row
    size_t end_row_ = 0;     // row of the end of the text
};

}  // namespace qel::line_editor
