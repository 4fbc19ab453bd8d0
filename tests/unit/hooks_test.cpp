// Output hooks: list growth and call order, and the default printer of list
// 1 over strings of every unit width, with the value's index, the line flag,
// an unknown width and the GUI steps around each print.
//
// Strings are built by hand in a node slot of the highest directory entry,
// which the memory manager, handing out the lowest free numbers, never uses.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "output_capture.hpp"
#include "runtime/print_hooks.hpp"
#include "runtime/series.hpp"

namespace {

using namespace qel;

std::vector<int> calls;
std::string steps;

void first_hook_1(const Cell*, bool) { calls.push_back(1); }
void first_hook_2(const Cell*, bool) { calls.push_back(2); }
void first_hook_3(const Cell*, bool) { calls.push_back(3); }
void first_hook_4(const Cell*, bool) { calls.push_back(4); }
void first_hook_5(const Cell*, bool) { calls.push_back(5); }

std::string second_seen;
void second_hook(const void* text, size_t length, int zero) {
    second_seen.append(static_cast<const char*>(text), length);
    EXPECT_EQ(zero, 0);
}

// A string value over a hand-made series buffer. Head starts one slot into
// the data area, so head offsets and value indexes both matter.
class HandString {
public:
    static constexpr uint32_t FRAME = node_table::DIRECTORY_SIZE - 1;

    HandString(uint32_t unit, const std::vector<uint32_t>& units, uint32_t index) {
        const uint32_t head = 16;
        storage_.assign(sizeof(SeriesBuffer) + head + units.size() * 4 + 16, 0);
        auto* s = reinterpret_cast<SeriesBuffer*>(storage_.data());
        s->flags = unit;
        s->node = node_;
        s->size = static_cast<uint32_t>(storage_.size() - sizeof(SeriesBuffer));
        s->head = head;
        s->tail = head + static_cast<uint32_t>(units.size()) * unit;
        uint8_t* at = series::data(s) + head;
        for (uint32_t u : units) {
            if (unit == 2) {
                auto v = static_cast<uint16_t>(u);
                std::memcpy(at, &v, 2);
            } else if (unit == 4) {
                std::memcpy(at, &u, 4);
            } else {
                *at = static_cast<uint8_t>(u);
            }
            at += unit == 2 || unit == 4 ? unit : 1;
        }
        slots_[0] = reinterpret_cast<uintptr_t>(s);
        node_table::directory[FRAME] = slots_;
        value_ = Cell{TYPE_STRING, index, node_, 0};
    }
    ~HandString() { node_table::directory[FRAME] = nullptr; }
    const Cell* value() const { return &value_; }

private:
    node_t node_ = FRAME << node_table::SLOT_BITS;
    alignas(16) uintptr_t slots_[1] = {};
    std::vector<uint8_t> storage_;
    Cell value_{};
};

class Hooks : public ::testing::Test {
protected:
    void SetUp() override {
        print_hooks::init();
        calls.clear();
        steps.clear();
        second_seen.clear();
    }
    void TearDown() override {
        print_hooks::before_print = nullptr;
        print_hooks::after_print = nullptr;
        print_hooks::init();  // leaves the default lists for whatever runs next
    }
};

TEST_F(Hooks, SixthHookGrowsTheListByFiveKeepingTheOrder) {
    // The default printer fills the first slot of five; the fifth added hook
    // is the sixth entry and must land after a growth with the order kept.
    for (auto hook : {first_hook_1, first_hook_2, first_hook_3, first_hook_4, first_hook_5})
        print_hooks::add(hook, nullptr);

    HandString text(1, {'h', 'i'}, 0);
    std::string out = testutil::capture_output([&] { print_hooks::call_first_list(text.value(), false); });
    EXPECT_EQ(out, "hi") << "the default printer stays first";
    EXPECT_EQ(calls, (std::vector{1, 2, 3, 4, 5}));
}

TEST_F(Hooks, SecondListSeesLowLevelWritesOnly) {
    print_hooks::add(nullptr, second_hook);
    HandString empty(1, {}, 0);
    testutil::capture_output([&] { print_hooks::call_first_list(empty.value(), false); });
    EXPECT_TRUE(calls.empty()) << "a null first hook is not added";
    std::string out = testutil::capture_output([] { console::write_cstr("low"); });
    EXPECT_EQ(out, "low");
    EXPECT_EQ(second_seen, "low");
}

TEST_F(Hooks, DefaultPrinterWritesEveryUnitWidth) {
    struct Case {
        const char* name;
        uint32_t unit;
        std::vector<uint32_t> units;
        uint32_t index;
        bool new_line;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"latin1", 1, {'c', 'a', 'f', 0xE9}, 0, false, "caf\xC3\xA9"},
        {"latin1 line", 1, {'c', 'a', 'f', 0xE9}, 0, true, "caf\xC3\xA9\n"},
        {"latin1 from index 2", 1, {'c', 'a', 'f', 0xE9}, 2, false, "f\xC3\xA9"},
        {"ucs2", 2, {'x', 0x3A9, 0x20AC}, 1, false, "\xCE\xA9\xE2\x82\xAC"},
        {"ucs2 line", 2, {0x3A9}, 0, true, "\xCE\xA9\n"},
        {"ucs4 above U+FFFF", 4, {'x', 0x1F600, 'y'}, 1, false, "\xF0\x9F\x98\x80y"},
        {"ucs4 line", 4, {0x1F600}, 0, true, "\xF0\x9F\x98\x80\n"},
        {"empty", 1, {}, 0, false, ""},
        {"empty line", 2, {}, 0, true, "\n"},
        {"index at the tail", 4, {'a'}, 1, false, ""},
        {"index past the tail", 2, {'a'}, 5, false, ""},
    };
    for (const Case& c : cases) {
        HandString s(c.unit, c.units, c.index);
        EXPECT_EQ(testutil::capture_output([&] { console::print_hook(s.value(), c.new_line); }), c.expected)
            << c.name;
    }
}

// The GUI steps are recorded as brackets; markers written from them show
// that the text lands between the two.
TEST_F(Hooks, GuiStepsRunAroundEveryPrintEvenWhenNothingIsWritten) {
    print_hooks::before_print = [] {
        steps += '(';
        console::write_bytes("<", 1);
    };
    print_hooks::after_print = [] {
        steps += ')';
        console::write_bytes(">", 1);
    };
    HandString text(1, {'h', 'i'}, 0);
    EXPECT_EQ(testutil::capture_output([&] { console::print_hook(text.value(), true); }), "<hi\n>");
    EXPECT_EQ(steps, "()");

    steps.clear();
    HandString empty(4, {}, 0);
    EXPECT_EQ(testutil::capture_output([&] { console::print_hook(empty.value(), false); }), "<>");
    EXPECT_EQ(steps, "()");
}

TEST_F(Hooks, UnknownUnitWidthPrintsAnErrorLineAndGoesOn) {
    print_hooks::before_print = [] { steps += '('; };
    print_hooks::after_print = [] { steps += ')'; };
    HandString odd(3, {}, 0);
    EXPECT_EQ(testutil::capture_output([&] { console::print_hook(odd.value(), true); }),
              "Error: unknown string encoding: 3\n");
    // The error line is a print of its own inside the hook's print.
    EXPECT_EQ(steps, "(())");
}

}  // namespace
