// Assembles one line per table entry and field pattern, lists the bytes back
// and compares with the line that the listing's printf formats give for the
// same fields. Ties the encoder's and the disassembler's use of the tables.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "harness.h"
#include "isa/optable.h"

namespace tarvo {
namespace {

struct Case {
    std::string source;
    std::string expected;  // the listing line, without its leading "\n0x00000000\t"
};

template <typename... Args>
std::string Format(const char* fmt, Args... args) {
    char buf[128];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

const int kRegs[] = {0, 1, 15, 16, 31};
const int kImm5[] = {0, 1, 15, 16, 31, -1, -16};
const int kDisp9[] = {0, 1, 255, 256, 511, -1, -2, -256};
const int kDisp26[] = {0, 1, 0x1FFFFFF, 0x2000000, 0x3FFFFFF, -1, -2};
const int kImm16[] = {0, 1, 0x7FFF, 0x8000, 0xFFFF, -1, -32768};
const int kTrap[] = {0, 1, 0x1F, 0x20, 0x3FF, 0x400, -1};

std::vector<Case> Cases() {
    std::vector<Case> cases;
    auto add = [&cases](std::string source, std::string expected) {
        cases.push_back({std::move(source), std::move(expected)});
    };
    for (const OpEntry& e : optable) {
        const std::string n(e.name);
        const char* name = n.c_str();
        switch (e.format) {
            case FMT_REGREG:
                for (int r1 : kRegs)
                    for (int r2 : kRegs) {
                        if (n == "jmp") add(Format("jmp $%d, $%d", r1, r2), Format("jmp\t[$%d]", r1));
                        else add(Format("%s $%d, $%d", name, r1, r2), Format("%s\t$%d, $%d", name, r1, r2));
                    }
                break;
            case FMT_IMMREG:
                for (int v : kImm5)
                    for (int r2 : kRegs)
                        add(Format("%s %d, $%d", name, v, r2), Format("%s\t%02i, $%d", name, v & 31, r2));
                break;
            case FMT_BCOND:
                for (int v : kDisp9)
                    add(Format("%s %d", name, v),
                        n == "nop" ? std::string("nop\t0000") : Format("%s\t%04i", name, v & 0x1FF));
                break;
            case FMT_JUMP26:
                for (int v : kDisp26) add(Format("%s %d", name, v), Format("%s\t%08x", name, v & 0x3FFFFFF));
                break;
            case FMT_IMM16:
            case FMT_LOAD:
                for (int v : kImm16)
                    for (int r : kRegs) {
                        int r1 = r, r2 = 31 - r;
                        std::string src = Format("%s %d, $%d, $%d", name, v, r1, r2);
                        if (e.format == FMT_IMM16)
                            add(src, Format("%s\t%i, $%d, $%d", name, v & 0xFFFF, r1, r2));
                        else
                            add(src, Format("%s\t%i[$%d], $%d", name, v & 0xFFFF, r1, r2));
                    }
                break;
            case FMT_STORE:
                for (int v : kImm16)
                    for (int r : kRegs) {
                        int r2 = r, r1 = 31 - r;
                        add(Format("%s $%d, %d[$%d]", name, r2, v, r1),
                            Format("%s\t$%d, %i[$%d]", name, r2, v & 0xFFFF, r1));
                    }
                break;
            case FMT_SPECIAL:
                if (n == "trap") {
                    for (int v : kTrap) add(Format("trap %d", v), Format("trap\t0x%04x", v & 0x3FF));
                } else {
                    add(n, n);
                }
                break;
            default:  // group entries: their members follow
                break;
        }
    }
    for (const OpEntry& e : fptable) {
        if (e.flags & kExtension) continue;  // the classic listing shows these as nop
        const std::string n(e.name);
        for (int r1 : kRegs)
            for (int r2 : kRegs)
                add(Format("%s $%d, $%d", n.c_str(), r1, r2), Format("%s\t$%d, $%d", n.c_str(), r1, r2));
    }
    for (const OpEntry& e : bstable) add(std::string(e.name), std::string(e.name));
    return cases;
}

TEST(RoundTripTest, EveryMnemonicListsBackWithItsFields) {
    std::vector<Case> cases = Cases();
    ASSERT_GT(cases.size(), 1000u);
    for (const Case& c : cases) {
        test::Run assembled = test::AssembleText(c.source + "\n");
        // Values cut to their field are warned about, and still encode.
        ASSERT_EQ(assembled.nErrors, 0) << c.source;
        ASSERT_EQ(assembled.output.find("Error"), std::string::npos) << c.source;
        ASSERT_EQ(assembled.result, 1) << c.source;
        std::string listing;
        test::ListImage(assembled.bytes, 0, 1, listing);
        EXPECT_EQ(listing, "\n0x00000000\t" + c.expected) << c.source;
    }
}

}  // namespace
}  // namespace tarvo
