// The parse engine's state machine and its work stacks.
//
// One loop moves between three states: take the next rule value of the
// current block (RULE), decide what the step that just ran means for the
// frame on top of the rule stack (AFTER), and leave a finished block
// (FINISH). A rule block met as a rule pushes a block frame and becomes the
// current block; a keyword that waits for a sub-rule pushes a command frame
// and lets the loop run the sub-rule as an ordinary step, then completes
// when AFTER finds its frame on top. Failure returns the input to where
// the current block began and resumes after the block's next `|`.
//
// Collector: the input, the rule block and the collect targets live in
// argument-stack cells; frames live in the rule stack. Buffer addresses are
// read afresh after every evaluation (paren actions, the trace callback),
// and the cursor is a cell index, checked against the block's length each
// time, because a paren may change the rule block itself.
#include "evaluator/parse.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/series.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/parse_input.hpp"
#include "runtime/stack.hpp"
#include "evaluator/trace.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"
#include "runtime/words.hpp"

namespace qel::parse {

namespace {

constexpr Cell NONE{TYPE_NONE, 0, 0, 0};

Cell* input_cell = nullptr;
Cell* rule_cell = nullptr;

inline Cell logic(bool b) { return Cell{TYPE_LOGIC, b ? 1u : 0u, 0, 0}; }

// Cells of a block counted from its buffer's head, whatever its index.
inline uint32_t count_of(const Cell* b) { return series::cell_count(series_node(b)); }
inline Cell* cell_at(const Cell* b, uint32_t i) { return series::cells_of(series_node(b)) + i; }
// The same count, of a buffer already at hand.
inline int64_t cells_in(const SeriesBuffer* s) { return static_cast<int64_t>((s->tail - s->head) / sizeof(Cell)); }

// The series a parse takes as input, and into which collect can keep.
inline bool is_series_type(uint32_t t) { return is_block_like(t) || is_any_string(t) || t == TYPE_BINARY; }

// ---- keywords ---------------------------------------------------------------------

enum Key : uint8_t {
    K_NOTHING, K_PIPE, K_SKIP, K_ANY, K_SOME, K_OPT, K_WHILE, K_TO, K_THRU, K_COPY, K_SET, K_NOT, K_AHEAD,
    K_END, K_NONE, K_FAIL, K_BREAK, K_REJECT, K_QUOTE, K_IF, K_CASE, K_INTO, K_REMOVE, K_INSERT, K_CHANGE,
    K_COLLECT, K_KEEP,
    // words with a meaning only right after certain keywords
    K_ONLY, K_PICK, K_AFTER,
};

// The keywords by canonical symbol id, made at start-up, and a cache of
// the answer for every symbol id met in rules, so that a rule word costs
// one table read.
std::vector<uint8_t> keyword_table;
constexpr uint8_t UNKNOWN = 0xFF;
std::vector<uint8_t> symbol_cache;

void build_keywords() {
    const std::pair<int32_t, Key> keys[] = {
        {words::sym_pipe, K_PIPE}, {words::sym_skip, K_SKIP}, {words::sym_any, K_ANY},
        {words::sym_some, K_SOME}, {words::sym_opt, K_OPT}, {words::sym_while, K_WHILE},
        {words::sym_to, K_TO}, {words::sym_thru, K_THRU}, {words::sym_copy, K_COPY}, {words::sym_set, K_SET},
        {words::sym_not, K_NOT}, {words::sym_ahead, K_AHEAD}, {words::sym_end, K_END},
        {words::sym_none, K_NONE}, {words::sym_fail, K_FAIL}, {words::sym_break, K_BREAK},
        {words::sym_reject, K_REJECT}, {words::sym_quote, K_QUOTE}, {words::sym_if, K_IF},
        {words::sym_case, K_CASE}, {words::sym_into, K_INTO}, {words::sym_remove, K_REMOVE},
        {words::sym_insert, K_INSERT}, {word_symbol(words::w_change), K_CHANGE},
        {words::sym_collect, K_COLLECT}, {words::sym_keep, K_KEEP}, {words::sym_only, K_ONLY},
        {words::sym_pick, K_PICK}, {words::sym_after, K_AFTER},
    };
    keyword_table.assign(0, 0);
    symbol_cache.assign(0, 0);
    for (const auto& [sym, key] : keys) {
        const auto c = static_cast<uint32_t>(symbol::canonical(sym));
        if (c >= keyword_table.size()) keyword_table.resize(c + 1, K_NOTHING);
        keyword_table[c] = key;
    }
}

[[gnu::noinline]] Key keyword_of_symbol(uint32_t sym) {
    const auto c = static_cast<uint32_t>(symbol::canonical(static_cast<int32_t>(sym)));
    const uint8_t k = c < keyword_table.size() ? keyword_table[c] : static_cast<uint8_t>(K_NOTHING);
    if (sym >= symbol_cache.size()) symbol_cache.resize(sym + 64, UNKNOWN);
    symbol_cache[sym] = k;
    return static_cast<Key>(k);
}

inline Key keyword_of(const Cell* v) {
    if (cell::type_of(v) != TYPE_WORD) return K_NOTHING;
    const auto sym = static_cast<uint32_t>(word_symbol(v));
    if (sym < symbol_cache.size() && symbol_cache[sym] != UNKNOWN) return static_cast<Key>(symbol_cache[sym]);
    return keyword_of_symbol(sym);
}

// ---- work stacks ------------------------------------------------------------------------

void truncate(Cell* stk, uint32_t n) { block::set_tail_index(stk, n); }

// Starts a parse on the stacks: when frames of an outer parse are there,
// a marker keeps the outer indexes and the new parse starts above.
bool save_stacks() {
    const uint32_t rules = count_of(rule_cell);
    if (rules <= series_index(rule_cell)) return false;
    const Cell marker = marker_record(series_index(rule_cell), series_index(input_cell));
    block::append_copy(rule_cell, &marker);
    series_index(rule_cell) = rules + 1;
    series_index(input_cell) = count_of(input_cell);
    return true;
}

void reset_stacks(bool restore) {
    truncate(rule_cell, series_index(rule_cell));
    truncate(input_cell, series_index(input_cell));
    if (!restore) return;
    const uint32_t at = series_index(rule_cell) - 1;
    const Cell marker = *cell_at(rule_cell, at);
    truncate(rule_cell, at);
    series_index(rule_cell) = marker_rule_index(marker);
    series_index(input_cell) = marker_input_index(marker);
}

void check_stacks() {
    if (count_of(rule_cell) > STACK_LIMIT || count_of(input_cell) > STACK_LIMIT) err::raise(err::PARSE_STACK);
}

// ---- the engine ----------------------------------------------------------------------------

// A trace callback that answered false: the parse ends at once.
struct Stop {};
// A break, continue, return or exit is pending out of a paren action.
struct Leave {};

enum class State { RULE, AFTER, FINISH, DONE };

enum CollectKind : int32_t { PLAIN = 0, SET_WORD = 1, INTO_WORD = 2, AFTER_WORD = 3 };
// Cells per collect target on the argument stack: kind, word, target.
constexpr uint32_t TARGET_CELLS = 3;

class Engine {
public:
    Engine(const Cell* input, const Cell* rules, CompareOp code, int64_t limit, const Cell* callback)
        : code_(code), limit_(limit) {
        in_ = stack::push(input);
        rules_ = stack::push(rules);
        callback_ = stack::push(callback);
        if (cell::type_of(callback_) != TYPE_FUNCTION) *callback_ = NONE;
        tracing_ = cell::type_of(callback_) == TYPE_FUNCTION;
        result_ = stack::push(&NONE);
        targets_ = stack::arg_top;
        base_ = count_of(rule_cell);
        ibase_ = count_of(input_cell);
        const uint32_t tot = total(in_);
        if (series_index(in_) > tot) series_index(in_) = tot;
        if (series_index(rules_) > count_of(rules_)) series_index(rules_) = count_of(rules_);
    }

