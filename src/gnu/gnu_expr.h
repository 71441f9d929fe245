// Expressions as GNU as reads them: 64-bit values, GNU's operator levels,
// comparisons that give -1, and values that are offsets in a section until
// an operation needs the address.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo::gnu {

inline constexpr int kAbsolute = -1;

struct Value {
    std::int64_t v = 0;
    int sec = kAbsolute;  // else v is an offset in that section
};

enum class ExprStatus : std::uint8_t { kOk, kUndefined, kSyntax, kDivZero };

class ExprEnv {
public:
    virtual ~ExprEnv() = default;
    // The value of a name; false when it has none yet.
    virtual bool Lookup(std::string_view name, Value& out) = 0;
    // An offset in a section as an address.
    virtual std::int64_t Address(int sec, std::int64_t offset) const = 0;
    Value dot;  // '.'
    // Set when a value in a section was read: such a value moves while
    // branches settle, even where the result is absolute.
    bool moved = false;
};

// Evaluates the whole of text. On kUndefined, name is the first name
// without a value; on kSyntax, name is the text that could not be read.
ExprStatus Evaluate(std::string_view text, ExprEnv& env, Value& out, std::string* name = nullptr);

// Name characters of GNU as, and \x01, which starts the names this mode
// gives local labels.
inline constexpr auto kNameChars = [] {
    std::array<bool, 256> t{};
    for (int c = 0; c < 256; ++c)
        t[static_cast<std::size_t>(c)] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                         c == '_' || c == '.' || c == '$' || c == 1;
    return t;
}();
constexpr bool IsNameChar(char c) { return kNameChars[static_cast<unsigned char>(c)]; }

// Reads a character constant after its quote: 'c, '\n, and 'c' alike.
// Returns the characters used, 0 when there is none.
std::size_t CharConstant(std::string_view after, std::int64_t& value);

}  // namespace tarvo::gnu
