#include "text.h"

#include <array>

namespace tarvo {
namespace {

constexpr bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The value of each byte as a digit, 99 for none: by table, since every
// operand passes here.
constexpr std::array<std::uint8_t, 256> kDigit = [] {
    std::array<std::uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) {
        t[c] = 99;
        if (c >= '0' && c <= '9') t[c] = static_cast<std::uint8_t>(c - '0');
        if (c >= 'a' && c <= 'f') t[c] = static_cast<std::uint8_t>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F') t[c] = static_cast<std::uint8_t>(c - 'A' + 10);
    }
    return t;
}();
constexpr int DigitValue(char c) { return kDigit[static_cast<unsigned char>(c)]; }

}  // namespace

Scan ScanNumberAny(std::string_view text, std::int32_t& value, std::size_t* end) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    if (i == text.size()) return Scan::kEmpty;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
    if (i == text.size() || text[i] < '0' || text[i] > '9') return Scan::kNoNumber;

    int base = 10;
    if (text[i] == '0') {
        base = 8;
        ++i;
        if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
            base = 16;
            ++i;
        }
    }
    // Unsigned arithmetic keeps exactly the low 32 bits of any length of number.
    std::uint32_t v = 0;
    for (; i < text.size(); ++i) {
        int d = DigitValue(text[i]);
        if (d >= base) break;
        v = v * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(d);
    }
    if (negative) v = 0u - v;
    value = static_cast<std::int32_t>(v);
    if (end != nullptr) *end = i;
    return Scan::kNumber;
}

}  // namespace tarvo
