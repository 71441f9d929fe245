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
    const std::map<std::string, std::int64_t> names = {
        {"__stack_top", 0x0500FFC0}, {"__data_load", 0x070000C0}, {"__data_start", 0x05000000},
        {"__data_end", 0x05000014},  {"__bss_start", 0x05000014}, {"__bss_end", 0x0500002C},
        {"lib_init", 0x07000066},    {"lib_step", 0x0700007C},    {"_start", 0x07000000},
        {"crt_fail", 0x07000062},    {"state", 0x05000000}};
    for (const auto& [name, value] : names) EXPECT_EQ(r.Name(name), value) << name;
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
    EXPECT_EQ(r.Name("__stack"), 0x200000);
    EXPECT_EQ(r.Name("__gp"), 0x10088);
    EXPECT_EQ(r.Name("__tp"), 0x8080);
    EXPECT_EQ(r.Name("__bss_start"), 0x80E8);
    EXPECT_EQ(r.Name("__end"), 0x8130);
    EXPECT_EQ(r.Name("_start"), 0x8000);
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
    Unit c{"src/c.s", {Code(".text", 6), Rodata(".rodata", 5, 4)}, {Weak("fallback", 1, 1, 4), Weak("handler", 0, 0)}, {}};
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

}  // namespace
}  // namespace tarvo::link
