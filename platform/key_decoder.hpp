// Terminal input bytes to the key codes of the line editor.
//
// Characters come out as their code points (UTF-8 decoded), Enter as 13,
// the control keys as their control codes (Ctrl-A 1 ... Ctrl-Z 26,
// Backspace 127 or 8, Esc 27). The keys that send escape sequences come
// out as negative codes; a sequence the editor has no use for gives 0.
// A cursor position report (the answer to ESC [ 6 n) is not a key: it is
// kept aside for the caller that asked for it.
//
// An Esc byte may start a sequence or be the Esc key itself: the decoder
// keeps it until the next byte comes or the caller says no byte came in
// time (flush), which makes it the Esc key.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qel::keys {

constexpr int UP = -20;
constexpr int DOWN = -21;
constexpr int RIGHT = -22;
constexpr int LEFT = -23;
constexpr int END = -24;
constexpr int HOME = -25;
constexpr int INSERT = -26;
constexpr int DELETE = -27;
constexpr int PAGE_UP = -28;
constexpr int PAGE_DOWN = -29;
constexpr int OTHER = 0;   // a key the editor ignores
constexpr int FAILED = -1;

constexpr int ENTER = 13;
constexpr int ESC = 27;

class Decoder {
public:
    // Takes one byte. A byte may complete no key (a prefix of a sequence
    // or of a UTF-8 character), one, or two (an Esc followed by a byte
    // that starts no sequence is the Esc key and then that byte's key).
    void feed(uint8_t byte);

    // No byte came in time: a pending Esc alone is the Esc key; an
    // unfinished sequence is a key the editor ignores, an unfinished
    // character U+FFFD.
    void flush();

    // The next decoded key, oldest first.
    bool next(int& key);

    // True while a sequence or character is unfinished.
    bool pending() const { return state_ != State::Ground; }

    // The last cursor position report (1-based row and column), taken once.
    bool take_position(int& row, int& col);

private:
    enum class State : uint8_t { Ground, Esc, Csi, Ss3, Utf8 };
    static constexpr int MAX_PARAMS = 4;

    void finish_csi(uint8_t final);
    void reset();
    void emit(int key) { queue_[count_++] = key; }

    int queue_[4] = {};
    int count_ = 0;

    State state_ = State::Ground;
    int params_[MAX_PARAMS] = {};
    int nparams_ = 0;
    bool private_ = false;   // a parameter byte outside digits and ';'
    uint32_t cp_ = 0;        // UTF-8 character being decoded
    int need_ = 0;           // continuation bytes still to come
    int min_ = 0;            // least code point for the sequence's length
    bool has_position_ = false;
    int row_ = 0, col_ = 0;
};

}  // namespace qel::keys
