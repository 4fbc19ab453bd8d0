// The C++ entry points of the 107 natives, in table order.
//
// natives.cpp builds the table from these names; each family of natives
// defines its own in its own source (natives_control.cpp, natives_output.cpp,
// ...), so the table is always complete and links. The C++ name is the
// word with - as _ and ? as _q.
//
// QEL_NATIVE_LIST(X) calls X(index, "word", cpp_name) for each native, 0-based
// index in table order, for code that wants to walk the list.
#pragma once
#include <cstdint>

namespace qel {
struct Cell;
}

namespace qel::natives {

// The count of loop or repeat, converted in place: floats are truncated
// toward zero; one that no 32-bit integer holds is an overflow. Shared
// with the loops compiled in place.
int32_t loop_count(Cell* c);

// Raises expect-arg naming the native (or routine), the value's datatype
// and the argument.
[[noreturn]] void expect_arg(const char* native, const Cell* value, const char* arg);

// data shifted by bits (none when negative): left, logical right, or
// arithmetic right (the sign bit copied). Shared with the shift routines.
int32_t shift_bits(int32_t data, int32_t bits, bool left, bool logical);

void native_if(const int32_t* refinements);
void native_unless(const int32_t* refinements);
void native_either(const int32_t* refinements);
void native_any(const int32_t* refinements);
void native_all(const int32_t* refinements);
void native_while(const int32_t* refinements);
void native_until(const int32_t* refinements);
void native_loop(const int32_t* refinements);
void native_repeat(const int32_t* refinements);
void native_forever(const int32_t* refinements);
void native_foreach(const int32_t* refinements);
void native_forall(const int32_t* refinements);
void native_remove_each(const int32_t* refinements);
void native_func(const int32_t* refinements);
void native_function(const int32_t* refinements);
void native_does(const int32_t* refinements);
void native_has(const int32_t* refinements);
void native_switch(const int32_t* refinements);
void native_case(const int32_t* refinements);
void native_do(const int32_t* refinements);
void native_get(const int32_t* refinements);
void native_set(const int32_t* refinements);
void native_print(const int32_t* refinements);
void native_prin(const int32_t* refinements);
void native_equal_q(const int32_t* refinements);
void native_not_equal_q(const int32_t* refinements);
void native_strict_equal_q(const int32_t* refinements);
void native_lesser_q(const int32_t* refinements);
void native_greater_q(const int32_t* refinements);
void native_lesser_or_equal_q(const int32_t* refinements);
void native_greater_or_equal_q(const int32_t* refinements);
void native_same_q(const int32_t* refinements);
void native_not(const int32_t* refinements);
void native_type_q(const int32_t* refinements);
void native_reduce(const int32_t* refinements);
void native_compose(const int32_t* refinements);
void native_stats(const int32_t* refinements);
void native_bind(const int32_t* refinements);
void native_in(const int32_t* refinements);
void native_parse(const int32_t* refinements);
void native_union(const int32_t* refinements);
void native_intersect(const int32_t* refinements);
void native_unique(const int32_t* refinements);
void native_difference(const int32_t* refinements);
void native_exclude(const int32_t* refinements);
void native_complement_q(const int32_t* refinements);
void native_dehex(const int32_t* refinements);
void native_enhex(const int32_t* refinements);
void native_negative_q(const int32_t* refinements);
void native_positive_q(const int32_t* refinements);
void native_max(const int32_t* refinements);
void native_min(const int32_t* refinements);
void native_shift(const int32_t* refinements);
void native_to_hex(const int32_t* refinements);
void native_sine(const int32_t* refinements);
void native_cosine(const int32_t* refinements);
void native_tangent(const int32_t* refinements);
void native_arcsine(const int32_t* refinements);
void native_arccosine(const int32_t* refinements);
void native_arctangent(const int32_t* refinements);
void native_arctangent2(const int32_t* refinements);
void native_NaN_q(const int32_t* refinements);
void native_log_2(const int32_t* refinements);
void native_log_10(const int32_t* refinements);
void native_log_e(const int32_t* refinements);
void native_exp(const int32_t* refinements);
void native_square_root(const int32_t* refinements);
void native_construct(const int32_t* refinements);
void native_value_q(const int32_t* refinements);
void native_try(const int32_t* refinements);
void native_uppercase(const int32_t* refinements);
void native_lowercase(const int32_t* refinements);
void native_as_pair(const int32_t* refinements);
void native_as_point2D(const int32_t* refinements);
void native_as_point3D(const int32_t* refinements);
void native_as_money(const int32_t* refinements);
void native_break(const int32_t* refinements);
void native_continue(const int32_t* refinements);
void native_exit(const int32_t* refinements);
void native_return(const int32_t* refinements);
void native_throw(const int32_t* refinements);
void native_catch(const int32_t* refinements);
void native_extend(const int32_t* refinements);
void native_debase(const int32_t* refinements);
void native_to_local_file(const int32_t* refinements);
void native_wait(const int32_t* refinements);
void native_checksum(const int32_t* refinements);
void native_unset(const int32_t* refinements);
void native_new_line(const int32_t* refinements);
void native_new_line_q(const int32_t* refinements);
void native_enbase(const int32_t* refinements);
void native_context_q(const int32_t* refinements);
void native_set_env(const int32_t* refinements);
void native_get_env(const int32_t* refinements);
void native_list_env(const int32_t* refinements);
void native_now(const int32_t* refinements);
void native_sign_q(const int32_t* refinements);
void native_as(const int32_t* refinements);
void native_call(const int32_t* refinements);
void native_zero_q(const int32_t* refinements);
void native_size_q(const int32_t* refinements);
void native_browse(const int32_t* refinements);
void native_compress(const int32_t* refinements);
void native_decompress(const int32_t* refinements);
void native_recycle(const int32_t* refinements);
void native_transcode(const int32_t* refinements);
void native_apply(const int32_t* refinements);

}  // namespace qel::natives

