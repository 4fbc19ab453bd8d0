// error!: the values that describe runtime errors, and the error catalogue.
//
// An error is an object of class 1 with ten fields: code, type (the
// category word), id, arg1-arg3, near (the code being evaluated), where
// (the running call), stack (the frame position at the raise, or a block
// of call words once captured) and files. Its code is category position x
// 100 + id position - 2, positions counted in the catalogue object.
//
// The catalogue object is built at start-up from the catalogue table: one
// object per category (fields code, type, then each id with its message
// template, a block of strings and get-words naming error fields) inside
// the errors object, which a root-block cell keeps and the system object
// publishes as system/catalog/errors.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/series.hpp"

namespace qel::error_type {

// Start-up, once words and the stacks exist: builds the catalogue and the
// error prototype.
void init_catalog();
bool catalog_ready();

// The catalogue object (fields throw, note, syntax, script ...), which the
// system object publishes as system/catalog/errors.
const Cell* catalog_errors();

// A new error! for the code with the arguments (copies), pushed on the
// argument stack; near holds the interpreter's current position. A code
// the catalogue lacks gives an error whose type and id are none.
Cell* push_error(int code, const Cell* arg1, const Cell* arg2, const Cell* arg3);

// The block being evaluated, its index at the running expression: what a
// new error's near field holds. The interpreter lies a layer above and
// points it at its own position at start-up; until then near is none.
extern const Cell* near_position;

// The display of an error (see form): "*** <category>: <message>", then
// Where, Near and, when present, Stack and Files lines. Never changes the
// error.
void form_display(const Cell* error, node_t out);

// The call-trace level that decides whether a recorded frame position is
// shown as a Stack line (0: not shown): the stack-trace field of
// system/state, or this while there is no system object.
extern int32_t trace_level;

void fill(datatype::Record& r);

}  // namespace qel::error_type
