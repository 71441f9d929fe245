// Every instruction word lists as text that assembles back to an
// instruction listing the same: encoder and decoder agree on every field.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "disasm/dissasm.h"
#include "driver/assemble.h"
#include "sinks.h"

namespace {

std::string List(const std::string& bytes) {
    tarvo::Context ctx;
    ctx.nPC = 0;
    ctx.nBytes = 1;
    tarvo::fuzz::Counter messages;
    tarvo::fuzz::Collector listing;
    ctx.out = tarvo::fuzz::OpenCounter(messages);
    std::FILE* image = tarvo::fuzz::OpenImage(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    std::FILE* out = tarvo::fuzz::OpenCollector(listing);
    tarvo::Dissasm(ctx, image, out);
    std::fclose(out);
    std::fclose(image);
    std::fclose(ctx.out);
    return listing.text;
}

// The listing's number forms as source: zero-filled decimals would read as
// octal, and the bare hex of disp26 needs its prefix.
std::string ToSource(const std::string& line) {
    std::string body = line.substr(line.find('\t', 1) + 1);  // after the address
    std::size_t tab = body.find('\t');
    if (tab == std::string::npos) return body;
    std::string mnemonic = body.substr(0, tab), operands = body.substr(tab + 1);
    if (mnemonic == "jr" || mnemonic == "jal") return mnemonic + " 0x" + operands;
    std::size_t i = 0;
    while (i + 1 < operands.size() && operands[i] == '0' && operands[i + 1] >= '0' && operands[i + 1] <= '9') ++i;
    return mnemonic + " " + operands.substr(i);
}

std::string Assemble(const std::string& source) {
    tarvo::Context ctx;
    tarvo::fuzz::Counter messages;
    tarvo::fuzz::Collector obj;
    ctx.out = tarvo::fuzz::OpenCounter(messages);
    std::FILE* out = tarvo::fuzz::OpenCollector(obj);
    ctx.obj.Open(out);
    tarvo::Tokens tokens;
    const bool ok = tarvo::FilterCommand(source, tokens) &&
                    tarvo::Construct(ctx, tokens).status == tarvo::EncodeStatus::kOk;
    std::fclose(out);
    std::fclose(ctx.out);
    if (!ok) {
        std::fprintf(stderr, "\"%s\" does not assemble\n", source.c_str());
        std::abort();
    }
    return obj.text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::string word(reinterpret_cast<const char*>(data), 4);
    const std::string first = List(word);
    if (first.empty() || first.ends_with("\tnop")) return 0;  // no instruction under this opcode
    const std::string again = List(Assemble(ToSource(first)) + std::string(4, '\0'));
    // "nop" always assembles with displacement 0, whatever the word held.
    const std::string expected = first.find("\tnop\t") != std::string::npos
                                     ? first.substr(0, first.find("\tnop\t")) + "\tnop\t0000"
                                     : first;
    if (again.substr(0, again.find('\n', 1)) != expected) {
        std::fprintf(stderr, "listed %s, reassembled as %s\n", first.c_str(), again.c_str());
        std::abort();
    }
    return 0;
}