    // Answers the result: logic!, or the block of a top-level collect.
    Cell run() {
        try {
            block::append_copy(input_cell, in_);
            // The outermost frame's enclosing block is the rules block.
            cur_ = -1;
            enter(*rules_);
            State s = State::RULE;
            for (;;) {
                if (s == State::RULE) s = next_rule();
                else if (s == State::AFTER) s = after_step();
                else if ((s = finish_block()) == State::DONE) break;
            }
            brk_ = false;
            if (match_ && ibase_ + 1 == count_of(input_cell) && !at_end()) match_ = false;
            fire(words::w_end);
        } catch (const Stop&) {
            return logic(match_);
        }
        return collected_ ? *result_ : logic(match_);
    }

private:
    Cell* in_;        // the input at the current position
    Cell* rules_;     // the current rule block
    Cell* callback_;  // function! or none
    bool tracing_;    // callback_ is a function!
    Cell* targets_;   // first collect target (TARGET_CELLS each)
    int32_t cur_ = -1;  // cell index of the rule value being handled
    bool match_ = true;
    bool brk_ = false;
    CompareOp code_;
    int64_t limit_;
    uint32_t depth_ = 0;  // collect depth
    uint32_t base_ = 0;   // rule-stack index of the outermost frame
    uint32_t ibase_ = 0;  // input-stack index of the outermost input
    bool collected_ = false;
    Cell* result_;    // the block of a top-level collect

    // ---- input ----
    uint32_t index() const { return series_index(in_); }
    void set_index(int64_t i) {
        const uint32_t tot = total(in_);
        series_index(in_) = i < 0 ? 0 : i > tot ? tot : static_cast<uint32_t>(i);
    }
    bool outermost() const { return count_of(input_cell) == ibase_ + 1; }
    uint32_t end_index() const {
        const uint32_t tot = total(in_);
        if (limit_ >= 0 && outermost() && limit_ < tot) return static_cast<uint32_t>(limit_);
        return tot;
    }
    bool at_end() const { return index() >= end_index(); }
    int64_t length_from(uint32_t i) const { return static_cast<int64_t>(total(in_)) - i; }

    // The part limit follows changes of the outermost input before it.
    void moved(uint32_t at, int64_t delta) {
        if (limit_ < 0 || !outermost() || at >= limit_) return;
        limit_ = std::max<int64_t>(limit_ + delta, at);
    }

