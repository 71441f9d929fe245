// The assembly pass over one source file.
#pragma once
#include <cstdio>
#include <string_view>

#include "globals.h"
#include "isa/construct.h"

namespace tarvo {

// Splits a line into a mnemonic and up to three operands. 0 when the line
// holds no statement (empty, separators only, or a comment).
int FilterCommand(std::string_view line, Tokens& tokens);

// Assembles every line of src into ctx.obj; name is used in "Cannot read".
// Returns 1 when every instruction line of this file encoded, else 0. The
// top file's pass also settles the forward fields at its end.
int GenerateObj(Context& ctx, std::FILE* src, const char* name);

}  // namespace tarvo
