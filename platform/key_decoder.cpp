#include "platform/key_decoder.hpp"

namespace qel::keys {

void Decoder::reset() {
    state_ = State::Ground;
    nparams_ = 0;
    private_ = false;
    need_ = 0;
}

bool Decoder::take_position(int& row, int& col) {
    if (!has_position_) return false;
    has_position_ = false;
    row = row_;
    col = col_;
    return true;
}

namespace {

// The key of a final byte shared by CSI and SS3 sequences.
int cursor_key(uint8_t final) {
    switch (final) {
        case 'A': return UP;
        case 'B': return DOWN;
        case 'C': return RIGHT;
        case 'D': return LEFT;
        case 'H': return HOME;
        case 'F': return END;
        default: return OTHER;
    }
}

// ESC [ n ~ keys.
int tilde_key(int n) {
    switch (n) {
        case 1: case 7: return HOME;
        case 4: case 8: return END;
        case 2: return INSERT;
        case 3: return DELETE;
        case 5: return PAGE_UP;
        case 6: return PAGE_DOWN;
        default: return OTHER;
    }
}

}  // namespace

bool Decoder::next(int& key) {
    if (count_ == 0) return false;
    key = queue_[0];
    for (int i = 1; i < count_; i++) queue_[i - 1] = queue_[i];
    count_--;
    return true;
}

void Decoder::finish_csi(uint8_t final) {
    const int first = nparams_ > 0 ? params_[0] : 0;
    if (final == 'R' && !private_ && nparams_ == 2) {
        // A cursor position report; it is no key.
        has_position_ = true;
        row_ = params_[0];
        col_ = params_[1];
        reset();
        return;
    }
    emit(private_ ? OTHER : final == '~' ? tilde_key(first) : cursor_key(final));
    reset();
}

void Decoder::feed(uint8_t byte) {
    // Keys are taken by next() between bytes; the queue never holds more
    // than two, but a caller that feeds without taking loses the oldest.
    if (count_ > 2) count_ = 2;
    switch (state_) {
        case State::Ground:
            break;
        case State::Esc:
            if (byte == '[') {
                state_ = State::Csi;
                nparams_ = 0;
                private_ = false;
                return;
            }
            if (byte == 'O') {
                state_ = State::Ss3;
                return;
            }
            // Esc then anything else: the Esc key, then the byte afresh.
            reset();
            emit(ESC);
            break;
        case State::Csi:
            if (byte >= '0' && byte <= '9') {
                if (nparams_ == 0) nparams_ = 1, params_[0] = 0;
                int& p = params_[nparams_ - 1];
                if (p < 100000) p = p * 10 + (byte - '0');
                return;
            }
            if (byte == ';') {
                if (nparams_ == 0) nparams_ = 1, params_[0] = 0;
                if (nparams_ < MAX_PARAMS) params_[nparams_++] = 0;
                else private_ = true;
                return;
            }
            if (byte >= 0x20 && byte <= 0x3F) {  // other parameter and intermediate bytes
                private_ = true;
                return;
            }
            if (byte >= 0x40 && byte <= 0x7E) return finish_csi(byte);
            // A control byte inside a sequence ends it; the byte is lost.
            reset();
            emit(OTHER);
            return;
        case State::Ss3:
            reset();
            emit(cursor_key(byte));
            return;
        case State::Utf8:
            if ((byte & 0xC0) == 0x80) {
                cp_ = (cp_ << 6) | (byte & 0x3F);
                if (--need_ > 0) return;
                reset();
                const bool bad = cp_ < static_cast<uint32_t>(min_) || cp_ > 0x10FFFF ||
                                 (cp_ >= 0xD800 && cp_ <= 0xDFFF);
                emit(bad ? 0xFFFD : static_cast<int>(cp_));
                return;
            }
            // The character stopped short: it becomes U+FFFD and the byte
            // starts afresh.
            reset();
            emit(0xFFFD);
            break;
    }
    // Ground state.
    if (byte == 0x1B) {
        state_ = State::Esc;
        return;
    }
    if (byte < 0x80) {
        emit(byte == '\n' ? ENTER : byte);
        return;
    }
    if ((byte & 0xE0) == 0xC0) cp_ = byte & 0x1F, need_ = 1, min_ = 0x80;
    else if ((byte & 0xF0) == 0xE0) cp_ = byte & 0x0F, need_ = 2, min_ = 0x800;
    else if ((byte & 0xF8) == 0xF0) cp_ = byte & 0x07, need_ = 3, min_ = 0x10000;
    else {
        emit(0xFFFD);  // a byte that cannot start a character
        return;
    }
    state_ = State::Utf8;
}

void Decoder::flush() {
    if (state_ == State::Ground) return;
    emit(state_ == State::Esc ? ESC : state_ == State::Utf8 ? 0xFFFD : OTHER);
    reset();
}

}  // namespace qel::keys
