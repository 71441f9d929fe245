#include "driver/line_reader.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace tarvo {
namespace {

// The bytes that stop the scan of a line: its end, or a zero byte.
constexpr std::array<bool, 256> kStop = [] {
    std::array<bool, 256> t{};
    t['\n'] = t['\r'] = t['\0'] = true;
    return t;
}();

// The first stop byte in [p, stop), or stop. Eight bytes a step: lines are
// short but there are millions of them.
const char* FindStop(const char* p, const char* stop) {
    if constexpr (std::endian::native == std::endian::little) {
        constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
        auto zero = [](std::uint64_t x) { return (x - kOnes) & ~x & kHigh; };
        for (; stop - p >= 8; p += 8) {
            std::uint64_t x;
            std::memcpy(&x, p, 8);
            // A false mark can only follow a true one, so the lowest mark is right.
            const std::uint64_t marks = zero(x) | zero(x ^ (kOnes * '\n')) | zero(x ^ (kOnes * '\r'));
            if (marks != 0) return p + std::countr_zero(marks) / 8;
        }
    }
    while (p < stop && !kStop[static_cast<unsigned char>(*p)]) ++p;
    return p;
}

}  // namespace

LineReader::LineReader(std::FILE* f, std::size_t blockSize)
    : f_(f), capacity_(blockSize), block_(new char[blockSize]) {}

bool LineReader::Fill() {
    pos_ = end_ = 0;
    if (eof_ || failed_) return false;
    end_ = std::fread(block_.get(), 1, capacity_, f_);
    if (std::ferror(f_)) {
        // Whatever came before the failure is still read; the file ends there.
        failed_ = true;
        return end_ > 0;
    }
    if (end_ < capacity_) eof_ = true;
    return end_ > 0;
}

bool LineReader::ExtractLine(std::string& spill, std::string_view& line) {
    // Most lines lie whole in the block and end with LF.
    if (pos_ < end_ && !skipLF_) {
        const char* begin = block_.get() + pos_;
        const char* p = FindStop(begin, block_.get() + end_);
        if (p != block_.get() + end_ && *p == '\n') {
            pos_ = static_cast<std::size_t>(p + 1 - block_.get());
            line = std::string_view(begin, static_cast<std::size_t>(p - begin));
            return true;
        }
    }
    return ExtractAny(spill, line);
}

bool LineReader::ExtractAny(std::string& spill, std::string_view& line) {
    bool any = false;       // a byte of this line has been read
    bool spilled = false;   // the text so far is in spill, not in the block
    bool cut = false;       // a zero byte ended the text; the rest is dropped
    for (;;) {
        if (pos_ == end_ && !Fill()) {
            if (failed_ || !any) return false;
            line = spill;
            return true;
        }
        if (skipLF_) {
            skipLF_ = false;
            if (block_[pos_] == '\n' && ++pos_ == end_) continue;
        }
        const char* begin = block_.get() + pos_;
        const char* stop = block_.get() + end_;
        const char* p = FindStop(begin, stop);
        pos_ = static_cast<std::size_t>(p - block_.get());
        any = true;
        if (p == stop || *p == '\0') {
            if (!spilled) spill.clear();
            if (!cut) spill.append(begin, p);
            spilled = true;
            if (p != stop) {
                cut = true;
                ++pos_;
            }
            continue;
        }
        ++pos_;
        if (*p == '\r') {
            if (pos_ < end_) {
                if (block_[pos_] == '\n') ++pos_;
            } else {
                skipLF_ = true;
            }
        }
        if (!spilled) {
            line = std::string_view(begin, static_cast<std::size_t>(p - begin));
        } else {
            if (!cut) spill.append(begin, p);
            line = spill;
        }
        return true;
    }
}

}  // namespace tarvo
