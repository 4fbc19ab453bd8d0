// The runtime's own vocabulary: the symbols, words, refinements and the one
// issue that native code compares against or hands out before any script
// runs. They are made once at start-up, right after the datatype words, so
// their symbol ids follow the datatype names in a fixed order; every later
// interning of one of these names finds it already present.
//
// Symbol slots hold symbol ids, for comparing a word's (or its canonical)
// symbol. Word slots hold word cells bound to the global context and kept in
// the root block, so the addresses stay valid and the collector keeps them.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace qel {

namespace words {

// ---- symbols ----
// reflection keys
extern int32_t sym_spec, sym_body, sym_words, sym_class;
// element and argument type names
extern int32_t sym_type_logic, sym_type_integer, sym_type_char, sym_type_float, sym_type_percent,
    sym_type_any;
// function spec words
extern int32_t sym_exit, sym_return;
// operating-system names
extern int32_t sym_windows, sym_syllable, sym_macos, sym_linux, sym_netbsd;
// loop words
extern int32_t sym_repeat, sym_foreach, sym_map_each, sym_remove_each;
// parse keywords
extern int32_t sym_any, sym_break, sym_copy, sym_end, sym_fail, sym_into, sym_opt, sym_not, sym_quote,
    sym_case, sym_reject, sym_set, sym_skip, sym_some, sym_thru, sym_to, sym_none, sym_pipe, sym_dash,
    sym_if, sym_remove, sym_while, sym_insert, sym_only, sym_collect, sym_keep, sym_pick, sym_ahead,
    sym_after;
// coordinates
extern int32_t sym_x, sym_y, sym_z;
// context word
extern int32_t sym_self;
// more reflection keys
extern int32_t sym_values, sym_owner, sym_owned, sym_events_q;
// logic words
extern int32_t sym_true, sym_false, sym_yes, sym_no, sym_on, sym_off;
// event fields
extern int32_t sym_type, sym_face, sym_window, sym_offset, sym_key, sym_flag, sym_code, sym_picked,
    sym_flags, sym_away_q, sym_ctrl_q, sym_shift_q, sym_down_q, sym_mid_down_q, sym_alt_down_q,
    sym_aux_down_q, sym_orientation;
// HTTP methods
extern int32_t sym_get, sym_put, sym_post, sym_head;
// image fields
extern int32_t sym_size, sym_rgb, sym_alpha, sym_argb;
// date fields
extern int32_t sym_date, sym_year, sym_month, sym_day, sym_zone, sym_isoweek, sym_week, sym_weekday,
    sym_yearday, sym_julian, sym_time, sym_hour, sym_minute, sym_second, sym_timezone;
// money fields (code is the event field's slot)
extern int32_t sym_amount;
// email fields
extern int32_t sym_user, sym_host;
// system words
extern int32_t sym_system, sym_system_global;
// function attributes
extern int32_t sym_trace, sym_no_trace;
// the symbol of the word `changed`, read by object reflection
extern int32_t sym_changed;

// ---- words of symbols above ----
// operating-system names
extern Cell *w_windows, *w_syllable, *w_macos, *w_linux, *w_netbsd;
// parse keywords ("remove" and "insert" are also change-report actions,
// "set" and "end" trace events, "case" the native)
extern Cell *w_to, *w_thru, *w_not, *w_remove, *w_while, *w_collect, *w_keep, *w_ahead, *w_pipe, *w_any,
    *w_some, *w_copy, *w_opt, *w_into, *w_insert, *w_if, *w_quote, *w_set, *w_case, *w_end;

// ---- words of names ----
// port action words
extern Cell *w_at, *w_back, *w_find, *w_head, *w_head_q, *w_index_q, *w_length_q, *w_next, *w_pick, *w_skip,
    *w_select, *w_tail, *w_tail_q;
// change reports
extern Cell *w_change, *w_changed, *w_clear, *w_cleared, *w_set_path, *w_append, *w_appended, *w_move,
    *w_moved, *w_poke, *w_poked, *w_put, *w_put_ed, *w_removed, *w_random, *w_randomized, *w_reverse,
    *w_reversed, *w_sort, *w_sorted, *w_swap, *w_swaped, *w_take, *w_taken, *w_trim, *w_trimmed, *w_inserted;
// case change
extern Cell *w_uppercase, *w_lowercase;
// checksum
extern Cell *w_checksum;
// parse trace events
extern Cell *w_push, *w_pop, *w_fetch, *w_match, *w_iterate, *w_paren;
// frame names
extern Cell *w_anon, *w_body, *w_not_found;
// math operation names
extern Cell *w_add, *w_subtract, *w_divide;
// handler names
extern Cell *w_on_parse_event, *w_on_change, *w_on_deep_change;
// error fields
extern Cell *w_type, *w_id;
// natives
extern Cell *w_try, *w_catch, *w_name, *w_multiply, *w_browse;
// port actions
extern Cell *w_open, *w_create, *w_close, *w_delete, *w_modify, *w_query, *w_read, *w_rename, *w_update,
    *w_write;
// lexer events
extern Cell *w_prescan, *w_scan, *w_load, *w_error, *w_comment;
// interpreter events
extern Cell *w_init, *w_exec, *w_call, *w_return, *w_enter, *w_exit, *w_prolog, *w_epilog, *w_throw, *w_expr;
// callback frame names
extern Cell *w_interp_callback, *w_lexer_callback, *w_parse_callback, *w_compare_callback;
// throw, for try
extern Cell *w_try_throw;
// error categories
extern Cell *w_note, *w_syntax, *w_script, *w_math, *w_access, *w_user, *w_internal, *w_invalid_error;
// locals
extern Cell *w_local, *w_applied;

// ---- refinements, unbound, kept in the root block ----
extern Cell *ref_local, *ref_extern, *ref_compare, *ref_part, *ref_skip, *ref_with;

// ---- the issue #ooo ----
extern Cell* issue_ooo;

}  // namespace words

namespace runtime_words {
// Start-up, once the symbol table, the global context and the datatype
// words exist, and while words are kept in the root block.
void init();
}  // namespace runtime_words

}  // namespace qel
