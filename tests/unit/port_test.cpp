// port! with an actor that a script cannot make: a handle! actor passes
// make port!, and then every action on the port raises invalid-port. What
// a script sees of ports is tested in tests/lang/ports/.
#include <gtest/gtest.h>

#include "datatypes/object.hpp"
#include "library_support.hpp"
#include "runtime/errors.hpp"

namespace qel {
namespace {

using namespace testutil;

class PortTest : public LibraryRuntime {};

TEST_F(PortTest, AHandleActorMakesAPortWhoseActionsFail) {
    const Cell scheme = eval("native-scheme: make object! [name: 'native title: none info: none actor: none awake: none]");
    ASSERT_EQ(cell::type_of(&scheme), TYPE_OBJECT);
    const Cell actor_word{TYPE_WORD, 0, static_cast<uint32_t>(symbol::intern_cstr("actor")), UINT32_MAX};
    *object::field_by_word(&scheme, &actor_word) = Cell{TYPE_HANDLE, 0, 7, 0};
    eval("append system/schemes reduce ['native native-scheme]");
    const Cell port = eval("p: make port! [scheme: 'native]");
    EXPECT_EQ(cell::type_of(&port), TYPE_PORT);
    for (const char* action : {"close p", "read p", "write p 1", "length? p", "next p", "copy p"}) {
        EXPECT_EQ(raised([&] { run(action); }), err::INVALID_PORT) << action;
    }
}

}  // namespace
}  // namespace qel
