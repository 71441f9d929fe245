// GNU as V810's spelling of a decoded instruction, as the library gives
// it: what GNU syntax mode reads back to the same bits.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "disasm/decode.h"

namespace tarvo {

// The mnemonic (empty for a word no instruction has) and the operands of
// the instruction d at address; branch targets are addresses.
void SpellGnu(const Decoded& d, std::uint32_t address, std::string& mnemonic, std::vector<std::string>& operands);

}  // namespace tarvo
