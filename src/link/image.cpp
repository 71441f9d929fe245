// The flat file objcopy -O binary makes of a linked program.
#include <algorithm>
#include <cstring>

#include "link/link.h"
#include "link/script.h"
#include "messages.h"

namespace tarvo::link {
namespace {

// Far beyond any V810 ROM; a bound on memory for a script that places
// sections gigabytes apart.
constexpr std::uint64_t kMaxImage = std::uint64_t{1} << 28;

void Repeat(std::uint8_t* at, std::uint64_t size, const std::vector<std::uint8_t>& pattern) {
    if (pattern.empty()) return;  // zeros, which the image holds already
    for (std::uint64_t i = 0; i < size; ++i) at[i] = pattern[i % pattern.size()];
}

}  // namespace

bool MakeImage(const Layout& layout, const Contents& contents, std::optional<std::uint8_t> gapFill, Image& image,
               std::vector<Diagnostic>& diags) {
    image = Image{};
    struct Loaded {
        const OutputSection* s;
        std::uint64_t grown;  // the gap after it, which --gap-fill fills
    };
    std::vector<Loaded> loaded;
    for (const OutputSection& s : layout.sections)
        if (s.load) loaded.push_back({&s, 0});
    // objcopy's order: by LMA, then by size.
    std::stable_sort(loaded.begin(), loaded.end(), [](const Loaded& a, const Loaded& b) {
        return a.s->lma != b.s->lma ? a.s->lma < b.s->lma : a.s->size < b.s->size;
    });
    // objcopy --gap-fill grows each section up to the next one's LMA, an
    // empty next section included.
    if (gapFill)
        for (std::size_t i = 0; i + 1 < loaded.size(); ++i) {
            const std::uint64_t end = loaded[i].s->lma + loaded[i].s->size;
            if (end < loaded[i + 1].s->lma) loaded[i].grown = loaded[i + 1].s->lma - end;
        }
    bool any = false;
    std::uint64_t low = 0, high = 0;
    for (const Loaded& l : loaded) {
        if (l.s->size + l.grown == 0) continue;
        low = any ? std::min(low, l.s->lma) : l.s->lma;
        high = any ? std::max(high, l.s->lma + l.s->size + l.grown) : l.s->lma + l.s->size + l.grown;
        any = true;
    }
    if (!any) return true;
    if (high - low > kMaxImage) {
        Complain(diags, true, Place{}, msg::kLinkTooLarge, static_cast<unsigned long long>(high - low),
                 static_cast<unsigned long long>(low), static_cast<unsigned long long>(high));
        return false;
    }
    image.start = low;
    image.bytes.assign(high - low, 0);
    for (const Loaded& l : loaded) {
        const OutputSection& s = *l.s;
        if (s.size + l.grown == 0) continue;
        std::uint8_t* base = image.bytes.data() + (s.lma - low);
        for (const Fill& f : s.fills)
            if (f.offset + f.size <= s.size) Repeat(base + f.offset, f.size, f.pattern);
        for (const Data& d : s.data)
            for (unsigned i = 0; i < d.width && d.offset + i < s.size; ++i)
                base[d.offset + i] = static_cast<std::uint8_t>(d.value >> (8 * i));
        for (const Piece& p : s.pieces) {
            if (!p.contents || !contents || p.offset >= s.size) continue;
            const std::span<const std::uint8_t> bytes = contents(p.unit, p.section);
            const std::uint64_t n = std::min<std::uint64_t>({p.size, bytes.size(), s.size - p.offset});
            if (n > 0) std::memcpy(base + p.offset, bytes.data(), n);
        }
        if (l.grown > 0) std::fill_n(base + s.size, l.grown, *gapFill);
    }
    return true;
}

}  // namespace tarvo::link
