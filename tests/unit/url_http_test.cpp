// The header map that the HTTP road of url! builds from response header
// text: each line's name before its first colon, the value after the
// blanks that follow it up to the line's end and no further; repeated
// names collect their values in a block. What a script sees of requests
// and answers is tested against a local server in tests/http/.
#include <gtest/gtest.h>

#include "datatypes/url_http.hpp"
#include "slot_support.hpp"
#include "startup_support.hpp"

namespace qel {
namespace {

using namespace testutil;

class HeaderMapTest : public StartedRuntime {};

TEST_F(HeaderMapTest, LinesBecomeKeysAndValues) {
    struct Case {
        const char* text;
        const char* map;
    };
    const Case cases[] = {
        {"A: 1\r\nB: two words\r\n", "#[\n    A: \"1\"\n    B: \"two words\"\n]"},
        // Blanks after the colon are optional, and more than one is skipped.
        {"Tight:x\r\nSpaced: \t  y\r\n", "#[\n    Tight: \"x\"\n    Spaced: \"y\"\n]"},
        // A value ends with its line: an empty value at the end of the
        // text, or before a bare LF, reads nothing of what follows.
        {"Empty:", "#[\n    Empty: \"\"\n]"},
        {"Empty:\nNext: n", "#[\n    Empty: \"\"\n    Next: \"n\"\n]"},
        {"Last: v", "#[\n    Last: \"v\"\n]"},
        // Only the first colon of a line separates the name.
        {"Date: Mon, 10:20:30\r\n", "#[\n    Date: \"Mon, 10:20:30\"\n]"},
        // Lines without a name before a colon are skipped.
        {"no colon here\r\n: nameless\r\n\r\nK: v\r\n", "#[\n    K: \"v\"\n]"},
        // A name met again gathers its values in a block, in order; names
        // are the same in any letter case.
        {"X: a\r\nY: 1\r\nx: b\r\nX: c\r\n", "#[\n    X: [\"a\" \"b\" \"c\"]\n    Y: \"1\"\n]"},
        {"", "#[]"},
    };
    for (const Case& c : cases) {
        const Cell map = *url_http::push_header_map(c.text);
        EXPECT_EQ(cell::type_of(&map), TYPE_MAP) << c.text;
        EXPECT_EQ(molded(map), c.map) << c.text;
    }
}

}  // namespace
}  // namespace qel
