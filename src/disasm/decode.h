// The decoder: bytes in, the table entries and fields of one instruction
// out. The printers (the classic listing line, the source line) format what
// it fills; neither reads bits itself.
#pragma once
#include <cstdint>

#include "isa/encode.h"
#include "isa/optable.h"

namespace tarvo {

struct Decoded {
    const OpEntry* entry = nullptr;  // optable entry of the opcode; null: none
    const OpEntry* sub = nullptr;    // fptable/bstable entry of a group word; null: none
    std::uint16_t format = 0;
    std::uint16_t hw1 = 0, hw2 = 0;
    std::uint8_t length = 2;         // what the word takes, entry or not
    unsigned r1 = 0, r2 = 0;
};

// b holds at least four bytes (pad a short tail with zeros).
inline Decoded Decode(const unsigned char* b) {
    Decoded d;
    d.hw1 = GetHalf(b);
    d.hw2 = GetHalf(b + 2);
    d.r1 = Reg1(d.hw1);
    d.r2 = Reg2(d.hw1);
    const int index = kOpByKey[OpcodeKey(d.hw1)];
    if (index < 0) return d;
    d.entry = &optable[static_cast<std::size_t>(index)];
    d.format = d.entry->format;
    d.length = static_cast<std::uint8_t>(FormatLength(d.format));
    if (d.format == FMT_FPP) {
        const int sub = kFpBySub[d.hw2 >> 10];
        if (sub >= 0) d.sub = &fptable[static_cast<std::size_t>(sub)];
    } else if (d.format == FMT_BSTR) {
        const int sub = kBsBySub[d.r1];
        if (sub >= 0) d.sub = &bstable[static_cast<std::size_t>(sub)];
    }
    return d;
}

// Sign extension of the low bits of a field.
constexpr std::int32_t SignExtend(std::uint32_t v, int bits) {
    const std::uint32_t m = 1u << (bits - 1);
    v &= (m << 1) - 1;
    return static_cast<std::int32_t>((v ^ m) - m);
}
static_assert(SignExtend(0x1FE, 9) == -2 && SignExtend(0xFF, 9) == 255);

// The operand values, by slot as the encoder takes them, of a decoded word.
inline void Fields(const Decoded& d, std::uint32_t v[3]) {
    v[0] = v[1] = v[2] = 0;
    switch (d.format) {
        case FMT_REGREG: v[0] = d.r1; v[1] = d.r2; break;
        case FMT_IMMREG: v[0] = d.r1; v[1] = d.r2; break;
        case FMT_BCOND: v[0] = d.hw1 & 0x1FFu; break;
        case FMT_JUMP26: v[0] = (d.hw1 & 0x3FFu) << 16 | d.hw2; break;
        case FMT_IMM16: case FMT_LOAD: v[0] = d.hw2; v[1] = d.r1; v[2] = d.r2; break;
        case FMT_STORE: v[0] = d.r2; v[1] = d.hw2; v[2] = d.r1; break;
        case FMT_SPECIAL: v[0] = d.hw1 & 0x3FFu; break;
        case FMT_FPP:
            if (d.sub != nullptr && d.sub->flags & kOneReg) v[0] = d.r2;
            else { v[0] = d.r1; v[1] = d.r2; }
            break;
        default: break;
    }
}

}  // namespace tarvo
