// The linking room. The two projects in gnu-projects/ are built here as units
// by hand (sizes, alignments and names as GNU as gives them for those
// sources); the addresses and bytes expected come from decoding the
// expected.bin files GNU as, ld and objcopy made of them.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "link/link.h"

namespace tarvo::link {
namespace {

InputSection Code(std::string name, std::uint64_t size, std::uint64_t align = 2) {
    return {std::move(name), size, align, true, true, false, true};
}
InputSection Rodata(std::string name, std::uint64_t size, std::uint64_t align = 1) {
    return {std::move(name), size, align, true, true, false, false};
}
InputSection Data(std::string name, std::uint64_t size, std::uint64_t align = 1) {
    return {std::move(name), size, align, true, true, true, false};
}
InputSection Bss(std::string name, std::uint64_t size, std::uint64_t align = 1) {
    return {std::move(name), size, align, true, false, true, false};
}
InputSymbol Global(std::string name, int section, std::int64_t value, int line = 1) {
    return {std::move(name), section, value, InputSymbol::kGlobal, Place{"", line}};
}
InputSymbol Weak(std::string name, int section, std::int64_t value, int line = 1) {
    return {std::move(name), section, value, InputSymbol::kWeak, Place{"", line}};
}
void Uses(Unit& u, std::initializer_list<std::string> names) {
    for (const std::string& n : names) u.undefined.push_back({n, Place{u.path, 1}, false});
}
void Finish(Unit& u) {
    for (InputSymbol& s : u.symbols) s.where.file = u.path;
}

struct Linked {
    bool ok = false;
    Layout layout;
    std::vector<Diagnostic> diags;
    std::string Messages() const {
        std::string all;
        for (const Diagnostic& d : diags)
            all += d.where.file + ":" + std::to_string(d.where.line) + ": " + (d.error ? "" : "warning: ") + d.text +
                   "\n";
        return all;
    }
    std::int64_t Name(const std::string& n) const {
        const auto it = layout.names.find(n);
        EXPECT_NE(it, layout.names.end()) << n;
        return it == layout.names.end() ? -1 : it->second;
    }
    void ExpectNames(const std::map<std::string, std::int64_t>& names) const {
        for (const auto& [name, value] : names) EXPECT_EQ(Name(name), value) << name;
    }
    const OutputSection* Section(const std::string& n) const {
        for (const OutputSection& s : layout.sections)
            if (s.name == n) return &s;
        return nullptr;
    }
};

// Links units with a script (empty: the built-in layout) and the files an
// INCLUDE may read.
Linked LinkWith(const std::vector<Unit>& units, const std::string& script,
             std::map<std::string, std::string> files = {}, Options options = {}) {
    if (!script.empty()) {
        files["test.ld"] = script;
        options.script = true;
        options.scriptPath = "test.ld";
    }
    options.readFile = [files](const std::string& path, std::string& text) {
        const auto it = files.find(path);
        if (it == files.end()) return false;
        text = it->second;
        return true;
    };
    Linked r;
    r.ok = Link(units, options, r.layout, r.diags);
    return r;
}

// Fake contents: every byte of input section s of unit u is 0x10 * (u + 1) + s.
std::uint8_t FakeByte(int u, int s) { return static_cast<std::uint8_t>(0x10 * (u + 1) + s); }
Contents Fake(const std::vector<Unit>& units) {
    auto store = std::make_shared<std::vector<std::vector<std::vector<std::uint8_t>>>>();
    for (std::size_t u = 0; u < units.size(); ++u) {
        store->emplace_back();
        for (std::size_t s = 0; s < units[u].sections.size(); ++s)
            store->back().emplace_back(units[u].sections[s].size,
                                       FakeByte(static_cast<int>(u), static_cast<int>(s)));
    }
    return [store](int u, int s) -> std::span<const std::uint8_t> {
        return (*store)[static_cast<std::size_t>(u)][static_cast<std::size_t>(s)];
    };
}

// An image described by runs of one byte.
std::vector<std::uint8_t> Runs(std::initializer_list<std::pair<std::size_t, std::uint8_t>> runs) {
    std::vector<std::uint8_t> out;
    for (const auto& [count, byte] : runs) out.insert(out.end(), count, byte);
    return out;
}

const char* const kOwnRom = R"(/* own_rom.ld of gnu-projects/two-files */
OUTPUT_FORMAT("elf32-v810")
OUTPUT_ARCH(v810)
ENTRY(_start)

MEMORY
{
  rom  (rx)  : ORIGIN = 0x07000000, LENGTH = 4K
  wram (rwx) : ORIGIN = 0x05000000, LENGTH = 64K
}
REGION_ALIAS("REGION_CODE", rom);
REGION_ALIAS("REGION_RAM", wram);

__stack_top = ORIGIN(wram) + LENGTH(wram) - 0x40;

SECTIONS
{
  .text :
  {
    KEEP (*(.text.start))
    *(.text .text.*)
    . = ALIGN(4);
  } > REGION_CODE =0xffff

  .rodata ALIGN(4) :
  {
    *(SORT(.rodata.*))
    *(.rodata)
    PROVIDE_HIDDEN (__rodata_end = .);
  } > REGION_CODE

  .data :
  {
    __data_start = .;
    *(.data .data.*)
    . = ALIGN(4);
    __data_end = .;
  } > REGION_RAM AT> REGION_CODE
  __data_load = LOADADDR(.data);

  .bss (NOLOAD) :
  {
    __bss_start = .;
    *(.bss .bss.*)
    *(COMMON)
    . = ALIGN(4);
    __bss_end = .;
  } > REGION_RAM

  .vectors ORIGIN(rom) + LENGTH(rom) - 0x200 :
  {
    KEEP (*(.vectors))
  } > REGION_CODE

  /DISCARD/ : { *(.comment) *(.note*) }

  ASSERT(__data_load + SIZEOF(.data) <= ADDR(.vectors), "ROM code and data overlap the vectors")
  ASSERT(__stack_top > __bss_end, "no room for the stack")
}
)";

// own_crt0.s and own_lib.s as GNU as assembles them: .text, .data and .bss
// always, then the sections in order of appearance.
std::vector<Unit> TwoFiles() {
    Unit crt0{"own_crt0.s", {Code(".text", 0, 1), Data(".data", 0), Bss(".bss", 0), Code(".text.start", 0x66),
                             Code(".vectors", 0x200)},
              {Global("_start", 3, 0, 7), Global("crt_fail", 3, 0x62, 40)},
              {}};
    Uses(crt0, {"__stack_top", "__data_load", "__data_start", "__data_end", "__bss_start", "__bss_end", "lib_init",
                "lib_step"});
    Unit lib{"own_lib.s",
             {Code(".text", 0x3a), Data(".data", 0x14, 4), Bss(".bss", 0x18, 4), Rodata(".rodata.tables", 16, 4),
              Rodata(".rodata.strings", 15)},
             {Global("lib_init", 0, 0, 7), Global("lib_step", 0, 0x16, 17), Global("state", 1, 0, 42)},
             {}};
    Uses(lib, {"crt_fail", "_start"});
    Finish(crt0);
    Finish(lib);
    return {crt0, lib};
}

TEST(LinkProjects, TwoFilesPlacesAsGnuLd) {
    const std::vector<Unit> units = TwoFiles();
    const Linked r = LinkWith(units, kOwnRom);
    ASSERT_TRUE(r.ok) << r.Messages();
    EXPECT_EQ(r.Messages(), "");
    // From the movhi/movea pairs and the .word table of expected.bin.
    r.ExpectNames({{"__stack_top", 0x0500FFC0},
                   {"__data_load", 0x070000C0},
                   {"__data_start", 0x05000000},
                   {"__data_end", 0x05000014},
                   {"__bss_start", 0x05000014},
                   {"__bss_end", 0x0500002C},
                   {"lib_init", 0x07000066},
                   {"lib_step", 0x0700007C},
                   {"_start", 0x07000000},
                   {"crt_fail", 0x07000062},
                   {"state", 0x05000000}});
    // Nothing uses __rodata_end: PROVIDE_HIDDEN leaves it undefined.
    EXPECT_EQ(r.layout.names.count("__rodata_end"), 0u);
    // banner (.rodata.strings) sorts before steps (.rodata.tables).
    EXPECT_EQ(r.layout.inputs[1][4].vma, 0x070000A0u);
    EXPECT_EQ(r.layout.inputs[1][3].vma, 0x070000B0u);
    EXPECT_EQ(r.layout.inputs[1][1].lma, 0x070000C0u);
    EXPECT_EQ(r.layout.inputs[0][4].vma, 0x07000E00u);
    ASSERT_NE(r.Section(".bss"), nullptr);
    EXPECT_FALSE(r.Section(".bss")->load);
    EXPECT_EQ(r.Section(".bss")->size, 0x18u);

    Image image;
    std::vector<Diagnostic> diags;
    ASSERT_TRUE(MakeImage(r.layout, Fake(units), 0xFF, image, diags));
    EXPECT_EQ(image.start, 0x07000000u);
    // .text: crt0's .text.start, lib's .text; .rodata: the string (15 bytes),
    // one byte of .rodata's fill (none given: 0), the table; .data from its
    // LMA; --gap-fill up to the vectors in the last 0x200 bytes.
    const std::vector<std::uint8_t> expected = Runs({{0x66, FakeByte(0, 3)},
                                                     {0x3A, FakeByte(1, 0)},
                                                     {15, FakeByte(1, 4)},
                                                     {1, 0x00},
                                                     {16, FakeByte(1, 3)},
                                                     {0x14, FakeByte(1, 1)},
                                                     {0xE00 - 0xD4, 0xFF},
                                                     {0x200, FakeByte(0, 4)}});
    EXPECT_EQ(image.bytes, expected);
}

// pcfx_default.s as GNU as assembles it.
Unit PcfxDefault() {
    Unit u{"pcfx_default.s",
           {Code(".text", 0x5A), Data(".data", 8), Bss(".bss", 64), Rodata(".rodata", 0x18, 4), Data(".tdata", 4),
            Data(".sdata", 4), Rodata(".rozdata", 2), Bss(".sbss", 8)},
           {Global("_start", 0, 0, 4)},
           {}};
    Uses(u, {"__stack", "__gp", "__tp", "__bss_start", "__end"});
    Finish(u);
    return u;
}

TEST(LinkProjects, PcfxDefaultLayout) {
    const std::vector<Unit> units = {PcfxDefault()};
    const Linked r = LinkWith(units, "");
    ASSERT_TRUE(r.ok) << r.Messages();
    EXPECT_EQ(r.Messages(), "");
    // movhi/movea pairs: __stack 0x200000, __gp 0x10088, __tp 0x8080,
    // __bss_start 0x80E8, __end 0x8130; jal helper and the .word table put
    // .text at 0x8000, message at 0x805C, counter (sdaoff -0x7FAC) at 0x80DC.
    r.ExpectNames({{"__stack", 0x200000},
                   {"__gp", 0x10088},
                   {"__tp", 0x8080},
                   {"__bss_start", 0x80E8},
                   {"__end", 0x8130},
                   {"_start", 0x8000}});
    const auto& in = r.layout.inputs[0];
    EXPECT_EQ(in[0].vma, 0x8000u);  // .text
    EXPECT_EQ(in[3].vma, 0x805Cu);  // .rodata
    EXPECT_EQ(in[1].vma, 0x8074u);  // .data: the table's address is stored there
    EXPECT_EQ(in[4].vma, 0x8080u);  // .tdata: tdaoff(tvalue) is 0
    EXPECT_EQ(in[5].vma, 0x80DCu);  // .sdata after its 0x54 free bytes
    EXPECT_EQ(in[6].vma, 0u);       // .rozdata: zdaoff(zvalue) is 0
    EXPECT_EQ(in[6].lma, 0x80E0u);  // loaded at __edata
    EXPECT_EQ(in[7].vma, 0x80E0u);  // .sbss
    EXPECT_EQ(in[2].vma, 0x80E8u);  // .bss

    Image image;
    std::vector<Diagnostic> diags;
    ASSERT_TRUE(MakeImage(r.layout, Fake(units), std::nullopt, image, diags));
    EXPECT_EQ(image.start, 0x8000u);
    const std::vector<std::uint8_t> expected = Runs({{0x5A, FakeByte(0, 0)},
                                                     {2, 0},
                                                     {0x18, FakeByte(0, 3)},
                                                     {8, FakeByte(0, 1)},
                                                     {4, 0},
                                                     {4, FakeByte(0, 4)},
                                                     {4 + 0x54, 0},
                                                     {4, FakeByte(0, 5)},
                                                     {2, FakeByte(0, 6)},
                                                     {6, 0}});
    EXPECT_EQ(image.bytes, expected);
}

TEST(LinkProjects, DefaultLayoutTakesDefsyms) {
    Options o;
    o.defsyms = {{"__load", "0x10000"}, {"__stack", "0x1F0000"}, {"__zdadata", "__load - 0x8000"}};
    const Linked r = LinkWith({PcfxDefault()}, "", {}, o);
    ASSERT_TRUE(r.ok) << r.Messages();
    EXPECT_EQ(r.Name("_start"), 0x10000);
    EXPECT_EQ(r.Name("__stack"), 0x1F0000);
    EXPECT_EQ(r.layout.inputs[0][6].vma, 0x8000u);
}

// Three units that use each other's names: a weak definition that a global
// one overrides, a weak one nothing overrides, a weak reference to nothing.
std::vector<Unit> ThreeUnits() {
    Unit a{"src/a.s", {Code(".text", 0x10)}, {Global("main", 0, 0, 3), Weak("handler", 0, 8, 9)}, {}};
    Uses(a, {"helper", "table", "fallback"});
    a.undefined.push_back({"optional", Place{"src/a.s", 5}, true});
    Unit b{"src/b.s",
           {Code(".text", 0x20), Data(".data", 8, 4)},
           {Global("helper", 0, 4, 2), Global("handler", 0, 0x10, 6), Global("table", 1, 0, 12)},
           {}};
    Uses(b, {"main"});
    Unit c{"src/c.s",
           {Code(".text", 6), Rodata(".rodata", 5, 4)},
           {Weak("fallback", 1, 1, 4), Weak("handler", 0, 0)},
           {}};
    for (Unit* u : {&a, &b, &c}) Finish(*u);
    return {a, b, c};
}

const char* const kThreeUnits = R"(
SECTIONS
{
  .text 0x1000 : { *(.text) }
  .rodata : { *(.rodata) }
  .data ALIGN(0x100) : { *(.data) }
}
)";

