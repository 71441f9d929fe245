// The promise of "-d --source": for any image, start and count, the listing
// assembled by tarvo's own assembler gives the bytes of the listed span at
// the same offsets, with no error. Shared by the fuzz target and a test over
// its seed corpus.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "disasm/source.h"
#include "driver/assemble.h"

namespace tarvo::fuzz {

// A stream over a copy of text that the caller frees; empty text reads as /dev/null.
inline std::FILE* ReadStream(const std::string& text) {
    if (text.empty()) return std::fopen("/dev/null", "r");
    return fmemopen(const_cast<char*>(text.data()), text.size(), "r");
}

// The bytes text assembles to (a file named in.s), and its error count.
inline std::string AssembleText(const std::string& text, int& errors) {
    char* object = nullptr;
    std::size_t objectSize = 0;
    Context ctx;
    ctx.out = std::fopen("/dev/null", "w");
    ctx.runPass = GenerateObj;
    ctx.files.push_back("in.s");
    std::FILE* obj = open_memstream(&object, &objectSize);
    ctx.obj.Open(obj);
    std::FILE* src = ReadStream(text);
    GenerateObj(ctx, src, "in.s");
    std::fclose(src);
    std::fclose(obj);
    std::fclose(ctx.out);
    errors = ctx.nErrors;
    std::string bytes(object, objectSize);
    std::free(object);
    return bytes;
}

// Empty when the promise holds, else what broke it.
inline std::string SourceRoundTrip(const std::string& image, std::int32_t start, std::int32_t count,
                                   const std::vector<std::uint32_t>& entries,
                                   const std::vector<std::pair<std::uint32_t, std::string>>& names = {},
                                   std::uint32_t base = kImageBase) {
    char* listing = nullptr;
    std::size_t listingSize = 0;
    {
        Context ctx;
        ctx.out = std::fopen("/dev/null", "w");
        ctx.nPC = start;
        ctx.nBytes = count;
        SourceOptions options;
        options.entries = entries;
        options.names = names;
        options.base = base;
        std::FILE* in = ReadStream(image);
        std::FILE* out = open_memstream(&listing, &listingSize);
        ListSource(ctx, in, out, options);
        std::fclose(out);
        std::fclose(in);
        std::fclose(ctx.out);
    }
    const std::string source(listing, listingSize);
    std::free(listing);

    int errors = 0;
    const std::string bytes = AssembleText(source, errors);
    if (errors != 0) return "the listing does not assemble cleanly:\n" + source;
    if (start < 0 || static_cast<std::size_t>(start) >= image.size() || count <= 0) return {};
    const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(count), image.size() - static_cast<std::size_t>(start));
    if (bytes.size() != static_cast<std::size_t>(start) + length ||
        bytes.compare(static_cast<std::size_t>(start), length, image, static_cast<std::size_t>(start), length) != 0)
        return "the listing assembles to other bytes:\n" + source;
    return {};
}

}  // namespace tarvo::fuzz
