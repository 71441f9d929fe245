// "-d --source" on any image, start and count (and perhaps an entry): the
// listing assembles back to the span's bytes. Bytes 0-1 give the start,
// 2-3 the count, 4 whether an entry is given, 5-6 the entry; the image follows.
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
    const std::string image(reinterpret_cast<const char*>(data + 7), size - 7);
    const std::string problem = tarvo::fuzz::SourceRoundTrip(image, start, count, entries);
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