TEST(LinkNames, SharedAcrossUnits) {
    const Linked r = LinkWith(ThreeUnits(), kThreeUnits);
    ASSERT_TRUE(r.ok) << r.Messages();
    EXPECT_EQ(r.Name("main"), 0x1000);
    EXPECT_EQ(r.Name("helper"), 0x1014);    // b's .text at 0x1010
    EXPECT_EQ(r.Name("handler"), 0x1020);   // b's global, not a's or c's weak one
    EXPECT_EQ(r.Name("fallback"), 0x1039);  // c's .rodata at 0x1038, after .text ends at 0x1036
    EXPECT_EQ(r.Name("table"), 0x1100);
    EXPECT_EQ(r.Name("optional"), 0);
}

TEST(LinkNames, GlobalDefinedTwiceNamesBothPlaces) {
    std::vector<Unit> units = ThreeUnits();
    Unit d{"src/d.s", {Code(".text", 2)}, {Global("helper", 0, 0, 8)}, {}};
    Finish(d);
    units.push_back(d);
    const Linked r = LinkWith(units, kThreeUnits);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.Messages(), "src/d.s:8: multiple definition of `helper'; first defined at src/b.s:2\n");
}

// ---- link errors: each row a script (and units besides the three) and
// the messages, FILE:LINE as the presenter shows them ----