    // ---- rules ----
    uint32_t rule_count() const { return count_of(rules_); }
    bool has_next() const { return static_cast<int64_t>(cur_) + 1 < rule_count(); }
    Cell rule_at(int64_t i) const {
        SeriesBuffer* const b = series::buffer_of(series_node(rules_));
        return i >= 0 && i < cells_in(b) ? series::head_cell(b)[i] : NONE;
    }
    Cell next_value() const { return rule_at(static_cast<int64_t>(cur_) + 1); }

    [[noreturn]] void missing(const Cell& keyword) {
        Cell w = keyword;
        err::raise(err::PARSE_END, &w);
    }
    // The value after a keyword, which must be there and be no `|`.
    Cell need_next(const Cell& keyword) {
        SeriesBuffer* const b = series::buffer_of(series_node(rules_));
        const int64_t next = static_cast<int64_t>(cur_) + 1;
        if (next >= cells_in(b)) missing(keyword);
        const Cell v = series::head_cell(b)[next];
        if (keyword_of(&v) == K_PIPE) missing(keyword);
        return v;
    }

    // A word's value as a rule: unset is an error, and so is a word naming
    // another word.
    Cell fetch(const Cell& word) {
        Cell w = word;
        const Cell v = *word::get(&w);
        if (cell::type_of(&v) == TYPE_UNSET) err::raise(err::NO_VALUE, &word);
        if (cell::type_of(&v) == TYPE_WORD) err::raise(err::PARSE_RULE, &word);
        return v;
    }

    // A value argument (of insert, change): parens are evaluated, words
    // fetched.
    Cell value_of(const Cell& v) {
        switch (cell::type_of(&v)) {
            case TYPE_PAREN: return eval(v);
            case TYPE_WORD: {
                Cell w = v;
                const Cell r = *word::get(&w);
                if (cell::type_of(&r) == TYPE_UNSET) err::raise(err::NO_VALUE, &v);
                return r;
            }
            case TYPE_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH: err::raise(err::PARSE_RULE, &v);
            default: return v;
        }
    }

    // A word whose value is a position in the input series.
    bool refers_to_input(const Cell& v, Cell* position) {
        if (cell::type_of(&v) != TYPE_WORD || keyword_of(&v) != K_NOTHING) return false;
        Cell w = v;
        const Cell r = *word::get(&w);
        if (!is_series_type(cell::type_of(&r)) || series_node(r) != series_node(in_)) return false;
        *position = r;
        return true;
    }

    Cell eval(const Cell& paren) {
        Cell* const mark = stack::arg_top;
        const Cell p = paren;
        interp::eval_block(&p, false);
        if (exit_pending()) throw Leave{};
        const Cell r = *mark;
        stack::arg_top = mark;
        // The action may have changed the rule block or the input.
        if (cur_ >= static_cast<int64_t>(rule_count())) cur_ = static_cast<int32_t>(rule_count()) - 1;
        if (index() > total(in_)) set_index(total(in_));
        return r;
    }

    // ---- trace ----
    // Every step fires an event; without a callback that is one test.
    void fire(const Cell* event) {
        if (tracing_) [[unlikely]]
            call_back(event);
    }

    [[gnu::noinline]] void call_back(const Cell* event) {
        Cell* const mark = stack::arg_top;
        Cell* args = stack::push(event);
        args->header = TYPE_WORD;
        const Cell m = logic(match_);
        stack::push(&m);
        Cell* r = stack::push(rules_);
        series_index(r) = static_cast<uint32_t>(std::clamp<int64_t>(cur_, 0, rule_count()));
        stack::push(in_);
        stack::push(rule_cell);
        const Cell answer =
            *trace::call_with_values(callback_, words::w_parse_callback, args, 5, trace::CallbackKind::Parse);
        stack::arg_top = mark;
        if (!is_truthy(&answer)) throw Stop{};
    }

    // ---- frames ----
    uint32_t top_frame() const { return count_of(rule_cell) - 3; }
    Cell frame_cell(uint32_t f, uint32_t k) const { return *cell_at(rule_cell, f + k); }
    bool is_command(uint32_t f) const { return cell::type_of(cell_at(rule_cell, f + 2)) == TYPE_PAIR; }

    Cell position() const { return position_record(cur_, index(), length_from(index())); }

    // Pushes the three cells of a frame in one reservation. They are
    // copies: growing the stack may move what they were read from.
    static void push_frame(const Cell& first, const Cell& pos, const Cell& last) {
        check_stacks();
        const Cell frame[3] = {first, pos, last};
        std::memcpy(series::reserve_bytes(series::buffer_of(series_node(rule_cell)), sizeof frame), frame,
                    sizeof frame);
    }

    void enter(const Cell& blk) {
        push_frame(NONE, position(), *rules_);
        *rules_ = blk;
        rules_->header = TYPE_BLOCK;
        if (series_index(rules_) > rule_count()) series_index(rules_) = rule_count();
        cur_ = static_cast<int32_t>(series_index(rules_)) - 1;
        match_ = true;
        fire(words::w_push);
    }

    void push_command(const Cell& param, Command command, int32_t option) {
        push_frame(param, position(), command_record(command, option));
        fire(words::w_push);
    }

    void pop_frame(uint32_t f) {
        fire(words::w_pop);
        truncate(rule_cell, f);
    }

