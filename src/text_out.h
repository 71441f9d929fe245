// Text formed by hand into one buffer and written out in large blocks (or
// appended to a string): the listings write millions of lines, and printf
// per field would cost more than all the rest of the work.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "text.h"

namespace tarvo {

class TextOut {
public:
    explicit TextOut(std::FILE* f) : f_(f) {}
    explicit TextOut(std::string* text) : text_(text) {}
    ~TextOut() { Flush(); }
    TextOut(const TextOut&) = delete;
    TextOut& operator=(const TextOut&) = delete;

    void Flush() {
        if (n_ == 0) return;
        if (text_ != nullptr) text_->append(buf_, n_);
        else fwrite_unlocked(buf_, 1, n_, f_);
        n_ = 0;
    }
    // Room for n more characters (n well below 64 Ki), written by the
    // operators below without a check of their own.
    void Room(std::size_t n) {
        if (n_ + n > kSize) Flush();
    }
    // Text of any length with its own check: names, source lines, messages.
    void Text(std::string_view s) {
        if (s.size() <= kSize / 2) {
            Room(s.size());
            *this << s;
            return;
        }
        Flush();
        if (text_ != nullptr) text_->append(s);
        else fwrite_unlocked(s.data(), 1, s.size(), f_);
    }

    TextOut& operator<<(char c) {
        buf_[n_++] = c;
        return *this;
    }
    TextOut& operator<<(std::string_view s) {
        Put(s.data(), s.size());
        return *this;
    }
    // Lower-case hex, digits 2, 4 or 8.
    TextOut& Hex(std::uint32_t v, int digits) {
        n_ = static_cast<std::size_t>(PutHex(buf_ + n_, v, digits) - buf_);
        return *this;
    }
    // Decimal, filled to at least width characters.
    TextOut& Dec(std::uint64_t v, int width = 1, char fill = '0') {
        if (v < 10 && width <= 1) return *this << static_cast<char>('0' + v);
        if (v < 100 && width <= 2 && (v >= 10 || fill == '0')) {  // registers and five-bit fields
            std::memcpy(buf_ + n_, &kDecimalPairs[2 * v], 2);
            n_ += 2;
            return *this;
        }
        // Out of line where no width is asked for, so that the short forms
        // above inline at every call.
        if (width <= 1) return DecAny(v);
        char digits[24];
        const char* first = PutDecimalBack(digits + sizeof digits, v);
        for (auto k = digits + sizeof digits - first; k < width; ++k) buf_[n_++] = fill;
        Put(first, static_cast<std::size_t>(digits + sizeof digits - first));
        return *this;
    }
    TextOut& Signed(std::int64_t v) {
        if (v >= 0) return Dec(static_cast<std::uint64_t>(v));
        *this << '-';
        return Dec(0 - static_cast<std::uint64_t>(v));
    }
    TextOut& Reg(unsigned r) {
        *this << '$';
        return Dec(r);
    }
    TextOut& Fill(char c, std::size_t n) {
        std::memset(buf_ + n_, c, n);
        n_ += n;
        return *this;
    }

private:
    [[gnu::noinline]] TextOut& DecAny(std::uint64_t v) {
        char digits[24];
        const char* first = PutDecimalBack(digits + sizeof digits, v);
        Put(first, static_cast<std::size_t>(digits + sizeof digits - first));
        return *this;
    }

    // Most pieces are a few characters: two overlapping fixed-size copies
    // cost less than a call.
    void Put(const char* p, std::size_t n) {
        char* d = buf_ + n_;
        if (n > 16) Long(d, p, n);
        else if (n >= 8) Two<8>(d, p, n);
        else if (n >= 4) Two<4>(d, p, n);
        else if (n >= 2) Two<2>(d, p, n);
        else if (n == 1) *d = *p;
        n_ += n;
    }
    // Out of line, so that the compiler does not weigh it against the
    // sizes of short literals.
    [[gnu::noinline]] static void Long(char* d, const char* p, std::size_t n) { std::memcpy(d, p, n); }
    template <std::size_t K>
    static void Two(char* d, const char* p, std::size_t n) {
        std::memcpy(d, p, K);
        std::memcpy(d + n - K, p + n - K, K);
    }

    static constexpr std::size_t kSize = 1 << 16;
    std::FILE* f_ = nullptr;
    std::string* text_ = nullptr;  // set: the text goes here instead
    char buf_[kSize];  // in the object: a pointer to it would be read again after every store
    std::size_t n_ = 0;
};

}  // namespace tarvo
