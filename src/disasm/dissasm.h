// Listing a span of an image as V810 instructions.
#pragma once
#include <cstdio>

#include "disasm/decode.h"
#include "globals.h"
#include "text_out.h"

namespace tarvo {

// Formats the instruction at address as the classic listing shows it,
// beginning with a newline; returns its length, or 0 when the table entry
// has no known class.
int ListInstruction(TextOut& out, std::uint32_t address, const Decoded& d);

// Lists nBytes bytes of image from address nPC into listing, one line per
// instruction, each line beginning with its own newline. Returns 1, or 0
// after an "Invalid ROM Data" report. nPC and nBytes are left as they were.
int Dissasm(Context& ctx, std::FILE* image, std::FILE* listing, const char* name = "image");

}  // namespace tarvo
