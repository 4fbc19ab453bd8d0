// The runtime's own words, made once at start-up.
//
// Everything is table-driven so that the order of the tables is the order
// of interning: the symbol ids these names receive, and the order in which
// their words enter the global context and the root block, are fixed by the
// tables alone.
#include "runtime/runtime_words.hpp"

#include "runtime/context.hpp"
#include "runtime/series.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"
#include "runtime/words.hpp"

namespace qel {

namespace words {

int32_t sym_spec, sym_body, sym_words, sym_class;
int32_t sym_type_logic, sym_type_integer, sym_type_char, sym_type_float, sym_type_percent,
    sym_type_any;
int32_t sym_exit, sym_return;
int32_t sym_windows, sym_syllable, sym_macos, sym_linux, sym_netbsd;
int32_t sym_repeat, sym_foreach, sym_map_each, sym_remove_each;
int32_t sym_any, sym_break, sym_copy, sym_end, sym_fail, sym_into, sym_opt, sym_not, sym_quote,
    sym_case, sym_reject, sym_set, sym_skip, sym_some, sym_thru, sym_to, sym_none, sym_pipe, sym_dash,
    sym_if, sym_remove, sym_while, sym_insert, sym_only, sym_collect, sym_keep, sym_pick, sym_ahead,
    sym_after;
int32_t sym_x, sym_y, sym_z;
int32_t sym_self;
int32_t sym_values, sym_owner, sym_owned, sym_events_q;
int32_t sym_true, sym_false, sym_yes, sym_no, sym_on, sym_off;
int32_t sym_type, sym_face, sym_window, sym_offset, sym_key, sym_flag, sym_code, sym_picked,
    sym_flags, sym_away_q, sym_ctrl_q, sym_shift_q, sym_down_q, sym_mid_down_q, sym_alt_down_q,
    sym_aux_down_q, sym_orientation;
int32_t sym_get, sym_put, sym_post, sym_head;
int32_t sym_size, sym_rgb, sym_alpha, sym_argb;
int32_t sym_date, sym_year, sym_month, sym_day, sym_zone, sym_isoweek, sym_week, sym_weekday,
    sym_yearday, sym_julian, sym_time, sym_hour, sym_minute, sym_second, sym_timezone;
int32_t sym_amount;
int32_t sym_user, sym_host;
int32_t sym_system, sym_system_global;
int32_t sym_trace, sym_no_trace;
int32_t sym_changed;

Cell *w_windows, *w_syllable, *w_macos, *w_linux, *w_netbsd;
Cell *w_to, *w_thru, *w_not, *w_remove, *w_while, *w_collect, *w_keep, *w_ahead, *w_pipe, *w_any, *w_some,
    *w_copy, *w_opt, *w_into, *w_insert, *w_if, *w_quote, *w_set, *w_case, *w_end;
Cell *w_at, *w_back, *w_find, *w_head, *w_head_q, *w_index_q, *w_length_q, *w_next, *w_pick, *w_skip,
    *w_select, *w_tail, *w_tail_q;
Cell *w_change, *w_changed, *w_clear, *w_cleared, *w_set_path, *w_append, *w_appended, *w_move,
    *w_moved, *w_poke, *w_poked, *w_put, *w_put_ed, *w_removed, *w_random, *w_randomized, *w_reverse,
    *w_reversed, *w_sort, *w_sorted, *w_swap, *w_swaped, *w_take, *w_taken, *w_trim, *w_trimmed, *w_inserted;
Cell *w_uppercase, *w_lowercase;
Cell *w_checksum;
Cell *w_push, *w_pop, *w_fetch, *w_match, *w_iterate, *w_paren;
Cell *w_anon, *w_body, *w_not_found;
Cell *w_add, *w_subtract, *w_divide;
Cell *w_on_parse_event, *w_on_change, *w_on_deep_change;
Cell *w_type, *w_id;
Cell *w_try, *w_catch, *w_name, *w_multiply, *w_browse;
Cell *w_open, *w_create, *w_close, *w_delete, *w_modify, *w_query, *w_read, *w_rename, *w_update,
    *w_write;
Cell *w_prescan, *w_scan, *w_load, *w_error, *w_comment;
Cell *w_init, *w_exec, *w_call, *w_return, *w_enter, *w_exit, *w_prolog, *w_epilog, *w_throw, *w_expr;
Cell *w_interp_callback, *w_lexer_callback, *w_parse_callback, *w_compare_callback;
Cell *w_try_throw;
Cell *w_note, *w_syntax, *w_script, *w_math, *w_access, *w_user, *w_internal, *w_invalid_error;
Cell *w_local, *w_applied;
Cell *ref_local, *ref_extern, *ref_compare, *ref_part, *ref_skip, *ref_with;
Cell* issue_ooo;

}  // namespace words

namespace runtime_words {

namespace {

using namespace words;

struct SymbolName {
    int32_t* slot;
    const char* name;
};

struct SymbolWord {
    Cell** slot;
    const int32_t* symbol;
};

struct NamedWord {
    Cell** slot;
    const char* name;
};

// "code" appears twice (event field, money field): one slot, one symbol.
const SymbolName symbol_names[] = {
    // reflection keys
    {&sym_spec, "spec"}, {&sym_body, "body"}, {&sym_words, "words"}, {&sym_class, "class"},
    // element and argument type names
    {&sym_type_logic, "logic!"}, {&sym_type_integer, "integer!"}, {&sym_type_char, "char!"},
    {&sym_type_float, "float!"}, {&sym_type_percent, "percent!"}, {&sym_type_any, "any-type!"},
    // function spec words
    {&sym_exit, "exit"}, {&sym_return, "return"},
    // operating-system names
    {&sym_windows, "Windows"}, {&sym_syllable, "Syllable"}, {&sym_macos, "macOS"}, {&sym_linux, "Linux"},
    {&sym_netbsd, "NetBSD"},
    // loop words
    {&sym_repeat, "repeat"}, {&sym_foreach, "foreach"}, {&sym_map_each, "map-each"},
    {&sym_remove_each, "remove-each"},
    // parse keywords
    {&sym_any, "any"}, {&sym_break, "break"}, {&sym_copy, "copy"}, {&sym_end, "end"}, {&sym_fail, "fail"},
    {&sym_into, "into"}, {&sym_opt, "opt"}, {&sym_not, "not"}, {&sym_quote, "quote"}, {&sym_case, "case"},
    {&sym_reject, "reject"}, {&sym_set, "set"}, {&sym_skip, "skip"}, {&sym_some, "some"}, {&sym_thru, "thru"},
    {&sym_to, "to"}, {&sym_none, "none"}, {&sym_pipe, "|"}, {&sym_dash, "-"}, {&sym_if, "if"},
    {&sym_remove, "remove"}, {&sym_while, "while"}, {&sym_insert, "insert"}, {&sym_only, "only"},
    {&sym_collect, "collect"}, {&sym_keep, "keep"}, {&sym_pick, "pick"}, {&sym_ahead, "ahead"},
    {&sym_after, "after"},
    // coordinates
    {&sym_x, "x"}, {&sym_y, "y"}, {&sym_z, "z"},
    // context word
    {&sym_self, "self"},
    // more reflection keys
    {&sym_values, "values"}, {&sym_owner, "owner"}, {&sym_owned, "owned"}, {&sym_events_q, "events?"},
    // logic words
    {&sym_true, "true"}, {&sym_false, "false"}, {&sym_yes, "yes"}, {&sym_no, "no"}, {&sym_on, "on"},
    {&sym_off, "off"},
    // event fields
    {&sym_type, "type"}, {&sym_face, "face"}, {&sym_window, "window"}, {&sym_offset, "offset"},
    {&sym_key, "key"}, {&sym_flag, "flag"}, {&sym_code, "code"}, {&sym_picked, "picked"},
    {&sym_flags, "flags"}, {&sym_away_q, "away?"}, {&sym_ctrl_q, "ctrl?"}, {&sym_shift_q, "shift?"},
    {&sym_down_q, "down?"}, {&sym_mid_down_q, "mid-down?"}, {&sym_alt_down_q, "alt-down?"},
    {&sym_aux_down_q, "aux-down?"}, {&sym_orientation, "orientation"},
    // HTTP methods
    {&sym_get, "get"}, {&sym_put, "put"}, {&sym_post, "post"}, {&sym_head, "head"},
    // image fields
    {&sym_size, "size"}, {&sym_rgb, "rgb"}, {&sym_alpha, "alpha"}, {&sym_argb, "argb"},
    // date fields
    {&sym_date, "date"}, {&sym_year, "year"}, {&sym_month, "month"}, {&sym_day, "day"}, {&sym_zone, "zone"},
    {&sym_isoweek, "isoweek"}, {&sym_week, "week"}, {&sym_weekday, "weekday"}, {&sym_yearday, "yearday"},
    {&sym_julian, "julian"}, {&sym_time, "time"}, {&sym_hour, "hour"}, {&sym_minute, "minute"},
    {&sym_second, "second"}, {&sym_timezone, "timezone"},
    // money fields (code is the event field's slot)
    {&sym_code, "code"}, {&sym_amount, "amount"},
    // email fields
    {&sym_user, "user"}, {&sym_host, "host"},
    // system words
    {&sym_system, "system"}, {&sym_system_global, "system-global"},
    // function attributes
    {&sym_trace, "trace"}, {&sym_no_trace, "no-trace"},
};

// "collect" appears twice: the second write stores the same word again.
const SymbolWord symbol_words[] = {
    {&w_windows, &sym_windows}, {&w_syllable, &sym_syllable}, {&w_macos, &sym_macos}, {&w_linux, &sym_linux},
    {&w_netbsd, &sym_netbsd}, {&w_to, &sym_to}, {&w_thru, &sym_thru}, {&w_not, &sym_not},
    {&w_remove, &sym_remove}, {&w_while, &sym_while}, {&w_collect, &sym_collect}, {&w_keep, &sym_keep},
    {&w_ahead, &sym_ahead}, {&w_pipe, &sym_pipe}, {&w_any, &sym_any}, {&w_some, &sym_some},
    {&w_copy, &sym_copy}, {&w_opt, &sym_opt}, {&w_into, &sym_into}, {&w_insert, &sym_insert},
    {&w_if, &sym_if}, {&w_quote, &sym_quote}, {&w_collect, &sym_collect}, {&w_set, &sym_set},
    {&w_case, &sym_case},
};

const NamedWord named_words_first[] = {
    // port action words
    {&w_at, "at"}, {&w_back, "back"}, {&w_find, "find"}, {&w_head, "head"}, {&w_head_q, "head?"},
    {&w_index_q, "index?"}, {&w_length_q, "length?"}, {&w_next, "next"}, {&w_pick, "pick"}, {&w_skip, "skip"},
    {&w_select, "select"}, {&w_tail, "tail"}, {&w_tail_q, "tail?"},
    // change reports
    {&w_change, "change"}, {&w_changed, "changed"}, {&w_clear, "clear"}, {&w_cleared, "cleared"},
    {&w_set_path, "set-path"}, {&w_append, "append"}, {&w_appended, "appended"}, {&w_move, "move"},
    {&w_moved, "moved"}, {&w_poke, "poke"}, {&w_poked, "poked"}, {&w_put, "put"}, {&w_put_ed, "put-ed"},
    {&w_removed, "removed"}, {&w_random, "random"}, {&w_randomized, "randomized"}, {&w_reverse, "reverse"},
    {&w_reversed, "reversed"}, {&w_sort, "sort"}, {&w_sorted, "sorted"}, {&w_swap, "swap"},
    {&w_swaped, "swaped"}, {&w_take, "take"}, {&w_taken, "taken"}, {&w_trim, "trim"}, {&w_trimmed, "trimmed"},
    {&w_inserted, "inserted"},
    // case change
    {&w_uppercase, "uppercase"}, {&w_lowercase, "lowercase"},
    // checksum
    {&w_checksum, "checksum"},
    // parse trace events
    {&w_push, "push"}, {&w_pop, "pop"}, {&w_fetch, "fetch"}, {&w_match, "match"}, {&w_iterate, "iterate"},
    {&w_paren, "paren"},
    // frame names
    {&w_anon, "<anon>"}, {&w_body, "<body>"}, {&w_not_found, "<not-found>"},
};

// After the frame names comes the word of "end" (a symbol word), then:
const NamedWord named_words_rest[] = {
    // math operation names
    {&w_add, "add"}, {&w_subtract, "subtract"}, {&w_divide, "divide"},
    // handler names
    {&w_on_parse_event, "on-parse-event"}, {&w_on_change, "on-change*"},
    {&w_on_deep_change, "on-deep-change*"},
    // error fields
    {&w_type, "type"}, {&w_id, "id"},
    // natives
    {&w_try, "try"}, {&w_catch, "catch"}, {&w_name, "name"}, {&w_multiply, "multiply"}, {&w_browse, "browse"},
    // port actions
    {&w_open, "open"}, {&w_create, "create"}, {&w_close, "close"}, {&w_delete, "delete"},
    {&w_modify, "modify"}, {&w_query, "query"}, {&w_read, "read"}, {&w_rename, "rename"},
    {&w_update, "update"}, {&w_write, "write"},
    // lexer events
    {&w_prescan, "prescan"}, {&w_scan, "scan"}, {&w_load, "load"}, {&w_error, "error"},
    {&w_comment, "comment"},
    // interpreter events
    {&w_init, "init"}, {&w_exec, "exec"}, {&w_call, "call"}, {&w_return, "return"}, {&w_enter, "enter"},
    {&w_exit, "exit"}, {&w_prolog, "prolog"}, {&w_epilog, "epilog"}, {&w_throw, "throw"}, {&w_expr, "expr"},
    // callback frame names
    {&w_interp_callback, "<interp-callback>"}, {&w_lexer_callback, "<lexer-callback>"},
    {&w_parse_callback, "<parse-callback>"}, {&w_compare_callback, "<compare-callback>"},
    // throw, for try
    {&w_try_throw, "throw"},
    // error categories
    {&w_note, "note"}, {&w_syntax, "syntax"}, {&w_script, "script"}, {&w_math, "math"}, {&w_access, "access"},
    {&w_user, "user"}, {&w_internal, "internal"}, {&w_invalid_error, "invalid-error"},
    // locals
    {&w_local, "local"}, {&w_applied, "<applied>"},
};

const NamedWord refinements[] = {
    {&ref_local, "local"}, {&ref_extern, "extern"}, {&ref_compare, "compare"},
    {&ref_part, "part"},   {&ref_skip, "skip"},     {&ref_with, "with"},
};

// A cell appended to the root block, whose cells keep their place for the
// whole run. The contents are made first: making them may itself append to
// the root block.
Cell* keep(const Cell& c) {
    Cell* kept = series::reserve_cell(&root_cell);
    *kept = c;
    return kept;
}

Cell* keep_word_of(int32_t symbol) { return keep(word::make_from_symbol(symbol)); }

}  // namespace

void init() {
    // The slots hold word cells only while words are kept in the root
    // block; anywhere else they would move.
    const uint32_t saved_keep = keep_words;
    keep_words = 1;
    for (const SymbolName& s : symbol_names) *s.slot = symbol::intern_cstr(s.name);
    for (const SymbolWord& w : symbol_words) *w.slot = keep_word_of(*w.symbol);
    for (const NamedWord& w : named_words_first) *w.slot = word::make_from_cstr(w.name);
    w_end = keep_word_of(sym_end);
    for (const NamedWord& w : named_words_rest) *w.slot = word::make_from_cstr(w.name);
    sym_changed = word_symbol(w_changed);

    constexpr uint32_t UNRESOLVED = static_cast<uint32_t>(-1);
    for (const NamedWord& r : refinements) {
        const auto sym = static_cast<uint32_t>(symbol::intern_cstr(r.name));
        *r.slot = keep(Cell{TYPE_REFINEMENT, 0, sym, UNRESOLVED});
    }
    const auto ooo = static_cast<uint32_t>(symbol::intern_cstr("ooo"));
    issue_ooo = keep(Cell{TYPE_ISSUE, context::global, ooo, UNRESOLVED});
    keep_words = saved_keep;
}

}  // namespace runtime_words
}  // namespace qel
