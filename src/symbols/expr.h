// Expressions over numbers and names: "(EXPR)", "hi(EXPR)", "lo(EXPR)" and
// the targets of "@". 32-bit two's complement arithmetic that wraps, with
// C's operators and precedence.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "symbols/symbols.h"

namespace tarvo {

// What an expression can see: the defined names and the address of the
// start of the current line ('.').
struct ExprEnv {
    const SymbolList& names;
    std::uint32_t dot = 0;
    const LocalLabels* locals = nullptr;  // "Nb"/"Nf" are read when given
};

enum class ExprStatus {
    kOk,
    kMalformed,  // not an expression, a number not read whole, nesting too deep
    kDivZero,
    kUndefined,  // well formed, but names in it are not defined yet
};

// The one name an expression lacks, when it is no more than that name
// (perhaps inside hi() or lo(), half 1 or 2, as the pseudo-instructions
// write a target): its field then waits for that name alone.
struct Pending {
    std::string_view name;
    int half = 0;
};

// Evaluates text. On kUndefined, missing (when given) receives the names
// that are not defined, in the order they appear, each once, and pending
// (when given) the one name text is, if it is no more. Values of names are
// read up to 64 levels deep and 64 KiB in all; beyond, kMalformed.
ExprStatus Evaluate(std::string_view text, const ExprEnv& env, std::int32_t& value,
                    std::vector<std::string>* missing = nullptr, Pending* pending = nullptr);

// value in hi() or lo() as half says (1, 2; 0 for the whole).
std::int32_t Half(std::int32_t value, int half);

// The text with every defined name and '.' replaced by its value, so that it
// keeps its meaning whatever is defined later; undefined names stay.
// Empty, which is no expression, when it would pass 64 KiB (values that
// name each other twice over double at every level).
std::string Substitute(std::string_view text, const ExprEnv& env);

// Replaces every use of name (letter case ignored) in text by "(value)";
// empty when that would pass 64 KiB.
std::string Bind(std::string_view text, std::string_view name, std::string_view value);

// The name that text is, once balanced outer parentheses are taken off
// ("(loop)" is loop), or empty when it is anything else.
std::string_view BareName(std::string_view text);

// "hi(X)" or "lo(X)" around one name X (as the pseudo-instructions write a
// target not known yet): X, with half 1 (hi) or 2 (lo). Else text and 0.
std::string_view SplitHalf(std::string_view text, int& half);

// True for text that "(...)" and "@" may hold: a token with '(' or a target.
bool HasParen(std::string_view text);

// A token that reads as a name where no number is read: it begins with a
// letter, '_' or '.', and holds nothing that ends a name in an expression.
bool IsNameToken(std::string_view text);

// The C escape after a backslash at text[at]: \n \t \r \a \b \f \v \\ \"
// \', one to three octal digits, x and one or two hex digits. Returns how
// many characters it takes after the backslash (0: none is an escape) and
// its value.
std::size_t ReadEscape(std::string_view text, std::size_t at, unsigned& value);

// hi() and lo() as movhi then movea use them: movea sign-extends, so a low
// half with bit 15 set needs one more in the high half.
constexpr std::uint32_t HighHalf(std::uint32_t v) { return ((v >> 16) + ((v >> 15) & 1)) & 0xFFFF; }
constexpr std::uint32_t LowHalf(std::uint32_t v) { return v & 0xFFFF; }

}  // namespace tarvo
