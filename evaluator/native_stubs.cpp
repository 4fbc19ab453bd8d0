// The natives not written yet. Each raises internal not-done, so the
// native table is complete and every native! value can be called; a family
// of natives takes its names out of this file as it lands.
#include "evaluator/native_fns.hpp"
#include "runtime/errors.hpp"

namespace qel::natives {

namespace {
[[noreturn]] void not_done() { err::raise(err::NOT_DONE); }
}  // namespace

void native_stats(bool, const int32_t*) { not_done(); }
void native_parse(bool, const int32_t*) { not_done(); }
void native_union(bool, const int32_t*) { not_done(); }
void native_intersect(bool, const int32_t*) { not_done(); }
void native_unique(bool, const int32_t*) { not_done(); }
void native_difference(bool, const int32_t*) { not_done(); }
void native_exclude(bool, const int32_t*) { not_done(); }
void native_dehex(bool, const int32_t*) { not_done(); }
void native_enhex(bool, const int32_t*) { not_done(); }
void native_negative_q(bool, const int32_t*) { not_done(); }
void native_positive_q(bool, const int32_t*) { not_done(); }
void native_max(bool, const int32_t*) { not_done(); }
void native_min(bool, const int32_t*) { not_done(); }
void native_shift(bool, const int32_t*) { not_done(); }
void native_to_hex(bool, const int32_t*) { not_done(); }
void native_sine(bool, const int32_t*) { not_done(); }
void native_cosine(bool, const int32_t*) { not_done(); }
void native_tangent(bool, const int32_t*) { not_done(); }
void native_arcsine(bool, const int32_t*) { not_done(); }
void native_arccosine(bool, const int32_t*) { not_done(); }
void native_arctangent(bool, const int32_t*) { not_done(); }
void native_arctangent2(bool, const int32_t*) { not_done(); }
void native_NaN_q(bool, const int32_t*) { not_done(); }
void native_log_2(bool, const int32_t*) { not_done(); }
void native_log_10(bool, const int32_t*) { not_done(); }
void native_log_e(bool, const int32_t*) { not_done(); }
void native_exp(bool, const int32_t*) { not_done(); }
void native_square_root(bool, const int32_t*) { not_done(); }
void native_uppercase(bool, const int32_t*) { not_done(); }
void native_lowercase(bool, const int32_t*) { not_done(); }
void native_as_pair(bool, const int32_t*) { not_done(); }
void native_as_point2D(bool, const int32_t*) { not_done(); }
void native_as_point3D(bool, const int32_t*) { not_done(); }
void native_as_money(bool, const int32_t*) { not_done(); }
void native_debase(bool, const int32_t*) { not_done(); }
void native_to_local_file(bool, const int32_t*) { not_done(); }
void native_wait(bool, const int32_t*) { not_done(); }
void native_checksum(bool, const int32_t*) { not_done(); }
void native_enbase(bool, const int32_t*) { not_done(); }
void native_set_env(bool, const int32_t*) { not_done(); }
void native_get_env(bool, const int32_t*) { not_done(); }
void native_list_env(bool, const int32_t*) { not_done(); }
void native_now(bool, const int32_t*) { not_done(); }
void native_sign_q(bool, const int32_t*) { not_done(); }
void native_as(bool, const int32_t*) { not_done(); }
void native_call(bool, const int32_t*) { not_done(); }
void native_zero_q(bool, const int32_t*) { not_done(); }
void native_size_q(bool, const int32_t*) { not_done(); }
void native_browse(bool, const int32_t*) { not_done(); }
void native_compress(bool, const int32_t*) { not_done(); }
void native_decompress(bool, const int32_t*) { not_done(); }
void native_recycle(bool, const int32_t*) { not_done(); }

}  // namespace qel::natives
