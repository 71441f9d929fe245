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

// Operand values by slot, as the class reads them (registers as numbers).
// reti and halt lose bit 0 under nec (NEC's own encoding).
Encoded Encode(const Instr& in, const std::uint32_t v[3], bool nec = false);

// Which operand slots a class reads, in reading order: 'r' a register,
// 'n' a number; an empty string reads none.
const char* SlotKinds(const Instr& in);

}  // namespace tarvo
