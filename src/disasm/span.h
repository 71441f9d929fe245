// What the parts of the source lister share about a span: what each byte
// is, and the decoder read over the span's bytes.
#pragma once
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "disasm/decode.h"
#include "object_writer.h"

namespace tarvo {

// What a byte of the span is; flags of one byte per position.
struct SpanKind {
    enum : std::uint8_t {
        kData = 0,
        kCode = 1,   // an instruction begins here
        kLabel = 2,  // a lb. line stands here
        kWord = 4,   // a data word listed as "dw." of a label
    };
};

// Labels carry the image base ORed in: beyond this they would not add up.
inline constexpr std::uint32_t kLabelReach = kImageSize;

// The opcode of a mnemonic, found in the table at compile time, so that the
// lister compares numbers, not names.
constexpr std::uint8_t Code(std::string_view name) {
    for (const OpEntry& e : optable)
        if (e.name == name) return e.code;
    throw "no such mnemonic";
}
inline constexpr std::uint8_t kNop = Code("nop"), kJmp = Code("jmp"), kMovhi = Code("movhi");

// A word already known to be an instruction: decoding is enough. Inline
// in the printer's loop, where it runs once per instruction.
[[gnu::always_inline]] inline Decoded DecodeAt(const std::vector<std::uint8_t>& span, std::size_t pos) {
    if (span.size() - pos >= 4) return Decode(&span[pos]);
    unsigned char b[4] = {0, 0, 0, 0};
    std::memcpy(b, &span[pos], span.size() - pos);
    return Decode(b);
}

inline bool IsTransfer(const Decoded& d) {
    return (d.format == FMT_BCOND && d.entry->code != kNop) || d.format == FMT_JUMP26;
}

inline std::int32_t Displacement(const Decoded& d) {
    return d.format == FMT_BCOND ? SignExtend(d.hw1 & 0x1FFu, 9) : SignExtend((d.hw1 & 0x3FFu) << 16 | d.hw2, 26);
}

}  // namespace tarvo
