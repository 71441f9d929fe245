#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "driver/assemble.h"
#include "harness.h"
#include "isa/construct.h"

namespace tarvo {
namespace {

struct Encoded {
    int code;
    std::string hex;
    std::int32_t nPC;
};

// One instruction line through FilterCommand and Construct, with names
// defined first, in the classic language these rows describe.
Encoded EncodeLine(const std::string& line, const std::vector<std::pair<std::string, std::string>>& names = {}) {
    Context ctx;
    ctx.set.classic = true;
    for (const auto& [name, value] : names) ctx.lstHead.InsertConstant({name, value});
    test::MemOut obj;
    ctx.obj.Open(obj.get());
    Tokens t;
    EXPECT_EQ(FilterCommand(line, t), 1) << line;
    const LineResult r = Construct(ctx, t);
    // The result codes as numbers: 0 encoded, 1 opcode, 2-4 the operand, 5 syntax, -1 unknown.
    int code = 0;
    switch (r.status) {
        case EncodeStatus::kOk: code = 0; break;
        case EncodeStatus::kBadOpcode: code = 1; break;
        case EncodeStatus::kBadParam: code = 2 + r.slot; break;
        case EncodeStatus::kSyntaxError: code = 5; break;
        case EncodeStatus::kUnknown: code = -1; break;
        default: code = 99; break;
    }
    return {code, test::Hex(obj.str()), ctx.obj.Location()};
}

struct BytesRow {
    const char* line;
    const char* hex;
    friend void PrintTo(const BytesRow& r, std::ostream* os) { *os << r.line; }
};

class ConstructBytesTest : public testing::TestWithParam<BytesRow> {};

TEST_P(ConstructBytesTest, WritesBytesAndAdvances) {
    const BytesRow& row = GetParam();
    Encoded e = EncodeLine(row.line);
    EXPECT_EQ(e.code, 0) << row.line;
    EXPECT_EQ(e.hex, row.hex) << row.line;
    EXPECT_EQ(static_cast<std::size_t>(e.nPC), test::Bytes(row.hex).size()) << row.line;
}

// The documented examples first, then every mnemonic of the three tables.
INSTANTIATE_TEST_SUITE_P(Documented, ConstructBytesTest, testing::Values(
    BytesRow{"mov $1, $2", "41 00"},
    BytesRow{"mov 5, $2", "45 40"},
    BytesRow{"mov -1, $2", "5F 40"},
    BytesRow{"jmp [$31]", "1F 18"},
    BytesRow{"jmp $31", "1F 18"},
    BytesRow{"jmp $5, $6", "C5 18"},
    BytesRow{"ldsr $5, $3", "65 70"},
    BytesRow{"be 10", "0A 84"},
    BytesRow{"br -2", "FE 8B"},
    BytesRow{"nop", "00 9A"},
    BytesRow{"jr -4", "FF AB FC FF"},
    BytesRow{"jal 0x100", "00 AC 00 01"},
    BytesRow{"movea 0x1234, $0, $5", "A0 A0 34 12"},
    BytesRow{"movhi 0xFFFF, $0, $5", "A0 BC FF FF"},
    BytesRow{"ld.w 4[$3], $5", "A3 CC 04 00"},
    BytesRow{"ld.w 4, $3, $5", "A3 CC 04 00"},
    BytesRow{"st.w $5, -2[$3]", "A3 DC FE FF"},
    BytesRow{"st.w $5, -2, $3", "A3 DC FE FF"},
    BytesRow{"trap 5", "05 60"},
    BytesRow{"trap 1024", "00 60"},
    BytesRow{"ei", "00 58"},
    BytesRow{"ei 5", "00 58"},
    BytesRow{"di", "00 78"},
    BytesRow{"reti", "01 64"},
    BytesRow{"halt", "01 68"},
    BytesRow{"addf.s $1, $2", "41 F8 00 10"},
    BytesRow{"MOVBSU", "0B 7C"},
    BytesRow{"movbsu", "0B 7C"},
    BytesRow{"MOV $1, $2", "41 00"},
    BytesRow{"mov 33, $1", "21 40"},          // imm5 cut to 1
    BytesRow{"mov $33, $1", "21 00"},         // register 33 is register 1
    BytesRow{"add $1,$2;sum", "41 04"},       // "$2;sum" reads as register 2
    BytesRow{"nop $1, $2", "00 9A"},
    BytesRow{"nop $7", "00 9A"},
    BytesRow{"nop 5", "00 9A"},
    BytesRow{"movea -1, $0, $5", "A0 A0 FF FF"},
    BytesRow{"be -2", "FE 85"},               // disp9 0x1FE
    BytesRow{"jr 0x3FFFFFF", "FF AB FF FF"},
    BytesRow{"jr 0x4000000", "00 A8 00 00"},  // disp26 cut
    BytesRow{"mov \f5, $2", "45 40"},
    BytesRow{"reti 5", "01 64"},              // like "ei 5": the operand is ignored
    BytesRow{"halt 0x3FF", "01 68"}));

INSTANTIATE_TEST_SUITE_P(EveryMnemonic, ConstructBytesTest, testing::Values(
    BytesRow{"add $3, $4", "83 04"}, BytesRow{"sub $3, $4", "83 08"}, BytesRow{"cmp $3, $4", "83 0C"},
    BytesRow{"shl $3, $4", "83 10"}, BytesRow{"shr $3, $4", "83 14"}, BytesRow{"sar $3, $4", "83 1C"},
    BytesRow{"mul $3, $4", "83 20"}, BytesRow{"div $3, $4", "83 24"}, BytesRow{"mulu $3, $4", "83 28"},
    BytesRow{"divu $3, $4", "83 2C"}, BytesRow{"or $3, $4", "83 30"}, BytesRow{"and $3, $4", "83 34"},
    BytesRow{"xor $3, $4", "83 38"}, BytesRow{"not $3, $4", "83 3C"},
    BytesRow{"add 3, $4", "83 44"}, BytesRow{"setf 3, $4", "83 48"}, BytesRow{"cmp 3, $4", "83 4C"},
    BytesRow{"shl 3, $4", "83 50"}, BytesRow{"shr 3, $4", "83 54"}, BytesRow{"sar 3, $4", "83 5C"},
    BytesRow{"stsr $3, $4", "83 74"},
    BytesRow{"bv 1", "01 80"}, BytesRow{"bl 1", "01 82"}, BytesRow{"bnh 1", "01 86"},
    BytesRow{"bn 1", "01 88"}, BytesRow{"blt 1", "01 8C"}, BytesRow{"ble 1", "01 8E"},
    BytesRow{"bnv 1", "01 90"}, BytesRow{"bnl 1", "01 92"}, BytesRow{"bne 1", "01 94"},
    BytesRow{"bh 1", "01 96"}, BytesRow{"bp 1", "01 98"}, BytesRow{"bge 1", "01 9C"},
    BytesRow{"bgt 1", "01 9E"},
    BytesRow{"addi 1, $2, $3", "62 A4 01 00"}, BytesRow{"ori 1, $2, $3", "62 B0 01 00"},
    BytesRow{"andi 1, $2, $3", "62 B4 01 00"}, BytesRow{"xori 1, $2, $3", "62 B8 01 00"},
    BytesRow{"ld.b 1[$2], $3", "62 C0 01 00"}, BytesRow{"ld.h 1[$2], $3", "62 C4 01 00"},
    BytesRow{"in.b 1[$2], $3", "62 E0 01 00"}, BytesRow{"in.h 1[$2], $3", "62 E4 01 00"},
    BytesRow{"caxi 1[$2], $3", "62 E8 01 00"}, BytesRow{"in.w 1[$2], $3", "62 EC 01 00"},
    BytesRow{"st.b $3, 1[$2]", "62 D0 01 00"}, BytesRow{"st.h $3, 1[$2]", "62 D4 01 00"},
    BytesRow{"out.b $3, 1[$2]", "62 F0 01 00"}, BytesRow{"out.h $3, 1[$2]", "62 F4 01 00"},
    BytesRow{"out.w $3, 1[$2]", "62 FC 01 00"},
    BytesRow{"cmpf.s $1, $2", "41 F8 00 00"}, BytesRow{"cvt.ws $1, $2", "41 F8 00 08"},
    BytesRow{"cvt.sw $1, $2", "41 F8 00 0C"}, BytesRow{"subf.s $1, $2", "41 F8 00 14"},
    BytesRow{"mulf.s $1, $2", "41 F8 00 18"}, BytesRow{"divf.s $1, $2", "41 F8 00 1C"},
    BytesRow{"trnc.sw $1, $2", "41 F8 00 2C"},
    BytesRow{"SCH0BSU", "00 7C"}, BytesRow{"SCH0BSD", "01 7C"}, BytesRow{"SCH1BSU", "02 7C"},
    BytesRow{"SCH1BSD", "03 7C"}, BytesRow{"ORBSU", "08 7C"}, BytesRow{"ANDBSU", "09 7C"},
    BytesRow{"XORBSU", "0A 7C"}, BytesRow{"ORNBSU", "0C 7C"}, BytesRow{"ANDNBSU", "0D 7C"},
    BytesRow{"XORNBSU", "0E 7C"}, BytesRow{"MOVNBSU", "0F 7C"}));

struct CodeRow {
    const char* line;
    int code;
    friend void PrintTo(const CodeRow& r, std::ostream* os) { *os << r.line; }
};

class ConstructCodeTest : public testing::TestWithParam<CodeRow> {};

TEST_P(ConstructCodeTest, FailsWithoutWriting) {
    const CodeRow& row = GetParam();
    Encoded e = EncodeLine(row.line);
    EXPECT_EQ(e.code, row.code) << row.line;
    EXPECT_EQ(e.hex, "") << row.line;
    EXPECT_EQ(e.nPC, 0) << row.line;
}

INSTANTIATE_TEST_SUITE_P(Rows, ConstructCodeTest, testing::Values(
    CodeRow{"foo 1", 1},
    CodeRow{"addf.s 1, $2", 1},
    CodeRow{"movbsu $1, $2", 1},
    CodeRow{"movea $1, $2", 1},
    CodeRow{"jmp 5", 1},
    CodeRow{"jmp", 1},
    CodeRow{"FPP", 1},
    CodeRow{"BSTR", -1},
    CodeRow{"bstr", -1},
    CodeRow{"bstr $1", 5},
    CodeRow{"trap", 5},
    CodeRow{"trap $1", 5},
    CodeRow{"mov $1", 5},
    CodeRow{"add 1, 2", 5},
    CodeRow{"mov r1, r2", 5},
    CodeRow{"add $1, $2, $3", 5},
    CodeRow{"st.w 1, $2, 3", 5},
    CodeRow{"nop $1, $2, $3", 5},
    CodeRow{"mov r1, $2", 2},
    CodeRow{"movea abc, $0, $1", 2},
    CodeRow{"movea 1, $0, $", 4},
    CodeRow{"movea 1, $x, $1", 3},
    CodeRow{"mov $x, $2", 2},
    CodeRow{"mov $1, $x", 3},
    CodeRow{"st.w $x, 1, $2", 2},
    CodeRow{"st.w $1, x, $2", 3},
    CodeRow{"st.w $1, 1, $y", 4},
    CodeRow{"be x", 2},
    CodeRow{"trap x", 2},
    CodeRow{"addf.s $x, $2", 2},
    CodeRow{"mov \f, $2", 2}));        // form feed alone is not a number

TEST(ConstructNamesTest, OperandsResolveOneLevelThroughNames) {
    // A name for a register.
    Encoded e = EncodeLine("mov A, $1", {{"A", "$5"}});
    EXPECT_EQ(e.hex, "25 00");
    // A name for a number.
    e = EncodeLine("movea ANSWER, $0, $1", {{"answer", "42"}});
    EXPECT_EQ(e.hex, "20 A0 2A 00");
    // A label as a branch operand keeps the low 9 bits of its value.
    e = EncodeLine("br loop", {{"loop", "0x07000010"}});
    EXPECT_EQ(e.hex, "10 8A");
    // One level only: B's value names A, which is not followed.
    e = EncodeLine("movea B, $0, $1", {{"A", "5"}, {"B", "A"}});
    EXPECT_EQ(e.code, 2);
    // The newest definition wins.
    e = EncodeLine("mov X, $1", {{"X", "1"}, {"x", "2"}});
    EXPECT_EQ(e.hex, "22 40");
    // A name spelled like a register shadows it.
    e = EncodeLine("jmp [$1]", {{"$1", "$7"}});
    EXPECT_EQ(e.hex, "07 18");
}

TEST(ConstructMessagesTest, PassDriverQuotesTokensAsWritten) {
    test::Run r = test::AssembleText(
        "df. R abc\n"
        "nop\n"
        "Foo 1\n"
        "movea R, $0, $1\n"
        "mov $1\n"
        "BSTR\n"
        "movea 1, $0, $\n"
        "st.w $1, x, $2\n"
        "mov 1, $2\n");
    EXPECT_EQ(r.output,
              "Define: R = abc\n"
              "Error in line 3: Invalid Opcode (Foo)\n"
              "Error in line 4: Invalid Parameter (R)\n"
              "Error in line 5: Syntax Error.\n"
              "Error in line 6: Unknown Error (BSTR)\n"
              "Error in line 7: Invalid Parameter ($)\n"
              "Error in line 8: Invalid Parameter (x)\n");
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.nErrors, 6);
    EXPECT_EQ(test::Hex(r.bytes), "00 9A 41 40");  // failed lines take no room
}

}  // namespace
}  // namespace tarvo
