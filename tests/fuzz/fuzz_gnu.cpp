// Assembles arbitrary bytes as a GNU syntax source with a listing. Beyond
// not crashing: when the run has no errors, every byte the listing shows is
// the image's byte at that address.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "gnu/gnu_assembler.h"
#include "sinks.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/tarvo-fuzz-XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0) std::abort();
    std::filesystem::create_directory("d");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const char* name : {"in.s", "a.s"}) {
        std::FILE* f = std::fopen(name, "wb");
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    tarvo::fuzz::Counter messages, errors;
    tarvo::Context ctx;
    ctx.out = tarvo::fuzz::OpenCounter(messages);
    ctx.err = tarvo::fuzz::OpenCounter(errors);
    ctx.files.push_back("in.s");
    std::FILE* listing = std::tmpfile();
    std::FILE* src = std::fopen("in.s", "r");
    tarvo::gnu::Image image;
    tarvo::gnu::Assemble(ctx, src, "in.s", {}, image, listing);
    std::fclose(src);
    std::fclose(ctx.out);
    std::fclose(ctx.err);
    std::string text;
    std::rewind(listing);
    for (int c; (c = std::fgetc(listing)) != EOF;) text += static_cast<char>(c);
    std::fclose(listing);
    if (ctx.nErrors != 0 || image.bytes.empty()) return 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        if (line.size() < 10 || line[0] == ';') continue;
        std::uint64_t address = std::strtoull(line.substr(0, 8).c_str(), nullptr, 16) - image.start;
        for (std::size_t k = 10; k + 1 < 33 && k + 1 < line.size() && line[k] != ' '; k += 3, ++address) {
            const auto byte = static_cast<std::uint8_t>(std::strtoul(line.substr(k, 2).c_str(), nullptr, 16));
            if (address >= image.bytes.size() || image.bytes[address] != byte) std::abort();
        }
    }
    return 0;
}
