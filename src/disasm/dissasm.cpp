#include "disasm/dissasm.h"

#include <sys/types.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#include "disasm/decode.h"
#include "isa/optable.h"
#include "messages.h"
#include "text.h"
#include "text_out.h"

namespace tarvo {
namespace {

// Starts a line: newline, the address, a tab and the mnemonic, with room
// for the longest line (under 64 characters).
void Begin(TextOut& out, std::uint32_t address, std::string_view mnemonic) {
    out.Room(64);
    out << "\n0x";
    out.Hex(address, 8) << '\t' << mnemonic;
}

}  // namespace

int ListInstruction(TextOut& out, std::uint32_t address, const Decoded& d) {
    if (d.entry == nullptr) {
        Begin(out, address, "nop");
        return 2;
    }
    const OpEntry& e = *d.entry;
    const unsigned r1 = d.r1, r2 = d.r2;
    switch (e.format) {
        case FMT_REGREG:
            Begin(out, address, e.name);
            out << '\t';
            if (e.name == "jmp") {
                out << '[';
                out.Reg(r1);
                out << ']';
            } else {
                out.Reg(r1);
                out << ", ";
                out.Reg(r2);
            }
            break;
        case FMT_IMMREG:
            Begin(out, address, e.name);
            out << '\t';
            out.Dec(r1, 2);
            out << ", ";
            out.Reg(r2);
            break;
        case FMT_BCOND:
            Begin(out, address, e.name);
            out << '\t';
            out.Dec(d.hw1 & 0x1FF, 4);
            break;
        case FMT_JUMP26:
            Begin(out, address, e.name);
            out << '\t';
            out.Hex((d.hw1 & 0x3FFu) << 16 | d.hw2, 8);
            break;
        case FMT_IMM16:
            Begin(out, address, e.name);
            out << '\t';
            out.Dec(d.hw2);
            out << ", ";
            out.Reg(r1);
            out << ", ";
            out.Reg(r2);
            break;
        case FMT_LOAD:
            Begin(out, address, e.name);
            out << '\t';
            out.Dec(d.hw2);
            out << '[';
            out.Reg(r1);
            out << "], ";
            out.Reg(r2);
            break;
        case FMT_STORE:
            Begin(out, address, e.name);
            out << '\t';
            out.Reg(r2);
            out << ", ";
            out.Dec(d.hw2);
            out << '[';
            out.Reg(r1);
            out << ']';
            break;
        case FMT_FPP:
            // The classic listing knows no Virtual Boy entries: they show as nop.
            if (d.sub == nullptr || d.sub->flags & kExtension) {
                Begin(out, address, "nop");
            } else {
                Begin(out, address, d.sub->name);
                out << '\t';
                out.Reg(r1);
                out << ", ";
                out.Reg(r2);
            }
            break;
        case FMT_BSTR:
            Begin(out, address, d.sub == nullptr ? std::string_view("nop") : d.sub->name);
            break;
        case FMT_SPECIAL:
            Begin(out, address, e.name);
            if (e.name == "trap") {
                out << "\t0x";
                out.Hex(d.hw1 & 0x3FF, 4);
            }
            break;
        default:
            return 0;
    }
    return FormatLength(e.format);
}

namespace {

// The length an instruction will take, from its first halfword alone.
int LengthOf(std::uint16_t hw1) {
    const int index = kOpByKey[OpcodeKey(hw1)];
    return index < 0 ? 2 : FormatLength(optable[static_cast<std::size_t>(index)].format);
}

// An image that cannot be positioned (a pipe) is read up to the start.
bool SkipTo(std::FILE* image, std::int64_t address) {
    char scratch[4096];
    while (address > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(address, sizeof scratch));
        const std::size_t got = fread_unlocked(scratch, 1, want, image);
        if (got == 0) return false;
        address -= static_cast<std::int64_t>(got);
    }
    return true;
}

}  // namespace

int Dissasm(Context& ctx, std::FILE* image, std::FILE* listing, const char* name) {
    Say(ctx, msg::kStartReading);
    int result = 1;
    // Computed in 64 bits, so a span near the top of the range has a bound.
    std::int64_t address = ctx.nPC;
    const std::int64_t bound = static_cast<std::int64_t>(ctx.nPC) + ctx.nBytes;

    // Reads in blocks of up to 1 MiB; a short span needs no more than itself.
    const std::int64_t span = std::max<std::int64_t>(bound - address, 0);
    const auto blockSize = static_cast<std::size_t>(std::min<std::int64_t>(span + 8, 1 << 20));
    std::unique_ptr<unsigned char[]> block(new unsigned char[blockSize]);
    std::size_t have = 0, at = 0;  // bytes in block; offset of address in it
    bool ended = false;            // no more bytes follow those in block
    // Addresses below 0 hold no image bytes: such a span lists nothing.
    if (address < 0) ended = true;
    else if (fseeko(image, static_cast<off_t>(address), SEEK_SET) != 0) ended = !SkipTo(image, address);

    TextOut out(listing);
    while (address < bound) {
        if (have - at < 4 && !ended) {
            std::memmove(block.get(), block.get() + at, have - at);
            have -= at;
            at = 0;
            while (have < 4 && !ended) {
                std::size_t n = fread_unlocked(block.get() + have, 1, blockSize - have, image);
                have += n;
                if (n == 0 || std::ferror(image)) {
                    if (std::ferror(image)) {
                        Say(ctx, msg::kCannotRead, name);
                        ++ctx.nErrors;
                    }
                    ended = true;
                }
            }
        }
        const std::size_t avail = have - at;
        if (avail == 0) break;
        unsigned char b[4] = {0, 0, 0, 0};
        std::memcpy(b, block.get() + at, avail < 4 ? avail : 4);
        // An instruction cut off by the end of the image is not listed: its
        // missing bytes would be invented.
        if (avail < 2 || static_cast<std::size_t>(LengthOf(GetHalf(b))) > avail) break;
        const int length = ListInstruction(out, static_cast<std::uint32_t>(address), Decode(b));
        if (length == 0) {
            Say(ctx, msg::kInvalidRom, static_cast<unsigned>(address),
                static_cast<unsigned>(GetHalf(b)) << 16 | GetHalf(b + 2));
            result = 0;
        }
        const int step = length == 0 ? 2 : length;
        address += step;
        at += static_cast<std::size_t>(step);
        if (avail < 4) break;  // the read for this instruction ran past the end
    }
    out.Flush();
    Say(ctx, msg::kFinishReading);
    return result;
}

}  // namespace tarvo
