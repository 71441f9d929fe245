#include "disasm/source.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <future>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "disasm/decode.h"
#include "isa/encode.h"
#include "messages.h"
#include "text.h"
#include "text_out.h"

namespace tarvo {
namespace {

// Labels carry the image base ORed in: beyond this they would not add up.
constexpr std::uint32_t kLabelReach = kImageSize;

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

// The opcode of a mnemonic, found in the table at compile time, so that the
// printer compares numbers, not names.
constexpr std::uint8_t Code(std::string_view name) {
    for (const OpEntry& e : optable)
        if (e.name == name) return e.code;
    throw "no such mnemonic";
}
constexpr std::uint8_t kNop = Code("nop"), kJmp = Code("jmp"), kBr = Code("br"), kJr = Code("jr"),
                       kReti = Code("reti"), kMovhi = Code("movhi"), kMovea = Code("movea"), kAddi = Code("addi"),
                       kLdsr = Code("ldsr"), kStsr = Code("stsr"), kSetf = Code("setf"), kTrap = Code("trap");

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

// A word already known to be an instruction: decoding is enough.
Decoded DecodeAt(const std::vector<std::uint8_t>& span, std::size_t pos) {
    if (span.size() - pos >= 4) return Decode(&span[pos]);
    unsigned char b[4] = {0, 0, 0, 0};
    std::memcpy(b, &span[pos], span.size() - pos);
    return Decode(b);
}

bool IsTransfer(const Decoded& d) {
    return (d.format == FMT_BCOND && d.entry->code != kNop) || d.format == FMT_JUMP26;
}

std::int32_t Displacement(const Decoded& d) {
    return d.format == FMT_BCOND ? SignExtend(d.hw1 & 0x1FFu, 9) : SignExtend((d.hw1 & 0x3FFu) << 16 | d.hw2, 26);
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

class Lister {
public:
    Lister(std::uint32_t start, const std::vector<std::uint8_t>& span, const SourceOptions& o, std::FILE* f)
        : start_(start), base_(o.base), span_(span), out_(f), kind_(span.size(), kData) {
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
        Print();
    }

private:
    enum : std::uint8_t { kData = 0, kCode = 1, kLabel = 2 };

    std::uint32_t Address(std::size_t pos) const { return base_ + start_ + static_cast<std::uint32_t>(pos); }

    // A name falls inside the bytes of a word: the word is listed as data,
    // so that the name gets its line.
    bool NamedInside(std::size_t pos, std::size_t length) const {
        if (named_.empty()) return false;
        for (std::size_t k = 1; k < length && pos + k < named_.size(); ++k)
            if (named_[pos + k]) return true;
        return false;
    }

    // Data bytes from pos on that are not code and carry no label after pos,
    // while keep holds for each.
    template <typename Keep>
    std::size_t DataRun(std::size_t pos, std::size_t most, Keep keep) const {
        std::size_t end = pos;
        while (end < span_.size() && end - pos < most && !(kind_[end] & kCode) && (end == pos || !(kind_[end] & kLabel)) &&
               keep(span_[end]))
            ++end;
        return end - pos;
    }
    static constexpr std::size_t kMinFill = 16, kMinText = 4, kTextLine = 48;
    std::size_t FillRun(std::size_t pos, std::size_t most = kImageSize) const {
        return DataRun(pos, most, [b = span_[pos]](std::uint8_t c) { return c == b; });
    }
    std::size_t TextRun(std::size_t pos, std::size_t most = kTextLine) const {
        return DataRun(pos, most, [](std::uint8_t c) { return c >= 0x20 && c < 0x7F && c != '"'; });
    }
    bool RunAt(std::size_t pos) const { return FillRun(pos, kMinFill) >= kMinFill || TextRun(pos, kMinText) >= kMinText; }
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

    void TextLine(TextOut& out, std::size_t pos, std::size_t n) const {
        out.Room(kLine + 4 * kTextLine);
        out << "\tds.\t\"";
        for (std::size_t k = 0; k < n; ++k) out << static_cast<char>(span_[pos + k]);
        out << '"';
        Comment(out, pos, n);
    }

    void Instruction(TextOut& out, std::size_t pos, const Decoded& d) const {
        out.Room(kLine);
        const OpEntry& e = d.sub != nullptr ? *d.sub : *d.entry;
        out << '\t' << e.name;
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
                const std::int64_t t = static_cast<std::int64_t>(pos) + Displacement(d);
                if (!(Displacement(d) & 1) && t >= 0 && static_cast<std::size_t>(t) < span_.size() &&
                    (kind_[t] & kLabel)) {
                    out << '@';
                    LabelName(out, static_cast<std::size_t>(t));
                } else {
                    out.Signed(Displacement(d));
                }
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
        Comment(out, pos, d.length);
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
        if (threads < 2 || span_.size() < 2 * kChunk) {
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
        while (pos < stop) {
            if (kind_[pos] & kLabel) Labels(out, pos);
            if (kind_[pos] & kCode) {
                const Decoded d = DecodeAt(span_, pos);
                Instruction(out, pos, d);
                pos += d.length;
                continue;
            }
            // Data: a fill for a run of equal bytes, text for printable ones,
            // else a halfword where instructions were tried, or bytes up to
            // the next code, label or run, eight a line.
            if (const std::size_t n = FillRun(pos); n >= kMinFill) {
                FillLine(out, pos, n);
                pos += n;
                continue;
            }
            if (const std::size_t n = TextRun(pos); n >= kMinText) {
                TextLine(out, pos, n);
                pos += n;
                continue;
            }
            std::size_t end = pos + 1;
            while (end < span_.size() && !(kind_[end] & (kCode | kLabel)) && end - pos < 8 && !RunAt(end)) ++end;
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
        if (!hex || !UsableName(name) || seen.count(name)) continue;
        seen[name] = true;
        // Addresses with or without the image base name the same location.
        names.emplace_back(LocationOf(value, base), name);
    }
}

}  // namespace tarvo
