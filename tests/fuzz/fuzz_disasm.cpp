// Lists an arbitrary image; the first eight bytes give the start address and
// the byte count.
#include <cstdint>
#include <cstring>

#include "disasm/dissasm.h"
#include "sinks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    tarvo::Context ctx;
    std::memcpy(&ctx.nPC, data, 4);
    std::memcpy(&ctx.nBytes, data + 4, 4);
    const std::int32_t start = ctx.nPC, count = ctx.nBytes;
    tarvo::fuzz::Counter messages;
    tarvo::fuzz::Collector listing;
    ctx.out = tarvo::fuzz::OpenCounter(messages);
    std::FILE* image = tarvo::fuzz::OpenImage(data + 8, size - 8);
    std::FILE* out = tarvo::fuzz::OpenCollector(listing);
    int result = tarvo::Dissasm(ctx, image, out);
    std::fclose(out);
    std::fclose(image);
    std::fclose(ctx.out);
    if (result != 1 || ctx.nPC != start || ctx.nBytes != count) std::abort();
    // At most one line for every two bytes of the image.
    std::size_t lines = 0;
    for (char c : listing.text) lines += c == '\n';
    if (lines > (size - 8) / 2 + 1) std::abort();
    return 0;
}