    // ---- steps ----
    State next_rule() {
        cur_++;
        SeriesBuffer* const b = series::buffer_of(series_node(rules_));
        if (cur_ >= cells_in(b)) {
            // A command still waiting for its sub-rule: a paren action cut
            // the rule block short under it.
            const uint32_t f = top_frame();
            if (is_command(f)) {
                const Cell keyword = rule_at(position_rule(frame_cell(f, 1)));
                err::raise(err::PARSE_END, &keyword);
            }
            return State::FINISH;
        }
        if (tracing_) [[unlikely]] {
            call_back(words::w_fetch);
            return handle(*cell_at(rules_, static_cast<uint32_t>(cur_)), false);
        }
        const Cell v = series::head_cell(b)[cur_];
        return handle(v, false);
    }

    State matched(bool ok) {
        match_ = ok;
        fire(words::w_match);
        return State::AFTER;
    }

    State handle(const Cell& v, bool fetched) {
        switch (cell::type_of(&v)) {
            case TYPE_BLOCK:
                enter(v);
                return State::RULE;
            case TYPE_WORD:
                if (!fetched) {
                    const Key k = keyword_of(&v);
                    if (k != K_NOTHING && k < K_ONLY) return keyword(k, v);
                }
                return handle(fetch(v), true);
            case TYPE_SET_WORD: {
                Cell w = v;
                word::set(&w, in_);
                return State::AFTER;
            }
            case TYPE_GET_WORD: {
                Cell w = v;
                const Cell r = *word::get(&w);
                if (cell::type_of(&r) != cell::type_of(in_) || series_node(r) != series_node(in_))
                    err::raise(err::PARSE_INVALID_REF, &v);
                set_index(series_index(r));
                return State::AFTER;
            }
            case TYPE_PAREN:
                eval(v);
                fire(words::w_paren);
                return State::AFTER;
            case TYPE_INTEGER:
                return counted(v);
            case TYPE_DATATYPE:
            case TYPE_TYPESET: {
                const int64_t n = match_type(in_, &v, end_index());
                if (n >= 0) set_index(static_cast<int64_t>(index()) + n);
                return matched(n >= 0);
            }
            case TYPE_PATH:
            case TYPE_SET_PATH:
            case TYPE_GET_PATH:
            case TYPE_UNSET:
                err::raise(err::PARSE_RULE, &v);
            default:
                return literal(v);
        }
    }

    State literal(const Cell& v) {
        const int64_t n = match_literal(in_, &v, code_, end_index());
        if (n > 0) series_index(in_) += static_cast<uint32_t>(n);
        return matched(n >= 0);
    }

    // A plain value, given or named by a word, that can be repeated or
    // searched for in one pass.
    bool plain_value(const Cell& v, Cell* out) {
        if (cell::type_of(&v) == TYPE_WORD) {
            if (keyword_of(&v) != K_NOTHING) return false;
            const Cell r = fetch(v);
            if (!is_plain(cell::type_of(&r))) return false;
            *out = r;
            return true;
        }
        if (!is_plain(cell::type_of(&v))) return false;
        *out = v;
        return true;
    }

    // A repetition of the rule after the cursor.
    State repeat(const Cell& keyword, int64_t min, int64_t max, bool is_while) {
        const Cell sub = need_next(keyword);
        Cell lit;
        if (plain_value(sub, &lit)) {
            cur_++;
            uint32_t to = index();
            const uint32_t n = repeat_literal(in_, &lit, code_, end_index(), max, &to);
            const bool ok = n >= min;
            if (ok) set_index(to);
            return matched(ok);
        }
        push_command(parameter_record(min, max, 1), is_while ? WHILE : REPEAT, 0);
        return State::RULE;
    }

    Cell count_value(const Cell& v) {
        if (cell::type_of(&v) == TYPE_INTEGER) return v;
        if (cell::type_of(&v) == TYPE_WORD && keyword_of(&v) == K_NOTHING) {
            Cell w = v;
            if (word_context(w) == 0) return NONE;
            const Cell r = *word::get(&w);
            if (cell::type_of(&r) == TYPE_INTEGER) return r;
        }
        return NONE;
    }

    State counted(const Cell& first) {
        const int64_t min = integer_value(first);
        if (min < 0) err::raise(err::OUT_OF_RANGE, &first);
        int64_t max = min;
        if (has_next()) {
            const Cell second = count_value(next_value());
            if (cell::type_of(&second) == TYPE_INTEGER) {
                max = integer_value(second);
                if (max < 0) err::raise(err::OUT_OF_RANGE, &second);
                cur_++;
            }
        }
        if (!has_next() || max < min) err::raise(err::PARSE_RULE, &first);
        if (max == 0) {
            cur_ = static_cast<int32_t>(rule_end(static_cast<uint32_t>(cur_) + 1)) - 1;
            return matched(true);
        }
        return repeat(first, min, max, false);
    }

