// Listing an image span as a tarvo source that assembles back to the same
// bytes: labels where listed branches land, data where no instruction form
// gives the bits back, and (with entries) code only where control reaches.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "globals.h"

namespace tarvo {

struct SourceOptions {
    std::vector<std::uint32_t> entries;  // image locations where code begins; none: all is code
    std::vector<std::pair<std::uint32_t, std::string>> names;  // image location, label name
};

// Lists ctx.nBytes bytes from ctx.nPC of image into out. Returns 1.
int ListSource(Context& ctx, std::FILE* image, std::FILE* out, const SourceOptions& options);

// Reads "ADDRESS NAME" lines (a symbol file) into names; names that could
// not stand as a label of a source are left out.
void ReadSymbolNames(std::FILE* f, std::vector<std::pair<std::uint32_t, std::string>>& names);

}  // namespace tarvo
