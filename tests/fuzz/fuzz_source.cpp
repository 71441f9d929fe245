// "-d --source" on any image, start and count (and perhaps an entry): the
// listing assembles back to the span's bytes. Bytes 0-1 give the start,
// 2-3 the count, 4 whether an entry is given (bit 0) and whether names from
// a symbol file label the span (bit 1: up to 15 of them, placed by 5-6;
// bit 7: two names at each place), whether the image's base is PC-FX's
// 0x8000 (bit 6), 5-6 the entry; the image follows.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "source_roundtrip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 7) return 0;
    const std::int32_t start = data[0] | data[1] << 8;
    const std::int32_t count = data[2] | data[3] << 8;
    std::vector<std::uint32_t> entries;
    if (data[4] & 1) entries.push_back(static_cast<std::uint32_t>(data[5] | data[6] << 8));
    std::vector<std::pair<std::uint32_t, std::string>> names;
    if (data[4] & 2) {
        // Names anywhere in the span: at code, inside instructions, at data.
        const std::uint32_t span = count > 0 ? static_cast<std::uint32_t>(count) : 1;
        for (std::uint32_t i = 0; i < (data[4] >> 2 & 15u); ++i) {
            const std::uint32_t at = static_cast<std::uint32_t>(start) + (data[5] + i * (data[6] | 1u) * 7u) % span;
            names.emplace_back(at, "n" + std::to_string(i));
            if (data[4] & 0x80) names.emplace_back(at, "m" + std::to_string(i));
        }
    }
    const std::uint32_t base = data[4] & 0x40 ? 0x8000 : tarvo::kImageBase;
    const std::string image(reinterpret_cast<const char*>(data + 7), size - 7);
    const std::string problem = tarvo::fuzz::SourceRoundTrip(image, start, count, entries, names, base);
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
