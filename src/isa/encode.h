// The encoder: a table entry and operand values in, two or four bytes out.
// It looks nothing up and writes nothing.
#pragma once
#include <cstdint>

#include "isa/optable.h"

namespace tarvo {

// The instruction to build: an optable entry, and for the two groups the
// sub-entry of fptable or bstable.
struct Instr {
    const OpEntry* entry = nullptr;
    std::uint16_t format = 0;
    const OpEntry* sub = nullptr;
};

struct Encoded {
    std::uint8_t bytes[4] = {};
    std::uint8_t length = 0;
};

// Which operand slots a class reads, in reading order: 'r' a register,
// 'n' a number; an empty string reads none.
inline const char* SlotKinds(const Instr& in) {
    switch (in.format) {
        case FMT_REGREG: return "rr";
        case FMT_IMMREG: return "nr";
        case FMT_BCOND: case FMT_JUMP26: return "n";
        case FMT_IMM16: case FMT_LOAD: return "nrr";
        case FMT_STORE: return "rnr";
        case FMT_SPECIAL: return in.entry->name == "trap" ? "n" : "";
        case FMT_FPP: return in.sub->flags & kOneReg ? "r" : "rr";
        default: return "";
    }
}

// Operand values by slot, as the class reads them (registers as numbers).
// reti and halt lose bit 0 under nec (NEC's own encoding).
inline Encoded Encode(const Instr& in, const std::uint32_t v[3], bool nec = false) {
    std::uint16_t hw1 = 0, hw2 = 0;
    const unsigned code = in.entry->code;
    switch (in.format) {
        case FMT_REGREG: hw1 = Pack6(code, v[1], v[0]); break;
        case FMT_IMMREG: hw1 = Pack6(code, v[1], v[0]); break;
        case FMT_BCOND: hw1 = PackBranch(code, v[0]); break;
        case FMT_JUMP26:
            hw1 = static_cast<std::uint16_t>((code & 0x3F) << 10 | ((v[0] >> 16) & 0x3FF));
            hw2 = static_cast<std::uint16_t>(v[0]);
            break;
        case FMT_IMM16:
        case FMT_LOAD:
            hw1 = Pack6(code, v[2], v[1]);
            hw2 = static_cast<std::uint16_t>(v[0]);
            break;
        case FMT_STORE:
            hw1 = Pack6(code, v[0], v[2]);
            hw2 = static_cast<std::uint16_t>(v[1]);
            break;
        case FMT_SPECIAL: {
            std::uint32_t field = in.entry->name == "trap" ? v[0] : 0;
            if (in.entry->flags & kSetsBit0 && !nec) field = 1;
            hw1 = static_cast<std::uint16_t>((code & 0x3F) << 10 | (field & 0x3FF));
            break;
        }
        case FMT_FPP:
            hw1 = in.sub->flags & kOneReg ? Pack6(kOpcodeFPP, v[0], 0) : Pack6(kOpcodeFPP, v[1], v[0]);
            hw2 = static_cast<std::uint16_t>((in.sub->format & 0x3F) << 10);
            break;
        case FMT_BSTR: hw1 = Pack6(kOpcodeBSTR, 0, in.sub->format); break;
        default: return {};
    }
    Encoded out;
    out.length = static_cast<std::uint8_t>(FormatLength(in.format));
    out.bytes[0] = hw1 & 0xFF;
    out.bytes[1] = hw1 >> 8;
    out.bytes[2] = hw2 & 0xFF;
    out.bytes[3] = hw2 >> 8;
    return out;
}

}  // namespace tarvo
