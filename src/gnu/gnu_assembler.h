// GNU syntax mode: GNU as' language over the shared instruction tables and
// encoder. A first pass reads the source (files, macros, repeats,
// conditions) into items; walks over the items settle the sizes of
// branches and the places of sections; a last walk writes the bytes.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "globals.h"

namespace tarvo::gnu {

struct Image {
    std::uint32_t start = 0;             // address of bytes[0]
    std::vector<std::uint8_t> bytes;
    std::vector<std::pair<std::uint32_t, std::string>> labels;  // for the symbol file
};

// Assembles the open top file. defines are --defsym/--define pairs; listing,
// when not null, receives the listing. Errors are counted in ctx.nErrors.
void Assemble(Context& ctx, std::FILE* src, const std::string& path,
              const std::vector<std::pair<std::string, std::string>>& defines, Image& image, std::FILE* listing);

}  // namespace tarvo::gnu
