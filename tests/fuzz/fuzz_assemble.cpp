// Assembles arbitrary bytes as a source. Runs in a scratch directory that
// holds the input itself (as in.s and a.s) and a directory, so "inc." can
// reach files, cycles and read errors there, and nothing else.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "driver/assemble.h"
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
    tarvo::fuzz::Counter objBytes, messages;
    std::FILE* obj = tarvo::fuzz::OpenCounter(objBytes);
    tarvo::Context ctx;
    ctx.out = tarvo::fuzz::OpenCounter(messages);
    ctx.runPass = tarvo::GenerateObj;
    ctx.obj.Open(obj);
    ctx.files.push_back("in.s");
    std::FILE* src = std::fopen("in.s", "r");
    tarvo::FileId id;
    if (tarvo::GetFileId(src, id)) ctx.includeChain.push_back(id);
    int result = tarvo::GenerateObj(ctx, src, "in.s");
    std::fclose(src);
    std::fclose(obj);
    std::fclose(ctx.out);
    // The location counter is always the number of bytes written, forward
    // fields included: nothing is left held.
    if (static_cast<std::uint32_t>(ctx.obj.Location()) != static_cast<std::uint32_t>(objBytes.bytes)) std::abort();
    if (ctx.obj.Holding() || !ctx.forwards.empty()) std::abort();
    if (result != 0 && result != 1) std::abort();
    if (!ctx.includeChain.empty() && ctx.includeChain.size() != 1) std::abort();
    return 0;
}