#define QEL_NATIVE_LIST(X) \
    X(0, "if", native_if) \
    X(1, "unless", native_unless) \
    X(2, "either", native_either) \
    X(3, "any", native_any) \
    X(4, "all", native_all) \
    X(5, "while", native_while) \
    X(6, "until", native_until) \
    X(7, "loop", native_loop) \
    X(8, "repeat", native_repeat) \
    X(9, "forever", native_forever) \
    X(10, "foreach", native_foreach) \
    X(11, "forall", native_forall) \
    X(12, "remove-each", native_remove_each) \
    X(13, "func", native_func) \
    X(14, "function", native_function) \
    X(15, "does", native_does) \
    X(16, "has", native_has) \
    X(17, "switch", native_switch) \
    X(18, "case", native_case) \
    X(19, "do", native_do) \
    X(20, "get", native_get) \
    X(21, "set", native_set) \
    X(22, "print", native_print) \
    X(23, "prin", native_prin) \
    X(24, "equal?", native_equal_q) \
    X(25, "not-equal?", native_not_equal_q) \
    X(26, "strict-equal?", native_strict_equal_q) \
    X(27, "lesser?", native_lesser_q) \
    X(28, "greater?", native_greater_q) \
    X(29, "lesser-or-equal?", native_lesser_or_equal_q) \
    X(30, "greater-or-equal?", native_greater_or_equal_q) \
    X(31, "same?", native_same_q) \
    X(32, "not", native_not) \
    X(33, "type?", native_type_q) \
    X(34, "reduce", native_reduce) \
    X(35, "compose", native_compose) \
    X(36, "stats", native_stats) \
    X(37, "bind", native_bind) \
    X(38, "in", native_in) \
    X(39, "parse", native_parse) \
    X(40, "union", native_union) \
    X(41, "intersect", native_intersect) \
    X(42, "unique", native_unique) \
    X(43, "difference", native_difference) \
    X(44, "exclude", native_exclude) \
    X(45, "complement?", native_complement_q) \
    X(46, "dehex", native_dehex) \
    X(47, "enhex", native_enhex) \
    X(48, "negative?", native_negative_q) \
    X(49, "positive?", native_positive_q) \
    X(50, "max", native_max) \
    X(51, "min", native_min) \
    X(52, "shift", native_shift) \
    X(53, "to-hex", native_to_hex) \
    X(54, "sine", native_sine) \
    X(55, "cosine", native_cosine) \
    X(56, "tangent", native_tangent) \
    X(57, "arcsine", native_arcsine) \
    X(58, "arccosine", native_arccosine) \
    X(59, "arctangent", native_arctangent) \
    X(60, "arctangent2", native_arctangent2) \
    X(61, "NaN?", native_NaN_q) \
    X(62, "log-2", native_log_2) \
    X(63, "log-10", native_log_10) \
    X(64, "log-e", native_log_e) \
    X(65, "exp", native_exp) \
    X(66, "square-root", native_square_root) \
    X(67, "construct", native_construct) \
    X(68, "value?", native_value_q) \
    X(69, "try", native_try) \
    X(70, "uppercase", native_uppercase) \
    X(71, "lowercase", native_lowercase) \
    X(72, "as-pair", native_as_pair) \
    X(73, "as-point2D", native_as_point2D) \
    X(74, "as-point3D", native_as_point3D) \
    X(75, "as-money", native_as_money) \
    X(76, "break", native_break) \
    X(77, "continue", native_continue) \
    X(78, "exit", native_exit) \
    X(79, "return", native_return) \
    X(80, "throw", native_throw) \
    X(81, "catch", native_catch) \
    X(82, "extend", native_extend) \
    X(83, "debase", native_debase) \
    X(84, "to-local-file", native_to_local_file) \
    X(85, "wait", native_wait) \
    X(86, "checksum", native_checksum) \
    X(87, "unset", native_unset) \
    X(88, "new-line", native_new_line) \
    X(89, "new-line?", native_new_line_q) \
    X(90, "enbase", native_enbase) \
    X(91, "context?", native_context_q) \
    X(92, "set-env", native_set_env) \
    X(93, "get-env", native_get_env) \
    X(94, "list-env", native_list_env) \
    X(95, "now", native_now) \
    X(96, "sign?", native_sign_q) \
    X(97, "as", native_as) \
    X(98, "call", native_call) \
    X(99, "zero?", native_zero_q) \
    X(100, "size?", native_size_q) \
    X(101, "browse", native_browse) \
    X(102, "compress", native_compress) \
    X(103, "decompress", native_decompress) \
    X(104, "recycle", native_recycle) \
    X(105, "transcode", native_transcode) \
    X(106, "apply", native_apply)