struct ErrorRow {
    const char* name;
    std::string script;
    std::vector<Unit> extra;
    std::string messages;
    bool ok = false;
};

class LinkErrors : public ::testing::TestWithParam<ErrorRow> {};

TEST_P(LinkErrors, Reported) {
    const ErrorRow& row = GetParam();
    std::vector<Unit> units = ThreeUnits();
    units.insert(units.end(), row.extra.begin(), row.extra.end());
    const Linked r = LinkWith(units, row.script);
    EXPECT_EQ(r.ok, row.ok);
    EXPECT_EQ(r.Messages(), row.messages);
}

const char* const kPlain = "SECTIONS { .text 0x1000 : { *(.text) } .rodata : { *(.rodata) } .data : { *(.data) } }\n";

Unit UsesNowhere() {
    Unit e{"src/e.s", {Code(".text", 2)}, {}, {}};
    e.undefined.push_back({"nowhere", Place{"src/e.s", 7}, false});
    return e;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LinkErrors,
    ::testing::Values(
        ErrorRow{"UndefinedReference", kPlain, {UsesNowhere()}, "src/e.s:7: undefined reference to `nowhere'\n"},
        ErrorRow{"AssertFails",
                 std::string(kPlain) + "ASSERT(SIZEOF(.text) < 0x20, \"text too large\")\n",
                 {},
                 "test.ld:2: text too large\n"},
        // .text (0x36 bytes) passes the end of rom at 0x1030; .rodata and
        // .data follow it to 0x1048.
        ErrorRow{"RegionOverflow",
                 "MEMORY { rom : ORIGIN = 0x1000, LENGTH = 0x30 }\n"
                 "SECTIONS { .text : { *(.text) } > rom\n"
                 "  .rodata : { *(.rodata) } > rom .data : { *(.data) } > rom }\n",
                 {},
                 "test.ld:2: section `.text' will not fit in region `rom'\n"
                 "test.ld:1: region `rom' overflowed by 24 bytes\n"},
        ErrorRow{"AddressOutsideRegion",
                 "MEMORY { rom : ORIGIN = 0x1000, LENGTH = 0x100 }\n"
                 "SECTIONS { .text 0x10F0 : { *(.text) } > rom }\n",
                 {},
                 // The orphans follow .text into its region, past the end.
                 "test.ld:2: address 0x1126 of section `.text' is not within region `rom'\n"
                 "test.ld:0: section `.rodata' will not fit in region `rom'\n"
                 "test.ld:1: region `rom' overflowed by 56 bytes\n"},
        ErrorRow{"CommandNotTaken", "INPUT(crt0.o)\nSECTIONS { }\n", {},
                 "test.ld:1: `INPUT' is not a linker script command tarvo takes\n"},
        ErrorRow{"OverlayNotTaken", "SECTIONS {\n  OVERLAY : { .a { *(.a) } }\n}\n", {},
                 "test.ld:2: `OVERLAY' is not a linker script command tarvo takes\n"},
        ErrorRow{"RefusedInsideSections", "SECTIONS {\n  NOCROSSREFS(.text .data)\n}\n", {},
                 "test.ld:2: `NOCROSSREFS' is not a linker script command tarvo takes\n"},
        ErrorRow{"TopLevelInsideSections", "SECTIONS {\n  MEMORY { }\n}\n", {},
                 "test.ld:2: expected an output section before `MEMORY'\n"},
        ErrorRow{"UnknownWord", "SECTIONS { }\nSTARTUP_CODE\n", {},
                 "test.ld:2: `STARTUP_CODE' is not a linker script command tarvo takes\n"},
        ErrorRow{"TypeNotTaken", "SECTIONS {\n .info (INFO) : { *(.text) } }\n", {},
                 "test.ld:2: `INFO' is not a linker script command tarvo takes\n"},
        ErrorRow{"FunctionNotTaken", "x = NEXT(4);\n", {},
                 "test.ld:1: `NEXT' is not a linker script function tarvo takes\n"},
        ErrorRow{"UnknownFunction", "\nx = FOO(1);\n", {}, "test.ld:2: unknown function `FOO' in an expression\n"},
        ErrorRow{"MissingSemicolon", "SECTIONS { .text : { x = . } }\n", {},
                 "test.ld:1: expected `;' before `}'\n"},
        ErrorRow{"OpenComment", "SECTIONS { }\n/* no end\n\n", {}, "test.ld:2: comment without an end\n"},
        ErrorRow{"BadNumber", "x = 12ab;\n", {}, "test.ld:1: bad number `12ab'\n"},
        ErrorRow{"UndefinedInExpression", std::string(kPlain) + "x = nowhere + 1;\n", {},
                 "test.ld:2: undefined symbol `nowhere' referenced in expression\n"},
        // ld's first phase: neither name has a value when it is read.
        ErrorRow{"SelfReference", std::string(kPlain) + "x = x + 1;\n", {},
                 "test.ld:2: undefined symbol `x' referenced in expression\n"},
        ErrorRow{"Cycle", std::string(kPlain) + "a = b;\nb = a;\n", {},
                 "test.ld:2: undefined symbol `b' referenced in expression\n"
                 "test.ld:3: undefined symbol `a' referenced in expression\n"},
        ErrorRow{"DivisionByZero", std::string(kPlain) + "x = 1 / (2 - 2);\n", {}, "test.ld:2: division by zero\n"},
        // 0x10 bytes in, then a, b and c's .text to 0x1046.
        ErrorRow{"DotBackwards", "SECTIONS { .text 0x1000 : { . = 0x10; *(.text) . = 0x8; } }\n", {},
                 "test.ld:1: cannot move location counter backwards (from 0x1046 to 0x1008)\n"},
        ErrorRow{"UsedButDiscarded", "SECTIONS { .text 0x1000 : { *(.text) } /DISCARD/ : { *(.rodata) } }\n", {},
                 "src/a.s:1: `fallback' is used, but defined in section `.rodata' of src/c.s, which /DISCARD/ drops\n"},
        ErrorRow{"UnknownRegionInExpression", std::string(kPlain) + "x = ORIGIN(ram);\n", {},
                 "test.ld:2: memory region `ram' is not defined\n"},
        ErrorRow{"UndeclaredRegion", "SECTIONS { .text : { *(.text) } > nowhere }\n", {},
                 "test.ld:1: warning: memory region `nowhere' is not declared; it takes every address\n", true},
        ErrorRow{"NoRegionFits",
                 "MEMORY { ram (w) : ORIGIN = 0x100, LENGTH = 0x1000 }\nSECTIONS { .text : { *(.text) } }\n", {},
                 "test.ld:2: no memory region given for loadable section `.text'\n"},
        ErrorRow{"RegionTwice", "MEMORY { a : o = 0, l = 1\n a : o = 2, l = 1 }\n", {},
                 "test.ld:2: memory region `a' is defined twice\n"},
        ErrorRow{"AliasOfNothing", "REGION_ALIAS(\"code\", rom)\n", {},
                 "test.ld:1: memory region `rom' is not defined\n"},
        ErrorRow{"BothLoadAddresses",
                 "MEMORY { rom : o = 0, l = 1K }\nSECTIONS { .text : AT(0x100) { *(.text) } AT> rom }\n", {},
                 "test.ld:2: section `.text' has both a load address and a load region\n"},
        ErrorRow{"EntryNotFound", std::string(kPlain) + "ENTRY(start)\n", {},
                 "test.ld:2: warning: cannot find entry symbol start\n", true},
        ErrorRow{"MissingInclude", "INCLUDE other.ld\n", {}, "test.ld:1: cannot read linker script other.ld\n"},
        ErrorRow{"LoadAddressesOverlap",
                 "SECTIONS { .text 0x1000 : { *(.text) } .data 0x2000 : AT(0x1010) { *(.data) }\n"
                 "  .rodata 0x3000 : { *(.rodata) } }\n",
                 {},
                 "test.ld:1: section `.data' LMA [0x1010,0x1017] overlaps section `.text' LMA [0x1000,0x1035]\n"},
        ErrorRow{"AlignNotPowerOf2", "SECTIONS { .text 0x1000 : ALIGN(3) { *(.text) } }\n", {},
                 "test.ld:1: alignment 3 is not a power of 2\n"},
        ErrorRow{"FillNotConstant", "SECTIONS { .text 0x1000 : { *(.text) } =x }\nx = 1;\n", {},
                 "test.ld:1: the fill value is not a constant\n"},
        // Each pass makes .text longer than the last.
        ErrorRow{"NeverSettles", "SECTIONS { .text 0x1000 : { *(.text) . += SIZEOF(.text); } }\n", {},
                 ":0: addresses do not settle after 16 passes\n"}),
    [](const ::testing::TestParamInfo<ErrorRow>& info) { return std::string(info.param.name); });

