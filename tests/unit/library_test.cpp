// The library through its public header only.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "tarvo/tarvo.h"

namespace {

using tarvo::AssembleOptions;
using tarvo::Message;
using tarvo::Name;

const Name* Find(const tarvo::AssembleResult& r, const std::string& name, Name::Kind kind) {
    for (const Name& n : r.names)
        if (n.name == name && n.kind == kind) return &n;
    return nullptr;
}

std::string Places(const std::vector<tarvo::Place>& places) {
    std::string s;
    for (const tarvo::Place& p : places)
        s += p.file + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) + "-" + std::to_string(p.columnEnd) + " ";
    return s;
}

// Files an editor holds, standing in for the disk.
tarvo::FileReader Buffers(std::map<std::string, std::string> files) {
    return [files](const std::string& path) -> std::optional<std::string> {
        const auto found = files.find(path);
        if (found == files.end()) return std::nullopt;
        return found->second;
    };
}

TEST(Library, AssemblesTheDefaultLanguageWithItsMessagesNamesAndLines) {
    const std::string main =
        "lb. start\n"
        "        mov $1, $2\n"
        "        inc. \"lib.s\"\n"
        "        bne @start\n"
        "        movea 99999999, $0, $1\n";
    const auto read = Buffers({{"lib.s", "lb. helper\n        jmp [r99]\n        bne @start\n"}});
    const tarvo::AssembleResult r = tarvo::Assemble(main, "main.s", {}, read);
    EXPECT_EQ(r.errors, 1);
    EXPECT_TRUE(r.image.empty()) << "no object after errors";
    EXPECT_EQ(r.base, 0x07000000u);
    ASSERT_EQ(r.messages.size(), 2u);
    // An error in the included file: at its token there, and at the include in main.s.
    const Message& inc = r.messages[0];
    EXPECT_EQ(inc.severity, Message::Severity::kError);
    EXPECT_EQ(inc.text, "Invalid Opcode (jmp)");
    EXPECT_EQ(inc.printed, "Error in line 2: Invalid Opcode (jmp)");
    EXPECT_EQ(Places({inc.place, inc.top}), "lib.s:2:8-11 main.s:3:13-20 ");
    const Message& cut = r.messages[1];
    EXPECT_EQ(cut.severity, Message::Severity::kWarning);
    EXPECT_EQ(Places({cut.place}), "main.s:5:14-22 ");

    const Name* start = Find(r, "start", Name::Kind::kLabel);
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(start->value, 0x07000000);
    EXPECT_EQ(Places({start->defined}), "main.s:1:4-9 ");
    EXPECT_EQ(Places(start->uses), "main.s:4:13-18 lib.s:3:13-18 ");
    const Name* lib = Find(r, "lib.s", Name::Kind::kFile);
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(Places(lib->uses), "main.s:3:13-20 ");

    ASSERT_FALSE(r.lines.empty());
    EXPECT_EQ(r.lines[0].file, "main.s");
    EXPECT_EQ(r.lines[0].line, 2);
    EXPECT_EQ(r.lines[0].address, 0x07000000u);
    EXPECT_EQ(r.lines[0].bytes, (std::vector<std::uint8_t>{0x41, 0x00}));
}

TEST(Library, OptionsAreTheCommandLinesOwn) {
    AssembleOptions strict;
    strict.strict = true;
    EXPECT_EQ(tarvo::Assemble(" add 16, $6\n", "a.s", strict).errors, 1);
    AssembleOptions keep;
    keep.keepObject = true;
    keep.defines = {{"N", "0x12"}};
    const auto r = tarvo::Assemble(" db. N\n jmp\n", "a.s", keep);
    EXPECT_EQ(r.errors, 1);
    EXPECT_EQ(r.image, (std::vector<std::uint8_t>{0x12}));
    AssembleOptions outputs;
    outputs.symbols = outputs.deps = outputs.listing = true;
    outputs.quiet = true;
    const auto o = tarvo::Assemble("x: nop\n", "a.s", outputs);
    EXPECT_EQ(o.symbolFile, "07000000 x\n");
    EXPECT_EQ(o.depsFile, "output.obj: a.s\n");
    EXPECT_NE(o.listing.find("00000000  00 9a"), std::string::npos) << o.listing;
    EXPECT_EQ(o.output.find("Label:"), std::string::npos);
}

TEST(Library, AnIncludeCycleThroughTheReaderIsFound) {
    const std::string text = "nop\ninc. \"self.s\"\n";
    const auto r = tarvo::Assemble(text, "self.s", {}, Buffers({{"self.s", text}}));
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].text, "Recursive include of \"self.s\" file.");
}

