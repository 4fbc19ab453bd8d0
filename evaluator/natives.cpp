// The native table: the 107 natives in index order, each with its name,
// its spec as source text and its entry point.
//
// A native! value names its entry by a 1-based index, so the order here is
// part of the boot image's format and of every `make native!` spec ever
// written: entries are only ever appended. The spec texts are what `help`
// shows and what the argument checks read their typesets from; they are
// kept as source so that the boot image tool can load them with the lexer.
#include "evaluator/natives.hpp"

#include "datatypes/block.hpp"
#include "evaluator/native_fns.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/system.hpp"

namespace qel::natives {

// The print buffer: a block reused by print and prin to reduce a block
// argument, kept in a cell of the root block so the collector keeps it.
Cell* print_buffer = nullptr;
// 1-based position of the next free table slot: 108 once start-up is done.
uint32_t table_count = 1;

namespace {
constexpr uint32_t OWN_LISTS = TABLE_SLOTS + datatype::ACTION_SLOTS;
Cell* own_lists = nullptr;
}  // namespace

const Entry table[NATIVE_COUNT] = {
    {"if", "\"If conditional expression is truthy, evaluate block; else return NONE\" cond [any-type!] then-blk [block!]", &native_if},
    {"unless", "\"If conditional expression is falsy, evaluate block; else return NONE\" cond [any-type!] then-blk [block!]", &native_unless},
    {"either", "\"If conditional expression is truthy, evaluate the first branch; else evaluate the alternative\" cond [any-type!] true-blk [block!] false-blk [block!]", &native_either},
    {"any", "\"Evaluates and returns the first truthy value, if any; else NONE\" conds [block!]", &native_any},
    {"all", "\"Evaluates and returns the last value if all are truthy; else NONE\" conds [block!]", &native_all},
    {"while", "\"Evaluates body as long as condition block evaluates to truthy value\" cond [block!] body [block!]", &native_while},
    {"until", "\"Evaluates body until it is truthy\" body [block!]", &native_until},
    {"loop", "\"Evaluates body a number of times\" count [integer! float!] body [block!]", &native_loop},
    {"repeat", "\"Evaluates body a number of times, tracking iteration count\" 'word [word!] value [integer! float!] body [block!]", &native_repeat},
    {"forever", "\"Evaluates body repeatedly forever\" body [block!]", &native_forever},
    {"foreach", "\"Evaluates body for each value in a series\" 'word [word! block!] series [series! map!] body [block!]", &native_foreach},
    {"forall", "\"Evaluates body for all values in a series\" 'word [word!] body [block!]", &native_forall},
    {"remove-each", "\"Removes values for each block that returns truthy value\" 'word [word! block!] data [series!] body [block!]", &native_remove_each},
    {"func", "\"Defines a function with a given spec and body\" spec [block!] body [block!]", &native_func},
    {"function", "\"Defines a function, making all set-words found in body, local\" spec [block!] body [block!] /extern", &native_function},
    {"does", "\"Defines a function with no arguments or local variables\" body [block!]", &native_does},
    {"has", "\"Defines a function with local variables, but no arguments\" vars [block!] body [block!]", &native_has},
    {"switch", "\"Evaluates the first block following the value found in cases\" value [any-type!] cases [block!] /default case [block!]", &native_switch},
    {"case", "\"Evaluates the block following the first truthy condition\" cases [block!] /all", &native_case},
    {"do", "\"Evaluates a value, returning the last evaluation result\" value [any-type!] /expand /args arg /next position [word!] /trace callback [function!]", &native_do},
    {"get", "\"Returns the value a word refers to\" word [any-word! any-path! object!] /any /case return: [any-type!]", &native_get},
    {"set", "\"Sets the value(s) one or more words refer to\" word [any-word! block! object! any-path!] value [any-type!] /any /case /only /some return: [any-type!]", &native_set},
    {"print", "\"Outputs a value followed by a newline\" value [any-type!]", &native_print},
    {"prin", "\"Outputs a value\" value [any-type!]", &native_prin},
    {"equal?", "\"Returns TRUE if two values are equal\" value1 [any-type!] value2 [any-type!]", &native_equal_q},
    {"not-equal?", "\"Returns TRUE if two values are not equal\" value1 [any-type!] value2 [any-type!]", &native_not_equal_q},
    {"strict-equal?", "\"Returns TRUE if two values are equal, and also the same datatype\" value1 [any-type!] value2 [any-type!]", &native_strict_equal_q},
    {"lesser?", "\"Returns TRUE if the first value is less than the second\" value1 [any-type!] value2 [any-type!]", &native_lesser_q},
    {"greater?", "\"Returns TRUE if the first value is greater than the second\" value1 [any-type!] value2 [any-type!]", &native_greater_q},
    {"lesser-or-equal?", "\"Returns TRUE if the first value is less than or equal to the second\" value1 [any-type!] value2 [any-type!]", &native_lesser_or_equal_q},
    {"greater-or-equal?", "\"Returns TRUE if the first value is greater than or equal to the second\" value1 [any-type!] value2 [any-type!]", &native_greater_or_equal_q},
    {"same?", "\"Returns TRUE if two values have the same identity\" value1 [any-type!] value2 [any-type!]", &native_same_q},
    {"not", "\"Returns the logical complement of a value (truthy or falsy)\" value [any-type!]", &native_not},
    {"type?", "\"Returns the datatype of a value\" value [any-type!] /word", &native_type_q},
    {"reduce", "\"Returns a copy of a block, evaluating all expressions\" value [any-type!] /into out [any-block!]", &native_reduce},
    {"compose", "\"Returns a copy of a block, evaluating only parens\" value [block!] /deep /only /into out [any-block!]", &native_compose},
    {"stats", "\"Returns interpreter statistics\" /show /info return: [integer! block!]", &native_stats},
    {"bind", "\"Bind words to a context; returns rebound words\" word [block! any-word!] context [any-word! any-object! function!] /copy return: [block! any-word!]", &native_bind},
    {"in", "\"Returns the given word bound to the object's context\" object [any-object! any-function!] word [any-word! refinement!]", &native_in},
    {"parse", "\"Process a series using dialected grammar rules\" input [binary! any-block! any-string!] rules [block!] /case /part length [number! series!] /trace callback [function!] return: [logic! block!]", &native_parse},
    {"union", "\"Returns the union of two data sets\" set1 [block! hash! string! bitset! typeset!] set2 [block! hash! string! bitset! typeset!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset!]", &native_union},
    {"intersect", "\"Returns the intersection of two data sets\" set1 [block! hash! string! bitset! typeset!] set2 [block! hash! string! bitset! typeset!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset!]", &native_intersect},
    {"unique", "\"Returns the data set with duplicates removed\" set [block! hash! string!] /case /skip size [integer!] return: [block! hash! string!]", &native_unique},
    {"difference", "\"Returns the special difference of two data sets\" set1 [block! hash! string! bitset! typeset! date!] set2 [block! hash! string! bitset! typeset! date!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset! time!]", &native_difference},
    {"exclude", "\"Returns the first data set less the second data set\" set1 [block! hash! string! bitset! typeset!] set2 [block! hash! string! bitset! typeset!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset!]", &native_exclude},
    {"complement?", "\"Returns TRUE if the bitset is complemented\" bits [bitset!]", &native_complement_q},
    {"dehex", "\"Converts URL-style hex encoded (%xx) strings\" value [any-string!] return: [string!]", &native_dehex},
    {"enhex", "\"Encode URL-style hex encoded (%xx) strings\" value [any-string!] return: [string!]", &native_enhex},
    {"negative?", "\"Returns TRUE if the number is negative\" number [number! money! time!] return: [logic!]", &native_negative_q},
    {"positive?", "\"Returns TRUE if the number is positive\" number [number! money! time!] return: [logic!]", &native_positive_q},
    {"max", "\"Returns the greater of the two values\" value1 [scalar! series!] value2 [scalar! series!]", &native_max},
    {"min", "\"Returns the lesser of the two values\" value1 [scalar! series!] value2 [scalar! series!]", &native_min},
    {"shift", "\"Perform a bit shift operation. Right shift (decreasing) by default\" data [integer!] bits [integer!] /left /logical return: [integer!]", &native_shift},
    {"to-hex", "\"Converts numeric value to a hex issue! datatype (with leading # and 0's)\" value [integer!] /size length [integer!] return: [issue!]", &native_to_hex},
    {"sine", "\"Returns the trigonometric sine\" angle [float! integer!] /radians return: [float!]", &native_sine},
    {"cosine", "\"Returns the trigonometric cosine\" angle [float! integer!] /radians return: [float!]", &native_cosine},
    {"tangent", "\"Returns the trigonometric tangent\" angle [float! integer!] /radians return: [float!]", &native_tangent},
    {"arcsine", "\"Returns the trigonometric arcsine in degrees in range [-90,90]\" sine [float! integer!] /radians return: [float!]", &native_arcsine},
    {"arccosine", "\"Returns the trigonometric arccosine in degrees in range [0,180]\" cosine [float! integer!] /radians return: [float!]", &native_arccosine},
    {"arctangent", "\"Returns the trigonometric arctangent in degrees in range [-90,90]\" tangent [float! integer!] /radians return: [float!]", &native_arctangent},
    {"arctangent2", "\"Returns the smallest angle between the vectors (1,0) and (x,y) in degrees (-180,180]\" y [float! integer!] x [float! integer!] /radians return: [float!]", &native_arctangent2},
    {"NaN?", "\"Returns TRUE if the number is Not-a-Number\" value [number!] return: [logic!]", &native_NaN_q},
    {"log-2", "\"Return the base-2 logarithm\" value [float! integer! percent!] return: [float!]", &native_log_2},
    {"log-10", "\"Returns the base-10 logarithm\" value [float! integer! percent!] return: [float!]", &native_log_10},
    {"log-e", "\"Returns the natural (base-E) logarithm of the given value\" value [float! integer! percent!] return: [float!]", &native_log_e},
    {"exp", "\"Raises E (the base of natural logarithm) to the power specified\" value [float! integer! percent!] return: [float!]", &native_exp},
    {"square-root", "\"Returns the square root of a number\" value [float! integer! percent!] return: [float!]", &native_square_root},
    {"construct", "\"Makes a new object from an unevaluated spec; standard logic words are evaluated\" block [block!] /with object [object!] /only", &native_construct},
    {"value?", "\"Returns TRUE if the word has a value\" value [word!] return: [logic!]", &native_value_q},
    {"try", "\"Tries to DO a block and returns its value or an error\" block [block!] /all /keep", &native_try},
    {"uppercase", "\"Converts string of characters to uppercase\" string [any-string! char!] /part limit [number! any-string!] return: [any-string! char!]", &native_uppercase},
    {"lowercase", "\"Converts string of characters to lowercase\" string [any-string! char!] /part limit [number! any-string!] return: [any-string! char!]", &native_lowercase},
    {"as-pair", "\"Combine X and Y values into a pair\" x [integer! float!] y [integer! float!]", &native_as_pair},
    {"as-point2D", "\"Combine X and Y values into a 2D point\" x [integer! float!] y [integer! float!]", &native_as_point2D},
    {"as-point3D", "\"Combine X, Y and Z values into a 3D point\" x [integer! float!] y [integer! float!] z [integer! float!]", &native_as_point3D},
    {"as-money", "\"Combine currency code and amount into a monetary value\" currency [word!] amount [integer! float!] return: [money!]", &native_as_money},
    {"break", "\"Breaks out of a loop, while, until, repeat, foreach, etc\" /return value [any-type!]", &native_break},
    {"continue", "\"Throws control back to top of loop\"", &native_continue},
    {"exit", "\"Exits a function, returning no value\"", &native_exit},
    {"return", "\"Returns a value from a function\" value [any-type!]", &native_return},
    {"throw", "\"Throws control back to a previous catch\" value [any-type!] /name word [word!]", &native_throw},
    {"catch", "\"Catches a throw from a block and returns its value\" block [block!] /name word [word! block!]", &native_catch},
    {"extend", "\"Extend an object or map value with list of key and value pairs\" obj [object! map!] spec [block! hash! map!] /case", &native_extend},
    {"debase", "\"Decodes binary-coded string (BASE-64 default) to binary value\" value [string!] /base base-value [integer!]", &native_debase},
    {"to-local-file", "\"Converts a Qel file path to the local system file path\" path [file! string!] /full return: [string!]", &native_to_local_file},
    {"wait", "\"Waits for a duration in seconds or specified time\" value [number! time! block! none!] /all", &native_wait},
    {"checksum", "\"Computes a checksum, CRC, hash, or HMAC\" data [binary! string! file!] method [word!] /with spec [any-string! binary! integer!] return: [integer! binary!]", &native_checksum},
    {"unset", "\"Unsets the value of a word in its current context\" word [word! block!]", &native_unset},
    {"new-line", "\"Sets or clears the new-line marker within a list series\" position [any-list!] value [logic!] /all /skip size [integer!] return: [any-list!]", &native_new_line},
    {"new-line?", "\"Returns the state of the new-line marker within a list series\" position [any-list!] return: [logic!]", &native_new_line_q},
    {"enbase", "\"Encodes a string into a binary-coded string (BASE-64 default)\" value [binary! string!] /base base-value [integer!]", &native_enbase},
    {"context?", "\"Returns the context to which a word is bound\" word [any-word!] return: [object! function! none!]", &native_context_q},
    {"set-env", "\"Sets the value of an operating system environment variable (for current process)\" var [any-string! any-word!] value [string! none!]", &native_set_env},
    {"get-env", "\"Returns the value of an OS environment variable (for current process)\" var [any-string! any-word!] return: [string! none!]", &native_get_env},
    {"list-env", "\"Returns a map of OS environment variables (for current process)\" return: [map!]", &native_list_env},
    {"now", "\"Returns date and time\" /year /month /day /time /zone /date /weekday /yearday /precise /utc return: [date! time! integer!]", &native_now},
    {"sign?", "\"Returns sign of N as 1, 0, or -1 (to use as a multiplier)\" number [number! money! time!] return: [integer!]", &native_sign_q},
    {"as", "\"Coerce a series into a compatible datatype without copying it\" type [datatype! block! paren! any-path! any-string!] spec [block! paren! any-path! any-string!]", &native_as},
    {"call", "\"Executes a shell command to run another process\" cmd [string! file!] /wait /show /console /shell /input in [string! file! binary!] /output out [string! file! binary!] /error err [string! file! binary!] return: [integer!]", &native_call},
    {"zero?", "\"Returns TRUE if the value is zero\" value [number! money! pair! time! char! tuple! any-point!] return: [logic!]", &native_zero_q},
    {"size?", "\"Returns the size of a file content\" file [file!] return: [integer! none!]", &native_size_q},
    {"browse", "\"Opens the URL in a web browser or the file in the associated application\" url [url! file!]", &native_browse},
    {"compress", "\"Compresses data\" data [any-string! binary!] method [word!] return: [binary!]", &native_compress},
    {"decompress", "\"Decompresses data\" data [binary!] method [word!] /size sz [integer!] return: [binary!]", &native_decompress},
    {"recycle", "\"Recycles unused memory and returns memory amount still in use\" /on /off return: [integer! unset!]", &native_recycle},
    {"transcode", "\"Translates UTF-8 binary source to values. Returns one or several values in a block\" src [binary! string!] /next /one /prescan /scan /part length [integer! binary!] /into dst [block!] /trace callback [function! routine!] return: [block!]", &native_transcode},
    {"apply", "\"Apply a function to a reduced block of arguments\" func [word! path! any-function!] args [block!] /all /safer", &native_apply},
};

void init_table() {
    print_buffer = block::make_in(&root_cell, 32);
    own_lists = block::make_in(&root_cell, OWN_LISTS);
    for (uint32_t k = 0; k < OWN_LISTS; k++) block::append_copy(own_lists, &shared::none);
    // The whole table is appended at once; the slots past it stay empty.
    table_count = 1 + NATIVE_COUNT;
}

Cell* own_list(uint32_t type, uint32_t index) {
    const uint32_t k = (type == TYPE_NATIVE ? 0 : TABLE_SLOTS) + index - 1;
    return series::cells_of(series_node(own_lists)) + k;
}

const Entry* entry_of(int32_t index) {
    if (index < 1 || index > static_cast<int32_t>(NATIVE_COUNT)) return nullptr;
    const Entry* e = &table[index - 1];
    return e->fn ? e : nullptr;
}

}  // namespace qel::natives
