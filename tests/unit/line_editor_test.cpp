#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "platform/key_decoder.hpp"
#include "platform/line_editor.hpp"
#include "platform/terminal.hpp"

using namespace qel;
using line_editor::lay_out;

namespace {

struct FakeIo : line_editor::Io {
    std::deque<int> keys;
    std::string written;
    int cols = 80, col = 0;
    int read_key() override {
        if (keys.empty()) return keys::FAILED;
        const int k = keys.front();
        keys.pop_front();
        return k;
    }
    void write(const std::string& b) override { written += b; }
    bool size(int& c, int& r) override {
        c = cols;
        r = 24;
        return true;
    }
    bool cursor_column(int& c) override {
        c = col;
        return true;
    }
    void type(const std::u32string& s) {
        for (char32_t c : s) keys.push_back(static_cast<int>(c));
    }
};

struct FakeHistory : line_editor::History {
    std::vector<std::u32string> entries;  // newest first
    size_t count() override { return entries.size(); }
    std::u32string entry(size_t i) override { return entries[i]; }
    void add(const std::u32string& l) override { entries.insert(entries.begin(), l); }
};

std::u32string edit(FakeIo& io, FakeHistory* h = nullptr, bool hidden = false) {
    line_editor::Editor e(io);
    return e.edit(U">> ", hidden, h, nullptr, nullptr);
}

}  // namespace

TEST(LineEditorLayout, ColumnsOfPromptAndLine) {
    struct Case {
        const char* name;
        std::u32string prompt, line;
        size_t cursor, start, cols;
        bool hidden;
        std::string bytes;
        size_t cursor_cols, end_cols;
    };
    const std::vector<Case> cases = {
        {"plain", U">> ", U"abc", 1, 0, 80, false, ">> abc", 4, 6},
        {"start column counts", U"> ", U"ab", 2, 5, 80, false, "> ab", 9, 9},
        {"tab is four columns", U"", U"\tx", 1, 0, 80, false, "    x", 4, 5},
        {"control shown as caret", U"", U"a\x01", 2, 0, 80, false, "a^A", 3, 3},
        {"escape sequence takes no columns", U"\x1b[1;31m>\x1b[0m ", U"a", 1, 0, 80, false,
         "\x1b[1;31m>\x1b[0m a", 3, 3},
        {"wide character", U"", U"\u4e2d\u6587", 1, 0, 80, false, "\xe4\xb8\xad\xe6\x96\x87", 2, 4},
        {"emoji range is wide", U"", U"\U0001F300", 1, 0, 80, false, "\xf0\x9f\x8c\x80", 2, 2},
        {"wide character moves off the last column", U"abcd", U"\u4e2d", 0, 0, 5, false,
         "abcd \xe4\xb8\xad", 5, 7},
        {"combining mark takes none", U"", U"e\u0301", 2, 0, 80, false, "e\xcc\x81", 1, 1},
        {"masked line, prompt in clear", U"pw: ", U"s\u00e9c", 3, 0, 80, true, "pw: ***", 7, 7},
    };
    for (const Case& c : cases) {
        const auto l = lay_out(c.prompt, c.line, c.cursor, c.start, c.cols, c.hidden);
        EXPECT_EQ(l.bytes, c.bytes) << c.name;
        EXPECT_EQ(l.cursor_cols, c.cursor_cols) << c.name;
        EXPECT_EQ(l.end_cols, c.end_cols) << c.name;
    }
}

TEST(LineEditor, EditingKeys) {
    struct Case {
        const char* name;
        std::vector<int> keys;
        std::u32string result;
    };
    const int L = keys::LEFT, R = keys::RIGHT;
    const std::vector<Case> cases = {
        {"typing", {'a', 'b', 13}, U"ab"},
        {"insert in the middle", {'a', 'c', L, 'b', 13}, U"abc"},
        {"home and end", {'b', keys::HOME, 'a', keys::END, 'c', 13}, U"abc"},
        {"ctrl-a and ctrl-e", {'b', 1, 'a', 5, 'c', 13}, U"abc"},
        {"backspace", {'a', 'b', 127, 'c', 13}, U"ac"},
        {"backspace at the start does nothing", {'a', keys::HOME, 8, 13}, U"a"},
        {"delete under the cursor", {'a', 'b', L, keys::DELETE, 13}, U"a"},
        {"ctrl-k cuts to the end", {'a', 'b', 'c', L, L, 11, 13}, U"a"},
        {"ctrl-b and ctrl-f", {'a', 'c', 2, 'b', 6, 'd', 13}, U"abcd"},
        {"right at the end stays", {'a', R, R, 'b', 13}, U"ab"},
        {"ctrl-d deletes under the cursor", {'a', 'b', L, 4, 13}, U"a"},
        {"ctrl-d at the end of a line does nothing", {'a', 4, 13}, U"a"},
        {"ctrl-d on an empty line quits", {4}, U"q"},
        {"ctrl-c quits whatever the line", {'a', 'b', 3}, U"q"},
        {"esc keeps the line and adds the escape", {'a', 27}, U"a\x1b"},
        {"tab without completion is a character", {'a', 9, 13}, U"a\t"},
        {"ignored keys", {keys::INSERT, keys::PAGE_UP, keys::PAGE_DOWN, 0, 7, 'x', 13}, U"x"},
        {"a terminal that is gone quits", {'a'}, U"q"},
        {"a resize keeps the line", {'a', terminal::RESIZE, 'b', 13}, U"ab"},
    };
    for (const Case& c : cases) {
        FakeIo io;
        io.keys.assign(c.keys.begin(), c.keys.end());
        EXPECT_EQ(edit(io), c.result) << c.name;
    }
}

