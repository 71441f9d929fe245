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

class TextOut;

class TextTable;

struct SourceOptions {
    std::vector<std::uint32_t> entries;  // image locations where code begins; none: all is code
    std::vector<std::pair<std::uint32_t, std::string>> names;  // image location, label name, in file order
    std::uint32_t base = kImageBase;  // the address of the image's first byte
    // Text that decodes through table is listed under "table. \"tableName\"".
    const TextTable* table = nullptr;
    std::string tableName;
    // Code can move: values that are addresses of listed items become label
    // expressions, and padding before a fixed place is org.
    bool relocatable = false;
};

// An address written with the image base or without: its image location.
constexpr std::uint32_t LocationOf(std::uint32_t address, std::uint32_t base) {
    return address - base < kImageSize ? address - base : address;
}
static_assert(LocationOf(0x07000010, kImageBase) == 0x10 && LocationOf(0x10, kImageBase) == 0x10);

// Lists ctx.nBytes bytes from ctx.nPC of image into out. Returns 1.
// One instruction at p as -d --source writes it ("\tMNEMONIC[\tOPERANDS]",
// a branch by its displacement) and its length; 0 and nothing written where
// no line of the default language assembles back to these bytes.
std::size_t SourceLine(TextOut& out, const std::uint8_t* p, std::size_t avail);

int ListSource(Context& ctx, std::FILE* image, std::FILE* out, const SourceOptions& options);

// Reads "ADDRESS NAME" lines (a symbol file, addresses with the image base
// base or without) into names; names that could not stand as a label of a
// source, and repeated ones, are left out.
void ReadSymbolNames(std::FILE* f, std::uint32_t base, std::vector<std::pair<std::uint32_t, std::string>>& names);

}  // namespace tarvo
