// Listing a span of an image as V810 instructions.
#pragma once
#include <cstdio>

#include "globals.h"

namespace tarvo {

// Lists nBytes bytes of image from address nPC into listing, one line per
// instruction, each line beginning with its own newline. Returns 1, or 0
// after an "Invalid ROM Data" report. nPC and nBytes are left as they were.
int Dissasm(Context& ctx, std::FILE* image, std::FILE* listing, const char* name = "image");

}  // namespace tarvo