TEST(LineEditor, HistoryRecallAndStore) {
    FakeHistory h;
    h.entries = {U"newest", U"older"};
    const int U = keys::UP, D = keys::DOWN;
    struct Case {
        const char* name;
        std::vector<int> keys;
        std::u32string result;
    };
    const std::vector<Case> cases = {
        {"up recalls the newest", {U, 13}, U"newest"},
        {"two ups recall the older", {U, U, 13}, U"older"},
        {"up past the oldest empties the line", {U, U, U, 13}, U""},
        {"down with nothing recalled empties the line", {'x', D, 13}, U""},
        {"after two ups the first down keeps the shown entry", {U, U, D, 13}, U"older"},
        {"and the second loads the newer", {U, U, D, D, 13}, U"newest"},
        {"ctrl-p and ctrl-n", {16, 16, 14, 14, 13}, U"newest"},
    };
    for (const Case& c : cases) {
        FakeHistory copy = h;
        FakeIo io;
        io.keys.assign(c.keys.begin(), c.keys.end());
        EXPECT_EQ(edit(io, &copy), c.result) << c.name;
    }
    // Storing: once for a repeat, again in other letter case, never when
    // empty or hidden.
    FakeHistory s;
    for (const char32_t* line : {U"a", U"a", U"A", U""}) {
        FakeIo io;
        io.type(line);
        io.keys.push_back(13);
        edit(io, &s);
    }
    EXPECT_EQ(s.entries, (std::vector<std::u32string>{U"A", U"a"}));
    FakeIo io;
    io.type(U"secret");
    io.keys.push_back(13);
    EXPECT_EQ(edit(io, &s, true), U"secret");
    EXPECT_EQ(s.count(), 2u);
}

TEST(LineEditor, HiddenInputShowsStars) {
    FakeIo io;
    io.type(U"pw");
    io.keys.push_back(13);
    EXPECT_EQ(edit(io, nullptr, true), U"pw");
    EXPECT_NE(io.written.find(">> **"), std::string::npos);
    EXPECT_EQ(io.written.find("pw"), std::string::npos);
}

namespace {
bool complete_fixed(void* data, const std::u32string& line, size_t, line_editor::Completion& out) {
    const int n = *static_cast<int*>(data);
    if (n == 0) return false;
    out.line = line + U"pend";
    out.cursor = out.line.size();
    if (n > 1) out.candidates = {U"append", U"apply"};
    if (n > 1) out.line = U"ap", out.cursor = 2;
    return true;
}
}  // namespace

TEST(LineEditor, TabCompletion) {
    {
        // One candidate: the new line, editing goes on.
        FakeIo io;
        int n = 1;
        io.type(U"ap");
        io.keys.push_back(9);
        io.keys.push_back(13);
        line_editor::Editor ed(io);
        EXPECT_EQ(ed.edit(U">> ", false, nullptr, &complete_fixed, &n), U"append");
    }
    {
        // Several: shown, the edit ends empty, the next starts from the
        // shared part.
        FakeIo io;
        int n = 2;
        io.type(U"a");
        io.keys.push_back(9);
        line_editor::Editor ed(io);
        EXPECT_EQ(ed.edit(U">> ", false, nullptr, &complete_fixed, &n), U"");
        EXPECT_NE(io.written.find("append apply "), std::string::npos);
        io.type(U"p");
        io.keys.push_back(13);
        EXPECT_EQ(ed.edit(U">> ", false, nullptr, &complete_fixed, &n), U"app");
    }
    {
        // Hidden input is never completed.
        FakeIo io;
        int n = 1;
        io.keys = {'a', 9, 13};
        line_editor::Editor ed(io);
        EXPECT_EQ(ed.edit(U">> ", true, nullptr, &complete_fixed, &n), U"a\t");
    }
}

TEST(LineEditor, LongLinesWrapAndTheCursorComesBack) {
    // 10 columns: ">> " and 12 characters end on row 1; Home goes back up
    // one row to the prompt's row, column 3.
    FakeIo io;
    io.cols = 10;
    io.type(U"abcdefghijkl");
    io.keys.push_back(keys::HOME);
    io.keys.push_back(13);
    io.written.clear();
    EXPECT_EQ(edit(io), U"abcdefghijkl");
    EXPECT_NE(io.written.find("\x1b[1A\r\x1b[3C"), std::string::npos);
    // Text ending on a row boundary moves the cursor to the next row.
    FakeIo b;
    b.cols = 5;
    b.type(U"ab");  // ">> ab" is exactly 5 columns
    b.keys.push_back(13);
    edit(b);
    EXPECT_NE(b.written.find(">> ab\r\n"), std::string::npos);
}
