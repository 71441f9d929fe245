#include "disasm/source.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <deque>
#include <future>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "disasm/decode.h"
#include "disasm/references.h"
#include "disasm/span.h"
#include "isa/encode.h"
#include "messages.h"
#include "symbols/symbols.h"
#include "text.h"
#include "text_out.h"
#include "text_table.h"

namespace tarvo {
namespace {

// The bytes of the span, read whole (a 16 MiB image is 16 MiB here).
std::vector<std::uint8_t> ReadSpan(Context& ctx, std::FILE* image, std::int64_t start, std::int64_t count) {
    std::vector<std::uint8_t> span;
    if (start < 0 || count <= 0) return span;
    if (fseeko(image, static_cast<off_t>(start), SEEK_SET) != 0) {
        char scratch[4096];
        for (std::int64_t left = start; left > 0;) {
            const std::size_t got = std::fread(scratch, 1, static_cast<std::size_t>(std::min<std::int64_t>(left, 4096)), image);
            if (got == 0) return span;
            left -= static_cast<std::int64_t>(got);
        }
    }
    // Room for the whole span at once, when the file says how much is there.
    struct stat st;
    if (fstat(fileno(image), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > start)
        span.reserve(static_cast<std::size_t>(std::min<std::int64_t>(count, st.st_size - start)));
    std::uint8_t block[1 << 16];
    while (static_cast<std::int64_t>(span.size()) < count) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(count - static_cast<std::int64_t>(span.size()), sizeof block));
        const std::size_t got = std::fread(block, 1, want, image);
        span.insert(span.end(), block, block + got);
        if (got < want) break;
    }
    if (std::ferror(image)) Report(ctx, Severity::kError, Nowhere(), msg::kCannotRead, "image");
    return span;
}

constexpr std::uint8_t kBr = Code("br"), kJr = Code("jr"), kReti = Code("reti"), kMovea = Code("movea"),
                       kAddi = Code("addi"), kLdsr = Code("ldsr"), kStsr = Code("stsr"), kSetf = Code("setf"),
                       kTrap = Code("trap");

// What the source line of a word writes, as the encoder reads it back.
struct Word {
    Decoded d;
    std::uint32_t v[3] = {};
    bool ok = false;  // encoding the printed operands gives the same bits
};

Word Check(const std::uint8_t* p, std::size_t avail) {
    unsigned char b[4] = {0, 0, 0, 0};
    if (avail >= 4) std::memcpy(b, p, 4);
    else std::memcpy(b, p, avail);
    Word w;
    w.d = Decode(b);
    const Decoded& d = w.d;
    if (d.entry == nullptr || d.length > avail) return w;
    if ((d.format == FMT_FPP || d.format == FMT_BSTR) && d.sub == nullptr) return w;
    Fields(d, w.v);
    if (d.entry->code == kNop) w.v[0] = 0;  // nop always assembles with displacement 0
    const Encoded e = Encode({d.entry, d.format, d.sub}, w.v);
    w.ok = e.bytes[0] == b[0] && e.bytes[1] == b[1] && (d.length == 2 || (e.bytes[2] == b[2] && e.bytes[3] == b[3]));
    return w;
}

// Room made before a line: no line but a label name comes near it, and
// names go through Text(), which checks for itself.
constexpr std::size_t kLine = 256;

std::string_view NameOf(const std::array<NamedNumber, 10>& table, unsigned v) {
    for (const NamedNumber& n : table)
        if (n.value == v) return n.name;
    return {};
}

std::string_view ConditionName(unsigned v) {
    for (const NamedNumber& n : kConditions)
        if (n.value == v) return n.name;
    return {};
}

// The operands of an instruction as the default language writes them
// (room for a line already made); target writes a branch's displacement.
template <typename Target>
inline void WriteOperands(TextOut& out, const Decoded& d, Target target) {
    const std::uint8_t code = d.entry->code;
    auto number = [&out](const OpEntry& entry, std::uint32_t v, int bits) {
        if (entry.flags & kSigned || entry.code == kMovea || entry.code == kAddi) out.Signed(SignExtend(v, bits));
        else out.Dec(v & ((1u << bits) - 1));
    };
    switch (d.format) {
        case FMT_REGREG:
            out << '\t';
            if (code == kJmp && d.r2 == 0) {
                out << '[';
                out.Reg(d.r1) << ']';
            } else if ((code == kLdsr || code == kStsr) && !NameOf(kSystemRegisters, d.r1).empty()) {
                out << NameOf(kSystemRegisters, d.r1) << ", ";
                out.Reg(d.r2);
            } else {
                out.Reg(d.r1) << ", ";
                out.Reg(d.r2);
            }
            break;
        case FMT_IMMREG:
            out << '\t';
            if (code == kSetf && !ConditionName(d.r1).empty()) out << ConditionName(d.r1);
            else number(*d.entry, d.r1, 5);
            out << ", ";
            out.Reg(d.r2);
            break;
        case FMT_BCOND:
        case FMT_JUMP26: {
            if (code == kNop) break;
            out << '\t';
            target(Displacement(d));
            break;
        }
        case FMT_IMM16:
            out << '\t';
            number(*d.entry, d.hw2, 16);
            out << ", ";
            out.Reg(d.r1) << ", ";
            out.Reg(d.r2);
            break;
        case FMT_LOAD:
            out << '\t';
            out.Signed(SignExtend(d.hw2, 16)) << '[';
            out.Reg(d.r1) << "], ";
            out.Reg(d.r2);
            break;
        case FMT_STORE:
            out << '\t';
            out.Reg(d.r2) << ", ";
            out.Signed(SignExtend(d.hw2, 16)) << '[';
            out.Reg(d.r1) << ']';
            break;
        case FMT_SPECIAL:
            if (code == kTrap) {
                out << '\t';
                out.Dec(d.hw1 & 0x3FF);
            }
            break;
        case FMT_FPP:
            out << '\t';
            if (d.sub->flags & kOneReg) {
                out.Reg(d.r2);
            } else {
                out.Reg(d.r1) << ", ";
                out.Reg(d.r2);
            }
            break;
        default: break;
    }
}

class Lister {
public:
    Lister(std::uint32_t start, const std::vector<std::uint8_t>& span, const SourceOptions& o, std::FILE* f)
        : start_(start), base_(o.base), span_(span), out_(f), kind_(span.size(), kData), table_(o.table),
          tableName_(o.tableName), relocatable_(o.relocatable) {
        // By position in the span, as everything here is; names at one
        // place keep the file's order.
        for (const auto& [location, name] : o.names) {
            if (location < start || location - start >= span.size()) continue;
            names_[location - start].push_back(name);
            if (named_.empty()) named_.resize(span.size());
            named_[location - start] = true;
        }
    }