TEST(Library, AssemblesGnuSyntax) {
    AssembleOptions gnu;
    gnu.syntax = tarvo::Syntax::kGnu;
    const auto r = tarvo::Assemble("x:\tmov 99, r1\n\t.hword 7\n\tbr x\n", "g.s", gnu);
    EXPECT_EQ(r.errors, 0);
    EXPECT_EQ(r.image, (std::vector<std::uint8_t>{0x23, 0x40, 0x07, 0x00, 0xfc, 0x8b}));
    // Each statement its own bytes, also where known bytes follow each other.
    ASSERT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[1].address, 0x07000002u);
    EXPECT_EQ(r.lines[1].bytes, (std::vector<std::uint8_t>{0x07, 0x00}));
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].severity, Message::Severity::kWarning);
    EXPECT_EQ(r.messages[0].printed.rfind("g.s:1: Warning: ", 0), 0u) << r.messages[0].printed;
    const Name* x = Find(r, "x", Name::Kind::kLabel);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(Places(x->uses), "g.s:3:4-5 ");
}

TEST(Library, DecodesInEachForm) {
    // The last word is a nop with a displacement: no source line gives it back.
    const std::uint8_t bytes[] = {0x20, 0xbc, 0x34, 0x12, 0xfe, 0x95, 0x01, 0x64, 0x43, 0xcc, 0xfc, 0xff, 0x02, 0x9a, 0xff};
    struct Row {
        tarvo::Form form;
        const char* texts;
    };
    const Row rows[] = {
        {tarvo::Form::kListing, "movhi 4660, $0, $1|bne 0510|reti|ld.w 65532[$3], $2|nop 0002|db. 255|"},
        {tarvo::Form::kSource, "movhi 4660, $0, $1|bne -2|reti|ld.w -4[$3], $2|db. 2, 154|db. 255|"},
        {tarvo::Form::kGnu, "movhi 0x1234, r0, r1|bne 0x7000002|brkret|ld.w -4[r3], r2|nop|.byte 255|"},
    };
    for (const Row& row : rows) {
        std::string texts;
        for (const tarvo::Instruction& in : tarvo::Disassemble(bytes, 0x07000000, row.form)) texts += in.text + "|";
        EXPECT_EQ(texts, row.texts);
    }
    const auto first = tarvo::Disassemble(bytes, 0x8000, tarvo::Form::kGnu).front();
    EXPECT_EQ(first.address, 0x8000u);
    EXPECT_EQ(first.size, 4);
    EXPECT_EQ(first.mnemonic, "movhi");
    EXPECT_EQ(first.operands, (std::vector<std::string>{"0x1234", "r0", "r1"}));
}

TEST(Library, VocabularyFollowsTheLanguage) {
    const tarvo::Words tarvoWords = tarvo::Vocabulary(tarvo::Syntax::kDefault);
    const tarvo::Words gnuWords = tarvo::Vocabulary(tarvo::Syntax::kGnu);
    auto has = [](const std::vector<std::string>& v, const char* w) { return std::find(v.begin(), v.end(), w) != v.end(); };
    EXPECT_TRUE(has(tarvoWords.mnemonics, "ei") && !has(gnuWords.mnemonics, "ei"));
    EXPECT_TRUE(has(gnuWords.mnemonics, "brkret") && has(gnuWords.directives, ".macro"));
    EXPECT_TRUE(has(tarvoWords.directives, "macro.") && has(tarvoWords.registers, "$31"));
    EXPECT_TRUE(has(gnuWords.systemRegisters, "psw") && has(gnuWords.conditions, "nz"));
}

}  // namespace

namespace {

TEST(Library, LinksGnuProjectsFromTheReadersFiles) {
    AssembleOptions link;
    link.syntax = tarvo::Syntax::kGnu;
    link.moreSources = {"lib.s"};
    link.script = "rom.ld";
    link.gapFill = 0xFF;
    const auto read = Buffers({
        {"lib.s", "\t.global f\n\t.text\nf:\tjmp [lp]\n"},
        {"rom.ld", "SECTIONS { .text 0x8000 : { *(.text) } }\n"},
    });
    const auto r = tarvo::Assemble("\t.text\n_start:\tjal f\n", "crt.s", link, read);
    EXPECT_EQ(r.errors, 0) << (r.messages.empty() ? "" : r.messages[0].printed);
    EXPECT_EQ(r.base, 0x8000u);
    // jal f: f follows at 0x8004, 4 bytes on; then jmp [r31].
    EXPECT_EQ(r.image, (std::vector<std::uint8_t>{0x00, 0xac, 0x04, 0x00, 0x1f, 0x18}));
    const Name* f = Find(r, "f", Name::Kind::kLabel);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->value, 0x8004);
    EXPECT_EQ(Places({f->defined}), "lib.s:3:0-1 ");
    EXPECT_EQ(Places(f->uses), "crt.s:2:12-13 lib.s:1:9-10 ");
    EXPECT_EQ(r.files, (std::vector<std::string>{"crt.s", "lib.s", "rom.ld"}));
}

}  // namespace