TEST(LinkErrors, ScriptThatCannotBeRead) {
    Options o;
    o.script = true;
    o.scriptPath = "missing.ld";
    o.readFile = [](const std::string&, std::string&) { return false; };
    Layout layout;
    std::vector<Diagnostic> diags;
    EXPECT_FALSE(Link(ThreeUnits(), o, layout, diags));
    ASSERT_EQ(diags.size(), 1u);
    EXPECT_EQ(diags[0].where.file, "missing.ld");
    EXPECT_EQ(diags[0].text, "cannot read linker script missing.ld");
}

// ---- the script reader, command family by command family ----

// Operators, their levels, and numbers as ld reads them; values are ld's
// unsigned 64 bits (here as signed).
struct ExprRow {
    const char* text;
    std::int64_t value;
};
class LinkExpressions : public ::testing::TestWithParam<ExprRow> {};

TEST_P(LinkExpressions, Value) {
    const Linked r = LinkWith({}, std::string("v = ") + GetParam().text + ";\nSECTIONS { }\n");
    ASSERT_TRUE(r.ok) << r.Messages();
    EXPECT_EQ(r.Name("v"), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LinkExpressions,
    ::testing::Values(ExprRow{"1 + 2 * 3", 7}, ExprRow{"(1 + 2) * 3", 9}, ExprRow{"10 - 4 - 3", 3},
                      ExprRow{"1 << 4 | 1", 17}, ExprRow{"6 & 3 ^ 1", 3}, ExprRow{"1 | 2 ^ 3", 1},
                      ExprRow{"5 > 3 ? 0x10 : 0x20", 0x10}, ExprRow{"0 ? 1 : 0 ? 2 : 3", 3},
                      ExprRow{"4K + 1M", 0x101000}, ExprRow{"0x10k", 0x4000}, ExprRow{"010", 8},
                      ExprRow{"08", 0}, ExprRow{"20h", 32}, ExprRow{"101b", 5}, ExprRow{"17o", 15},
                      ExprRow{"$FF", 255}, ExprRow{"-1 >> 60", 15}, ExprRow{"-8 / 3", -2}, ExprRow{"-7 % 3", -1},
                      ExprRow{"!0 + ~0", 0}, ExprRow{"3 == 3 && 2 != 2 || 1", 1}, ExprRow{"-1 > 1", 1},
                      ExprRow{"1 < 2 < 3", 1}, ExprRow{"2 >= 2 <= 0", 0}, ExprRow{"MAX(3, 9) + MIN(3, 9)", 12},
                      ExprRow{"LOG2CEIL(17) + LOG2CEIL(16)", 9}, ExprRow{"ALIGN(0x1003, 16)", 0x1010},
                      ExprRow{"ABSOLUTE(-(+2))", -2}, ExprRow{"0x10 % 3 /* a comment */", 1},
                      ExprRow{"DEFINED(v) ? 1 : 2", 2}));

// The location counter, numbers inside sections (offsets in the section),
// ALIGN, ADDR, SIZEOF, and orphans: c's .rodata, which no pattern takes,
// follows .text (the output with the closest flags) and its assignments,
// before .data.
TEST(LinkScript, SymbolsAndLocationCounter) {
    const Linked r = LinkWith(ThreeUnits(), R"(
SECTIONS
{
  . = 0x2000;
  start = .;
  .text : { t0 = .; *(.text) t1 = .; . = ALIGN(0x40); t2 = .; rel = 0x10; abs = ABSOLUTE(0x10); }
  after = .;
  .data : { *(.data) }
  x = ADDR(.data) + SIZEOF(.text);
})");
    ASSERT_TRUE(r.ok) << r.Messages();
    r.ExpectNames({{"start", 0x2000},
                   {"t0", 0x2000},
                   {"t1", 0x2036},
                   {"t2", 0x2040},
                   {"rel", 0x2010},
                   {"abs", 0x10},
                   {"after", 0x2040},
                   {"table", 0x2048},
                   {"fallback", 0x2041},
                   {"x", 0x2088}});
    ASSERT_EQ(r.layout.sections.size(), 3u);
    EXPECT_EQ(r.layout.sections[1].name, ".rodata");
    EXPECT_EQ(r.layout.sections[1].vma, 0x2040u);
}

TEST(LinkScript, ProvideDefinedAndDefsym) {
    Options o;
    o.defsyms = {{"fromCmd", "0x21"}};
    const Linked r = LinkWith(ThreeUnits(), R"(
PROVIDE(main = 0x9999);
PROVIDE(unused = 1);
PROVIDE(stack = 0x500);
top = stack + 1;
d1 = DEFINED(main);
d2 = DEFINED(later);
later = 5;
d3 = DEFINED(later);
twice = fromCmd * 2;
SECTIONS { .text 0x1000 : { *(.text) } .rodata : { *(.rodata) } .data : { *(.data) } }
)",
                              {}, o);
    ASSERT_TRUE(r.ok) << r.Messages();
    // main: a unit defines it, PROVIDE does nothing; unused: nothing uses it.
    r.ExpectNames({{"main", 0x1000},
                   {"stack", 0x500},
                   {"top", 0x501},
                   {"d1", 1},
                   {"d2", 0},
                   {"d3", 1},
                   {"twice", 0x42},
                   {"fromCmd", 0x21}});
    EXPECT_EQ(r.layout.names.count("unused"), 0u);
}

