// The linking room: what GNU ld and objcopy -O binary do with the units of a
// project. Units (what GNU as would have put in an object file) go in with a
// linker script (or the built-in layout of the V810 port of GNU ld); placed
// sections, the value of every linked name and the image come out. Nothing
// here prints or opens files: scripts arrive through a callback, messages
// leave as data.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tarvo::link {

// Where a message belongs; line 0 names the file alone, an empty file names
// nothing.
struct Place {
    std::string file;
    int line = 0;
};

struct InputSection {
    std::string name;
    std::uint64_t size = 0, align = 1;  // align: a power of two
    bool alloc = true;
    bool contents = true;  // false: no bytes (.bss, @nobits)
    bool write = false, exec = false;
};

struct InputSymbol {
    std::string name;
    int section = -1;  // index into Unit::sections; -1: absolute
    std::int64_t value = 0;  // offset in the section, or the absolute value
    enum Bind : std::uint8_t { kLocal, kGlobal, kWeak } bind = kGlobal;
    Place where;
};

// A name a unit uses and does not define.
struct Reference {
    std::string name;
    Place where;
    bool weak = false;  // .weak without a definition: 0 when nothing defines it
};

// What one source becomes: GNU as' object file, without the bytes (the unit
// writes them once its sections are placed).
struct Unit {
    std::string path;  // the source path as given
    std::vector<InputSection> sections;
    std::vector<InputSymbol> symbols;  // locals are not needed; they are skipped
    std::vector<Reference> undefined;  // each name once, at its first use
};

// Reads a file for the script reader (the script itself and INCLUDE); false
// when it cannot be read.
using ReadFile = std::function<bool(const std::string& path, std::string& text)>;

struct Options {
    bool script = false;  // false: the built-in V810 layout
    std::string scriptPath;
    std::vector<std::pair<std::string, std::string>> defsyms;        // ld --defsym NAME=EXPR
    std::vector<std::pair<std::string, std::string>> sectionStarts;  // ld --section-start NAME=ADDR (hex, as ld)
    ReadFile readFile;
};

struct Diagnostic {
    bool error = true;  // else a warning
    Place where;
    std::string text;
};

// Bytes an output section holds besides its input sections.
struct Fill {
    std::uint64_t offset = 0, size = 0;
    std::vector<std::uint8_t> pattern;  // repeated from the start of the gap; empty: zeros
};
struct Data {
    std::uint64_t offset = 0, value = 0;
    unsigned width = 0;  // BYTE 1, SHORT 2, LONG 4, QUAD/SQUAD 8; little-endian
};
struct Piece {
    int unit = 0, section = 0;
    std::uint64_t offset = 0, size = 0;
    bool contents = true;
};

struct OutputSection {
    std::string name;
    std::uint64_t vma = 0, lma = 0, size = 0, align = 1;
    bool alloc = false;     // takes addresses
    bool load = false;      // has bytes that objcopy writes at its LMA
    bool contents = false;  // has bytes (a debug section has them, not loaded)
    std::vector<Piece> pieces;  // in address order
    std::vector<Fill> fills;
    std::vector<Data> data;
    Place where;  // the script's statement; the script's file alone for an orphan
};

struct PlacedInput {
    // Index into Layout::sections; -1 for a section /DISCARD/ drops, and for
    // an empty one in an output section ld drops for being empty (which
    // still has its address, for the labels in it).
    int output = -1;
    bool discarded = false;
    std::uint64_t vma = 0, lma = 0;
};

struct Layout {
    std::vector<OutputSection> sections;  // in the order of the script
    std::vector<std::vector<PlacedInput>> inputs;  // [unit][section]
    // Every global and weak name of the units, every name the script (or
    // --defsym, or a PROVIDE that took effect) set, and each weak reference
    // nothing defines (0): absolute values.
    std::unordered_map<std::string, std::int64_t> names;
    std::vector<std::string> scriptNames;  // the names the script or --defsym set, sorted
    std::vector<std::string> files;  // the script and what it INCLUDEs, in reading order
    std::string entry, output;       // ENTRY and OUTPUT of the script, when given
};

// Links the units. Messages go to diags; false when there was an error
// (layout then holds what could be placed).
bool Link(const std::vector<Unit>& units, const Options& options, Layout& layout, std::vector<Diagnostic>& diags);

// The bytes of input section `section` of unit `unit`; shorter than the
// section: the rest is zero.
using Contents = std::function<std::span<const std::uint8_t>(int unit, int section)>;

struct Image {
    std::uint64_t start = 0;  // the LMA of the first byte
    std::vector<std::uint8_t> bytes;
};

// The flat file objcopy -O binary makes of the linked program: from the
// lowest LMA of a loaded section with bytes to the highest end, each section
// at its LMA. With a gap fill (--gap-fill) the gaps between loaded sections
// take it, as objcopy does, by growing the section before each gap; without
// one they are zero. False (and a message) when the image would be too large.
bool MakeImage(const Layout& layout, const Contents& contents, std::optional<std::uint8_t> gapFill, Image& image,
               std::vector<Diagnostic>& diags);

// The script the V810 port of GNU ld uses when it is given none (the PC-FX
// layout).
extern const char* const kDefaultScript;
extern const char* const kDefaultScriptName;

}  // namespace tarvo::link
