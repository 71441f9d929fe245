// Directives and pseudo-instructions: "org." "inc." "ds." "dw." "dh." "db."
// "df." "lb." ".jump" ".call" ".mov32".
#pragma once
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "globals.h"
#include "symbols/expr.h"

namespace tarvo {

// Handles the line when its first token is a keyword and returns 1 (also
// when it reported an error); returns 0 for any other line. Never changes line.
int CompilerLine(Context& ctx, std::string_view line);

// Every keyword begins or ends with a dot: one test, inline, turns away
// instruction lines.
constexpr bool KeywordShaped(std::string_view token) {
    return token.size() >= 3 && token.size() <= 8 && (token.front() == '.' || token.back() == '.');
}

// Defines name as a label at the current address ("lb. NAME").
void DefineLabel(Context& ctx, std::string_view name);

// The same for a line already split into its first token and the rest.
int CompilerLine(Context& ctx, std::string_view first, std::string_view rest);

// A first token "NAME:" (or "N:", a local label) defines a label; the rest
// of the line is then assembled as a line of its own.
inline bool IsLabelToken(std::string_view token) {
    return token.size() >= 2 && token.back() == ':' && token.front() != ';';
}
void DefineLabelToken(Context& ctx, std::string_view token);

// A value that must be known at its line (if., rept.): a number, a name
// (its whole value read as an expression) or "(...)".
ExprStatus ValueNow(Context& ctx, std::string_view text, std::int32_t& value);
// The same, with a message where it is not known or not a value.
std::optional<std::int32_t> ValueHere(Context& ctx, std::string_view expr);

// What a keyword line leaves unread after its operands: its first token is
// reported (a warning; under --strict an error; nothing under --classic).
void ReportUnread(Context& ctx, std::string_view unread);

// --define NAME=VALUE, before the first line: as df. NAME VALUE.
void DefineOption(Context& ctx, std::string_view name, std::string_view value);

// Opens an include: the working directory first, then the folder of
// ctx.files[ctx.file], then each --include-dir; path receives the path
// that opened it.
std::FILE* OpenInclude(const Context& ctx, const std::string& name, std::string& path);

// At the end of a file: an area. it left open is reported at its line.
void FinishArea(Context& ctx);

// Names a macro may not take: keywords, mnemonics, register names.
bool ReservedName(std::string_view name);

// Include nesting beyond this depth is refused like a file that cannot be
// opened, so that no chain of files can exhaust the stack.
inline constexpr std::size_t kMaxIncludeDepth = 1000;

}  // namespace tarvo