// Sections without a region take the first region whose attributes fit
// them: code the rx region, data the w one, read-only data the rx one (BFD
// calls read-only data "data" too: with ram first, it would go there).
TEST(LinkScript, MemoryAttributes) {
    const Linked r = LinkWith(ThreeUnits(), R"(
MEMORY
{
  io (!rwx) : o = 0x02000000, len = 0x100
  rom (rx) : org = 0x07000000, l = 1M
  ram (w) : ORIGIN = 0x05000000, LENGTH = 64K
}
SECTIONS { .text : { *(.text) } }
romEnd = ORIGIN(rom) + LENGTH(rom);
)");
    ASSERT_TRUE(r.ok) << r.Messages();
    EXPECT_EQ(r.Name("helper"), 0x07000014);
    EXPECT_EQ(r.Name("table"), 0x05000000);
    EXPECT_EQ(r.Name("fallback"), 0x07000039);
    EXPECT_EQ(r.Name("romEnd"), 0x07100000);
}

// Load addresses: AT> into another region, carried to the next section of
// the same region; AT(); data statements little-endian.
TEST(LinkScript, LoadAddressesAndData) {
    const std::vector<Unit> units = ThreeUnits();
    const Linked r = LinkWith(units, R"(
MEMORY { rom : ORIGIN = 0x1000, LENGTH = 0x1000
         ram : ORIGIN = 0x8000, LENGTH = 0x100 }
REGION_ALIAS("CODE", rom);
REGION_ALIAS("ALSO", CODE);
SECTIONS
{
  .text : { *(.text) } > ALSO
  .data : { *(.data) } > ram AT> rom
  .rodata : { *(.rodata) } > ram
  .extra 0x9000 : AT(0x3000) { LONG(0x11223344) BYTE(0x55) SHORT(table) }
  dl = LOADADDR(.data);
  rl = LOADADDR(.rodata);
  el = LOADADDR(.extra);
  also = ORIGIN(ALSO) + LENGTH(ALSO);
}
)");
    ASSERT_TRUE(r.ok) << r.Messages();
    EXPECT_EQ(r.Name("table"), 0x8000);
    EXPECT_EQ(r.Name("fallback"), 0x8009);
    // Another region's LMA takes only an ALIGN() the statement gives.
    EXPECT_EQ(r.Name("dl"), 0x1036);
    EXPECT_EQ(r.Name("rl"), 0x103E);
    EXPECT_EQ(r.Name("el"), 0x3000);
    EXPECT_EQ(r.Name("also"), 0x2000);
    Image image;
    std::vector<Diagnostic> diags;
    ASSERT_TRUE(MakeImage(r.layout, Fake(units), std::nullopt, image, diags));
    EXPECT_EQ(image.start, 0x1000u);
    ASSERT_EQ(image.bytes.size(), 0x2007u);
    EXPECT_EQ(image.bytes[0x35], FakeByte(2, 0));
    EXPECT_EQ(image.bytes[0x36], FakeByte(1, 1));
    EXPECT_EQ(image.bytes[0x3E], FakeByte(2, 1));
    EXPECT_EQ(image.bytes[0x43], 0);
    const std::vector<std::uint8_t> extra(image.bytes.begin() + 0x2000, image.bytes.end());
    EXPECT_EQ(extra, (std::vector<std::uint8_t>{0x44, 0x33, 0x22, 0x11, 0x55, 0x00, 0x80}));
}

