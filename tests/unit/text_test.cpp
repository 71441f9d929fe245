#include <gtest/gtest.h>

#include "driver/assemble.h"
#include "text.h"

namespace tarvo {
namespace {

struct NumberRow {
    const char* text;
    Scan scan;
    std::int32_t value;
    friend void PrintTo(const NumberRow& r, std::ostream* os) { *os << testing::PrintToString(std::string(r.text)); }
};

class NumberTest : public testing::TestWithParam<NumberRow> {};

TEST_P(NumberTest, ScansLikePercentI) {
    const NumberRow& row = GetParam();
    std::int32_t value = 12345;
    EXPECT_EQ(ScanNumber(row.text, value), row.scan) << row.text;
    const std::int32_t expected = row.scan == Scan::kNumber ? row.value : 12345;  // failures leave it alone
    EXPECT_EQ(value, expected) << row.text;
}

INSTANTIATE_TEST_SUITE_P(Rows, NumberTest, testing::Values(
    NumberRow{"0", Scan::kNumber, 0},
    NumberRow{"7", Scan::kNumber, 7},
    NumberRow{"42", Scan::kNumber, 42},
    NumberRow{"9x", Scan::kNumber, 9},
    NumberRow{"07", Scan::kNumber, 7},
    NumberRow{"+42", Scan::kNumber, 42},
    NumberRow{"-42", Scan::kNumber, -42},
    NumberRow{"0x1F", Scan::kNumber, 31},
    NumberRow{"0XfF", Scan::kNumber, 255},
    NumberRow{"-0x10", Scan::kNumber, -16},
    NumberRow{"017", Scan::kNumber, 15},
    NumberRow{"08", Scan::kNumber, 0},            // 8 is no octal digit
    NumberRow{"09", Scan::kNumber, 0},
    NumberRow{"0x1g", Scan::kNumber, 1},
    NumberRow{"0x", Scan::kNumber, 0},
    NumberRow{"0xg", Scan::kNumber, 0},
    NumberRow{"12abc", Scan::kNumber, 12},
    NumberRow{"100abc", Scan::kNumber, 100},
    NumberRow{"\f\v7", Scan::kNumber, 7},         // form feed and vertical tab are skipped
    NumberRow{"  -5", Scan::kNumber, -5},
    NumberRow{"0xFFFFFFFF", Scan::kNumber, -1},   // wraps modulo 2^32
    NumberRow{"4294967296", Scan::kNumber, 0},
    NumberRow{"-2147483649", Scan::kNumber, 2147483647},
    NumberRow{"18446744073709551617", Scan::kNumber, 1},
    NumberRow{"", Scan::kEmpty, 0},
    NumberRow{"   ", Scan::kEmpty, 0},
    NumberRow{"\f\v", Scan::kEmpty, 0},
    NumberRow{"-", Scan::kNoNumber, 0},
    NumberRow{"+", Scan::kNoNumber, 0},
    NumberRow{"- 5", Scan::kNoNumber, 0},
    NumberRow{"abc", Scan::kNoNumber, 0},
    NumberRow{"$5", Scan::kNoNumber, 0},
    NumberRow{"x12", Scan::kNoNumber, 0}));

TEST(NumberTest, FortyDigitsKeepTheirLow32Bits) {
    // 10^39 + 7 mod 2^32, worked out by repeated multiplication.
    std::uint32_t expected = 1;
    for (int i = 0; i < 39; ++i) expected *= 10;
    expected += 7;
    std::int32_t value = 0;
    ASSERT_EQ(ScanNumber("1000000000000000000000000000000000000007", value), Scan::kNumber);
    EXPECT_EQ(static_cast<std::uint32_t>(value), expected);
}

struct RegisterRow {
    const char* text;
    bool ok;
    unsigned reg;
    friend void PrintTo(const RegisterRow& r, std::ostream* os) { *os << testing::PrintToString(std::string(r.text)); }
};

class RegisterTest : public testing::TestWithParam<RegisterRow> {};

TEST_P(RegisterTest, ReadsDollarNumberLow5Bits) {
    const RegisterRow& row = GetParam();
    unsigned reg = 99;
    EXPECT_EQ(ReadRegister(row.text, reg), row.ok) << row.text;
    EXPECT_EQ(reg, row.ok ? row.reg : 99u) << row.text;
}

INSTANTIATE_TEST_SUITE_P(Rows, RegisterTest, testing::Values(
    RegisterRow{"$0", true, 0}, RegisterRow{"$31", true, 31}, RegisterRow{"$32", true, 0},
    RegisterRow{"$33", true, 1}, RegisterRow{"$-1", true, 31}, RegisterRow{"$3x", true, 3},
    RegisterRow{"$0x1f", true, 31}, RegisterRow{"$010", true, 8}, RegisterRow{"$2;sum", true, 2},
    RegisterRow{"$\f4", true, 4}, RegisterRow{"$", false, 0}, RegisterRow{"$x", false, 0},
    RegisterRow{"r1", false, 0}, RegisterRow{"5", false, 0}));

struct SplitRow {
    const char* line;
    int result;
    const char* opcode;
    const char* p1;
    const char* p2;
    const char* p3;
    friend void PrintTo(const SplitRow& r, std::ostream* os) { *os << testing::PrintToString(std::string(r.line)); }
};

class FilterCommandTest : public testing::TestWithParam<SplitRow> {};

TEST_P(FilterCommandTest, Splits) {
    const SplitRow& row = GetParam();
    Tokens t;
    ASSERT_EQ(FilterCommand(row.line, t), row.result) << row.line;
    if (row.result == 0) return;
    EXPECT_EQ(t.szOpcode, row.opcode);
    EXPECT_EQ(t.szParam1, row.p1);
    EXPECT_EQ(t.szParam2, row.p2);
    EXPECT_EQ(t.szParam3, row.p3);
}

INSTANTIATE_TEST_SUITE_P(Rows, FilterCommandTest, testing::Values(
    SplitRow{"", 0, "", "", "", ""},
    SplitRow{" ,[]\t ,", 0, "", "", "", ""},
    SplitRow{";comment", 0, "", "", "", ""},
    SplitRow{"   ; indented comment", 0, "", "", "", ""},
    SplitRow{"add $1, $2 ; sum", 1, "add", "$1", "$2", ""},
    SplitRow{"add $1,$2;sum", 1, "add", "$1", "$2;sum", ""},
    SplitRow{"nop;done", 1, "nop;done", "", "", ""},
    SplitRow{"ld.w 4[$1],$2", 1, "ld.w", "4", "$1", "$2"},
    SplitRow{"ld.w 4 $1 $2", 1, "ld.w", "4", "$1", "$2"},
    SplitRow{"ld.w 4,,[[$1]],$2", 1, "ld.w", "4", "$1", "$2"},
    SplitRow{"jmp [$5]", 1, "jmp", "$5", "", ""},
    SplitRow{"a 1 2 3 4 5", 1, "a", "1", "2", "3"},
    SplitRow{"a 1 ;2 3", 1, "a", "1", "", ""},
    SplitRow{"\tmov\t$1\t$2", 1, "mov", "$1", "$2", ""},
    SplitRow{"mov\f $1", 1, "mov\f", "$1", "", ""}));

TEST(NextTokenTest, LeavesRestAfterTheEndingSeparator) {
    std::string_view rest = "ds.  \"a b\"";
    EXPECT_EQ(NextToken(rest), "ds.");
    EXPECT_EQ(rest, " \"a b\"");  // only the one separator that ended the token is gone
    rest = "ds.";
    EXPECT_EQ(NextToken(rest), "ds.");
    EXPECT_TRUE(rest.empty());
}

}  // namespace
}  // namespace tarvo
