// The start-up sequence and the datatype registrations it begins with.
#include "library/startup.hpp"

#include "codecs/checksum.hpp"
#include "codecs/deflate.hpp"
#include "datatypes/error.hpp"
#include "datatypes/fills.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/parse.hpp"
#include "evaluator/sort_callback.hpp"
#include "lexer/scanner.hpp"
#include "platform/os.hpp"
#include "runtime/context.hpp"
#include "runtime/entry.hpp"
#include "runtime/hashtab.hpp"
#include "runtime/memory.hpp"
#include "runtime/owner.hpp"
#include "runtime/print_hooks.hpp"
#include "runtime/random.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"

namespace qel::startup {

const DatatypeEntry datatype_order[DATATYPES] = {
    {TYPE_DATATYPE, 0, "datatype!", &datatype::fill},
    {TYPE_UNSET, 0, "unset!", &unset_type::fill},
    {TYPE_NONE, 0, "none!", &none_type::fill},
    {TYPE_LOGIC, 0, "logic!", &logic_type::fill},
    {TYPE_SERIES, 0, "series!", &series_type::fill},
    {TYPE_BLOCK, TYPE_SERIES, "block!", &block::fill},
    {TYPE_STRING, TYPE_SERIES, "string!", &string::fill},
    {TYPE_BINARY, TYPE_STRING, "binary!", &binary::fill},
    {TYPE_INTEGER, 0, "integer!", &integer::fill},
    {TYPE_SYMBOL, 0, "symbol!", nullptr},
    {TYPE_CONTEXT, 0, "context!", nullptr},
    {TYPE_WORD, TYPE_SYMBOL, "word!", &word_type::fill},
    {TYPE_LIT_WORD, TYPE_WORD, "lit-word!", &word_type::fill_lit_word},
    {TYPE_SET_WORD, TYPE_WORD, "set-word!", &word_type::fill_set_word},
    {TYPE_GET_WORD, TYPE_WORD, "get-word!", &word_type::fill_get_word},
    {TYPE_REFINEMENT, TYPE_WORD, "refinement!", &word_type::fill_refinement},
    {TYPE_CHAR, TYPE_INTEGER, "char!", &char_type::fill},
    {TYPE_NATIVE, 0, "native!", &native::fill_native},
    {TYPE_ACTION, TYPE_NATIVE, "action!", &native::fill_action},
    {TYPE_OP, TYPE_NATIVE, "op!", &native::fill_op},
    {TYPE_PATH, TYPE_BLOCK, "path!", &path::fill},
    {TYPE_LIT_PATH, TYPE_PATH, "lit-path!", &path::fill_lit_path},
    {TYPE_SET_PATH, TYPE_PATH, "set-path!", &path::fill_set_path},
    {TYPE_GET_PATH, TYPE_PATH, "get-path!", &path::fill_get_path},
    {TYPE_FUNCTION, TYPE_CONTEXT, "function!", &function::fill},
    {TYPE_ROUTINE, TYPE_FUNCTION, "routine!", &function::fill_routine},
    {TYPE_PAREN, TYPE_BLOCK, "paren!", &path::fill_paren},
    {TYPE_ISSUE, TYPE_WORD, "issue!", &issue::fill},
    {TYPE_URL, TYPE_STRING, "url!", &url::fill},
    {TYPE_FILE, TYPE_URL, "file!", &file::fill},
    {TYPE_OBJECT, 0, "object!", &object_type::fill},
    {TYPE_BITSET, 0, "bitset!", &bitset::fill},
    {TYPE_TRIPLE, 0, "triple!", &triple::fill},
    {TYPE_FLOAT, 0, "float!", &float_type::fill},
    {TYPE_TYPESET, 0, "typeset!", &typeset::fill},
    {TYPE_ERROR, TYPE_OBJECT, "error!", &error_type::fill},
    {TYPE_VECTOR, TYPE_STRING, "vector!", &vector::fill},
    {TYPE_MAP, 0, "map!", &map::fill},
    {TYPE_HASH, TYPE_BLOCK, "hash!", &hash::fill},
    {TYPE_PAIR, 0, "pair!", &pair::fill},
    {TYPE_PERCENT, TYPE_FLOAT, "percent!", &percent_type::fill},
    {TYPE_TUPLE, 0, "tuple!", &tuple::fill},
    {TYPE_TIME, TYPE_FLOAT, "time!", &time_type::fill},
    {TYPE_TAG, TYPE_STRING, "tag!", &tag::fill},
    {TYPE_EMAIL, TYPE_STRING, "email!", &email::fill},
    {TYPE_HANDLE, TYPE_INTEGER, "handle!", &handle::fill},
    {TYPE_DATE, 0, "date!", &date::fill},
    {TYPE_PORT, TYPE_OBJECT, "port!", &port::fill},
    {TYPE_MONEY, 0, "money!", &money::fill},
    {TYPE_REF, TYPE_STRING, "ref!", &ref::fill},
    {TYPE_POINT2D, 0, "point2D!", &point::fill},
    {TYPE_POINT3D, 0, "point3D!", &point::fill},
    {TYPE_IMAGE, TYPE_SERIES, "image!", &image::fill},
};

void register_datatypes() {
    for (const DatatypeEntry& e : datatype_order) {
        datatype::Record r = datatype::make_record(e.type, e.parent, e.name);
        if (e.fill) e.fill(r);
        datatype::register_type(datatype::RECORD_WORDS, r);
    }
}

void init() {
    keep_words = 1;
    print_hooks::init();
    os::init_platform();
    random::init();
    memory::init();
    datatype::init_tables();
    register_datatypes();
    memory::new_node_frame(memory::NODES_PER_FRAME);
    memory::new_series_frame();
    rt::make_root_block();
    stack::init();
    hashtab::init();
    symbol::init();
    context::init_global();
    datatype::make_words();
    runtime_words::init();
    natives::init_table();
    parse::init();
    owner::init();
    checksum::init_methods();
    deflate::init_method_words();
    lexer::init();
    interp::init();
    sort_callback::init();
    error_type::init_catalog();
}

void run(int argc, char** argv, void (*body)()) { rt::run(argc, argv, &init, body); }

}  // namespace qel::startup