    // The index after the rule that starts at i, for counts of 0, which
    // pass over their rule without running it.
    uint32_t rule_end(uint32_t i) const {
        const uint32_t n = rule_count();
        uint32_t values_after = 0;
        auto is_key = [&](uint32_t at, Key k) {
            const Cell c = rule_at(at);
            return at < n && keyword_of(&c) == k;
        };
        while (i < n) {
            const Cell v = rule_at(i);
            if (cell::type_of(&v) == TYPE_INTEGER) {
                i++;
                const Cell c = rule_at(i);
                if (i < n && cell::type_of(&c) == TYPE_INTEGER) i++;
                continue;
            }
            switch (keyword_of(&v)) {
                case K_ANY: case K_SOME: case K_OPT: case K_WHILE: case K_TO: case K_THRU: case K_NOT:
                case K_AHEAD: case K_REMOVE: case K_INTO:
                    i++;
                    continue;
                case K_COPY: case K_SET: case K_CASE:
                    i += 2;
                    continue;
                case K_KEEP:
                    i += is_key(i + 1, K_PICK) ? 2 : 1;
                    continue;
                case K_COLLECT: {
                    i++;
                    const Cell w = rule_at(i + 1);
                    if ((is_key(i, K_SET) || is_key(i, K_INTO) || is_key(i, K_AFTER)) &&
                        cell::type_of(&w) == TYPE_WORD)
                        i += 2;
                    continue;
                }
                case K_CHANGE:
                    i += is_key(i + 1, K_ONLY) ? 2 : 1;
                    values_after++;
                    continue;
                case K_INSERT:
                    i += is_key(i + 1, K_ONLY) ? 3 : 2;
                    break;
                case K_QUOTE: case K_IF:
                    i += 2;
                    break;
                default:
                    i++;
                    break;
            }
            break;
        }
        return std::min(i + values_after, n);
    }

    State keyword(Key k, const Cell& v) {
        switch (k) {
            case K_PIPE:
                // The alternative before it matched: the block is done.
                cur_ = static_cast<int32_t>(rule_count()) - 1;
                match_ = true;
                return State::RULE;
            case K_SKIP: {
                const bool ok = !at_end();
                if (ok) series_index(in_)++;
                return matched(ok);
            }
            case K_ANY: return repeat(v, 0, -1, false);
            case K_SOME: return repeat(v, 1, -1, false);
            case K_OPT: return repeat(v, 0, 1, false);
            case K_WHILE: return repeat(v, 0, -1, true);
            case K_TO: case K_THRU: return search_step(v, k == K_THRU);
            case K_COPY: case K_SET: {
                if (!has_next()) missing(v);
                const Cell w = next_value();
                if (cell::type_of(&w) != TYPE_WORD) missing(v);
                cur_++;
                need_next(v);
                push_command(w, k == K_COPY ? COPY : SET, 0);
                return State::RULE;
            }
            case K_NOT: case K_AHEAD:
                need_next(v);
                push_command(parameter_record(-1, 0, 0), k == K_NOT ? NOT : AHEAD, 0);
                return State::RULE;
            case K_END: return matched(at_end());
            case K_NONE: return matched(true);
            case K_FAIL: return matched(false);
            case K_BREAK: case K_REJECT:
                brk_ = true;
                return matched(k == K_BREAK);
            case K_QUOTE: {
                if (!has_next()) missing(v);
                const Cell lit = next_value();
                cur_++;
                return literal(lit);
            }
            case K_IF: {
                const Cell p = next_value();
                if (!has_next() || cell::type_of(&p) != TYPE_PAREN) missing(v);
                cur_++;
                const Cell r = eval(p);
                fire(words::w_paren);
                return matched(is_truthy(&r));
            }
            case K_CASE: {
                if (!has_next()) missing(v);
                const Cell w = next_value();
                if (cell::type_of(&w) != TYPE_WORD) missing(v);
                cur_++;
                need_next(v);
                Cell word = w;
                const Cell flag = *word::get(&word);
                if (cell::type_of(&flag) == TYPE_UNSET) err::raise(err::NO_VALUE, &w);
                push_command(parameter_record(-1, to_code(code_), 0), CASE, 0);
                code_ = is_truthy(&flag) ? CompareOp::StrictEqual : CompareOp::Equal;
                return State::RULE;
            }
            case K_INTO: return into(v);
            case K_REMOVE: {
                const Cell a = need_next(v);
                Cell at;
                if (refers_to_input(a, &at)) {
                    cur_++;
                    const uint32_t from = std::min(series_index(at), total(in_));
                    if (from < index()) {
                        const uint32_t n = index() - from;
                        set_index(from);
                        moved(from, remove_units(in_, from, n));
                    }
                    set_index(from);
                    return matched(true);
                }
                push_command(parameter_record(-1, 0, 0), REMOVE, 0);
                return State::RULE;
            }
            case K_INSERT: return insert(v);
            case K_CHANGE: return change(v);
            case K_COLLECT: return collect(v);
            case K_KEEP: return keep(v);
            default: return matched(false);
        }
    }

    State search_step(const Cell& keyword, bool thru) {
        const Cell sub = need_next(keyword);
        if (keyword_of(&sub) == K_END) {
            cur_++;
            set_index(end_index());
            return matched(true);
        }
        Cell lit;
        if (plain_value(sub, &lit)) {
            cur_++;
            uint32_t at = 0, len = 0;
            const bool found = search(in_, &lit, code_, end_index(), &at, &len);
            if (found) set_index(thru ? at + len : at);
            return matched(found);
        }
        push_command(parameter_record(-1, index(), 0), thru ? THRU : TO, 0);
        return State::RULE;
    }

