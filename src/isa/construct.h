// Encoding of one instruction line into the object stream.
#pragma once
#include <cstdio>
#include <string_view>

#include "globals.h"

namespace tarvo {

// The mnemonic and up to three operands; an empty view is an absent operand.
struct Tokens {
    std::string_view szOpcode, szParam1, szParam2, szParam3;
};

// Result codes of Construct.
enum : int {
    kEncoded = 0,
    kBadOpcode = 1,
    kBadParam1 = 2,
    kBadParam2 = 3,
    kBadParam3 = 4,
    kSyntaxError = 5,
    kUnknown = -1,
};

// Resolves names in the operands, finds the instruction, writes its two or
// four bytes and advances nPC. Prints nothing; on failure writes nothing.
int Construct(Context& ctx, std::FILE* obj, const Tokens& tokens);

}  // namespace tarvo