    void Run(const SourceOptions& o) {
        if (o.entries.empty()) MarkLinear();
        else MarkReachable(o.entries);
        MarkTargets();
        if (relocatable_) refs_ = FindReferences({span_, kind_, start_, base_, transfers_});
        Print();
    }

private:
    enum : std::uint8_t { kData = SpanKind::kData, kCode = SpanKind::kCode, kLabel = SpanKind::kLabel, kWord = SpanKind::kWord };

    std::uint32_t Address(std::size_t pos) const { return base_ + start_ + static_cast<std::uint32_t>(pos); }

    // A name falls inside the bytes of a word: the word is listed as data,
    // so that the name gets its line.
    bool NamedInside(std::size_t pos, std::size_t length) const {
        if (named_.empty()) return false;
        for (std::size_t k = 1; k < length && pos + k < named_.size(); ++k)
            if (named_[pos + k]) return true;
        return false;
    }

    // Data bytes from pos on that are not code and carry no label or word
    // after pos, while keep holds for each.
    template <typename Keep>
    std::size_t DataRun(std::size_t pos, std::size_t most, Keep keep) const {
        std::size_t end = pos;
        while (end < span_.size() && end - pos < most && !(kind_[end] & kCode) &&
               (end == pos || !(kind_[end] & (kLabel | kWord))) && keep(span_[end]))
            ++end;
        return end - pos;
    }
    static constexpr std::size_t kMinFill = 16, kMinText = 4, kTextLine = 64;
    std::size_t FillRun(std::size_t pos, std::size_t most = kImageSize) const {
        return DataRun(pos, most, [b = span_[pos]](std::uint8_t c) { return c == b; });
    }
    std::size_t TextRun(std::size_t pos, std::size_t most = kTextLine) const {
        return DataRun(pos, most, [](std::uint8_t c) { return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n'; });
    }
    bool RunAt(std::size_t pos) const {
        return FillRun(pos, kMinFill) >= kMinFill || TextRun(pos, kMinText) >= kMinText ||
               (table_ != nullptr && TableRunAt(pos));
    }
    [[gnu::noinline]] bool TableRunAt(std::size_t pos) const {
        std::string text;
        return TableRun(pos, text) > 0;
    }

    // Text through the table from pos: its length in bytes (0: none) and the text.
    std::size_t TableRun(std::size_t pos, std::string& text) const {
        return table_->Run(&span_[pos], DataRun(pos, 4 * kTextLine, [](std::uint8_t) { return true; }), kMinText,
                           kTextLine, text);
    }
    bool Labelable(std::size_t pos) const { return start_ + pos < kLabelReach; }

    // Every word is code unless no source form gives it back.
    // Outside the floating-point group the second halfword is a field the
    // encoder writes whole, so the encoder's verdict on a word depends on its
    // first halfword alone: it is asked once per first halfword.
    void MarkLinear() {
        // Whether a branch is a transfer depends on its first halfword too.
        enum : std::uint8_t { kUnknown, kNo, kTwo, kFour, kAsk, kTransfer = 8 };
        std::vector<std::uint8_t> verdict(65536, kUnknown);
        for (std::size_t pos = 0; pos + 1 < span_.size();) {
            const std::size_t avail = span_.size() - pos;
            std::uint8_t& v = verdict[GetHalf(&span_[pos])];
            if (v == kUnknown) {
                const std::uint8_t b[4] = {span_[pos], span_[pos + 1], 0, 0};
                const Word w = Check(b, 4);
                v = w.d.format == FMT_FPP ? kAsk : !w.ok ? kNo : w.d.length == 4 ? kFour : kTwo;
                if (w.ok && IsTransfer(w.d)) v |= kTransfer;
            }
            const std::uint8_t kind = v & ~kTransfer;
            std::size_t length = kind == kFour || kind == kAsk ? 4 : 2;
            if (length > avail) break;  // cut off: the tail is data
            bool ok = kind == kTwo || kind == kFour;
            if (kind == kAsk) ok = Check(&span_[pos], avail).ok;
            if (ok && NamedInside(pos, length)) ok = false;
            if (ok) kind_[pos] |= kCode;
            if (v & kTransfer) transfers_.push_back(pos);
            pos += ok ? length : 2;
        }
    }

    // Code is what control reaches from the entries.
    void MarkReachable(const std::vector<std::uint32_t>& entries) {
        std::vector<std::size_t> work;
        for (std::uint32_t e : entries)
            if (e >= start_ && e - start_ < span_.size()) work.push_back(e - start_);
        std::vector<std::uint8_t> covered(span_.size(), 0);
        while (!work.empty()) {
            std::size_t pos = work.back();
            work.pop_back();
            // Registers that a movhi/movea pair built on this path (.jump,
            // .call and .mov32 write them so): 1 high half known, 2 whole.
            std::uint32_t value[32] = {};
            std::uint8_t state[32] = {};
            auto reach = [this, &work](std::uint32_t address) {
                const std::uint32_t location = address - base_;
                if (location >= start_ && location - start_ < span_.size())
                    work.push_back(location - start_);
            };
            while (pos < span_.size() && !(kind_[pos] & kCode)) {
                const Word w = Check(&span_[pos], span_.size() - pos);
                if (!w.ok || NamedInside(pos, w.d.length) || std::any_of(covered.begin() + static_cast<std::ptrdiff_t>(pos),
                                         covered.begin() + static_cast<std::ptrdiff_t>(pos + w.d.length),
                                         [](std::uint8_t c) { return c != 0; }))
                    break;
                kind_[pos] |= kCode;
                for (std::size_t k = 0; k < w.d.length; ++k) covered[pos + k] = 1;
                const Decoded& d = w.d;
                const std::uint8_t code = d.entry->code;
                if (IsTransfer(d)) transfers_.push_back(pos);
                if (IsTransfer(d)) {
                    const std::int64_t t = static_cast<std::int64_t>(pos) + Displacement(d);
                    if (t >= 0 && static_cast<std::size_t>(t) < span_.size()) work.push_back(static_cast<std::size_t>(t));
                }
                if (code == kMovhi && d.r1 == 0) {
                    value[d.r2] = static_cast<std::uint32_t>(d.hw2) << 16;
                    state[d.r2] = 1;
                } else if (code == kMovea && d.r1 == d.r2 && state[d.r2] == 1) {
                    value[d.r2] += static_cast<std::uint32_t>(SignExtend(d.hw2, 16));
                    state[d.r2] = 2;
                }
                if (code == kJmp) {
                    if (state[d.r1] == 2) reach(value[d.r1]);
                    if (d.r1 != 31 && state[31] == 2) reach(value[31]);  // a call returns to its link
                    break;
                }
                if (code == kBr || code == kJr || code == kReti) break;
                pos += d.length;
            }
        }
    }

    // Named locations and the listed instructions that branches land on
    // get a label.
    void MarkTargets() {
        for (const auto& [pos, names] : names_)
            if (Labelable(pos)) kind_[pos] |= kLabel;
        for (std::size_t pos : transfers_) {
            const Decoded d = DecodeAt(span_, pos);
            // An odd displacement has no @ form: it stays a number.
            if (Displacement(d) & 1) continue;
            const std::int64_t t = static_cast<std::int64_t>(pos) + Displacement(d);
            if (t >= 0 && static_cast<std::size_t>(t) < span_.size() && (kind_[t] & kCode) && Labelable(static_cast<std::size_t>(t)))
                kind_[static_cast<std::size_t>(t)] |= kLabel;
        }
    }

    // The lines of tables and of --relocatable are rare, and kept out of
    // line (gnu::noinline): inlined into the printing loop they would crowd
    // out what it needs inlined, and every listing would be slower.

    // A label expression: the item's name, and how far into it.
    [[gnu::noinline]] void RefText(TextOut& out, const Ref& ref, bool parens) const {
        if (parens && ref.offset != 0) out << '(';
        LabelName(out, ref.at);
        if (ref.offset != 0) {
            out << " + ";
            out.Dec(ref.offset);
            if (parens) out << ')';
        }
    }
    const Ref* RefAt(std::size_t pos) const {
        if (refs_.empty()) return nullptr;
        const auto it = refs_.find(pos);
        return it == refs_.end() ? nullptr : &it->second;
    }

    // The first name at pos, or L_ and its address.
    void LabelName(TextOut& out, std::size_t pos) const {
        auto it = names_.find(pos);
        if (it != names_.end()) {
            out.Text(it->second.front());
            out.Room(kLine);
        } else {
            out << "L_";
            out.Hex(Address(pos), 8);
        }
    }

    // A "lb." line for every name at pos, or for its L_ name.
    void Labels(TextOut& out, std::size_t pos) const {
        auto it = names_.find(pos);
        if (it == names_.end()) {
            out.Room(kLine);
            out << "lb. ";
            LabelName(out, pos);
            out << '\n';
            return;
        }
        for (const std::string& name : it->second) {
            out.Text("lb. ");
            out.Text(name);
            out.Text("\n");
        }
    }

    void Comment(TextOut& out, std::size_t pos, std::size_t n) const {
        out << "\t; 0x";
        out.Hex(Address(pos), 8);
        for (std::size_t k = 0; k < n; ++k) {
            out << ' ';
            out.Hex(span_[pos + k], 2);
        }
        out << '\n';
    }

    void Data(TextOut& out, std::size_t pos, std::size_t n, bool halfword) const {
        out.Room(kLine);
        if (halfword) {
            out << "\tdh.\t0x";
            out.Hex(GetHalf(&span_[pos]), 4);
        } else {
            out << "\tdb.\t";
            for (std::size_t k = 0; k < n; ++k) {
                if (k) out << ", ";
                out << "0x";
                out.Hex(span_[pos + k], 2);
            }
        }
        Comment(out, pos, n);
    }

    void FillLine(TextOut& out, std::size_t pos, std::size_t n) const {
        out.Room(kLine);
        out << "\tfill.\t0x";
        out.Hex(static_cast<std::uint32_t>(n), 8);
        out << ", 0x";
        out.Hex(span_[pos], 2);
        out << "\t; 0x";
        out.Hex(Address(pos), 8);
        out << ' ';
        out.Hex(span_[pos], 2);
        out << " x ";
        out.Dec(static_cast<std::uint32_t>(n));
        out << '\n';
    }

    // Text as str. reads it back, piece by piece: escapes for what a quoted
    // text cannot hold.
    template <typename Put>
    static void Escape(std::string_view text, Put put) {
        for (const char& c : text) {  // a reference: a view of it is put
            const auto u = static_cast<unsigned char>(c);
            if (c == '"') put("\\\"");
            else if (c == '\\') put("\\\\");
            else if (c == '\n') put("\\n");
            else if (c == '\t') put("\\t");
            else if (u < 0x20 || u == 0x7F) {
                const char hex[] = {'\\', 'x', kHexPairs[2 * u], kHexPairs[2 * u + 1]};
                put(std::string_view(hex, sizeof hex));
            } else {
                put(std::string_view(&c, 1));
            }
        }
    }

    void TextLine(TextOut& out, std::size_t pos, std::size_t n) const {
        out.Room(kLine + 2 * kTextLine);
        out << "\tstr.\t\"";
        Escape({reinterpret_cast<const char*>(&span_[pos]), n}, [&out](std::string_view piece) { out << piece; });
        out << '"';
        Comment(out, pos, n);
    }

    // A str. line that the table writes back to n bytes.
    [[gnu::noinline]] void TableLine(TextOut& out, std::size_t pos, std::size_t n, std::string_view text) const {
        std::string line = "\tstr.\t\"";
        Escape(text, [&line](std::string_view piece) { line += piece; });
        line += '"';
        out.Text(line);
        out.Room(kLine + 4 * n);
        Comment(out, pos, n);
    }

    // Switches str. between the table and plain bytes.
    [[gnu::noinline]] void TableState(TextOut& out, bool& on, bool want) const {
        if (on == want) return;
        on = want;
        out.Text(want ? "\ttable.\t\"" + tableName_ + "\"\n" : std::string("\ttable.\n"));
    }

    // A data word listed as the label it points to.
    [[gnu::noinline]] void WordLine(TextOut& out, std::size_t pos) const {
        out.Room(kLine);
        out << "\tdw.\t";
        RefText(out, *RefAt(pos), true);
        Comment(out, pos, 4);
    }

    // Padding before a fixed place: org. to it, so an insert that grows
    // into it is an error instead of moving it.
    [[gnu::noinline]] void OrgLine(TextOut& out, std::size_t pos, std::size_t n) const {
        out.Room(kLine);
        out << "\torg.\t0x";
        out.Hex(start_ + static_cast<std::uint32_t>(pos + n), 8);
        out << "\t; 0x";
        out.Hex(Address(pos), 8);
        out << " ff x ";
        out.Dec(static_cast<std::uint32_t>(n));
        out << '\n';
    }

    // --relocatable: the operands of an instruction that holds a label
    // expression, or a branch to a place outside the span; false for any
    // other.
    [[gnu::noinline]] bool LabelOperands(TextOut& out, std::size_t pos, const Decoded& d) const {
        const Ref* ref = RefAt(pos);
        const std::int64_t t = static_cast<std::int64_t>(pos) + Displacement(d);
        switch (d.format) {
            case FMT_BCOND:
            case FMT_JUMP26:
                if (d.entry->code == kNop) return false;
                if (ref != nullptr) {
                    out << "\t@";
                    RefText(out, *ref, true);
                    return true;
                }
                if ((Displacement(d) & 1) || !Labelable(pos) || (t >= 0 && static_cast<std::size_t>(t) < span_.size()))
                    return false;
                // Outside the span: a fixed place, wherever the branch moves.
                out << "\t@(0x";
                out.Hex(Address(pos) + static_cast<std::uint32_t>(Displacement(d)), 8) << ')';
                return true;
            case FMT_IMM16:
            case FMT_LOAD:
            case FMT_STORE: {
                if (ref == nullptr) return false;
                out << '\t';
                if (d.format == FMT_STORE) out.Reg(d.r2) << ", ";
                out << (d.entry->code == kMovhi ? "hi(" : "lo(");
                RefText(out, *ref, false);
                out << ')';
                if (d.format == FMT_IMM16) out << ", ";
                else out << '[';
                out.Reg(d.r1) << (d.format == FMT_IMM16 ? ", " : d.format == FMT_LOAD ? "], " : "]");
                if (d.format != FMT_STORE) out.Reg(d.r2);
                return true;
            }
            default: return false;
        }
    }

    void Instruction(TextOut& out, std::size_t pos, const Decoded& d) const {
        out.Room(kLine);
        const OpEntry& e = d.sub != nullptr ? *d.sub : *d.entry;
        out << '\t' << e.name;
        // Operands that LabelOperands wrote leave nothing more to write.
        if (!(relocatable_ && LabelOperands(out, pos, d)))
            WriteOperands(out, d, [this, &out, pos](std::int32_t disp) { Target(out, pos, disp); });
        Comment(out, pos, d.length);
    }

    // A branch target: its label where it has one, else the displacement.
    void Target(TextOut& out, std::size_t pos, std::int32_t disp) const {
        const std::int64_t t = static_cast<std::int64_t>(pos) + disp;
        if (!(disp & 1) && t >= 0 && static_cast<std::size_t>(t) < span_.size() && (kind_[t] & kLabel)) {
            out << '@';
            LabelName(out, static_cast<std::size_t>(t));
        } else {
            out.Signed(disp);
        }
    }

    void Print() {
        // Addresses count from the image's own base, when it has one.
        if (base_ != kImageBase) {
            out_.Room(kLine);
            out_ << "\tbase.\t0x";
            out_.Hex(base_, 8) << '\n';
        }
        // org. reaches 16 MiB; a span beyond starts after whole fills.
        std::uint32_t below = start_;
        for (; below >= kLabelReach; below -= kLabelReach) {
            out_.Room(kLine);
            out_ << "\tfill.\t0x1000000, 0xFF\n";
        }
        out_.Room(kLine);
        if (below > 0) {
            out_ << (below == start_ ? "\torg.\t0x" : "\tfill.\t0x");
            out_.Hex(below, 8);
            out_ << (below == start_ ? "\n" : ", 0xFF\n");
        }
        // Chunks of the span are formatted on worker threads and written in
        // order. Each starts at code, where the walk below lands whatever
        // came before, so the text is the same as in one piece.
        const unsigned threads = std::min(std::thread::hardware_concurrency(), 8u);
        if (threads < 2 || span_.size() < 2 * kChunk || table_ != nullptr) {
            PrintRange(out_, 0, span_.size());
            return;
        }
        std::vector<std::size_t> cuts{0};
        for (std::size_t pos = kChunk; pos < span_.size(); pos += kChunk) {
            std::size_t cut = pos;
            while (cut < span_.size() && !(kind_[cut] & kCode)) ++cut;
            if (cut > cuts.back() && cut < span_.size()) cuts.push_back(cut);
            pos = cut;
        }
        cuts.push_back(span_.size());
        out_.Flush();
        // Chunk i is formatted into buffer i % window, which the chunk
        // window places before was written from; buffers keep their room.
        const std::size_t window = 2 * threads;
        std::vector<std::string> buffers(window);
        std::deque<std::future<void>> pending;
        std::size_t written = 0;
        auto writeFirst = [&] {
            pending.front().get();
            out_.Text(buffers[written++ % window]);
            out_.Flush();
            pending.pop_front();
        };
        for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
            if (pending.size() >= window) writeFirst();
            std::string& text = buffers[i % window];
            // Without a thread to spare, a piece is formatted when it is written.
            pending.push_back(std::async(std::launch::async | std::launch::deferred, [this, &text, begin = cuts[i], end = cuts[i + 1]] {
                text.clear();
                text.reserve(20 * (end - begin));  // two bytes make about 11 characters
                TextOut out(&text);
                PrintRange(out, begin, end);
            }));
        }
        while (!pending.empty()) writeFirst();
    }

    void PrintRange(TextOut& out, std::size_t pos, std::size_t stop) const {
        bool tableOn = false;  // with a table, the text is one piece
        std::string text;
        while (pos < stop) {
            if (kind_[pos] & kLabel) Labels(out, pos);
            if (kind_[pos] & kCode) {
                const Decoded d = DecodeAt(span_, pos);
                Instruction(out, pos, d);
                pos += d.length;
                continue;
            }
            if (kind_[pos] & kWord) {
                WordLine(out, pos);
                pos += 4;
                continue;
            }
            // Data: a fill for a run of equal bytes (org. past 0xFF padding
            // when code can move), text for printable ones, else a halfword
            // where instructions were tried, or bytes up to the next code,
            // label or run, eight a line.
            if (const std::size_t n = FillRun(pos); n >= kMinFill) {
                if (relocatable_ && span_[pos] == 0xFF && pos + n < span_.size() && Labelable(pos + n)) OrgLine(out, pos, n);
                else FillLine(out, pos, n);
                pos += n;
                continue;
            }
            if (table_ != nullptr) {
                if (const std::size_t n = TableRun(pos, text); n > 0) {
                    TableState(out, tableOn, true);
                    TableLine(out, pos, n, text);
                    pos += n;
                    continue;
                }
            }
            if (const std::size_t n = TextRun(pos); n >= kMinText) {
                TableState(out, tableOn, false);
                TextLine(out, pos, n);
                pos += n;
                continue;
            }
            std::size_t end = pos + 1;
            while (end < span_.size() && !(kind_[end] & (kCode | kLabel | kWord)) && end - pos < 8 && !RunAt(end)) ++end;
            if (entries_ || end - pos < 2) {
                Data(out, pos, end - pos, false);
                pos = end;
            } else {
                Data(out, pos, 2, true);
                pos += 2;
            }
        }
    }

    // The span one worker formats at a time: about 1.7 MB of text.
    static constexpr std::size_t kChunk = 1 << 17;

    std::uint32_t start_;
    std::uint32_t base_;
    const std::vector<std::uint8_t>& span_;
    TextOut out_;
    std::vector<std::uint8_t> kind_;
    std::vector<std::size_t> transfers_;  // listed branches and jumps with a displacement
    std::unordered_map<std::size_t, std::vector<std::string>> names_;
    std::vector<bool> named_;  // by position, when there are names
    bool entries_ = false;
    const TextTable* table_;
    std::string tableName_;
    bool relocatable_;
    std::unordered_map<std::size_t, Ref> refs_;  // --relocatable: by the position of the instruction or word

public:
    void SetEntries(bool on) { entries_ = on; }
};

// A name that a source can define with "lb." and reach with "@NAME".
bool UsableName(std::string_view name) {
    if (name.empty() || name == ".") return false;
    const char c = name.front();
    if ((c >= '0' && c <= '9') || c == '$' || c == '@' || c == ';' || c == '"' || c == '-' || c == '+') return false;
    for (char ch : name)
        if (std::string_view("+-*/%<>&^|~()\";,[]\t ").find(ch) != std::string_view::npos) return false;
    return true;
}

}  // namespace

std::size_t SourceLine(TextOut& out, const std::uint8_t* p, std::size_t avail) {
    const Word w = Check(p, avail);
    if (!w.ok) return 0;
    const OpEntry& e = w.d.sub != nullptr ? *w.d.sub : *w.d.entry;
    out.Room(kLine);
    out << '\t' << e.name;
    WriteOperands(out, w.d, [&out](std::int32_t disp) { out.Signed(disp); });
    return w.d.length;
}

int ListSource(Context& ctx, std::FILE* image, std::FILE* out, const SourceOptions& options) {
    Say(ctx, msg::kStartReading);
    const std::vector<std::uint8_t> span = ReadSpan(ctx, image, ctx.nPC, ctx.nBytes);
    {
        Lister lister(static_cast<std::uint32_t>(ctx.nPC), span, options, out);
        lister.SetEntries(!options.entries.empty());
        lister.Run(options);
    }
    Say(ctx, msg::kFinishReading);
    return 1;
}

namespace {

// L_ and eight hex digits, any letter case: the shape of the lister's own names.
bool GeneratedName(std::string_view name) {
    if (name.size() != 10 || (name[0] | 0x20) != 'l' || name[1] != '_') return false;
    return std::all_of(name.begin() + 2, name.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::string LabelText(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "L_%08x", address);
    return text;
}

}  // namespace

void ReadSymbolNames(std::FILE* f, std::uint32_t base, std::vector<std::pair<std::uint32_t, std::string>>& names) {
    std::unordered_map<std::string, bool> seen;
    char line[4096];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        std::string_view rest = line;
        while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r')) rest.remove_suffix(1);
        const std::size_t blank = rest.find(' ');
        if (blank == std::string_view::npos) continue;
        std::uint32_t value = 0;
        bool hex = blank > 0;
        for (char c : rest.substr(0, blank)) {
            const int digit = c >= '0' && c <= '9' ? c - '0' : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10 : -1;
            if (digit < 0) hex = false;
            value = value << 4 | static_cast<std::uint32_t>(digit & 0xF);
        }
        const std::string name(rest.substr(blank + 1));
        // Names ignore letter case: FOO and foo are one name twice.
        if (!hex || !UsableName(name) || !seen.emplace(Folded(name), true).second) continue;
        // Addresses with or without the image base name the same location.
        const std::uint32_t location = LocationOf(value, base);
        // The lister's own name for another address would be two labels of one name.
        if (GeneratedName(name) && Folded(name) != Folded(LabelText(base + location))) continue;
        names.emplace_back(location, name);
    }
}

}  // namespace tarvo
