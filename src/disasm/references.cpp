#include "disasm/references.h"

#include "disasm/span.h"

namespace tarvo {
namespace {

constexpr std::uint8_t kMovea = Code("movea"), kAddi = Code("addi"), kStsr = Code("stsr"), kSetf = Code("setf"),
                       kMovReg = Code("mov"), kCmp = Code("cmp"), kMul = Code("mul"), kDivu = Code("divu"),
                       kLdsr = Code("ldsr"), kCaxi = Code("caxi");
// The immediate forms of mov and cmp: the table's second entries.
constexpr std::uint8_t kMovImm = 0x10, kCmpImm = 0x13;
static_assert(optable[16].code == kMovImm && optable[16].name == "mov" && optable[19].code == kCmpImm);

// How many instructions after a movhi its low half is looked for.
constexpr std::size_t kPairReach = 16;

// How an instruction treats a register, as far as a movhi/movea pair cares:
// whether it may read it, and whether it writes it. Unsure is a read.
struct RegisterUse {
    bool reads = false, writes = false;
};
RegisterUse UseOf(const Decoded& d, unsigned r) {
    const std::uint8_t code = d.entry->code;
    const bool r1 = d.r1 == r, r2 = d.r2 == r;
    switch (d.format) {
        case FMT_REGREG:
            if (code == kMovReg || code == kStsr) return {r1 && code == kMovReg, r2};
            // mul and div write $30 too.
            if (code >= kMul && code <= kDivu && r == 30) return {true, true};
            return {r1 || r2, r2 && code != kCmp && code != kLdsr};
        case FMT_IMMREG:
            if (code == kMovImm || code == kSetf) return {false, r2};
            return {r2, r2 && code != kCmpImm};
        case FMT_IMM16: return {r1, r2};
        case FMT_LOAD: return {r1 || (r2 && code == kCaxi), r2};
        case FMT_STORE: return {r1 || r2, false};
        case FMT_FPP: return {r1 || r2, r2};
        case FMT_BSTR: return {r >= 26 && r <= 30, r >= 26 && r <= 30};
        default: return {true, false};
    }
}

// The instructions that add a 16-bit value to a register, as the second
// half of a 32-bit value: movea, addi, and the loads and stores.
bool AddsLow(const Decoded& d) {
    return d.format == FMT_LOAD || d.format == FMT_STORE ||
           (d.format == FMT_IMM16 && (d.entry->code == kMovea || d.entry->code == kAddi));
}

class Finder {
public:
    explicit Finder(const SpanFacts& f) : span_(f.span), kind_(f.kind), start_(f.start), base_(f.base), transfers_(f.transfers) {}

    std::unordered_map<std::size_t, Ref> Find() {
        MarkReferences();
        return std::move(refs_);
    }

private:
    // Where a value that is an address in the span is listed: the item that
    // holds it (an instruction holds its bytes; in data every byte can be
    // one) and how far into it. False where no label can stand.
    bool Anchor(std::uint32_t address, Ref& ref) const {
        const std::uint32_t t = address - base_ - start_;
        if (t >= span_.size()) return false;
        std::size_t at = t;
        // Inside an instruction or a word of data that is a pointer: the
        // item, so that no label splits it.
        for (std::size_t k = 1; k <= 3 && k <= t; ++k)
            if (((kind_[t - k] & kCode) && DecodeAt(span_, t - k).length > k) || (kind_[t - k] & kWord)) at = t - k;
        if (!Labelable(at)) return false;
        ref = {at, static_cast<std::uint32_t>(t - at)};
        return true;
    }

    // The register that a movhi at pos builds a high half in is read by one
    // instruction that adds a low half, before anything else reads or
    // writes it, on the straight path that follows: that one, else 0.
    std::size_t LowPartner(std::size_t pos, unsigned r) const {
        std::size_t partner = 0;
        for (std::size_t q = pos + 4, steps = 0; q < span_.size() && (kind_[q] & kCode) && !(kind_[q] & kLabel) &&
                                                 steps < kPairReach;
             ++steps) {
            const Decoded d = DecodeAt(span_, q);
            if (IsTransfer(d) || d.format == FMT_SPECIAL || d.entry->code == kJmp) break;
            const RegisterUse use = UseOf(d, r);
            if (partner == 0 && AddsLow(d) && d.r1 == r) {
                // A store of the register itself, or caxi's compare value, is a second use.
                if (d.r2 == r && (d.format == FMT_STORE || d.entry->code == kCaxi)) return 0;
                partner = q;
                if (d.r2 == r) return partner;  // written over: the high half ends here
            } else if (use.reads) {
                return 0;  // a second use: one hi() cannot serve two values
            } else if (use.writes) {
                return partner;
            }
            q += d.length;
        }
        // Where the path ends (a branch, a label) the value is taken to end too.
        return partner;
    }

