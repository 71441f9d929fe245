#include "harness.h"

#include <sstream>

#include "disasm/dissasm.h"
#include "driver/assemble.h"

namespace tarvo::test {

Run AssembleText(const std::string& source) {
    Context ctx;
    MemOut out, obj;
    ctx.out = out.get();
    ctx.runPass = GenerateObj;
    ctx.obj.Open(obj.get());
    ctx.files.push_back("in.s");
    std::FILE* src = MemIn(source);
    Run run;
    run.result = GenerateObj(ctx, src, "in.s");
    std::fclose(src);
    run.bytes = obj.str();
    run.output = out.str();
    run.nPC = ctx.obj.Location();
    run.nErrors = ctx.nErrors;
    return run;
}

Run ListImage(const std::string& image, std::int32_t start, std::int32_t count, std::string& listing) {
    Context ctx;
    MemOut out, list;
    ctx.out = out.get();
    ctx.nPC = start;
    ctx.nBytes = count;
    std::FILE* src = MemIn(image);
    Run run;
    run.result = Dissasm(ctx, src, list.get());
    std::fclose(src);
    listing = list.str();
    run.output = out.str();
    run.nPC = ctx.nPC;
    run.nErrors = ctx.nErrors;
    return run;
}

std::string Bytes(const std::string& hex) {
    std::istringstream in(hex);
    std::string out, byte;
    while (in >> byte) out.push_back(static_cast<char>(std::stoul(byte, nullptr, 16)));
    return out;
}

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out.push_back(' ');
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

}  // namespace tarvo::test
