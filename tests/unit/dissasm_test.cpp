#include <gtest/gtest.h>

#include <string>

#include "harness.h"

namespace tarvo {
namespace {

std::string List(const std::string& hex, std::int32_t start = 0, std::int32_t count = 8192) {
    std::string listing;
    test::Run r = test::ListImage(test::Bytes(hex), start, count, listing);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.output, "Start Reading...\nFinish Reading...\n");
    EXPECT_EQ(r.nPC, start) << "nPC is left as it was";
    return listing;
}

struct ListRow {
    const char* hex;
    const char* line;  // after "\n0x00000000\t"
    friend void PrintTo(const ListRow& r, std::ostream* os) { *os << r.hex; }
};

class DissasmLineTest : public testing::TestWithParam<ListRow> {};

TEST_P(DissasmLineTest, ListsOneInstruction) {
    const ListRow& row = GetParam();
    EXPECT_EQ(List(row.hex, 0, 1), std::string("\n0x00000000\t") + row.line) << row.hex;
}

INSTANTIATE_TEST_SUITE_P(Documented, DissasmLineTest, testing::Values(
    ListRow{"41 00", "mov\t$1, $2"},
    ListRow{"1f 18", "jmp\t[$31]"},
    ListRow{"bf 40", "mov\t31, $5"},
    ListRow{"fe 95", "bne\t0510"},
    ListRow{"00 9a", "nop\t0000"},
    ListRow{"ff ab fe ff", "jr\t03fffffe"},
    ListRow{"a0 a0 ff ff", "movea\t65535, $0, $5"},
    ListRow{"83 cc 08 00", "ld.w\t8[$3], $4"},
    ListRow{"83 dc 08 00", "st.w\t$4, 8[$3]"},
    ListRow{"41 f8 00 10", "addf.s\t$1, $2"},
    ListRow{"41 f8 00 04", "nop"},
    ListRow{"0b 7c", "MOVBSU"},
    ListRow{"04 7c", "nop"},
    ListRow{"05 60", "trap\t0x0005"},
    ListRow{"01 64", "reti"},
    ListRow{"00 6c", "nop"},
    ListRow{"ff ff ff ff", "out.w\t$31, 65535[$31]"},
    ListRow{"00 c8", "nop"},          // opcode 0x32 has no entry
    ListRow{"00 d8", "nop"},          // opcode 0x36 has no entry
    ListRow{"41 f8 00 fc", "nop"},    // floating-point sub-opcode 63
    ListRow{"1f 7c", "nop"},          // bit-string sub-opcode 31
    ListRow{"e5 63", "trap\t0x03e5"}, // all ten bits show, reg2 included
    ListRow{"03 58", "ei"},
    ListRow{"00 78", "di"},
    ListRow{"01 68", "halt"},
    ListRow{"65 70", "ldsr\t$5, $3"},
    ListRow{"65 74", "stsr\t$5, $3"},
    ListRow{"ff 4b", "setf\t31, $31"},
    ListRow{"00 ac 00 01", "jal\t00000100"},
    ListRow{"fe 81", "bv\t0510"}));

TEST(DissasmTest, EightByteImage) {
    EXPECT_EQ(List("00 00 a0 a0 ff ff 00 9a", 0, 8),
              "\n0x00000000\tmov\t$0, $0"
              "\n0x00000002\tmovea\t65535, $0, $5"
              "\n0x00000006\tnop\t0000");
}

TEST(DissasmTest, CountOfZeroOrLessListsNothing) {
    EXPECT_EQ(List("41 00", 0, 0), "");
    EXPECT_EQ(List("41 00", 0, -5), "");
}

TEST(DissasmTest, InstructionBeginningBelowTheBoundIsListedWhole) {
    EXPECT_EQ(List("ff ab fe ff 41 00", 0, 2), "\n0x00000000\tjr\t03fffffe");
}

TEST(DissasmTest, EmptyImageAndStartBeyondEndListNothing) {
    EXPECT_EQ(List(""), "");
    EXPECT_EQ(List("41 00", 2), "");
    EXPECT_EQ(List("41 00", 100), "");
}

TEST(DissasmTest, NegativeStartListsNothing) { EXPECT_EQ(List("41 00 41 00", -2), ""); }

TEST(DissasmTest, ImageEndingAfterALongInstruction) {
    EXPECT_EQ(List("41 00 a0 a0 ff ff"), "\n0x00000000\tmov\t$1, $2\n0x00000002\tmovea\t65535, $0, $5");
}

TEST(DissasmTest, ShortInstructionInTheLastBytesEndsTheListing) {
    // Two bytes left: listed. Three bytes left: listed, the lone byte after it never.
    EXPECT_EQ(List("41 00 41 00"), "\n0x00000000\tmov\t$1, $2\n0x00000002\tmov\t$1, $2");
    EXPECT_EQ(List("41 00 41 00 41"), "\n0x00000000\tmov\t$1, $2\n0x00000002\tmov\t$1, $2");
}

TEST(DissasmTest, CutOffInstructionIsLeftOut) {
    EXPECT_EQ(List("41 00 a0 a0 ff"), "\n0x00000000\tmov\t$1, $2");  // second halfword cut
    EXPECT_EQ(List("41 00 a0 a0"), "\n0x00000000\tmov\t$1, $2");     // second halfword missing
    EXPECT_EQ(List("41"), "");                                      // a single byte
}

TEST(DissasmTest, OddStartFormsHalfwordsFromThere) {
    EXPECT_EQ(List("00 41 00 00", 1, 2), "\n0x00000001\tmov\t$1, $2");
}

TEST(DissasmTest, FilledAreas) {
    EXPECT_EQ(List("00 00 00 00 00 00"),
              "\n0x00000000\tmov\t$0, $0\n0x00000002\tmov\t$0, $0\n0x00000004\tmov\t$0, $0");
    EXPECT_EQ(List("ff ff ff ff ff ff ff ff"),
              "\n0x00000000\tout.w\t$31, 65535[$31]\n0x00000004\tout.w\t$31, 65535[$31]");
}

TEST(DissasmTest, AddressesAreImageOffsets) {
    std::string image(0x100, '\0');
    image += test::Bytes("1f 18");
    std::string listing;
    test::Run r = test::ListImage(image, 0x100, 2, listing);
    EXPECT_EQ(listing, "\n0x00000100\tjmp\t[$31]");
}

TEST(DissasmTest, LargeImageCrossesReadBlocks) {
    // A 2-byte instruction, then 1.5 MiB of "movea 65535, $0, $5", then a
    // "jmp [$31]": one movea straddles the 1 MiB read block, and every line
    // must come out.
    const std::string movea = test::Bytes("a0 a0 ff ff");
    std::string image = test::Bytes("41 00");
    const int count = 3 * 1024 * 1024 / 8;
    for (int i = 0; i < count; ++i) image += movea;
    image += test::Bytes("1f 18");
    std::string listing;
    test::Run r = test::ListImage(image, 0, 0x7FFFFFFF, listing);
    std::size_t lines = 0;
    for (char c : listing) lines += c == '\n';
    EXPECT_EQ(lines, static_cast<std::size_t>(count) + 2);
    EXPECT_NE(listing.find("\n0x000ffffe\tmovea\t65535, $0, $5\n0x00100002\tmovea"), std::string::npos);
    EXPECT_TRUE(listing.ends_with("\n0x00180002\tjmp\t[$31]"));
}

TEST(DissasmTest, BoundNearTheTopOfTheRangeDoesNotOverflow) {
    EXPECT_EQ(List("41 00", 0x7FFFFFF0, 0x7FFFFFFF), "");  // nothing at that address
    EXPECT_EQ(List("41 00 41 00", 0, 0x7FFFFFFF), "\n0x00000000\tmov\t$1, $2\n0x00000002\tmov\t$1, $2");
}

TEST(DissasmTest, EveryFirstHalfwordListsWithoutFault) {
    // All 65536 first halfwords, each followed by a second halfword, one image.
    std::string image;
    for (unsigned hw = 0; hw < 0x10000; ++hw) {
        image.push_back(static_cast<char>(hw & 0xFF));
        image.push_back(static_cast<char>(hw >> 8));
        image.push_back(static_cast<char>(0xA5));
        image.push_back(static_cast<char>(hw & 0xFC));
    }
    std::string listing;
    test::Run r = test::ListImage(image, 0, static_cast<std::int32_t>(image.size()), listing);
    EXPECT_EQ(r.result, 1);
    EXPECT_FALSE(listing.empty());
}

}  // namespace
}  // namespace tarvo
