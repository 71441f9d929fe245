// GNU syntax mode: GNU as' language over the shared instruction tables and
// encoder. A first pass reads the source (files, macros, repeats,
// conditions) into items; walks over the items settle the sizes of
// branches and the places of sections; a last walk writes the bytes.
#pragma once
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "globals.h"

namespace tarvo::gnu {

using Defines = std::vector<std::pair<std::string, std::string>>;

struct Image {
    std::uint32_t start = 0;             // address of bytes[0]
    std::vector<std::uint8_t> bytes;
    std::vector<std::pair<std::uint32_t, std::string>> labels;  // for the symbol file
    // For an editor, when record is set: every name with where it is
    // defined, and each statement's address and first bytes.
    bool record = false;
    struct Named {
        enum Kind : std::uint8_t { kLabel, kSet, kMacro, kSection } kind;
        std::string name;
        std::int64_t value = 0;
        std::string file;
        int line = 0;
    };
    std::vector<Named> names;
    struct Statement {
        std::string file;
        int line = 0;
        std::uint64_t address = 0;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Statement> statements;
};

// What link mode takes besides the sources.
struct LinkOptions {
    std::string script;     // -T FILE; empty: the layout GNU ld's V810 port uses without one
    Defines defsyms;        // GNU ld's --defsym: link-time names the script sees
    Defines sectionStarts;  // GNU ld's --section-start (hex, as ld reads it)
    std::optional<std::uint8_t> gapFill;  // objcopy's --gap-fill; else the gaps are zero
};

// Link mode: assembles each source as its own unit, as GNU as assembles one
// file (defines: GNU as' --defsym, seen by every unit), links the units as
// GNU ld does and makes the image objcopy -O binary makes; image.labels are
// the linked names. Sources and scripts are read as every input is
// (OpenInput). Errors are counted in ctx.nErrors, and every source and
// script read is added to ctx.files; listing, when not null, receives each
// unit's statements at their linked addresses and the sections placed.
void AssembleProject(Context& ctx, const std::vector<std::string>& sources, const Defines& defines,
                     const LinkOptions& options, Image& image, std::FILE* listing);

// Assembles the open top file. defines are --defsym/--define pairs; listing,
// when not null, receives the listing. Errors are counted in ctx.nErrors.
void Assemble(Context& ctx, std::FILE* src, const std::string& path, const Defines& defines, Image& image,
              std::FILE* listing);

}  // namespace tarvo::gnu