// Wildcards, sorting, KEEP, /DISCARD/.
std::vector<Unit> PatternUnits() {
    Unit p{"lib/p.s",
           {Code(".text.b", 4, 4), Code(".text.a", 2, 1), Code(".text.c", 8, 8), Rodata(".note.x", 3)},
           {},
           {}};
    Unit q{"q.s", {Code(".text.a", 2, 1), Data(".junk", 1)}, {}, {}};
    return {p, q};
}

TEST(LinkScript, SortByAlignmentThenDiscard) {
    const Linked r =
        LinkWith(PatternUnits(), "SECTIONS { .text 0x100 : { *(SORT_BY_ALIGNMENT(.text.*)) }\n"
                                 "/DISCARD/ : { *(.note*) q.o(.junk) } }\n");
    ASSERT_TRUE(r.ok) << r.Messages();
    const auto& in = r.layout.inputs;
    EXPECT_EQ(in[0][2].vma, 0x100u);  // alignment 8
    EXPECT_EQ(in[0][0].vma, 0x108u);  // 4
    EXPECT_EQ(in[0][1].vma, 0x10Cu);  // 1, in input order
    EXPECT_EQ(in[1][0].vma, 0x10Eu);
    EXPECT_TRUE(in[0][3].discarded);
    EXPECT_TRUE(in[1][1].discarded);
    EXPECT_EQ(in[1][1].output, -1);
    EXPECT_FALSE(in[1][0].discarded);
    ASSERT_EQ(r.layout.sections.size(), 1u);
}

