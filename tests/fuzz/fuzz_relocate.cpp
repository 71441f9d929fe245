// "-d --source --relocatable" on any image, start and count (see
// RelocateInput for the layout): the listing assembles back to the span,
// and a nop inserted before a label moves every reference to what lies
// after it up to the next fixed place.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "relocate_property.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string problem = tarvo::fuzz::RelocateInput(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