    State into(const Cell& keyword) {
        if (!is_block_like(cell::type_of(in_))) err::raise(err::PARSE_BLOCK, in_);
        const Cell sub = need_next(keyword);
        Cell blk = sub;
        if (cell::type_of(&sub) == TYPE_WORD && keyword_of(&sub) == K_NOTHING) blk = fetch(sub);
        if (cell::type_of(&blk) != TYPE_BLOCK) missing(keyword);
        if (at_end()) {
            cur_++;
            return matched(false);
        }
        Cell element = *cell_at(in_, index());
        cell::clear_new_line(&element);
        if (!is_series_type(cell::type_of(&element))) {
            cur_++;
            return matched(false);
        }
        push_command(parameter_record(-1, 0, 0), INTO, 0);
        check_stacks();
        block::append_copy(input_cell, &element);
        *in_ = element;
        set_index(series_index(element));
        cur_++;
        enter(blk);
        return State::RULE;
    }

    // The first argument of insert and change, after an optional only.
    Cell argument_after_only(const Cell& keyword, bool* only) {
        if (!has_next()) missing(keyword);
        Cell a = next_value();
        *only = false;
        if (keyword_of(&a) == K_ONLY) {
            *only = true;
            cur_++;
            a = need_next(keyword);
        }
        return a;
    }

    State insert(const Cell& keyword) {
        bool only;
        Cell a = argument_after_only(keyword, &only);
        if (!has_next()) missing(keyword);
        cur_++;
        uint32_t at = index();
        Cell where;
        const Cell after = next_value();
        if (has_next() && keyword_of(&after) != K_PIPE && refers_to_input(a, &where)) {
            at = std::min(series_index(where), total(in_));
            cur_++;
            a = after;
        }
        const Cell value = value_of(a);
        const int64_t delta = insert_value(in_, at, &value, only);
        moved(at, delta);
        if (at <= index()) set_index(static_cast<int64_t>(index()) + delta);
        return matched(true);
    }

    State change(const Cell& keyword) {
        bool only;
        const Cell a = argument_after_only(keyword, &only);
        Cell where;
        if (refers_to_input(a, &where)) {
            cur_++;
            if (!has_next()) missing(keyword);
            cur_++;
            const Cell value = value_of(rule_at(cur_));
            const uint32_t from = std::min(series_index(where), total(in_));
            const uint32_t to = std::max(from, index());
            const int64_t delta = change_units(in_, from, to - from, &value, only);
            moved(from, delta);
            set_index(from);
            return matched(true);
        }
        need_next(keyword);
        push_command(parameter_record(-1, 0, 0), only ? CHANGE_ONLY : CHANGE, 0);
        return State::RULE;
    }

    State collect(const Cell& keyword) {
        const Cell a = need_next(keyword);
        const Key option = keyword_of(&a);
        CollectKind kind = PLAIN;
        Cell word = NONE;
        Cell target;
        const Cell w = rule_at(static_cast<int64_t>(cur_) + 2);
        if ((option == K_SET || option == K_INTO || option == K_AFTER) && cell::type_of(&w) == TYPE_WORD) {
            kind = option == K_SET ? SET_WORD : option == K_INTO ? INTO_WORD : AFTER_WORD;
            word = w;
            cur_ += 2;
            need_next(keyword);
        }
        if (kind == INTO_WORD || kind == AFTER_WORD) {
            Cell ww = word;
            target = *word::get(&ww);
            const uint32_t t = cell::type_of(&target);
            const uint32_t it = cell::type_of(in_);
            bool fits = is_series_type(t);
            if (fits && t != it) {
                if (t == TYPE_BINARY) fits = false;
                else if (is_any_string(t) && is_block_like(it)) fits = false;
            }
            if (!fits) err::raise(err::PARSE_INTO_TYPE);
            for (uint32_t i = ibase_; i < count_of(input_cell); i++)
                if (series_node(cell_at(input_cell, i)) == series_node(target)) err::raise(err::PARSE_INTO_BAD);
            const uint32_t tot = total(&target);
            if (kind == AFTER_WORD || series_index(target) > tot) series_index(target) = tot;
        } else {
            target = NONE;
        }
        const Cell kind_cell{TYPE_INTEGER, 0, static_cast<uint32_t>(kind), 0};
        stack::push(&kind_cell);
        stack::push(&word);
        Cell* t = stack::push(&target);
        if (cell::type_of(t) == TYPE_NONE) block::make_at(t, 8);
        depth_++;
        push_command(parameter_record(-1, 0, kind), COLLECT, 0);
        return State::RULE;
    }

    Cell* innermost_target() { return targets_ + depth_ * TARGET_CELLS - 1; }
    void keep_one(const Cell& value, bool each) {
        Cell* t = innermost_target();
        keep_value(t, &value, integer_value(t - 2) == INTO_WORD, each);
    }