    // The values, then the labels they name; a word with a label inside
    // stays bytes.
    void MarkReferences() {
        std::vector<std::size_t> anchors;
        Ref ref;
        // First the words of data (at locations a multiple of four) that are
        // pointers, so that a value pointing inside one names the word.
        const std::size_t first = (4 - (start_ & 3)) & 3;
        for (std::size_t pos = first; pos + 4 <= span_.size(); pos += 4)
            if (!((kind_[pos] | kind_[pos + 1] | kind_[pos + 2] | kind_[pos + 3]) & kCode) && Anchor(WordAt(pos), ref))
                kind_[pos] |= kWord;
        for (std::size_t pos = 0; pos < span_.size();) {
            if (!(kind_[pos] & kCode)) {
                ++pos;
                continue;
            }
            const Decoded d = DecodeAt(span_, pos);
            if (d.format == FMT_IMM16 && d.entry->code == kMovhi && d.r1 == 0 && d.r2 != 0) {
                if (const std::size_t low = LowPartner(pos, d.r2); low != 0) {
                    const Decoded l = DecodeAt(span_, low);
                    const std::uint32_t value = (std::uint32_t{d.hw2} << 16) + static_cast<std::uint32_t>(SignExtend(l.hw2, 16));
                    if (Anchor(value, ref)) {
                        refs_[pos] = refs_[low] = ref;
                        anchors.push_back(ref.at);
                    }
                }
            }
            pos += d.length;
        }
        for (std::size_t pos : transfers_) {
            const Decoded d = DecodeAt(span_, pos);
            if ((Displacement(d) & 1) || !(kind_[pos] & kCode) || !Labelable(pos)) continue;
            const std::int64_t t = static_cast<std::int64_t>(pos) + Displacement(d);
            if (t >= 0 && static_cast<std::size_t>(t) < span_.size() && (kind_[t] & kLabel)) continue;
            if (Anchor(Address(pos) + static_cast<std::uint32_t>(Displacement(d)), ref)) {
                refs_[pos] = ref;
                anchors.push_back(ref.at);
            }
        }
        // Words of data, at locations a multiple of four.
        for (std::size_t pos = first; pos + 4 <= span_.size(); pos += 4) {
            if (!(kind_[pos] & kWord)) continue;
            Anchor(WordAt(pos), ref);
            refs_[pos] = ref;
            anchors.push_back(ref.at);
        }
        for (std::size_t at : anchors) kind_[at] |= kLabel;
        // A label inside a word (a name from the symbol file) splits it: it stays bytes.
        for (std::size_t pos = first; pos + 4 <= span_.size(); pos += 4) {
            if ((kind_[pos] & kWord) && ((kind_[pos + 1] | kind_[pos + 2] | kind_[pos + 3]) & kLabel)) {
                kind_[pos] &= static_cast<std::uint8_t>(~kWord);
                refs_.erase(pos);
            }
        }
    }


    enum : std::uint8_t { kCode = SpanKind::kCode, kLabel = SpanKind::kLabel, kWord = SpanKind::kWord };
    std::uint32_t WordAt(std::size_t pos) const {
        std::uint32_t value = 0;
        for (int k = 3; k >= 0; --k) value = value << 8 | span_[pos + static_cast<std::size_t>(k)];
        return value;
    }
    std::uint32_t Address(std::size_t pos) const { return base_ + start_ + static_cast<std::uint32_t>(pos); }
    bool Labelable(std::size_t pos) const { return start_ + pos < kLabelReach; }

    const std::vector<std::uint8_t>& span_;
    std::vector<std::uint8_t>& kind_;
    std::uint32_t start_, base_;
    const std::vector<std::size_t>& transfers_;
    std::unordered_map<std::size_t, Ref> refs_;
};

}  // namespace

std::unordered_map<std::size_t, Ref> FindReferences(const SpanFacts& facts) {
    return Finder(facts).Find();
}

}  // namespace tarvo
