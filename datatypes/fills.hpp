// The slot fillers of the datatypes registered at start-up: each receives
// its type's registration record, every slot inherited from the parent, and
// sets the slots its type implements.
#pragma once
#include "runtime/datatypes.hpp"

namespace qel {

// Sets the form and mold slots of a type whose two texts are the same from
// one writer, which appends the value's text to out and answers what is
// left of limit.
template <int32_t (*write)(const Cell* value, node_t out, int32_t limit)>
void fill_same_text(datatype::Record& r) {
    datatype::set_slot<datatype::FORM>(
        r, [](const Cell* value, node_t out, bool, int32_t limit) { return write(value, out, limit); });
    datatype::set_slot<datatype::MOLD>(r, [](const Cell* value, node_t out, const datatype::MoldOptions&, int32_t limit,
                                             int32_t) { return write(value, out, limit); });
}
// The slots every value type sets for itself: how a value is made and
// converted, its two texts and its comparison.
struct ValueSlots {
    datatype::SlotFn<datatype::MAKE> make;
    datatype::SlotFn<datatype::TO> to;
    datatype::SlotFn<datatype::FORM> form;
    datatype::SlotFn<datatype::MOLD> mold;
    datatype::SlotFn<datatype::COMPARE> compare;
};

inline void fill_value_slots(datatype::Record& r, const ValueSlots& slots) {
    datatype::set_slot<datatype::MAKE>(r, slots.make);
    datatype::set_slot<datatype::TO>(r, slots.to);
    datatype::set_slot<datatype::FORM>(r, slots.form);
    datatype::set_slot<datatype::MOLD>(r, slots.mold);
    datatype::set_slot<datatype::COMPARE>(r, slots.compare);
}

namespace unset_type { void fill(datatype::Record& r); }
namespace none_type { void fill(datatype::Record& r); }
namespace logic_type { void fill(datatype::Record& r); }
namespace series_type { void fill(datatype::Record& r); }
namespace block { void fill(datatype::Record& r); }
namespace path {
void fill(datatype::Record& r);
void fill_lit_path(datatype::Record& r);
void fill_set_path(datatype::Record& r);
void fill_get_path(datatype::Record& r);
void fill_paren(datatype::Record& r);
}  // namespace path
namespace string { void fill(datatype::Record& r); }
namespace url { void fill(datatype::Record& r); }
namespace file { void fill(datatype::Record& r); }
namespace tag { void fill(datatype::Record& r); }
namespace email { void fill(datatype::Record& r); }
namespace ref { void fill(datatype::Record& r); }
namespace integer { void fill(datatype::Record& r); }
namespace char_type { void fill(datatype::Record& r); }
namespace word_type {
void fill(datatype::Record& r);
void fill_lit_word(datatype::Record& r);
void fill_set_word(datatype::Record& r);
void fill_get_word(datatype::Record& r);
void fill_refinement(datatype::Record& r);
}  // namespace word_type
namespace issue { void fill(datatype::Record& r); }
namespace typeset { void fill(datatype::Record& r); }
namespace bitset { void fill(datatype::Record& r); }
namespace binary { void fill(datatype::Record& r); }
namespace vector { void fill(datatype::Record& r); }
namespace float_type { void fill(datatype::Record& r); }
namespace percent_type { void fill(datatype::Record& r); }
namespace time_type { void fill(datatype::Record& r); }
namespace date { void fill(datatype::Record& r); }
namespace money { void fill(datatype::Record& r); }
namespace native {
void fill_native(datatype::Record& r);
void fill_action(datatype::Record& r);
void fill_op(datatype::Record& r);
}  // namespace native
namespace function {
void fill(datatype::Record& r);
void fill_routine(datatype::Record& r);
}  // namespace function
namespace object_type { void fill(datatype::Record& r); }
namespace error_type { void fill(datatype::Record& r); }
namespace port { void fill(datatype::Record& r); }
namespace pair { void fill(datatype::Record& r); }
namespace tuple { void fill(datatype::Record& r); }
namespace point { void fill(datatype::Record& r); }
namespace triple { void fill(datatype::Record& r); }
namespace handle { void fill(datatype::Record& r); }
namespace map { void fill(datatype::Record& r); }
namespace hash { void fill(datatype::Record& r); }
}  // namespace qel
