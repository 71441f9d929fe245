// Inputs a user's assembler meets by accident: huge lines, binary files,
// masses of names, deep include chains. Each gets its exact answer.
#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "run_tool.h"

namespace tarvo::test {
namespace {

TEST(HostileTest, TenMegabyteLine) {
    ScratchDir dir;
    const std::string text(10'000'000, 'A');
    dir.Write("in.s", "ds. \"" + text + "\"\nnop");
    ToolResult r = RunTool(dir.path(), {"in.s"});
    EXPECT_EQ(r.out, kBanner + kClean + Report("in.s", 0, 10'000'002));
    EXPECT_EQ(dir.Read("output.obj"), text + HexToBytes("00 9A"));
}

TEST(HostileTest, TenMegabyteTokenIsQuotedWhole) {
    ScratchDir dir;
    const std::string token(10'000'000, 'z');
    dir.Write("in.s", token + "\n");
    ToolResult r = RunTool(dir.path(), {"in.s"});
    EXPECT_EQ(r.out, kBanner + "Error in line 1: Invalid Opcode (" + token + ")\n" +
                         "Pass: 0 (Too many errors)\n" + Report("in.s", 1, 0) + kRemoved);
}

TEST(HostileTest, DeeplyNestedExpressionsAreRefusedNotOverflowed) {
    ScratchDir dir;
    const std::string open(1'000'000, '('), minus(1'000'000, '-');
    dir.Write("in.s", "dw. " + open + "1\ndw. (" + minus + "1)\nbne @" + open + "x\n");
    ToolResult r = RunTool(dir.path(), {"in.s"});
    EXPECT_EQ(r.out, kBanner + "Error at 00000000: Invalid 32-bit Argument\n" +
                         "Error at 00000000: Invalid 32-bit Argument\n" + "Error in line 3: Invalid Parameter (@" +
                         open + "x)\n" + "Pass: 0 (Too many errors)\n" + Report("in.s", 3, 0) + kRemoved);
}

// Values that name the next twice over double at every level: used before
// the names are defined (the field waits) and after, the text stops at
// 64 KiB with an error instead of exhausting memory or time.
TEST(HostileTest, ValuesThatDoubleAtEveryLevelAreRefused) {
    std::string chain;
    for (int i = 0; i < 40; ++i) chain += "df. X" + std::to_string(i) + " (X" + std::to_string(i + 1) + "+X" + std::to_string(i + 1) + ")\n";
    ScratchDir dir;
    dir.Write("in.s", "dw. (X0)\n" + chain + "df. X40 1\ndw. (X0)\n");
    ToolResult r = RunTool(dir.path(), {"--quiet", "in.s"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Error in line 1: Invalid Parameter ((X0))\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Error at 00000004: Invalid 32-bit Argument\n"), std::string::npos) << r.out;
}

TEST(HostileTest, RandomBytesNeverCrashAndTheReportHolds) {
    std::mt19937 random(810);
    for (int round = 0; round < 8; ++round) {
        ScratchDir dir;
        std::string bytes(65536, '\0');
        for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
        if (round % 2 == 1)  // text-like: printable bytes, separators and line ends
            for (char& c : bytes) c = " ,[]\t\n$;.0123456789abcdefxorgdwsinlbjumpcallmov\"\r"[static_cast<unsigned char>(c) % 48];
        dir.Write("in.s", bytes);
        ToolResult r = RunTool(dir.path(), {"in.s", "-Z"});
        ASSERT_TRUE(r.status == 0 || r.status == 1) << "round " << round;
        std::smatch m;
        const std::regex tail("# Bytes:\t([0-9]+)\n$");
        ASSERT_TRUE(std::regex_search(r.out, m, tail)) << "round " << round;
        EXPECT_EQ(std::stoul(m[1]), dir.Read("output.obj").size()) << "round " << round;
    }
}

TEST(HostileTest, ZeroByteInsideALineEndsItsText) {
    ScratchDir dir;
    dir.Write("in.s", std::string("nop\0 this is dropped\nhalt\0\0\n", 29));
    ToolResult r = RunTool(dir.path(), {"in.s"});
    EXPECT_EQ(r.out, kBanner + kClean + Report("in.s", 0, 4));
    EXPECT_EQ(dir.Read("output.obj"), HexToBytes("00 9A 01 68"));
}

TEST(HostileTest, TenThousandLabelsOfOneName) {
    ScratchDir dir;
    std::string source, labels;
    for (int i = 0; i < 10000; ++i) {
        source += "lb. x\nnop\n";
        char line[96];
        std::snprintf(line, sizeof line, "Label: x = 0x%08x\n", 0x07000000 + 2 * i);
        labels += line;
        std::snprintf(line, sizeof line, "Warning at %08x: Label defined twice (x)\n", 2 * i);
        if (i > 0) labels += line;
    }
    dir.Write("in.s", source + "br X\n");
    ToolResult r = RunTool(dir.path(), {"in.s"});
    // The classic reading takes the address as a displacement: warned, not counted.
    EXPECT_EQ(r.out, kBanner + labels + "Warning in line 20001: Label used as a displacement (X); write @X\n" +
                         kClean + Report("in.s", 0, 20002));
    // The newest label, at 19998 = 0x4E1E, gives the displacement 0x01E.
    EXPECT_EQ(dir.Read("output.obj").substr(20000), HexToBytes("1E 8A"));
}

TEST(HostileTest, ThousandCharacterNamesAreKeptWhole) {
    ScratchDir dir;
    const std::string stem(1000, 'n');
    dir.Write("in.s", "df. " + stem + "1 5\ndf. " + stem + "2 7\nmov " + stem + "1, $1\nmov " + stem + "2, $1\n");
    ToolResult r = RunTool(dir.path(), {"in.s"});
    EXPECT_EQ(r.out, kBanner + "Define: " + stem + "1 = 5\nDefine: " + stem + "2 = 7\n" + kClean + Report("in.s", 0, 4));
    EXPECT_EQ(dir.Read("output.obj"), HexToBytes("25 40 27 40"));
}

TEST(HostileTest, FortyDigitNumbersWrap) {
    ScratchDir dir;
    dir.Write("in.s",
              "dw. 1234567890123456789012345678901234567890 -1234567890123456789012345678901234567890\n"
              "dw. 0xFEDCBA9876543210FEDCBA9876543210ABCDEF01\n"
              "movea 0000000000000000000000000000000000000017, $0, $1\n");
    ToolResult r = RunTool(dir.path(), {"in.s"});
    EXPECT_EQ(r.out, kBanner + kClean + Report("in.s", 0, 16));
    EXPECT_EQ(dir.Read("output.obj"), HexToBytes("D2 0A 3F CE  2E F5 C0 31  01 EF CD AB  20 A0 0F 00"));
}

// f0.s includes f1.s, which includes f2.s, ... each after one "nop".
void WriteChain(const ScratchDir& dir, int files) {
    for (int i = 0; i < files; ++i) {
        std::string body = "nop\n";
        if (i + 1 < files) body += "inc. \"f" + std::to_string(i + 1) + ".s\"\n";
        dir.Write("f" + std::to_string(i) + ".s", body);
    }
}

TEST(HostileTest, IncludeChainOfTwoHundredFiles) {
    ScratchDir dir;
    WriteChain(dir, 201);
    std::string expected = kBanner;
    for (int i = 1; i <= 200; ++i) expected += "Starting recursion with f" + std::to_string(i) + ".s .";
    for (int i = 1; i <= 200; ++i) expected += "... Pass(Ok)\n";
    ToolResult r = RunTool(dir.path(), {"f0.s"});
    EXPECT_EQ(r.out, expected + kClean + Report("f0.s", 0, 402));
    EXPECT_EQ(dir.Read("output.obj").size(), 402u);
}

TEST(HostileTest, IncludeChainDeeperThanTheLimitStopsCleanly) {
    ScratchDir dir;
    WriteChain(dir, 1100);
    std::string expected = kBanner;
    for (int i = 1; i < 1000; ++i) expected += "Starting recursion with f" + std::to_string(i) + ".s .";
    expected += "Error at 000007d0: Cannot open \"f1000.s\" file.\n";  // nPC: 1000 nops
    for (int i = 1; i < 1000; ++i) expected += "... Pass(Ok)\n";
    ToolResult r = RunTool(dir.path(), {"f0.s"});
    EXPECT_EQ(r.out, expected + "Pass: 1 (OBJ file created)\n" + Report("f0.s", 1, 2000) + kRemoved);
    EXPECT_EQ(r.status, 1);
}

}  // namespace
}  // namespace tarvo::test
