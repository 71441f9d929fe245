// Splitting lines into tokens and reading numbers: shared by the pass driver,
// the directives, the encoder and the command line.
#pragma once
#include <array>
#include <cstring>
#include <cstdint>
#include <string_view>

namespace tarvo {

// Blank, comma, both square brackets and tab separate tokens; brackets carry
// no meaning of their own, so "4[$3]" is the two tokens 4 and $3.
inline constexpr std::string_view szSeparators = " ,[]\t";

inline constexpr std::array<bool, 256> kIsSeparator = [] {
    std::array<bool, 256> t{};
    for (char c : szSeparators) t[static_cast<unsigned char>(c)] = true;
    return t;
}();

constexpr bool IsSeparator(char c) { return kIsSeparator[static_cast<unsigned char>(c)]; }

// The separators and '(', which opens a run that blanks do not end: one
// table lookup a character on the common path.
inline constexpr std::array<std::uint8_t, 256> kTokenClass = [] {
    std::array<std::uint8_t, 256> t{};
    for (char c : szSeparators) t[static_cast<unsigned char>(c)] = 1;
    t['('] = 2;
    return t;
}();

// The closing quote of a character constant ('c', '\n', '\x2c') that opens
// at j, or j when none does.
constexpr std::size_t CharacterEnd(std::string_view rest, std::size_t j) {
    if (j + 2 < rest.size() && rest[j + 1] != '\\' && rest[j + 2] == '\'') return j + 2;
    if (j + 1 < rest.size() && rest[j + 1] == '\\')
        for (std::size_t k = j + 3; k < rest.size() && k <= j + 6; ++k)
            if (rest[k] == '\'') return k;
    return j;
}

// The end of a token from an open parenthesis at j: blanks and tabs inside
// the parentheses belong to it, and anything in a character constant;
// other separators end it anyway.
constexpr std::size_t SkipParens(std::string_view rest, std::size_t j) {
    int depth = 0;
    for (; j < rest.size(); ++j) {
        const char c = rest[j];
        if (IsSeparator(c) && (depth == 0 || (c != ' ' && c != '\t'))) break;
        if (c == '\'' && depth > 0) j = CharacterEnd(rest, j);
        else depth += c == '(' ? 1 : c == ')' && depth > 0 ? -1 : 0;
    }
    return j;
}

// Takes the next token from rest (strtok rules: runs of separators count as
// one, no empty tokens) and leaves rest just past the separator that ended
// it. Returns an empty view when no token is left. With parens, blanks and
// tabs inside an open parenthesis belong to the token ("(a + 1)"); commas
// and brackets still end it.
constexpr std::string_view NextToken(std::string_view& rest, bool parens = false) {
    std::size_t i = 0;
    while (i < rest.size() && IsSeparator(rest[i])) ++i;
    std::size_t j = i;
    while (j < rest.size() && kTokenClass[static_cast<unsigned char>(rest[j])] == 0) ++j;
    if (j < rest.size() && rest[j] == '(') {
        if (parens) j = SkipParens(rest, j);
        else while (j < rest.size() && !IsSeparator(rest[j])) ++j;
    }
    std::string_view token = rest.substr(i, j - i);
    rest.remove_prefix(j < rest.size() ? j + 1 : j);
    return token;
}

// A token that begins with ';' starts a comment: it and all after it are absent.
constexpr std::string_view NextOperand(std::string_view& rest, bool parens = false) {
    std::string_view token = NextToken(rest, parens);
    if (!token.empty() && token.front() == ';') {
        rest = {};
        return {};
    }
    return token;
}

enum class Scan {
    kNumber,    // an integer was read
    kNoNumber,  // the text does not begin with an integer
    kEmpty,     // only white space: the text ended before any conversion
};

// Reads an integer as the "%i" conversion does: white space, an optional
// sign, then 0x/0X and hex digits, a leading 0 and octal digits, or decimal
// digits, stopping at the first character that cannot continue the number.
// The value wraps modulo 2^32 whatever its length. end, when given, receives
// the offset of the first character not read.
Scan ScanNumberAny(std::string_view text, std::int32_t& value, std::size_t* end);
inline Scan ScanNumber(std::string_view text, std::int32_t& value, std::size_t* end = nullptr) {
    // One or two decimal digits and nothing else, as register numbers and
    // small counts are written, read inline: every operand passes here.
    if (text.size() - 1 < 2) {
        const unsigned a = static_cast<unsigned char>(text[0]) - unsigned{'0'};
        const unsigned b = text.size() == 2 ? static_cast<unsigned char>(text[1]) - unsigned{'0'} : 0;
        if (a <= 9 && b <= 9 && (text.size() == 1 || a != 0)) {
            value = static_cast<std::int32_t>(text.size() == 1 ? a : a * 10 + b);
            if (end != nullptr) *end = text.size();
            return Scan::kNumber;
        }
    }
    return ScanNumberAny(text, value, end);
}

inline bool ReadNumber(std::string_view text, std::int32_t& value) {
    return ScanNumber(text, value) == Scan::kNumber;
}

// "$" directly followed by an integer; the register is its low 5 bits.
inline bool ReadRegister(std::string_view text, unsigned& reg) {
    std::int32_t v = 0;
    if (text.empty() || text.front() != '$' || !ReadNumber(text.substr(1), v)) return false;
    reg = static_cast<std::uint32_t>(v) & 0x1F;
    return true;
}

// Lower-case hex of the low digits/2 bytes of v into out (digits is 2, 4 or
// 8), two characters at a time: the listings write millions of these.
inline constexpr std::array<char, 512> kHexPairs = [] {
    std::array<char, 512> t{};
    constexpr char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 256; ++i) {
        t[2 * i] = kHex[i >> 4];
        t[2 * i + 1] = kHex[i & 15];
    }
    return t;
}();
inline char* PutHex(char* out, std::uint32_t v, int digits) {
    for (int shift = (digits - 2) * 4; shift >= 0; shift -= 8) {
        const char* pair = &kHexPairs[2 * ((v >> shift) & 0xFF)];
        *out++ = pair[0];
        *out++ = pair[1];
    }
    return out;
}

// The decimal digits of u written backwards so that they end at end, two a
// step from a table of "00" to "99"; returns where they begin.
inline constexpr std::array<char, 200> kDecimalPairs = [] {
    std::array<char, 200> t{};
    for (int i = 0; i < 100; ++i) {
        t[2 * i] = static_cast<char>('0' + i / 10);
        t[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return t;
}();
inline char* PutDecimalBack(char* end, std::uint64_t u) {
    while (u >= 100) {
        end -= 2;
        std::memcpy(end, &kDecimalPairs[2 * (u % 100)], 2);
        u /= 100;
    }
    if (u >= 10) {
        end -= 2;
        std::memcpy(end, &kDecimalPairs[2 * u], 2);
    } else {
        *--end = static_cast<char>('0' + u);
    }
    return end;
}

}  // namespace tarvo