    State keep(const Cell& keyword) {
        if (depth_ == 0) err::raise(err::PARSE_KEEP);
        Cell a = need_next(keyword);
        int32_t pick = 0;
        if (keyword_of(&a) == K_PICK) {
            pick = 1;
            cur_++;
            a = need_next(keyword);
        }
        if (cell::type_of(&a) == TYPE_PAREN) {
            cur_++;
            const Cell r = eval(a);
            Cell* held = stack::push(&r);
            fire(words::w_paren);
            keep_one(*held, pick != 0);
            stack::pop_n(1);
            return matched(true);
        }
        push_command(parameter_record(-1, 0, 0), KEEP, pick);
        return State::RULE;
    }

    // ---- after a step ----
    State after_step() {
        const uint32_t f = top_frame();
        if (is_command(f)) return complete(f);
        if (brk_) return State::FINISH;
        if (match_) return State::RULE;
        // Backtrack: back to where the block began, on to its next
        // alternative.
        set_index(position_index(frame_cell(f, 1)));
        const uint32_t n = rule_count();
        for (int64_t i = static_cast<int64_t>(cur_) + 1; i < n; i++) {
            const Cell c = *cell_at(rules_, static_cast<uint32_t>(i));
            if (keyword_of(&c) == K_PIPE) {
                cur_ = static_cast<int32_t>(i);
                match_ = true;
                return State::RULE;
            }
        }
        return State::FINISH;
    }

    // Leaves the current block: DONE when it was the outermost, else AFTER
    // with its frame popped, or RULE when a repetition enters it again.
    State finish_block() {
        const uint32_t f = top_frame();
        const Cell pos = frame_cell(f, 1);
        if (!match_) set_index(position_index(pos));
        if (f == base_) return State::DONE;
        if (match_ && !brk_ && !tracing_ && f > base_ && again_in_place(f)) return State::RULE;
        fire(words::w_pop);
        *rules_ = frame_cell(f, 2);
        cur_ = position_rule(pos);
        truncate(rule_cell, f);
        return State::AFTER;
    }

    // A block that matched as the rule of a repetition below it, written
    // in its rule block as a block! (not a word naming one): when the
    // repetition goes on, the block starts again in the frame it has
    // rather than popping it and pushing the same frame back. Without a
    // trace callback nobody sees the difference. Nothing here allocates,
    // so the frames are read through one address.
    bool again_in_place(uint32_t f) {
        Cell* const frame = series::cells_of(series_node(rule_cell)) + f;
        Cell* const below = frame - 3;
        if (cell::type_of(&below[2]) != TYPE_PAIR) return false;
        const Command command = command_code(below[2]);
        if (command != REPEAT && command != WHILE) return false;
        const int32_t rule = position_rule(frame[1]);
        if (rule != position_rule(below[1]) + 1) return false;
        SeriesBuffer* const outer = series::buffer_of(series_node(frame[2]));
        if (rule >= cells_in(outer)) return false;
        const Cell blk = series::head_cell(outer)[rule];
        if (cell::type_of(&blk) != TYPE_BLOCK) return false;
        const uint32_t tot = total(in_);
        if (!repeat_again(below, tot)) return false;
        // As enter does, with the frame kept: its enclosing block is the
        // outer one still.
        frame[1] = position_record(rule, index(), static_cast<int64_t>(tot) - index());
        *rules_ = blk;
        rules_->header = TYPE_BLOCK;
        const uint32_t n = series::cell_count(series_node(rules_));
        if (series_index(rules_) > n) series_index(rules_) = n;
        cur_ = static_cast<int32_t>(series_index(rules_)) - 1;
        match_ = true;
        return true;
    }

    // A matched pass of the repetition whose frame starts at frame (tot:
    // the input's length): unless the loop stops there, counts the pass,
    // records where the next one starts, moves the cursor back to the
    // repetition's keyword and answers true.
    bool repeat_again(Cell* frame, uint32_t tot) {
        const Cell param = frame[0];
        const Cell pos = frame[1];
        const int64_t min = count_min(param), max = count_max(param), attempt = count_attempt(param);
        if (max >= 0 && attempt >= max) return false;
        // A pass that matched without moving stops the loop, unless it
        // made the input shorter; one below the minimum would only match
        // the same way again.
        const uint32_t start = std::min<uint32_t>(position_index(pos), tot);
        if (command_code(frame[2]) == REPEAT && index() == start &&
            static_cast<int64_t>(tot) - start >= position_length(pos) &&
            attempt >= min)
            return false;
        set_count_attempt(&frame[0], static_cast<int32_t>(attempt + 1));
        frame[1] = position_record(position_rule(pos), index(), static_cast<int64_t>(tot) - index());
        cur_ = position_rule(pos);
        return true;
    }

