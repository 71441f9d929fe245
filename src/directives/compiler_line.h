// Directives and pseudo-instructions: "org." "inc." "ds." "dw." "dh." "db."
// "df." "lb." ".jump" ".call" ".mov32".
#pragma once
#include <cstdio>
#include <string_view>

#include "globals.h"

namespace tarvo {

// Handles the line when its first token is a keyword and returns 1 (also
// when it reported an error); returns 0 for any other line. Never changes line.
int CompilerLine(Context& ctx, std::string_view line);

// Defines name as a label at the current address ("lb. NAME").
void DefineLabel(Context& ctx, std::string_view name);

// Defines the labels that begin the line ("NAME:", or "N:" for a local
// label) and returns the rest of the line, to be assembled as a line of its own.
std::string_view TakeLabels(Context& ctx, std::string_view line);

// Include nesting beyond this depth is refused like a file that cannot be
// opened, so that no chain of files can exhaust the stack.
inline constexpr std::size_t kMaxIncludeDepth = 1000;

}  // namespace tarvo