TEST(LinkScript, SortByNameKeepsInputOrderForEqualNames) {
    const Linked r = LinkWith(PatternUnits(), "SECTIONS { .text 0x100 : { KEEP(*(SORT(.text.*))) } }\n");
    ASSERT_TRUE(r.ok) << r.Messages();
    const auto& in = r.layout.inputs;
    EXPECT_EQ(in[0][1].vma, 0x100u);  // p .text.a
    EXPECT_EQ(in[1][0].vma, 0x102u);  // q .text.a
    EXPECT_EQ(in[0][0].vma, 0x104u);  // .text.b
    EXPECT_EQ(in[0][2].vma, 0x108u);  // .text.c
}

// A file pattern matches the object name (lib/p.o), its last component
// (p.o) or the source path as given (lib/p.s).
struct FileRow {
    const char* pattern;
    bool p, q;
};
class LinkFilePatterns : public ::testing::TestWithParam<FileRow> {};

TEST_P(LinkFilePatterns, Match) {
    const FileRow& row = GetParam();
    const Linked r = LinkWith(PatternUnits(), std::string("SECTIONS { .sel 0x100 : { ") + row.pattern +
                                                  "(.text.a) } .text 0x200 : { *(.text.*) } }\n");
    ASSERT_TRUE(r.ok) << r.Messages();
    const auto inSel = [&](int u) { return r.layout.inputs[static_cast<std::size_t>(u)][u == 0 ? 1 : 0].vma < 0x200; };
    EXPECT_EQ(inSel(0), row.p) << row.pattern;
    EXPECT_EQ(inSel(1), row.q) << row.pattern;
}

INSTANTIATE_TEST_SUITE_P(Rows, LinkFilePatterns,
                         ::testing::Values(FileRow{"*", true, true}, FileRow{"lib/p.o", true, false},
                                           FileRow{"p.o", true, false}, FileRow{"lib/p.s", true, false},
                                           FileRow{"q.s", false, true}, FileRow{"*p.o", true, false},
                                           FileRow{"[pq].o", true, true}, FileRow{"[!p].o", false, true},
                                           FileRow{"[!p]*.o", true, true},
                                           FileRow{"?.o", true, true}, FileRow{"lib/*", true, false},
                                           FileRow{"EXCLUDE_FILE(*p.o) *", false, true},
                                           FileRow{"crt0.o", false, false}));

TEST(LinkScript, ExcludeFileInsideTheSectionList) {
    const Linked r =
        LinkWith(PatternUnits(), "SECTIONS { .sel 0x100 : { *(EXCLUDE_FILE(q.o) .text.a .text.b) }\n"
                                 " .text 0x200 : { *(.text.*) } }\n");
    ASSERT_TRUE(r.ok) << r.Messages();
    EXPECT_EQ(r.layout.inputs[0][0].vma, 0x100u);  // p .text.b: the exclusion is .text.a's only
    EXPECT_EQ(r.layout.inputs[0][1].vma, 0x104u);  // p .text.a
    EXPECT_EQ(r.layout.inputs[1][0].vma, 0x208u);  // q .text.a, left to .text, after p's .text.c
}

TEST(LinkScript, IncludeAndSearchDir) {
    const Linked r = LinkWith(ThreeUnits(), "SEARCH_DIR(inc)\nINCLUDE mem.ld\nSECTIONS { INCLUDE sec.ld }\n",
                              {{"inc/mem.ld", "MEMORY { rom (rx) : ORIGIN = 0x4000, LENGTH = 1K\n"
                                              "INCLUDE ram.ld }"},
                               {"inc/ram.ld", "ram (w) : ORIGIN = 0x8000, LENGTH = 1K"},
                               {"sec.ld", ".text : { *(.text) } > rom\n.data : { *(.data) } > ram"}});
    ASSERT_TRUE(r.ok) << r.Messages();
    EXPECT_EQ(r.Name("main"), 0x4000);
    EXPECT_EQ(r.Name("table"), 0x8000);
    EXPECT_EQ(r.layout.files, (std::vector<std::string>{"test.ld", "inc/mem.ld", "inc/ram.ld", "sec.ld"}));
}

// =FILL fills the gaps of a section with its digits' bytes, FILL() from
// where it stands, each pattern from the start of its gap.
TEST(LinkScript, Fills) {
    const std::vector<Unit> units = {Unit{"f.s", {Code(".text", 3, 1), Code(".text.x", 1, 8)}, {}, {}}};
    const Linked r = LinkWith(units, "SECTIONS { .text 0 : { *(.text) *(.text.x) . = ALIGN(16);"
                                     " FILL(0x12345678); . += 6; BYTE(1) } =0x0A5 }\n");
    ASSERT_TRUE(r.ok) << r.Messages();
    Image image;
    std::vector<Diagnostic> diags;
    ASSERT_TRUE(MakeImage(r.layout, Fake(units), 0xEE, image, diags));
    const std::vector<std::uint8_t> expected = {FakeByte(0, 0), FakeByte(0, 0), FakeByte(0, 0), 0x00, 0xA5, 0x00,
                                                0xA5,           0x00,           FakeByte(0, 1), 0x00, 0xA5, 0x00,
                                                0xA5,           0x00,           0xA5,           0x00, 0x12, 0x34,
                                                0x56,           0x78,           0x12,           0x34, 0x01};
    EXPECT_EQ(image.bytes, expected);
}