    State complete(uint32_t f) {
        const Cell param = frame_cell(f, 0);
        const Cell pos = frame_cell(f, 1);
        const Cell cmd = frame_cell(f, 2);
        const Command command = command_code(cmd);
        const uint32_t start = std::min<uint32_t>(position_index(pos), total(in_));
        switch (command) {
            case REPEAT:
            case WHILE: {
                const int64_t min = count_min(param), attempt = count_attempt(param);
                bool ok;
                if (match_) {
                    if (brk_) {
                        brk_ = false;
                    } else if (repeat_again(cell_at(rule_cell, f), total(in_))) {
                        fire(words::w_iterate);
                        return State::RULE;
                    }
                    ok = attempt >= min;
                } else {
                    brk_ = false;
                    set_index(start);
                    ok = min == 0 || attempt - 1 >= min;
                }
                match_ = ok;
                break;
            }
            case TO:
            case THRU:
                if (match_) {
                    if (command == TO) set_index(start);
                } else if (start < end_index()) {
                    set_index(start + 1);
                    *cell_at(rule_cell, f + 1) = position_record(position_rule(pos), index(), length_from(index()));
                    cur_ = position_rule(pos);
                    match_ = true;
                    fire(words::w_iterate);
                    return State::RULE;
                } else {
                    set_index(search_start(param));
                }
                break;
            case COPY:
            case SET:
                if (match_) {
                    if (command == COPY) {
                        Cell* copy = push_copy(in_, start, std::max(start, index()));
                        Cell w = frame_cell(f, 0);
                        word::set(&w, copy);
                        stack::pop_n(1);
                    } else {
                        Cell w = param;
                        const Cell v = index() > start ? element_at(in_, start) : NONE;
                        word::set(&w, &v);
                    }
                }
                break;
            case NOT:
                match_ = !match_;
                set_index(start);
                break;
            case AHEAD:
                set_index(start);
                break;
            case INTO: {
                const bool ok = match_ && index() >= total(in_);
                truncate(input_cell, count_of(input_cell) - 1);
                *in_ = *cell_at(input_cell, count_of(input_cell) - 1);
                // The position was recorded in the outer series: it is
                // bounded by that series, not by the one just left.
                const uint32_t at = std::min<uint32_t>(position_index(pos), total(in_));
                set_index(at);
                if (ok) set_index(static_cast<int64_t>(at) + 1);
                match_ = ok;
                break;
            }
            case REMOVE:
                if (match_ && index() > start) {
                    const uint32_t n = index() - start;
                    set_index(start);
                    moved(start, remove_units(in_, start, n));
                }
                if (match_) set_index(start);
                break;
            case CHANGE:
            case CHANGE_ONLY: {
                if (!has_next()) missing(*words::w_change);
                cur_++;
                if (!match_) break;
                const Cell value = value_of(rule_at(cur_));
                const uint32_t n = index() > start ? index() - start : 0;
                const int64_t delta = change_units(in_, start, n, &value, command == CHANGE_ONLY);
                moved(start, delta);
                set_index(static_cast<int64_t>(start) + n + delta);
                break;
            }
            case COLLECT: {
                depth_--;
                Cell* kind = targets_ + depth_ * TARGET_CELLS;
                const Cell target = kind[2];
                const auto k = static_cast<CollectKind>(integer_value(kind));
                if (k == SET_WORD) word::set(kind + 1, kind + 2);
                stack::arg_top = kind;
                if (k == PLAIN) {
                    if (depth_ > 0) {
                        Cell* keep = stack::push(&target);
                        keep_one(*keep, false);
                        stack::arg_top = kind;
                    } else {
                        *result_ = target;
                        collected_ = true;
                    }
                }
                break;
            }
            case KEEP:
                if (match_) kept(pos, start, command_option(cmd) != 0);
                break;
            case CASE:
                code_ = CompareOp{saved_compare(param)};
                break;
            default:
                break;
        }
        pop_frame(f);
        fire(words::w_match);
        return State::AFTER;
    }

    // What a matched keep rule adds to the collect target.
    void kept(const Cell& pos, uint32_t start, bool pick) {
        const uint32_t end = std::max(start, index());
        // keep copy word rule: the copy the word got.
        const int64_t at = static_cast<int64_t>(position_rule(pos)) + 1;
        const Cell c = rule_at(at);
        const Cell w = rule_at(at + 1);
        if (keyword_of(&c) == K_COPY && cell::type_of(&w) == TYPE_WORD) {
            Cell word = w;
            Cell* v = stack::push(word::get(&word));
            keep_one(*v, pick);
            stack::pop_n(1);
            return;
        }
        if (end == start) return;
        if (end - start == 1 || pick) {
            for (uint32_t i = start; i < end; i++) keep_one(element_at(in_, i), false);
            return;
        }
        Cell* copy = push_copy(in_, start, end);
        keep_one(*copy, false);
        stack::pop_n(1);
    }
};

// Every way out of the engine leaves the work stacks as it found them.
struct StackGuard {
    bool restore;
    ~StackGuard() { reset_stacks(restore); }
};

}  // namespace

Cell* input_stack() { return input_cell; }
Cell* rule_stack() { return rule_cell; }

void init() {
    input_cell = block::append_copy(&root_cell, &NONE);
    block::make_at(input_cell, 8);
    rule_cell = block::append_copy(&root_cell, &NONE);
    block::make_at(rule_cell, 100);
    build_keywords();
}

bool run(const Cell* input, const Cell* rules, CompareOp code, int64_t limit, const Cell* callback, Cell* result) {
    Cell* const mark = stack::arg_top;
    const StackGuard guard{save_stacks()};
    try {
        Engine engine(input, rules, code, limit, callback);
        const Cell r = engine.run();
        stack::arg_top = mark;
        *result = r;
        return true;
    } catch (const Leave&) {
        // The stacks are already set for the exit's target.
        return false;
    }
}

}  // namespace qel::parse