// --section-start moves a section the script places, and places one it does
// not after the script's sections.
TEST(LinkScript, SectionStart) {
    std::vector<Unit> units = ThreeUnits();
    units[2].sections.push_back(Code(".vectors", 0x10));
    Options o;
    o.sectionStarts = {{".data", "0x3000"}, {".vectors", "7000"}};
    const Linked r = LinkWith(units, kPlain, {}, o);
    ASSERT_TRUE(r.ok) << r.Messages();
    EXPECT_EQ(r.Name("table"), 0x3000);
    EXPECT_EQ(r.layout.inputs[2][2].vma, 0x7000u);  // hexadecimal, as ld reads it
    EXPECT_EQ(r.layout.sections.back().name, ".vectors");
}

// Sections that are not allocated (comments, debugging) sit at 0 and hold no
// bytes of the image.
TEST(LinkScript, NonAllocatedOrphansHoldNoBytes) {
    std::vector<Unit> units = ThreeUnits();
    units[0].sections.push_back({".comment", 12, 1, false, true, false, false});
    units[1].sections.push_back({".debug_info", 40, 1, false, true, false, false});
    const Linked r = LinkWith(units, kPlain);
    ASSERT_TRUE(r.ok) << r.Messages();
    const OutputSection* comment = r.Section(".comment");
    ASSERT_NE(comment, nullptr);
    EXPECT_EQ(comment->vma, 0u);
    EXPECT_FALSE(comment->load);
    Image image;
    std::vector<Diagnostic> diags;
    ASSERT_TRUE(MakeImage(r.layout, Fake(units), std::nullopt, image, diags));
    EXPECT_EQ(image.start, 0x1000u);
    EXPECT_EQ(image.bytes.size(), 0x48u);  // .text to 0x1036, .rodata 0x1038-0x103D, .data 0x1040-0x1048
}

// The shape of Virtual Boy scripts in the wild: .data's load address set
// after .data (a forward reference), fills written "= 0xFF", an empty
// vectors section at an address.
TEST(LinkScript, VirtualBoyStyleScript) {
    const std::vector<Unit> units = ThreeUnits();
    const Linked r = LinkWith(units, R"(
OUTPUT_FORMAT("elf32-v810", "elf32-v810", "elf32-v810")
SEARCH_DIR(.);
MEMORY
{
    ram (!r) : ORIGIN = 0x05000000, LENGTH = 64k
    rom (rx) : ORIGIN = 0x07000000, LENGTH = 16M
}
__text_vma = ORIGIN(rom);
__data_vma = ORIGIN(ram);
SECTIONS
{
    .text __text_vma : { *(.text*) } >rom = 0xFF
    .rodata : { *(.rodata*) } >rom = 0xFF
    v = .;
    .data __data_vma : AT(__data_lma) { __data_start = .; *(.data*) __data_end = .; } >ram = 0xFF
    __data_lma = v;
    .vbvectors 0x07FFFDE0 : { KEEP(*(.vbvectors)) } >rom = 0xFF
}
)");
    ASSERT_TRUE(r.ok) << r.Messages();
    r.ExpectNames({{"__data_lma", 0x0700003D}, {"__data_start", 0x05000000}, {"__data_end", 0x05000008}});
    EXPECT_EQ(r.Section(".vbvectors"), nullptr);  // empty: ld drops it
    Image image;
    std::vector<Diagnostic> diags;
    ASSERT_TRUE(MakeImage(r.layout, Fake(units), 0xFF, image, diags));
    EXPECT_EQ(image.start, 0x07000000u);
    const std::vector<std::uint8_t> expected = Runs({{0x10, FakeByte(0, 0)},
                                                     {0x20, FakeByte(1, 0)},
                                                     {6, FakeByte(2, 0)},
                                                     {2, 0xFF},
                                                     {5, FakeByte(2, 1)},
                                                     {8, FakeByte(1, 1)}});
    EXPECT_EQ(image.bytes, expected);
}

TEST(LinkScript, TopLevelCommands) {
    const Linked r = LinkWith(ThreeUnits(), R"(
OUTPUT_FORMAT("elf32-v810", "elf32-v810", "elf32-v810")
OUTPUT_ARCH(v810)
TARGET(elf32-v810)
OUTPUT(game.elf)
ENTRY(main)
EXTERN(ext1 ext2, ext3)
FORCE_COMMON_ALLOCATION
PROVIDE(ext2 = 2);
PROVIDE(other = 3);
;
SECTIONS { ENTRY(main) .text 0x1000 : { *(.text) } .rodata : { *(.rodata) } .data : { *(.data) } }
)");
    ASSERT_TRUE(r.ok) << r.Messages();
    EXPECT_EQ(r.Messages(), "");
    EXPECT_EQ(r.layout.entry, "main");
    EXPECT_EQ(r.layout.output, "game.elf");
    EXPECT_EQ(r.Name("ext2"), 2);  // EXTERN makes a use that PROVIDE answers
    EXPECT_EQ(r.layout.names.count("other"), 0u);
    EXPECT_EQ(r.layout.names.count("ext1"), 0u);
}

// Values that depend on later statements settle over passes, as ld sizes
// sections more than once.
TEST(LinkScript, ForwardReferencesSettle) {
    const Linked r = LinkWith(ThreeUnits(), R"(
a = b + 1;
b = c * 2;
SECTIONS
{
  .text 0x1000 : { *(.text) . += tail; }
  .rodata : { *(.rodata) }
  .data : { *(.data) }
  c = SIZEOF(.text);
  tail = 2;
  ASSERT(ADDR(.data) == 0x1040, "data moved")
}
)");
    ASSERT_TRUE(r.ok) << r.Messages();
    EXPECT_EQ(r.Name("c"), 0x38);
    EXPECT_EQ(r.Name("b"), 0x70);
    EXPECT_EQ(r.Name("a"), 0x71);
}

}  // namespace
}  // namespace tarvo::link
