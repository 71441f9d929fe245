#include "gnu/gnu_assembler.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "directives/compiler_line.h"
#include "gnu/gnu_expr.h"
#include "gnu/gnu_source.h"
#include "isa/encode.h"
#include "isa/optable.h"
#include "messages.h"
#include "text.h"

namespace tarvo::gnu {
namespace {

constexpr std::int64_t kDefaultStart = 0x07000000;
constexpr std::int64_t kMaxImage = std::int64_t{1} << 28;
constexpr std::size_t kMaxIncludeDepth = 64;
constexpr std::size_t kMaxMacroDepth = 256;
constexpr std::size_t kMaxConditions = 256;
// What macro calls and repeat blocks may produce in one run: far beyond any
// real program, and a bound on memory (an item a statement) for one that
// never ends.
constexpr std::uint64_t kMaxStatements = 10000000;
constexpr std::size_t kMaxText = std::size_t{1} << 30;
constexpr int kMaxWalks = 100;

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c | 0x20);
    return out;
}

// text begins with word (lower case), letter case ignored.
bool StartsFolded(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if ((text[i] >= 'A' && text[i] <= 'Z' ? text[i] | 0x20 : text[i]) != word[i]) return false;
    return true;
}

[[gnu::always_inline]] inline std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// A name alone, as an expression: no number, not '.'.
bool PlainName(std::string_view t) {
    bool plain = !t.empty() && !(t[0] >= '0' && t[0] <= '9') && t != ".";
    for (char c : t) plain = plain && IsNameChar(c);
    return plain;
}

// Splits at commas outside parentheses, brackets, strings and character
// constants.
// The characters that SplitCommas must look at.
constexpr auto kSplitStops = [] {
    std::array<bool, 256> t{};
    for (unsigned char c : std::string_view("\"'()[],")) t[c] = true;
    return t;
}();

void SplitCommas(std::string_view s, std::vector<std::string_view>& out) {
    out.clear();
    if (Trim(s).empty()) return;
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (!kSplitStops[static_cast<unsigned char>(c)]) continue;
        if (c == '"') {
            for (++i; i < s.size() && s[i] != '"'; ++i)
                if (s[i] == '\\') ++i;
        } else if (c == '\'') {
            std::int64_t v = 0;
            i += CharConstant(s.substr(i + 1), v);
        } else if (c == '(' || c == '[') {
            ++depth;
        } else if (c == ')' || c == ']') {
            --depth;
        } else if (c == ',' && depth <= 0) {
            out.push_back(Trim(s.substr(start, i - start)));
            start = i + 1;
        }
    }
    out.push_back(Trim(s.substr(std::min(start, s.size()))));
}

std::vector<std::string_view> SplitCommas(std::string_view s) {
    std::vector<std::string_view> out;
    SplitCommas(s, out);
    return out;
}

// A quoted string with C escapes; false when text is no string.
bool ReadString(std::string_view text, std::string& out, std::string_view* rest = nullptr) {
    text = Trim(text);
    if (text.empty() || text.front() != '"') return false;
    out.clear();
    std::size_t i = 1;
    for (; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        switch (c) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'v': out += '\v'; break;
            case 'a': out += '\a'; break;
            case 'x': case 'X': {
                unsigned v = 0;
                std::size_t n = 0;
                while (i + 1 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
                    const char d = text[++i];
                    v = v * 16 + static_cast<unsigned>(d <= '9' ? d - '0' : (d | 0x20) - 'a' + 10);
                    ++n;
                }
                out += static_cast<char>(n == 0 ? 'x' : v & 0xFF);
                break;
            }
            default:
                if (c >= '0' && c <= '7') {
                    unsigned v = static_cast<unsigned>(c - '0');
                    for (int k = 0; k < 2 && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '7'; ++k)
                        v = v * 8 + static_cast<unsigned>(text[++i] - '0');
                    out += static_cast<char>(v & 0xFF);
                } else {
                    out += c;
                }
        }
    }
    if (i >= text.size()) return false;
    if (rest != nullptr) *rest = text.substr(i + 1);
    else if (!Trim(text.substr(i + 1)).empty()) return false;
    return true;
}

// The operand functions: hi(E) and the rest apply to the whole operand.
enum class Fn : std::uint8_t { kNone, kHi, kLo, kHi0, kSdaoff, kTdaoff, kZdaoff };

Fn TakeFunction(std::string_view& text) {
    if (text.empty() || std::strchr("hHlLsStTzZ", text.front()) == nullptr) return Fn::kNone;
    static constexpr std::pair<std::string_view, Fn> kFns[] = {
        {"hi0", Fn::kHi0}, {"hi", Fn::kHi},         {"lo", Fn::kLo},
        {"sdaoff", Fn::kSdaoff}, {"tdaoff", Fn::kTdaoff}, {"zdaoff", Fn::kZdaoff},
    };
    for (const auto& [name, fn] : kFns) {
        if (text.size() <= name.size() || !StartsFolded(text, name)) continue;
        std::string_view after = text.substr(name.size());
        while (!after.empty() && (after.front() == ' ' || after.front() == '\t')) after.remove_prefix(1);
        if (after.empty() || after.front() != '(') continue;
        text = after;
        return fn;
    }
    return Fn::kNone;
}

struct Section {
    explicit Section(std::string_view n) : name(n) {}
    std::string name;
    bool alloc = true, nobits = false;
    std::int64_t align = 1;
    bool placed = false;
    int appeared = -1;  // order of first appearance; sections follow it
    std::int64_t start = kDefaultStart, size = 0;
    std::vector<std::uint8_t> bytes;
};

struct Sym {
    explicit Sym(std::string_view n) : name(n) {}
    std::string name;
    Value val, last;
    bool defined = false, lastDefined = false;
    bool label = false;  // a label; else set by = .set .equ .equiv or --defsym
    bool moves = false;  // its value was made from addresses, which move while branches settle
    bool reported = false;
};

enum class IK : std::uint8_t { kBytes, kSpace, kInstr, kBranch, kData, kLabel, kSet, kAlign, kOrg, kSection };

struct Item {
    explicit Item(IK k) : kind(k) {}
    std::int64_t n = 0;
    // The expression or statement text, in the assembler's text arena:
    // no allocation per item.
    std::uint32_t textAt = 0, textLen = 0;
    std::uint32_t a = 0, b = 0;
    Loc loc;
    IK kind;
    std::uint8_t width = 0;  // kData: bytes; kInstr: bytes
};

struct Branch {
    std::uint8_t code;  // the optable code of the condition
    std::uint8_t size = 2;
    std::int64_t prevOff = 0;
};

struct Cond {
    bool active, taken, parentActive, sawElse;
};

struct Recording {
    enum Kind { kMacro, kRept, kIrp, kIrpc } kind;
    int depth = 1;
    Loc loc;
    std::shared_ptr<Body> body = std::make_shared<Body>();
    std::shared_ptr<Macro> macro;
    std::uint64_t count = 0;
    std::string name;
    std::vector<std::string> items;
};

struct ListLine {
    Loc loc;
    std::string text;
    std::size_t firstItem;
};

struct LateDiag {
    int phase;
    int section;
    std::size_t order;
    Severity severity;
    Loc loc;
    std::string text;
};

// Symbols by name: open addressing over indexes into the symbol vector,
// so that a lookup touches one small array and the one name it compares.
class NameIndex {
public:
    static std::uint32_t Hash(std::string_view s) {
        std::uint64_t h = 1469598103934665603ull;
        for (char c : s) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        return static_cast<std::uint32_t>(h ^ (h >> 32));
    }
    // The index of name, or -1. A slot keeps the hash beside the index, so
    // a probe that misses reads no name.
    template <typename Names>
    int Find(std::string_view name, const Names& names) const {
        if (slots_.empty()) return -1;
        const std::uint32_t h = Hash(name);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t slot = h & mask;; slot = (slot + 1) & mask) {
            const Slot& e = slots_[slot];
            if (e.index < 0) return -1;
            if (e.hash == h && names[static_cast<std::size_t>(e.index)].name == name) return e.index;
        }
    }
    template <typename Names>
    void Insert(int index, const Names& names) {
        if (2 * (count_ + 1) > slots_.size()) {
            std::vector<Slot> old = std::move(slots_);
            slots_.assign(old.empty() ? 1024 : old.size() * 2, Slot{});
            for (const Slot& e : old)
                if (e.index >= 0) Place(e);
        }
        Place({Hash(names[static_cast<std::size_t>(index)].name), index});
        ++count_;
    }

private:
    struct Slot {
        std::uint32_t hash = 0;
        int index = -1;
    };
    void Place(const Slot& e) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t slot = e.hash & mask;
        while (slots_[slot].index >= 0) slot = (slot + 1) & mask;
        slots_[slot] = e;
    }
    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

class Assembler final : public ExprEnv {
public:
    Assembler(Context& ctx, std::FILE* listing) : ctx_(ctx), source_(names_), listing_(listing) {
        sections_.emplace_back(".text");
        sections_[0].appeared = 0;
        off_.assign(1, 0);
    }

    void Run(std::FILE* src, const std::string& path, const std::vector<std::pair<std::string, std::string>>& defines,
             Image& image);

    // ExprEnv
    bool Lookup(std::string_view name, Value& out) override;
    std::int64_t Address(int sec, std::int64_t offset) const override {
        return sec < 0 ? offset : sections_[static_cast<std::size_t>(sec)].start + offset;
    }

private:
    // Messages
    [[gnu::format(printf, 4, 5)]] void Diag(Severity s, const Loc& loc, const char* fmt, ...);
    const char* FileName(const Loc& loc) const { return names_[loc.file].c_str(); }

    // Reading
    void Statement(const Stmt& st);
    bool Block(std::string_view word, std::string_view rest, const Stmt& st);
    void Directive(const std::string& word, std::string_view rest, const Stmt& st);
    void Call(const Macro& m, std::string_view rest, const Stmt& st);
    void DefineMacro(std::string_view rest, const Stmt& st);
    void Include(std::string_view rest, const Stmt& st);
    FilePtr Open(const std::string& name, std::string& path, const Stmt& st);
    void Incbin(std::string_view rest, const Stmt& st);
    void SectionDirective(std::string_view rest, const Stmt& st, bool push);
    void Switch(std::size_t sec);
    std::size_t SectionNamed(std::string_view name);
    void Data(std::string_view rest, unsigned width, const Stmt& st);
    void Strings(std::string_view rest, bool zero, const Stmt& st);
    void Floats(std::string_view rest, unsigned width, const Stmt& st);
    // max, when given: no padding at all where more would be needed.
    void Align(std::int64_t bytes, std::string_view fill, const Stmt& st, std::string_view max = {});
    void Set(std::string_view name, std::string_view expr, const Stmt& st, bool equiv);
    void DefineLabel(std::string_view name, const Stmt& st);
    void Instruction(std::string_view word, std::string_view operands, const Stmt& st);

    // Values
    std::string Localize(std::string_view text) const;
    // text itself when it names no local label, else its localized form in buffer.
    std::string_view LocalView(std::string_view text, std::string& buffer) const {
        if (!MayNameLocal(text)) return text;
        buffer = Localize(text);
        return buffer;
    }
    static bool MayNameLocal(std::string_view text) {
        for (std::size_t i = 1; i < text.size(); ++i)
            if ((text[i] == 'b' || text[i] == 'f') && text[i - 1] >= '0' && text[i - 1] <= '9') return true;
        return false;
    }
    bool Now(std::string_view text, const Loc& loc, std::int64_t& out, bool quiet = false);
    int SymIndex(std::string_view name);

    // Items and walks
    void Add(Item item);
    void Step(std::size_t index);
    void Emit(const std::uint8_t* p, std::size_t n);
    void EmitFill(std::int64_t count, const std::uint8_t* pattern, std::size_t size);
    void BeginWalk();
    void EndWalk();
    bool Place();
    void Late(int phase, Severity s, const Loc& loc, const char* fmt, ...) __attribute__((format(printf, 5, 6)));

    // Encoding; false (kNow only) when a value is not known yet.
    enum class Mode { kNow, kFinal };
    bool Encode(std::string_view word, std::string_view operands, Mode mode, const Loc& loc, std::uint8_t* out,
                std::size_t& length);
    enum class Get { kOk, kLater, kError };
    Get Operand(std::string_view text, Mode mode, const Loc& loc, std::int64_t& out, bool allowFn = true);
    Get Target(std::string_view text, Mode mode, const Loc& loc, Value& out);
    bool ApplyFn(Fn fn, std::int64_t& x, Mode mode, const Loc& loc);
    // The value of a branch target or data item: by its name's index when
    // it is a name alone (n > 0), which spares the walks a parse.
    ExprStatus ItemValue(const Item& it, Value& v, std::string* name);
    void Bind(Item& it);
    std::int64_t Cut(std::int64_t v, int bits, const Loc& loc, Mode mode);
    void Branch(const Item& item, std::uint8_t* out);
    void Listing();

    Context& ctx_;
    std::vector<std::string> names_;
    Source source_;
    std::FILE* listing_;

    std::vector<Section> sections_;
    std::vector<Sym> syms_;
    NameIndex symIndex_;
    // By name in lower case; looked up by view at every statement.
    struct ViewHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view v) const { return std::hash<std::string_view>{}(v); }
    };
    std::unordered_map<std::string, std::shared_ptr<const Macro>, ViewHash, std::equal_to<>> macros_;
    std::uint64_t macroCount_ = 0, statements_ = 0;
    std::unordered_map<std::string, int> localCount_;

    std::vector<Item> items_;
    std::string texts_;
    std::string_view Text(const Item& it) const { return {texts_.data() + it.textAt, it.textLen}; }
    void SetText(Item& it, std::string_view t) {
        it.textAt = static_cast<std::uint32_t>(texts_.size());
        it.textLen = static_cast<std::uint32_t>(t.size());
        texts_.append(t);
    }
    std::vector<struct Branch> branches_;
    std::vector<std::uint8_t> pool_;
    std::vector<ListLine> lines_;
    std::vector<std::pair<std::int64_t, std::int64_t>> itemPlace_;  // listing: section start offset, end

    std::vector<std::string_view> ops_;  // the operands of the instruction being encoded
    std::vector<std::string_view> items_buf_;  // the items of the data directive being read
    std::vector<Cond> conds_;
    std::unique_ptr<Recording> rec_;
    std::size_t prevSection_ = 0;
    std::vector<std::pair<std::size_t, std::size_t>> sectionStack_;  // current, previous
    std::size_t readSection_ = 0;  // the section statements go to while reading
    int appearances_ = 1;          // .text is the first

    // Walk state
    int walk_ = 0;
    bool final_ = false, grew_ = false;
    std::size_t cur_ = 0;
    std::vector<std::int64_t> off_;
    std::vector<LateDiag> late_;
    std::size_t stepIndex_ = 0;
    bool usedLast_ = false;  // a lookup took a value of the walk before
    bool tooLarge_ = false;  // a section would pass kMaxImage
    const Image* image_ = nullptr;
};

void Assembler::Diag(Severity s, const Loc& loc, const char* fmt, ...) {
    char text[1024];
    std::va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    ReportGnu(ctx_, s, FileName(loc), loc.line, "%s", text);
}

void Assembler::Late(int phase, Severity s, const Loc& loc, const char* fmt, ...) {
    char text[1024];
    std::va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    late_.push_back({phase, static_cast<int>(cur_), stepIndex_, s, loc, text});
}

int Assembler::SymIndex(std::string_view name) {
    const int found = symIndex_.Find(name, syms_);
    if (found >= 0) return found;
    const int i = static_cast<int>(syms_.size());
    syms_.emplace_back(name);
    symIndex_.Insert(i, syms_);
    return i;
}

bool Assembler::Lookup(std::string_view name, Value& out) {
    const int found = symIndex_.Find(name, syms_);
    if (found < 0) return false;
    const Sym& s = syms_[static_cast<std::size_t>(found)];
    moved = moved || s.moves;
    if (s.defined) {
        out = s.val;
        return true;
    }
    if (s.lastDefined) {
        out = s.last;
        usedLast_ = true;
        return true;
    }
    return false;
}

// "1b" and "1f" become the names of the local labels they mean here, so that
// a value read later still finds them.
std::string Assembler::Localize(std::string_view text) const {
    // Most texts name no local label: a digit before 'b' or 'f' is rare.
    if (!MayNameLocal(text)) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '"' || c == '\'') {
            std::size_t j = i + 1;
            if (c == '\'') {
                std::int64_t v = 0;
                j += CharConstant(text.substr(i + 1), v);
            } else {
                while (j < text.size() && text[j] != '"') j += text[j] == '\\' ? 2 : 1;
                j = std::min(j + 1, text.size());
            }
            out.append(text.substr(i, j - i));
            i = j;
            continue;
        }
        if (!IsNameChar(c)) {
            out += c;
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < text.size() && IsNameChar(text[j])) ++j;
        const std::string_view token = text.substr(i, j - i);
        i = j;
        const char last = token.back();
        bool local = token.size() >= 2 && (last == 'b' || last == 'f');
        for (std::size_t k = 0; local && k + 1 < token.size(); ++k) local = token[k] >= '0' && token[k] <= '9';
        if (!local) {
            out.append(token);
            continue;
        }
        const std::string digits(token.substr(0, token.size() - 1));
        auto it = localCount_.find(digits);
        const int n = (it == localCount_.end() ? 0 : it->second) + (last == 'f');
        out += '\x01';
        out += digits;
        out += '.';
        out += std::to_string(n);
    }
    return out;
}

// A value needed while reading (counts, conditions): absolute and known.
bool Assembler::Now(std::string_view text, const Loc& loc, std::int64_t& out, bool quiet) {
    const std::string local = Localize(text);
    Value v;
    std::string name;
    dot = {off_[cur_], static_cast<int>(cur_)};
    const ExprStatus st = Evaluate(local, *this, v, &name);
    if (st == ExprStatus::kOk && v.sec == kAbsolute) {
        out = v.v;
        return true;
    }
    if (quiet) return false;
    if (st == ExprStatus::kDivZero) Diag(Severity::kError, loc, msg::kGnuDivZero);
    else if (st == ExprStatus::kSyntax) Diag(Severity::kError, loc, msg::kGnuBadExpression, std::string(Trim(text)).c_str());
    else Diag(Severity::kError, loc, msg::kGnuNotConstant, std::string(Trim(text)).c_str());
    return false;
}

void Assembler::Add(Item item) {
    // Known bytes that follow known bytes extend their item: fewer items
    // for every walk. The listing needs an item per statement, so not then.
    if (item.kind == IK::kBytes && listing_ == nullptr && !items_.empty()) {
        Item& last = items_.back();
        if (last.kind == IK::kBytes && last.a + last.b == item.a && last.b < (1u << 30)) {
            last.b += item.b;
            Emit(pool_.data() + item.a, item.b);
            return;
        }
    }
    items_.push_back(std::move(item));
    Step(items_.size() - 1);
}

void Assembler::Emit(const std::uint8_t* p, std::size_t n) {
    if (final_) {
        Section& s = sections_[cur_];
        const auto at = static_cast<std::size_t>(off_[cur_]);
        if (!s.nobits) {
            // Sized from the last walk already; only an error path grows it.
            if (s.bytes.size() < at + n) s.bytes.resize(at + n);
            std::memcpy(s.bytes.data() + at, p, n);
        }
    }
    off_[cur_] += static_cast<std::int64_t>(n);
}

void Assembler::EmitFill(std::int64_t count, const std::uint8_t* pattern, std::size_t size) {
    Section& s = sections_[cur_];
    // No section may pass what an image can hold: an .org or .align far
    // out would otherwise take all memory.
    if (count > 0 && (count > kMaxImage || off_[cur_] + count * static_cast<std::int64_t>(size) > kMaxImage)) {
        if (final_ && !tooLarge_) Late(1, Severity::kError, items_[stepIndex_].loc, msg::kGnuTooLarge, "256 MiB");
        tooLarge_ = true;
        return;
    }
    if (final_ && !s.nobits && count > 0) {
        const auto at = static_cast<std::size_t>(off_[cur_]);
        const std::size_t total = static_cast<std::size_t>(count) * size;
        if (s.bytes.size() < at + total) s.bytes.resize(at + total);
        for (std::size_t k = 0; k < total; ++k) s.bytes[at + k] = pattern[k % size];
    }
    if (count > 0) off_[cur_] += count * static_cast<std::int64_t>(size);
}

void Assembler::Step(std::size_t index) {
    Item& it = items_[index];
    stepIndex_ = index;
    const std::int64_t before = off_[cur_];
    const std::size_t sec = cur_;
    switch (it.kind) {
        case IK::kBytes: Emit(pool_.data() + it.a, it.b); break;
        case IK::kSpace: EmitFill(it.n, pool_.data() + it.a, it.b); break;
        case IK::kInstr: {
            std::uint8_t bytes[8] = {};
            std::size_t length = it.width;
            if (final_) {
                const std::string_view text = Text(it);
                const std::size_t cut = std::min(text.find_first_of(" \t"), text.size());
                Encode(text.substr(0, cut), text.substr(cut), Mode::kFinal, it.loc, bytes, length);
            }
            Emit(bytes, it.width);
            break;
        }
        case IK::kBranch: {
            struct Branch& br = branches_[it.a];
            // Conditions (codes 0x40-0x4F) grow; jr and jal stay 4 bytes.
            if (walk_ > 0 && !final_ && br.code >= 0x40) {
                usedLast_ = false;
                Value t;
                if (ItemValue(it, t, nullptr) == ExprStatus::kOk &&
                    (t.sec == static_cast<int>(cur_) || t.sec == kAbsolute)) {
                    // A target not reached yet in this walk moves as far as
                    // everything before the branch has moved, as GNU as estimates it.
                    if (usedLast_ && t.sec == static_cast<int>(cur_)) t.v += off_[cur_] - br.prevOff;
                    const std::int64_t aim = t.v - off_[cur_];
                    if ((aim < -256 || aim > 254) && br.size == 2) {
                        br.size = br.code == 0x45 ? 4 : 6;
                        grew_ = true;
                    }
                }
            }
            br.prevOff = off_[cur_];
            std::uint8_t bytes[8] = {};
            if (final_) Branch(it, bytes);
            Emit(bytes, br.size);
            break;
        }
        case IK::kData: {
            std::uint8_t bytes[8] = {};
            if (final_) {
                Value v;
                std::string name;
                const ExprStatus st = ItemValue(it, v, &name);
                if (st == ExprStatus::kUndefined) {
                    Late(3, Severity::kError, it.loc, msg::kGnuUndefined, name.c_str());
                } else if (st != ExprStatus::kOk) {
                    Late(2, Severity::kError, it.loc, msg::kGnuBadExpression, std::string(Text(it)).c_str());
                } else {
                    std::int64_t x = Address(v.sec, v.v);
                    ApplyFn(static_cast<Fn>(it.b), x, Mode::kFinal, it.loc);
                    const int bits = it.width * 8;
                    if (bits < 64) {
                        const std::int64_t low = -(std::int64_t{1} << (bits - 1)), high = (std::int64_t{1} << bits) - 1;
                        if (x < low || x > high)
                            Late(2, ctx_.set.strict ? Severity::kError : Severity::kWarning, it.loc, msg::kGnuCut,
                                 static_cast<long long>(x), static_cast<long long>(low), static_cast<long long>(high),
                                 static_cast<unsigned long long>(x & high));
                    }
                    for (int k = 0; k < it.width; ++k) bytes[k] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(x) >> (8 * k));
                }
            }
            Emit(bytes, it.width);
            break;
        }
        case IK::kLabel: {
            Sym& s = syms_[it.a];
            s.val = {off_[cur_], static_cast<int>(cur_)};
            s.defined = true;
            break;
        }
        case IK::kSet: {
            Value v;
            dot = {off_[cur_], static_cast<int>(cur_)};
            if (Evaluate(Text(it), *this, v) == ExprStatus::kOk) {
                Sym& s = syms_[it.a];
                s.val = v;
                s.defined = true;
                s.moves = moved;
            }
            break;
        }
        case IK::kAlign: {
            const std::int64_t pad = (it.n - off_[cur_] % it.n) % it.n;
            const std::uint8_t fill = static_cast<std::uint8_t>(it.a);
            if (it.b == 0 || pad <= it.b) EmitFill(pad, &fill, 1);
            break;
        }
        case IK::kOrg: {
            Value v;
            std::string name;
            dot = {off_[cur_], static_cast<int>(cur_)};
            const ExprStatus st = Evaluate(Text(it), *this, v, &name);
            if (st != ExprStatus::kOk || (v.sec != kAbsolute && v.sec != static_cast<int>(cur_))) {
                if (final_) {
                    if (st == ExprStatus::kUndefined) Late(3, Severity::kError, it.loc, msg::kGnuUndefined, name.c_str());
                    else Late(1, Severity::kError, it.loc, msg::kGnuNotConstant, std::string(Text(it)).c_str());
                }
                break;
            }
            if (v.v < off_[cur_]) {
                if (final_) Late(1, Severity::kError, it.loc, msg::kGnuOrgBackwards);
                break;
            }
            const std::uint8_t fill = static_cast<std::uint8_t>(it.a);
            EmitFill(v.v - off_[cur_], &fill, 1);
            break;
        }
        case IK::kSection: cur_ = it.a; break;
    }
    if (final_ && listing_ != nullptr) {
        // A section switch is listed where it leads.
        itemPlace_[index] = it.kind == IK::kSection ? std::pair{static_cast<std::int64_t>(cur_) << 40 | off_[cur_], off_[cur_]}
                                                    : std::pair{static_cast<std::int64_t>(sec) << 40 | before, off_[sec]};
    }
}

void Assembler::BeginWalk() {
    for (Sym& s : syms_) s.defined = false;
    off_.assign(sections_.size(), 0);
    cur_ = 0;
    grew_ = false;
    tooLarge_ = false;
}

void Assembler::EndWalk() {
    for (Sym& s : syms_) {
        s.lastDefined = s.defined;
        s.last = s.val;
    }
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        Section& s = sections_[i];
        s.size = (off_[i] + s.align - 1) / s.align * s.align;
    }
}

// Places the sections after a walk; true when a start moved.
bool Assembler::Place() {
    bool moved = false;
    bool first = true;
    std::int64_t end = kDefaultStart;
    std::vector<Section*> order;
    for (Section& s : sections_)
        if (s.appeared >= 0) order.push_back(&s);
    std::sort(order.begin(), order.end(), [](const Section* a, const Section* b) { return a->appeared < b->appeared; });
    for (Section* p : order) {
        Section& s = *p;
        if (!s.alloc) {
            s.start = 0;  // as a linker leaves a section that is not loaded
            continue;
        }
        std::int64_t start = s.start;
        if (s.placed) start = s.start;
        else if (first) start = (kDefaultStart + s.align - 1) / s.align * s.align;
        else start = (end + s.align - 1) / s.align * s.align;
        moved |= start != s.start;
        s.start = start;
        end = start + s.size;
        first = false;
    }
    return moved;
}

void Assembler::Run(std::FILE* src, const std::string& path,
                    const std::vector<std::pair<std::string, std::string>>& defines, Image& image) {
    for (const auto& [name, value] : ctx_.set.sectionStarts) {
        std::int64_t v = 0;
        if (!Now(value, Loc{}, v, true)) {
            ReportGnu(ctx_, Severity::kError, nullptr, 0, msg::kGnuBadOption, (name + "=" + value).c_str());
            continue;
        }
        Section& s = sections_[SectionNamed(name)];
        s.placed = true;
        s.start = v;
    }
    off_.assign(sections_.size(), 0);
    for (const auto& [name, value] : defines) {
        std::int64_t v = 0;
        if (!Now(value, Loc{}, v, true)) {
            ReportGnu(ctx_, Severity::kError, nullptr, 0, msg::kGnuBadOption, (name + "=" + value).c_str());
            continue;
        }
        Sym& s = syms_[static_cast<std::size_t>(SymIndex(name))];
        s.val = {v, kAbsolute};
        s.defined = true;
    }
    // --defsym values stand in every walk: they are items before the first line.
    for (std::size_t i = 0; i < syms_.size(); ++i) {
        if (!syms_[i].defined) continue;
        Item it{IK::kSet};
        it.a = static_cast<std::uint32_t>(i);
        SetText(it, std::to_string(syms_[i].val.v));
        items_.push_back(std::move(it));
    }
    Place();

    std::string text;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, src)) > 0;) text.append(buffer, n);
    source_.PushFile(std::move(text), path);
    Stmt st;
    while (source_.Next(st)) {
        // Bounded, so that a runaway macro cannot take all memory, and text
        // offsets fit 32 bits.
        if ((st.produced && ++statements_ > kMaxStatements) || texts_.size() > kMaxText) {
            Diag(Severity::kError, st.loc, "%s", msg::kGnuTooMany);
            source_.Stop();
            break;
        }
        Statement(st);
    }
    if (rec_) Diag(Severity::kError, rec_->loc, msg::kGnuNoEnd, rec_->kind == Recording::kMacro ? ".endm" : ".endr");
    if (!conds_.empty()) Diag(Severity::kError, st.loc, msg::kGnuNoEnd, ".endif");
    EndWalk();
    Place();

    // Relax: branch sizes only grow, until nothing moves.
    for (walk_ = 1; walk_ < kMaxWalks; ++walk_) {
        BeginWalk();
        for (std::size_t i = 0; i < items_.size(); ++i) Step(i);
        EndWalk();
        const bool moved = Place();
        if (!grew_ && !moved) break;
    }
    final_ = true;
    BeginWalk();
    for (Section& s : sections_)
        if (!s.nobits) s.bytes.assign(static_cast<std::size_t>(s.size), 0);
    if (listing_ != nullptr) itemPlace_.assign(items_.size(), {});
    for (std::size_t i = 0; i < items_.size(); ++i) Step(i);

    std::stable_sort(late_.begin(), late_.end(), [](const LateDiag& a, const LateDiag& b) {
        return a.phase != b.phase ? a.phase < b.phase : a.phase == 3 ? false : a.section < b.section;
    });
    // A name never defined: one message, at its first use.
    std::unordered_set<std::string> undefinedSeen;
    for (const LateDiag& d : late_) {
        if (d.phase == 3 && !undefinedSeen.insert(d.text).second) continue;
        ReportGnu(ctx_, d.severity, FileName(d.loc), d.loc.line, "%s", d.text.c_str());
    }

    // The image: from the lowest section with bytes to the highest end.
    std::int64_t low = INT64_MAX, high = INT64_MIN;
    for (Section& s : sections_) {
        if (!s.alloc || s.nobits || s.size == 0) continue;
        low = std::min(low, s.start);
        high = std::max(high, s.start + s.size);
    }
    if (low < high) {
        if (high - low > kMaxImage) {
            ReportGnu(ctx_, Severity::kError, nullptr, 0, msg::kGnuTooLarge, "256 MiB");
        } else {
            image.start = static_cast<std::uint32_t>(low);
            image.bytes.assign(static_cast<std::size_t>(high - low), 0xFF);
            for (Section& s : sections_) {
                if (!s.alloc || s.nobits || s.size == 0) continue;
                std::uint8_t* at = image.bytes.data() + (s.start - low);
                std::fill(at, at + s.size, 0);
                std::copy_n(s.bytes.begin(), std::min<std::size_t>(s.bytes.size(), static_cast<std::size_t>(s.size)), at);
            }
        }
    }
    for (const Sym& s : syms_) {
        if (!s.label || !s.defined || s.name[0] == '\x01') continue;
        image.labels.emplace_back(static_cast<std::uint32_t>(Address(s.val.sec, s.val.v)), s.name);
    }
    image_ = &image;
    if (listing_ != nullptr) Listing();
}

// One line per statement: the address in its section, the first bytes it
// put in the image, its line and text; then where the sections lie.
void Assembler::Listing() {
    std::int64_t address = sections_[0].start;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const ListLine& l = lines_[i];
        const std::size_t end = i + 1 < lines_.size() ? lines_[i + 1].firstItem : items_.size();
        std::vector<std::uint8_t> bytes;
        bool placed = false;
        for (std::size_t k = l.firstItem; k < end; ++k) {
            const auto [packed, stop] = itemPlace_[k];
            const Section& s = sections_[static_cast<std::size_t>(packed >> 40)];
            const std::int64_t from = packed & ((std::int64_t{1} << 40) - 1);
            if (!placed || (bytes.empty() && stop > from)) address = s.start + from;
            placed = true;
            if (!s.alloc || s.nobits) continue;
            for (std::int64_t b = from; b < stop && bytes.size() < 8; ++b)
                bytes.push_back(static_cast<std::size_t>(b) < s.bytes.size() ? s.bytes[static_cast<std::size_t>(b)] : 0);
        }
        std::string hex;
        for (std::size_t b = 0; b < bytes.size(); ++b) {
            char two[4];
            std::snprintf(two, sizeof two, b == 0 ? "%02x" : " %02x", bytes[b]);
            hex += two;
        }
        std::fprintf(listing_, "%08llx  %-23s  %5d  %s\n", static_cast<unsigned long long>(address), hex.c_str(),
                     l.loc.line, std::string(Trim(l.text)).c_str());
    }
    std::fprintf(listing_, "; sections\n");
    std::vector<const Section*> order;
    for (const Section& s : sections_)
        if (s.appeared >= 0) order.push_back(&s);
    std::sort(order.begin(), order.end(), [](const Section* a, const Section* b) { return a->appeared < b->appeared; });
    for (const Section* p : order) {
        const Section& s = *p;
        std::fprintf(listing_, "; %-20s %08llx %8llx %s\n", s.name.c_str(), static_cast<unsigned long long>(s.start),
                     static_cast<unsigned long long>(s.size),
                     !s.alloc ? "not loaded" : s.nobits ? "no bytes" : "loaded");
    }
    std::fprintf(listing_, "; image %08x, %zu bytes\n", image_->start, image_->bytes.size());
}

// ---- Reading ----

std::size_t Assembler::SectionNamed(std::string_view name) {
    for (std::size_t i = 0; i < sections_.size(); ++i)
        if (sections_[i].name == name) return i;
    Section s(name);
    s.alloc = false;
    auto implied = [&](std::string_view base) {
        return name == base || (name.size() > base.size() && name.substr(0, base.size() + 1) == std::string(base) + ".");
    };
    // The names ELF gives flags to, as GNU as knows them.
    static constexpr std::string_view kLoaded[] = {".text", ".data",  ".rodata", ".bss",     ".sdata",      ".sbss",
                                                   ".tdata", ".tbss", ".data1",  ".rodata1", ".init",       ".fini",
                                                   ".ctors", ".dtors", ".init_array", ".fini_array", ".preinit_array"};
    for (std::string_view base : kLoaded) s.alloc = s.alloc || implied(base);
    s.alloc = s.alloc && name != ".";
    s.nobits = implied(".bss") || implied(".sbss") || implied(".tbss");
    sections_.push_back(std::move(s));
    off_.push_back(0);
    return sections_.size() - 1;
}

void Assembler::Switch(std::size_t sec) {
    if (sections_[sec].appeared < 0) sections_[sec].appeared = appearances_++;
    if (sec == readSection_) return;
    prevSection_ = readSection_;
    readSection_ = sec;
    Item it{IK::kSection};
    it.a = static_cast<std::uint32_t>(sec);
    Add(std::move(it));
}

void Assembler::DefineLabel(std::string_view name, const Stmt& st) {
    std::string key(name);
    bool local = true;
    for (char c : name) local = local && c >= '0' && c <= '9';
    if (local) key = "\x01" + key + "." + std::to_string(++localCount_[key]);
    const int i = SymIndex(key);
    Sym& s = syms_[static_cast<std::size_t>(i)];
    if (s.defined) {
        Diag(Severity::kError, st.loc, msg::kGnuRedefined, key.c_str());
        return;
    }
    s.label = true;
    Item it{IK::kLabel};
    it.a = static_cast<std::uint32_t>(i);
    it.loc = st.loc;
    Add(std::move(it));
}

void Assembler::Set(std::string_view name, std::string_view expr, const Stmt& st, bool equiv) {
    name = Trim(name);
    bool valid = !name.empty() && !(name[0] >= '0' && name[0] <= '9');
    for (char c : name) valid = valid && IsNameChar(c) && c != '\x01';
    if (!valid) {
        Diag(Severity::kError, st.loc, msg::kGnuBadExpression, std::string(name).c_str());
        return;
    }
    const int i = SymIndex(name);
    Sym& s = syms_[static_cast<std::size_t>(i)];
    if ((equiv && s.defined) || s.label) {
        Diag(Severity::kError, st.loc, msg::kGnuRedefined, std::string(name).c_str());
        return;
    }
    const std::string text = Localize(Trim(expr));
    Value v;
    std::string bad;
    dot = {off_[cur_], static_cast<int>(cur_)};
    const ExprStatus status = Evaluate(text, *this, v, &bad);
    if (status == ExprStatus::kSyntax || status == ExprStatus::kDivZero) {
        Diag(Severity::kError, st.loc, status == ExprStatus::kDivZero ? msg::kGnuDivZero : msg::kGnuBadExpression,
             bad.c_str());
        return;
    }
    Item it{IK::kSet};
    it.a = static_cast<std::uint32_t>(i);
    it.loc = st.loc;
    SetText(it, text);
    Add(std::move(it));
}

// The names a statement begins with, then its directive, instruction or
// macro call.
void Assembler::Statement(const Stmt& st) {
    std::string_view s = Trim(st.text);
    auto word = [](std::string_view t) {
        std::size_t i = 0;
        while (i < t.size() && t[i] != ' ' && t[i] != '\t') ++i;
        return t.substr(0, i);
    };
    // Labels first; a statement that only records or skips takes none. The
    // run of name characters that ends the loop serves NAME = EXPR below.
    std::string_view labels[8];
    std::vector<std::string_view> moreLabels;
    std::size_t nLabels = 0, nameLength = 0;
    for (;;) {
        std::size_t i = 0;
        while (i < s.size() && IsNameChar(s[i])) ++i;
        nameLength = i;
        if (i == 0 || i >= s.size() || s[i] != ':') break;
        if (nLabels < std::size(labels)) labels[nLabels++] = s.substr(0, i);
        else moreLabels.push_back(s.substr(0, i));
        s = Trim(s.substr(i + 1));
    }
    const std::string_view first = word(s);
    // Lower case in place for the usual short word.
    char folded[32];
    std::string longer;
    std::string_view lower;
    if (first.size() <= sizeof folded) {
        for (std::size_t i = 0; i < first.size(); ++i)
            folded[i] = first[i] >= 'A' && first[i] <= 'Z' ? static_cast<char>(first[i] | 0x20) : first[i];
        lower = {folded, first.size()};
    } else {
        longer = Lower(first);
        lower = longer;
    }
    const std::string_view rest = Trim(s.substr(first.size()));
    if (rec_ || (!conds_.empty() && !conds_.back().active)) {
        if (Block(lower, rest, st)) return;
        return;
    }
    if (Block(lower, rest, st)) return;
    if (listing_ != nullptr) lines_.push_back({st.loc, std::string(st.text), items_.size()});
    for (std::size_t k = 0; k < nLabels; ++k) DefineLabel(labels[k], st);
    for (std::string_view l : moreLabels) DefineLabel(l, st);
    if (s.empty()) return;
    // NAME = EXPR
    {
        const std::size_t i = nameLength;
        std::size_t j = i;
        while (j < s.size() && (s[j] == ' ' || s[j] == '\t')) ++j;
        if (i > 0 && j < s.size() && s[j] == '=' && (j + 1 == s.size() || s[j + 1] != '=')) {
            Set(s.substr(0, i), s.substr(j + 1), st, false);
            return;
        }
    }
    if (first.front() == '.') {
        Directive(std::string(lower), rest, st);
        return;
    }
    if (!macros_.empty()) {
        auto m = macros_.find(lower);
        if (m != macros_.end()) {
            Call(*m->second, rest, st);
            return;
        }
    }
    Instruction(first, rest, st);
}

// Macro and repeat recording, and conditions. True when the statement was
// one of theirs (or was recorded or skipped).
bool Assembler::Block(std::string_view word, std::string_view rest, const Stmt& st) {
    if (rec_) {
        const bool macro = rec_->kind == Recording::kMacro;
        if (macro ? word == ".macro" : (word == ".rept" || word == ".irp" || word == ".irpc")) ++rec_->depth;
        if (word == (macro ? ".endm" : ".endr") && --rec_->depth == 0) {
            std::unique_ptr<Recording> r = std::move(rec_);
            if (r->kind == Recording::kMacro) {
                if (r->macro) {
                    r->macro->body = r->body;
                    macros_[Lower(r->macro->name)] = r->macro;
                }
                return true;
            }
            Source::Expansion e;
            e.body = r->body;
            if (r->kind == Recording::kRept) {
                e.rounds = r->count;
            } else {
                e.names.push_back(r->name);
                for (const std::string& item : r->items) e.values.push_back({item});
                if (e.values.empty()) e.values.push_back({""});
                e.rounds = e.values.size();
            }
            source_.PushBody(std::move(e));
            return true;
        }
        rec_->body->lines.push_back({std::string(st.text), st.loc});
        return true;
    }
    const bool skipping = !conds_.empty() && !conds_.back().active;
    // Every block word is a directive: instructions pass at once.
    if (word.empty() || word.front() != '.') return skipping;
    auto open = [&](bool value) {
        if (conds_.size() >= kMaxConditions) {
            Diag(Severity::kError, st.loc, msg::kGnuNoEnd, ".endif");
            return;
        }
        conds_.push_back({!skipping && value, !skipping && value, !skipping, false});
    };
    static constexpr std::string_view kIfs[] = {".if", ".ifeq", ".ifne", ".iflt", ".ifle", ".ifgt", ".ifge"};
    for (std::size_t k = 0; k < std::size(kIfs); ++k) {
        if (word != kIfs[k]) continue;
        std::int64_t v = 0;
        if (!skipping && !Now(rest, st.loc, v)) v = 0;
        const bool values[] = {v != 0, v == 0, v != 0, v < 0, v <= 0, v > 0, v >= 0};
        open(values[k]);
        return true;
    }
    if (word == ".ifdef" || word == ".ifndef" || word == ".ifnotdef") {
        const std::string name(Trim(rest));
        const int found = symIndex_.Find(name, syms_);
        const bool defined = found >= 0 && syms_[static_cast<std::size_t>(found)].defined;
        open(word == ".ifdef" ? defined : !defined);
        return true;
    }
    if (word == ".ifc" || word == ".ifnc") {
        // Two strings, each quoted with ' or up to the comma.
        std::string_view r = rest;
        auto take = [&r](bool first) {
            r = Trim(r);
            std::string_view s;
            if (!r.empty() && r.front() == '\'') {
                const std::size_t end = r.find('\'', 1);
                s = r.substr(1, end == std::string_view::npos ? std::string_view::npos : end - 1);
                r = end == std::string_view::npos ? std::string_view{} : r.substr(end + 1);
            } else {
                const std::size_t comma = first ? r.find(',') : std::string_view::npos;
                s = Trim(r.substr(0, comma));
                r = comma == std::string_view::npos ? std::string_view{} : r.substr(comma);
            }
            return s;
        };
        const std::string_view a = take(true);
        r = Trim(r);
        if (!r.empty() && r.front() == ',') r.remove_prefix(1);
        const std::string_view b = take(false);
        open((a == b) == (word == ".ifc"));
        return true;
    }
    if (word == ".ifb" || word == ".ifnb") {
        open(Trim(rest).empty() == (word == ".ifb"));
        return true;
    }
    if (word == ".elseif" || word == ".else" || word == ".endif") {
        if (conds_.empty()) {
            if (!skipping) Diag(Severity::kError, st.loc, msg::kGnuUnbalanced, std::string(word).c_str());
            return true;
        }
        Cond& c = conds_.back();
        if (word != ".endif" && c.sawElse && c.parentActive) Diag(Severity::kError, st.loc, "%s", msg::kGnuDuplicateElse);
        if (word == ".endif") {
            conds_.pop_back();
        } else if (word == ".else") {
            c.active = c.parentActive && !c.taken;
            c.taken = true;
            c.sawElse = true;
        } else {
            std::int64_t v = 0;
            const bool test = c.parentActive && !c.taken;
            c.active = test && Now(rest, st.loc, v) && v != 0;
            c.taken = c.taken || c.active;
        }
        return true;
    }
    if (skipping) return true;
    if (word == ".macro") {
        DefineMacro(rest, st);
        return true;
    }
    if (word == ".rept" || word == ".irp" || word == ".irpc") {
        rec_ = std::make_unique<Recording>();
        rec_->loc = st.loc;
        if (word == ".rept") {
            rec_->kind = Recording::kRept;
            std::int64_t n = 0;
            if (Now(rest, st.loc, n)) rec_->count = n > 0 ? static_cast<std::uint64_t>(n) : 0;
            return true;
        }
        rec_->kind = word == ".irp" ? Recording::kIrp : Recording::kIrpc;
        std::vector<std::string_view> parts = SplitCommas(rest);
        if (parts.empty()) parts.push_back({});
        // The symbol may be followed by a blank instead of a comma.
        std::string_view sym = parts[0];
        const std::size_t blank = sym.find_first_of(" \t");
        if (blank != std::string_view::npos) {
            parts.insert(parts.begin() + 1, Trim(sym.substr(blank)));
            sym = sym.substr(0, blank);
        }
        rec_->name = std::string(sym);
        if (rec_->kind == Recording::kIrp) {
            for (std::size_t k = 1; k < parts.size(); ++k) rec_->items.emplace_back(parts[k]);
        } else {
            std::string chars;
            for (std::size_t k = 1; k < parts.size(); ++k) chars += parts[k];
            for (char c : chars) rec_->items.emplace_back(1, c);
        }
        return true;
    }
    if (word == ".endm" || word == ".endr") {
        Diag(Severity::kError, st.loc, msg::kGnuUnbalanced, std::string(word).c_str());
        return true;
    }
    if (word == ".exitm") {
        const std::size_t depth = source_.ExitMacro();
        if (depth != std::string::npos && depth < conds_.size()) conds_.resize(depth);
        return true;
    }
    return false;
}

void Assembler::DefineMacro(std::string_view rest, const Stmt& st) {
    rec_ = std::make_unique<Recording>();
    rec_->kind = Recording::kMacro;
    rec_->loc = st.loc;
    std::size_t i = 0;
    while (i < rest.size() && rest[i] != ' ' && rest[i] != '\t' && rest[i] != ',') ++i;
    auto m = std::make_shared<Macro>();
    m->name = std::string(rest.substr(0, i));
    std::string_view params = Trim(rest.substr(i));
    if (!params.empty() && params.front() == ',') params.remove_prefix(1);
    // Parameters are separated by commas or blanks.
    std::string spaced(params);
    for (std::size_t k = 0; k < spaced.size(); ++k)
        if (spaced[k] == '\t') spaced[k] = ' ';
    std::vector<std::string> pieces;
    for (std::string_view part : SplitCommas(spaced)) {
        // "a b" inside one comma piece: two parameters, unless around '='.
        std::string p(part);
        std::size_t at = 0;
        while (at < p.size()) {
            std::size_t end = p.find(' ', at);
            if (end == std::string::npos) end = p.size();
            std::string piece = p.substr(at, end - at);
            at = end + 1;
            if (piece.empty()) continue;
            if (!pieces.empty() && (piece.front() == '=' || (!pieces.back().empty() && pieces.back().back() == '=')))
                pieces.back() += piece;
            else
                pieces.push_back(piece);
        }
    }
    for (const std::string& piece : pieces) {
        Macro::Param p;
        std::string_view text = piece;
        const std::size_t eq = text.find('=');
        if (eq != std::string_view::npos) {
            p.value = std::string(Trim(text.substr(eq + 1)));
            text = Trim(text.substr(0, eq));
        }
        const std::size_t colon = text.find(':');
        if (colon != std::string_view::npos) {
            const std::string q = Lower(Trim(text.substr(colon + 1)));
            p.required = q == "req";
            p.vararg = q == "vararg";
            text = Trim(text.substr(0, colon));
        }
        p.name = std::string(text);
        m->params.push_back(std::move(p));
    }
    if (m->name.empty()) {
        Diag(Severity::kError, st.loc, msg::kGnuExpected, "a macro name");
        return;
    }
    if (macros_.count(Lower(m->name)) != 0) {
        Diag(Severity::kError, st.loc, msg::kGnuMacroTwice, m->name.c_str());
        return;  // the body is still read, and dropped
    }
    rec_->macro = std::move(m);
}

void Assembler::Call(const Macro& m, std::string_view rest, const Stmt& st) {
    if (source_.MacroDepth() >= kMaxMacroDepth) {
        // Once: every call under way is dropped, so that a macro calling
        // itself twice does not report at every branch of its tree.
        Diag(Severity::kError, st.loc, msg::kGnuMacroDepth, m.name.c_str());
        std::size_t depth = std::string::npos;
        for (std::size_t d; (d = source_.ExitMacro()) != std::string::npos;) depth = d;
        if (depth < conds_.size()) conds_.resize(depth);
        return;
    }
    // Arguments: separated by commas or blanks; an empty one between commas.
    struct Arg {
        std::string_view text;
        std::size_t start;
    };
    std::vector<Arg> args;
    std::size_t i = 0;
    auto blanks = [&] {
        while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t')) ++i;
    };
    while (true) {
        blanks();
        if (i >= rest.size()) break;
        const std::size_t start = i;
        if (rest[i] == ',') {
            args.push_back({{}, start});
            ++i;
            continue;
        }
        int depth = 0;
        while (i < rest.size()) {
            const char c = rest[i];
            if (c == '"') {
                for (++i; i < rest.size() && rest[i] != '"'; ++i)
                    if (rest[i] == '\\') ++i;
                ++i;
                continue;
            }
            if (c == '\'') {
                std::int64_t v = 0;
                i += 1 + CharConstant(rest.substr(i + 1), v);
                continue;
            }
            if (c == '(') ++depth;
            if (c == ')') --depth;
            if (depth <= 0 && (c == ',' || c == ' ' || c == '\t')) {
                // Blanks around an operator do not end the argument.
                std::size_t j = i;
                while (j < rest.size() && (rest[j] == ' ' || rest[j] == '\t')) ++j;
                if (c != ',' && j < rest.size() && j > i && std::strchr("+-*/%&|^<>=!", rest[j]) != nullptr &&
                    !(rest[j] == '-' && j + 1 < rest.size() && rest[j + 1] != ' ')) {
                    i = j + 1;
                    while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t')) ++i;
                    continue;
                }
                if (c != ',' && i > start && std::strchr("+-*/%&|^<>=!", rest[i - 1]) != nullptr) {
                    ++i;
                    continue;
                }
                break;
            }
            ++i;
        }
        args.push_back({Trim(rest.substr(start, i - start)), start});
        blanks();
        if (i < rest.size() && rest[i] == ',') ++i;
    }
    std::vector<std::string> values(m.params.size());
    std::vector<bool> given(m.params.size());
    std::size_t positional = 0;
    for (std::size_t k = 0; k < args.size(); ++k) {
        std::string_view a = args[k].text;
        // NAME=VALUE gives a parameter by name.
        std::size_t n = 0;
        while (n < a.size() && IsNameChar(a[n])) ++n;
        if (n > 0 && n < a.size() && a[n] == '=' && (n + 1 == a.size() || a[n + 1] != '=')) {
            std::size_t p = 0;
            while (p < m.params.size() && m.params[p].name != a.substr(0, n)) ++p;
            if (p == m.params.size()) {
                Diag(Severity::kError, st.loc, msg::kGnuBadParam, std::string(a.substr(0, n)).c_str(), m.name.c_str());
                return;
            }
            values[p] = std::string(a.substr(n + 1));
            given[p] = true;
            continue;
        }
        if (positional >= m.params.size()) {
            Diag(Severity::kError, st.loc, msg::kGnuTooManyArgs, m.name.c_str());
            return;
        }
        if (m.params[positional].vararg) {
            values[positional] = std::string(Trim(rest.substr(args[k].start)));
            given[positional] = true;
            positional = m.params.size();
            break;
        }
        values[positional] = std::string(a);
        given[positional] = !a.empty();
        ++positional;
    }
    for (std::size_t p = 0; p < m.params.size(); ++p) {
        if (given[p]) continue;
        if (m.params[p].required) {
            Diag(Severity::kError, st.loc, msg::kGnuMissingArg, m.params[p].name.c_str(), m.name.c_str());
            return;
        }
        values[p] = m.params[p].value;
    }
    Source::Expansion e;
    e.body = m.body;
    e.macro = true;
    for (const Macro::Param& p : m.params) e.names.push_back(p.name);
    e.values.push_back(std::move(values));
    e.number = std::to_string(macroCount_++);
    e.conditions = conds_.size();
    source_.PushBody(std::move(e));
}

// An include or incbin file, searched from the including file's folder as
// the default language searches; every file read is a dependency.
FilePtr Assembler::Open(const std::string& name, std::string& path, const Stmt& st) {
    ctx_.files.push_back(source_.CurrentPath());
    ctx_.file = static_cast<std::uint32_t>(ctx_.files.size() - 1);
    FilePtr f(OpenInclude(ctx_, name, path));
    ctx_.files.pop_back();
    FileId id;
    if (f && GetFileId(f.get(), id)) {
        // Reading standard output while writing it could chase its own output.
        if (ctx_.hasObjId && id == ctx_.objId) f.reset();
        else CheckInput(ctx_, id);
    }
    if (!f) {
        Diag(Severity::kError, st.loc, msg::kGnuCannotOpen, name.c_str());
        return f;
    }
    ctx_.files.push_back(path);
    return f;
}

void Assembler::Include(std::string_view rest, const Stmt& st) {
    std::string name;
    if (!ReadString(rest, name)) {
        Diag(Severity::kError, st.loc, msg::kGnuExpected, "a quoted file name");
        return;
    }
    if (source_.FileDepth() >= kMaxIncludeDepth) {
        Diag(Severity::kError, st.loc, msg::kGnuIncludeDepth, name.c_str());
        return;
    }
    std::string path;
    FilePtr f = Open(name, path, st);
    if (!f) return;
    std::string text;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0;) text.append(buffer, n);
    source_.PushFile(std::move(text), path);
}

void Assembler::Incbin(std::string_view rest, const Stmt& st) {
    std::string name;
    std::string_view after;
    if (!ReadString(rest, name, &after)) {
        Diag(Severity::kError, st.loc, msg::kGnuExpected, "a quoted file name");
        return;
    }
    std::int64_t skip = 0, count = -1;
    std::vector<std::string_view> parts = SplitCommas(after);
    if (!parts.empty() && !parts[0].empty()) {
        Diag(Severity::kError, st.loc, msg::kGnuExpected, "a comma");
        return;
    }
    if (parts.size() > 1 && !Now(parts[1], st.loc, skip)) return;
    if (parts.size() > 2 && !Now(parts[2], st.loc, count)) return;
    std::string path;
    FilePtr f = Open(name, path, st);
    if (!f) return;
    // A device that never ends is read only as far as any image could use.
    std::vector<std::uint8_t> data;
    std::uint8_t buffer[65536];
    for (std::size_t n; data.size() <= static_cast<std::size_t>(kMaxImage) &&
                        (n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0;)
        data.insert(data.end(), buffer, buffer + n);
    const auto size = static_cast<std::int64_t>(data.size());
    if (skip < 0 || skip > size || (count >= 0 && skip + count > size)) {
        Diag(Severity::kError, st.loc, msg::kGnuIncbinRange);
        return;
    }
    const std::int64_t take = count < 0 ? size - skip : count;
    Item it{IK::kBytes};
    it.a = static_cast<std::uint32_t>(pool_.size());
    it.b = static_cast<std::uint32_t>(take);
    pool_.insert(pool_.end(), data.begin() + skip, data.begin() + skip + take);
    Add(std::move(it));
}

void Assembler::SectionDirective(std::string_view rest, const Stmt& st, bool push) {
    std::vector<std::string_view> parts = SplitCommas(rest);
    std::string name;
    if (parts.empty() || parts[0].empty()) {
        Diag(Severity::kError, st.loc, msg::kGnuExpected, "a section name");
        return;
    }
    if (!ReadString(parts[0], name)) name = std::string(parts[0]);
    const std::size_t sec = SectionNamed(name);
    // Flags count where the section first appears (a --section-start names it earlier).
    if (sections_[sec].appeared < 0 && parts.size() > 1) {
        std::string flags;
        if (!ReadString(parts[1], flags)) flags = std::string(parts[1]);
        Section& s = sections_[sec];
        s.alloc = flags.find('a') != std::string::npos;
        s.nobits = false;
        if (parts.size() > 2) s.nobits = Lower(Trim(parts[2])) == "@nobits" || Lower(Trim(parts[2])) == "%nobits";
    }
    if (push) sectionStack_.push_back({readSection_, prevSection_});
    Switch(sec);
}

void Assembler::Data(std::string_view rest, unsigned width, const Stmt& st) {
    SplitCommas(rest, items_buf_);
    for (std::string_view item : items_buf_) {
        if (item.empty()) {
            Diag(Severity::kError, st.loc, msg::kGnuBadExpression, "");
            continue;
        }
        const Fn fn = TakeFunction(item);
        Item it{IK::kData};
        it.b = static_cast<std::uint32_t>(fn);
        it.width = static_cast<std::uint8_t>(width);
        it.loc = st.loc;
        std::string text = Localize(item);
        Value v;
        std::string bad;
        ExprStatus status;
        if (PlainName(text)) {
            // A name alone: found once, and kept by its index.
            it.n = SymIndex(text) + 1;
            status = ItemValue(it, v, nullptr);
            const Sym& s = syms_[static_cast<std::size_t>(it.n - 1)];
            moved = s.moves || v.sec != kAbsolute;
        } else {
            dot = {off_[cur_], static_cast<int>(cur_)};
            status = Evaluate(text, *this, v, &bad);
        }
        if (status == ExprStatus::kSyntax || status == ExprStatus::kDivZero) {
            Diag(Severity::kError, st.loc, status == ExprStatus::kDivZero ? msg::kGnuDivZero : msg::kGnuBadExpression,
                 bad.c_str());
            text.assign(1, '0');
        } else if (status == ExprStatus::kOk && !moved && ApplyFn(fn, v.v, Mode::kNow, st.loc)) {
            // Known now: its bytes, and its message now, as GNU as gives it.
            const int bits = static_cast<int>(width) * 8;
            if (bits < 64) {
                const std::int64_t low = -(std::int64_t{1} << (bits - 1)), high = (std::int64_t{1} << bits) - 1;
                if (v.v < low || v.v > high)
                    Diag(ctx_.set.strict ? Severity::kError : Severity::kWarning, st.loc, msg::kGnuCut,
                         static_cast<long long>(v.v), static_cast<long long>(low), static_cast<long long>(high),
                         static_cast<unsigned long long>(v.v & high));
            }
            Item bytes{IK::kBytes};
            bytes.a = static_cast<std::uint32_t>(pool_.size());
            bytes.b = width;
            for (unsigned k = 0; k < width; ++k)
                pool_.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(v.v) >> (8 * k)));
            Add(std::move(bytes));
            continue;
        }
        SetText(it, text);
        Bind(it);
        Add(std::move(it));
    }
}

void Assembler::Floats(std::string_view rest, unsigned width, const Stmt& st) {
    for (std::string_view item : SplitCommas(rest)) {
        // GNU as' 0f and 0d prefixes, or a plain decimal number.
        if (item.size() > 2 && item[0] == '0' && std::strchr("fFdDrR", item[1]) != nullptr) item.remove_prefix(2);
        const std::string text(item);
        char* end = nullptr;
        const double v = std::strtod(text.c_str(), &end);
        if (text.empty() || end == nullptr || *end != '\0') {
            Diag(Severity::kError, st.loc, msg::kGnuBadExpression, text.c_str());
            continue;
        }
        std::uint8_t bytes[8];
        if (width == 4) {
            const float f = static_cast<float>(v);
            std::memcpy(bytes, &f, 4);
        } else {
            std::memcpy(bytes, &v, 8);
        }
        Item it{IK::kBytes};
        it.a = static_cast<std::uint32_t>(pool_.size());
        it.b = width;
        pool_.insert(pool_.end(), bytes, bytes + width);
        Add(std::move(it));
    }
}

void Assembler::Strings(std::string_view rest, bool zero, const Stmt& st) {
    for (std::string_view item : SplitCommas(rest)) {
        std::string s;
        if (!ReadString(item, s)) {
            Diag(Severity::kError, st.loc, msg::kGnuExpected, "a quoted string");
            continue;
        }
        Item it{IK::kBytes};
        it.a = static_cast<std::uint32_t>(pool_.size());
        it.b = static_cast<std::uint32_t>(s.size() + zero);
        pool_.insert(pool_.end(), s.begin(), s.end());
        if (zero) pool_.push_back(0);
        Add(std::move(it));
    }
}

void Assembler::Align(std::int64_t bytes, std::string_view fill, const Stmt& st, std::string_view max) {
    if (bytes <= 0 || (bytes & (bytes - 1)) != 0 || bytes > (std::int64_t{1} << 30)) {
        Diag(Severity::kError, st.loc, msg::kGnuBadAlign);
        return;
    }
    std::int64_t f = 0, most = 0;
    if (!fill.empty() && !Now(fill, st.loc, f)) return;
    if (!max.empty() && (!Now(max, st.loc, most) || most <= 0)) return;
    Section& s = sections_[readSection_];
    s.align = std::max(s.align, bytes);
    Item it{IK::kAlign};
    it.n = bytes;
    it.a = static_cast<std::uint32_t>(f & 0xFF);
    it.b = static_cast<std::uint32_t>(std::min<std::int64_t>(most, UINT32_MAX));
    Add(std::move(it));
}

void Assembler::Directive(const std::string& word, std::string_view rest, const Stmt& st) {
    // Split on first use: the data directives split their own items.
    std::vector<std::string_view> args;
    bool split = false;
    auto arg = [&](std::size_t k) {
        if (!split) SplitCommas(rest, args);
        split = true;
        return k < args.size() ? args[k] : std::string_view{};
    };
    auto space = [&](std::int64_t count, std::int64_t value, std::int64_t size) {
        if (count <= 0) return;
        if (count * size > kMaxImage) {
            Diag(Severity::kError, st.loc, msg::kGnuBadSize, static_cast<long long>(count));
            return;
        }
        Item it{IK::kSpace};
        it.a = static_cast<std::uint32_t>(pool_.size());
        it.b = static_cast<std::uint32_t>(size);
        it.n = count;
        // The value's low four bytes, the rest zero, as GNU as fills.
        for (std::int64_t k = 0; k < size; ++k)
            pool_.push_back(k < 4 ? static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * k)) : 0);
        Add(std::move(it));
    };
    if (word == ".byte") return Data(rest, 1, st);
    if (word == ".hword" || word == ".short") return Data(rest, 2, st);
    if (word == ".word" || word == ".long" || word == ".int") return Data(rest, 4, st);
    if (word == ".quad" || word == ".8byte") return Data(rest, 8, st);
    if (word == ".2byte") return Data(rest, 2, st);
    if (word == ".4byte") return Data(rest, 4, st);
    if (word == ".float" || word == ".single" || word == ".double") return Floats(rest, word == ".double" ? 8 : 4, st);
    if (word == ".lcomm" || word == ".comm") {
        // Room in .bss under a label: a flat image has no common symbols.
        std::int64_t size = 0, align = 1;
        if (arg(0).empty() || !Now(arg(1), st.loc, size)) return;
        if (!arg(2).empty() && !Now(arg(2), st.loc, align)) return;
        const std::size_t back = readSection_, previous = prevSection_;
        Switch(SectionNamed(".bss"));
        Align(align, {}, st);
        DefineLabel(arg(0), st);
        space(size, 0, 1);
        Switch(back);
        prevSection_ = previous;
        return;
    }
    if (word == ".ascii") return Strings(rest, false, st);
    if (word == ".asciz" || word == ".string") return Strings(rest, true, st);
    if (word == ".space" || word == ".skip" || word == ".zero") {
        std::int64_t n = 0, v = 0;
        if (!Now(arg(0), st.loc, n)) return;
        if (word != ".zero" && !arg(1).empty() && !Now(arg(1), st.loc, v)) return;
        return space(n, v, 1);
    }
    if (word == ".fill") {
        std::int64_t r = 0, size = 1, v = 0;
        if (!Now(arg(0), st.loc, r)) return;
        if (!arg(1).empty() && !Now(arg(1), st.loc, size)) return;
        if (!arg(2).empty() && !Now(arg(2), st.loc, v)) return;
        if (size < 0 || size > 8) {
            Diag(Severity::kError, st.loc, msg::kGnuBadSize, static_cast<long long>(size));
            return;
        }
        return space(r, v, size);
    }
    if (word == ".align" || word == ".p2align" || word == ".balign") {
        std::int64_t n = 0;
        if (!Now(arg(0), st.loc, n)) return;
        if (word != ".balign") {
            if (n < 0 || n > 30) {
                Diag(Severity::kError, st.loc, msg::kGnuBadAlign);
                return;
            }
            n = std::int64_t{1} << n;
        }
        return Align(n, arg(1), st, arg(2));
    }
    if (word == ".org") {
        std::int64_t f = 0;
        if (!arg(1).empty() && !Now(arg(1), st.loc, f)) return;
        Item it{IK::kOrg};
        it.loc = st.loc;
        SetText(it, Localize(arg(0)));
        it.a = static_cast<std::uint32_t>(f & 0xFF);
        return Add(std::move(it));
    }
    if (word == ".set" || word == ".equ" || word == ".equiv") {
        const std::size_t comma = rest.find(',');
        if (comma == std::string_view::npos) {
            Diag(Severity::kError, st.loc, msg::kGnuExpected, "a comma after the name");
            return;
        }
        return Set(rest.substr(0, comma), rest.substr(comma + 1), st, word == ".equiv");
    }
    if (word == ".text" || word == ".data" || word == ".bss") return Switch(SectionNamed(word));
    if (word == ".section") return SectionDirective(rest, st, false);
    if (word == ".pushsection") return SectionDirective(rest, st, true);
    if (word == ".popsection") {
        if (sectionStack_.empty()) {
            Diag(Severity::kError, st.loc, msg::kGnuNoSection);
            return;
        }
        const auto [sec, prev] = sectionStack_.back();
        sectionStack_.pop_back();
        Switch(sec);
        prevSection_ = prev;
        return;
    }
    if (word == ".previous") return Switch(prevSection_);
    if (word == ".include") return Include(rest, st);
    if (word == ".incbin") return Incbin(rest, st);
    if (word == ".err") return Diag(Severity::kError, st.loc, msg::kGnuErr);
    if (word == ".error" || word == ".warning" || word == ".print") {
        std::string text;
        if (!ReadString(rest, text)) {
            if (word == ".print") return Diag(Severity::kError, st.loc, msg::kGnuExpected, "a quoted string");
            text = word == ".error" ? ".error directive invoked in source file"
                                    : ".warning directive invoked in source file";
        }
        if (word == ".print") {
            std::fprintf(ctx_.out, "%s\n", text.c_str());
            return;
        }
        return Diag(word == ".error" ? Severity::kError : Severity::kWarning, st.loc, "%s", text.c_str());
    }
    if (word == ".purgem") {
        auto m = macros_.find(Lower(Trim(rest)));
        if (m != macros_.end()) macros_.erase(m);
        return;
    }
    if (word == ".end") return source_.Stop();
    if (word == ".file") {
        std::string name;
        if (ReadString(rest, name)) source_.SetFileName(name);
        return;
    }
    // Symbol attributes: nothing to change in a flat image.
    static constexpr std::string_view kNothing[] = {".global", ".globl", ".extern", ".local", ".weak",
                                                    ".type",   ".size",  ".ident",  ".hidden"};
    for (std::string_view w : kNothing)
        if (word == w) return;
    auto m = macros_.find(word);
    if (m != macros_.end()) return Call(*m->second, rest, st);
    Diag(Severity::kError, st.loc, msg::kGnuUnknownDirective, word.c_str());
}

// ---- Instructions ----

std::int64_t Assembler::Cut(std::int64_t v, int bits, const Loc& loc, Mode mode) {
    const std::int64_t low = -(std::int64_t{1} << (bits - 1)), high = (std::int64_t{1} << bits) - 1;
    const std::int64_t cut = v & high;
    if (v < low || v > high) {
        const Severity s = ctx_.set.strict ? Severity::kError : Severity::kWarning;
        if (mode == Mode::kNow)
            Diag(s, loc, msg::kGnuCut, static_cast<long long>(v), static_cast<long long>(low),
                 static_cast<long long>(high), static_cast<unsigned long long>(cut));
        else
            Late(2, s, loc, msg::kGnuCut, static_cast<long long>(v), static_cast<long long>(low),
                 static_cast<long long>(high), static_cast<unsigned long long>(cut));
    }
    return cut;
}

Assembler::Get Assembler::Operand(std::string_view text, Mode mode, const Loc& loc, std::int64_t& out, bool allowFn) {
    text = Trim(text);
    const Fn fn = allowFn ? TakeFunction(text) : Fn::kNone;
    std::string buffer;
    const std::string_view local = mode == Mode::kNow ? LocalView(text, buffer) : text;
    Value v;
    std::string name;
    dot = {off_[cur_], static_cast<int>(cur_)};
    const ExprStatus st = Evaluate(local, *this, v, &name);
    if (st == ExprStatus::kUndefined || (st == ExprStatus::kOk && moved && mode == Mode::kNow)) {
        if (mode == Mode::kNow) return Get::kLater;
        Late(3, Severity::kError, loc, msg::kGnuUndefined, name.c_str());
        out = 0;
        return Get::kOk;
    }
    if (st != ExprStatus::kOk) {
        if (mode == Mode::kNow) Diag(Severity::kError, loc, st == ExprStatus::kDivZero ? msg::kGnuDivZero : msg::kGnuBadExpression, name.c_str());
        else Late(2, Severity::kError, loc, st == ExprStatus::kDivZero ? msg::kGnuDivZero : msg::kGnuBadExpression, name.c_str());
        return Get::kError;
    }
    std::int64_t x = Address(v.sec, v.v);
    if (!ApplyFn(fn, x, mode, loc)) return Get::kLater;
    out = x;
    return Get::kOk;
}

ExprStatus Assembler::ItemValue(const Item& it, Value& v, std::string* name) {
    dot = {off_[cur_], static_cast<int>(cur_)};
    if (it.n <= 0) return Evaluate(Text(it), *this, v, name);
    const Sym& s = syms_[static_cast<std::size_t>(it.n - 1)];
    if (s.defined) {
        v = s.val;
    } else if (s.lastDefined) {
        v = s.last;
        usedLast_ = true;
    } else {
        if (name != nullptr) *name = s.name;
        return ExprStatus::kUndefined;
    }
    return ExprStatus::kOk;
}

void Assembler::Bind(Item& it) {
    if (it.n == 0 && PlainName(Text(it))) it.n = SymIndex(Text(it)) + 1;
}

// hi(E) and the rest on a value; false (kNow) when a base is not known yet.
bool Assembler::ApplyFn(Fn fn, std::int64_t& x, Mode mode, const Loc& loc) {
    auto base = [&](std::string_view sym) -> bool {
        Value b;
        if (!Lookup(sym, b)) {
            if (mode == Mode::kNow) return false;
            Late(3, Severity::kError, loc, msg::kGnuUndefined, std::string(sym).c_str());
            return true;
        }
        x -= Address(b.sec, b.v);
        return true;
    };
    switch (fn) {
        case Fn::kHi: x = ((x >> 16) + ((x >> 15) & 1)) & 0xFFFF; break;
        case Fn::kHi0: x = (x >> 16) & 0xFFFF; break;
        case Fn::kLo: x &= 0xFFFF; break;
        case Fn::kSdaoff: return base("__gp");
        case Fn::kTdaoff: return base("__tp");
        default: break;
    }
    return true;
}

Assembler::Get Assembler::Target(std::string_view text, Mode mode, const Loc& loc, Value& out) {
    std::string name;
    dot = {off_[cur_], static_cast<int>(cur_)};
    std::string buffer;
    const std::string_view local = mode == Mode::kNow ? LocalView(Trim(text), buffer) : Trim(text);
    const ExprStatus st = Evaluate(local, *this, out, &name);
    if (st == ExprStatus::kOk) return Get::kOk;
    if (st == ExprStatus::kUndefined) {
        if (mode == Mode::kNow) return Get::kLater;
        Late(3, Severity::kError, loc, msg::kGnuUndefined, name.c_str());
        out = {};
        return Get::kError;
    }
    if (mode == Mode::kNow) Diag(Severity::kError, loc, st == ExprStatus::kDivZero ? msg::kGnuDivZero : msg::kGnuBadExpression, name.c_str());
    return Get::kError;
}

void Assembler::Branch(const Item& it, std::uint8_t* out) {
    const struct Branch& br = branches_[it.a];
    Value t;
    std::string name;
    const ExprStatus st = ItemValue(it, t, &name);
    if (st != ExprStatus::kOk) {
        if (st == ExprStatus::kUndefined) Late(3, Severity::kError, it.loc, msg::kGnuUndefined, name.c_str());
        else Late(2, Severity::kError, it.loc, msg::kGnuBadExpression, std::string(Text(it)).c_str());
        return;
    }
    const std::int64_t here = off_[cur_];
    const std::int64_t disp = t.sec == static_cast<int>(cur_) ? t.v - here : Address(t.sec, t.v) - Address(static_cast<int>(cur_), here);
    Instr in;
    std::uint32_t v[3] = {};
    Encoded e;
    auto jr = [&](std::int64_t d, std::uint8_t* at, unsigned code = 0x2A) {
        if ((d < -(std::int64_t{1} << 25) || d >= (std::int64_t{1} << 25)) && ctx_.set.strict)
            Late(2, Severity::kError, it.loc, msg::kGnuJumpCut, std::string(Text(it)).c_str());
        Instr j;
        j.entry = &optable[static_cast<std::size_t>(kOpByKey[code])];
        j.format = FMT_JUMP26;
        std::uint32_t jv[3] = {static_cast<std::uint32_t>(d)};
        const Encoded je = tarvo::Encode(j, jv);
        std::memcpy(at, je.bytes, 4);
    };
    if (br.code < 0x40) {
        jr(disp, out, br.code);
    } else if (br.size == 2) {
        if (disp < -256 || disp > 255) {
            Late(2, Severity::kError, it.loc, msg::kGnuBranchRange, std::string(Text(it)).c_str());
            return;
        }
        in.entry = &optable[static_cast<std::size_t>(kOpByKey[br.code])];
        in.format = FMT_BCOND;
        v[0] = static_cast<std::uint32_t>(disp);
        e = tarvo::Encode(in, v);
        std::memcpy(out, e.bytes, 2);
    } else if (br.size == 4) {
        jr(disp, out);
    } else {
        // The opposite condition over the jump, then the jump.
        in.entry = &optable[static_cast<std::size_t>(kOpByKey[br.code ^ 8])];
        in.format = FMT_BCOND;
        v[0] = 6;
        e = tarvo::Encode(in, v);
        std::memcpy(out, e.bytes, 2);
        jr(disp - 2, out + 2);
    }
}

namespace {

struct Extra {
    std::string_view name;
    std::uint16_t halfword;
};
// GNU as' mnemonics beyond the shared tables, and its encodings of reti and halt.
constexpr Extra kExtras[] = {
    {"reti", 0x6400}, {"halt", 0x6800}, {"brkret", 0x6401}, {"stby", 0x6801}, {"breakpoint", 0x601F},
};

}  // namespace

bool Assembler::Encode(std::string_view word, std::string_view operands, Mode mode, const Loc& loc, std::uint8_t* out,
                       std::size_t& length) {
    std::vector<std::string_view>& ops = ops_;
    SplitCommas(operands, ops);
    // After a message of its own (count, reg): nothing written.
    auto failed = [&] {
        length = 0;
        return true;
    };
    auto bad = [&](const char* why) {
        if (mode == Mode::kNow) Diag(Severity::kError, loc, msg::kGnuBadOperands, why);
        length = 0;
        return true;
    };
    for (const Extra& x : kExtras) {
        if (word.size() != x.name.size() || !StartsFolded(word, x.name)) continue;
        if (!ops.empty()) return bad(std::string(Trim(operands)).c_str());
        out[0] = x.halfword & 0xFF;
        out[1] = x.halfword >> 8;
        length = 2;
        return true;
    }
    const std::uint64_t key = PackName(word);
    const Mnemonic* m = FindMnemonic(key);
    if (m == nullptr) m = FindAlias(key);
    if (m == nullptr || (m->op[0] >= 0 && (optable[m->op[0]].format == FMT_BSTR || optable[m->op[0]].format == FMT_FPP))) {
        if (mode == Mode::kNow) Diag(Severity::kError, loc, msg::kGnuUnknownMnemonic, std::string(word).c_str());
        length = 0;
        return true;
    }
    Instr in;
    std::uint32_t v[3] = {};
    auto reg = [&](std::string_view text, std::uint32_t& r) {
        const int n = GnuRegister(Trim(text));
        if (n < 0) {
            if (mode == Mode::kNow) Diag(Severity::kError, loc, msg::kGnuBadRegister, std::string(Trim(text)).c_str());
            return false;
        }
        r = static_cast<std::uint32_t>(n);
        return true;
    };
    auto count = [&](std::size_t n) {
        if (ops.size() == n) return true;
        bad(std::string(Trim(operands)).c_str());
        return false;
    };
    bool later = false;
    // A value for a field of bits bits: cut with a warning when it does not fit.
    auto value = [&](std::string_view text, int bits, std::uint32_t& field, bool allowFn = true) {
        std::int64_t x = 0;
        const Get g = Operand(text, mode, loc, x, allowFn);
        if (g == Get::kLater) later = true;
        if (g != Get::kOk) return g != Get::kError;
        const std::int64_t low = bits == 5 ? -16 : -32768;
        const std::int64_t high = (std::int64_t{1} << bits) - 1;
        if (x < low || x > high) x = Cut(x, bits, loc, mode);
        field = static_cast<std::uint32_t>(x & high);
        return true;
    };
    if (m->fp >= 0 || m->bs >= 0) {
        in.entry = &optable[m->fp >= 0 ? 68 : 67];
        in.format = in.entry->format;
        in.sub = m->fp >= 0 ? &fptable[static_cast<std::size_t>(m->fp)] : &bstable[static_cast<std::size_t>(m->bs)];
        if (m->bs >= 0 && !count(0)) return true;
        if (m->fp >= 0) {
            const bool one = in.sub->flags & kOneReg;
            if (!count(one ? 1 : 2) || !reg(ops[0], v[0]) || (!one && !reg(ops[1], v[1]))) return failed();
        }
    } else {
        const OpEntry* e = &optable[static_cast<std::size_t>(m->op[0])];
        if (m->op[1] >= 0 && !ops.empty() && GnuRegister(ops[0]) < 0) e = &optable[static_cast<std::size_t>(m->op[1])];
        in.entry = e;
        in.format = e->format;
        switch (e->format) {
            case FMT_REGREG:
                if (e->name == "jmp") {
                    if (!count(1) || ops[0].size() < 2 || ops[0].front() != '[' || ops[0].back() != ']')
                        return bad("jmp [reg]");
                    if (!reg(ops[0].substr(1, ops[0].size() - 2), v[0])) return failed();
                } else if (e->name == "ldsr" || e->name == "stsr") {
                    if (!count(2)) return true;
                    const std::string_view sr = e->name == "ldsr" ? ops[1] : ops[0];
                    const int n = SystemRegister(Trim(sr));
                    if (!reg(e->name == "ldsr" ? ops[0] : ops[1], v[1])) return failed();
                    if (n >= 0) v[0] = static_cast<std::uint32_t>(n);
                    else if (!value(sr, 5, v[0], false)) return true;
                } else if (!count(2) || !reg(ops[0], v[0]) || !reg(ops[1], v[1])) {
                    return failed();
                }
                break;
            case FMT_IMMREG:
                if (!count(2)) return true;
                if (e->name == "setf" && FindNamed(kConditions, Trim(ops[0])) >= 0)
                    v[0] = static_cast<std::uint32_t>(FindNamed(kConditions, Trim(ops[0])));
                else if (!value(ops[0], 5, v[0], false)) return true;
                if (!reg(ops[1], v[1])) return failed();
                break;
            case FMT_SPECIAL:
                if (e->name == "trap") {
                    if (!count(1) || !value(ops[0], 5, v[0], false)) return true;
                } else if (!count(0)) {
                    return true;
                }
                break;
            case FMT_BCOND: {
                // Only nop comes here: branches are relaxed items.
                if (!count(0)) return true;
                break;
            }
            case FMT_JUMP26: {
                if (!count(1)) return true;
                Value t;
                const Get g = Target(ops[0], mode, loc, t);
                // Its own address moves while branches settle: always later.
                if (g == Get::kLater || (g == Get::kOk && mode == Mode::kNow)) {
                    later = true;
                    break;
                }
                if (g == Get::kError) return true;
                const std::int64_t here = off_[cur_];
                const std::int64_t d = t.sec == static_cast<int>(cur_)
                                           ? t.v - here
                                           : Address(t.sec, t.v) - Address(static_cast<int>(cur_), here);
                if ((d < -(std::int64_t{1} << 25) || d >= (std::int64_t{1} << 25)) && ctx_.set.strict)
                    Late(2, Severity::kError, loc, msg::kGnuJumpCut, std::string(Trim(ops[0])).c_str());
                v[0] = static_cast<std::uint32_t>(d);
                break;
            }
            case FMT_IMM16:
                if (!count(3) || !value(ops[0], 16, v[0]) || !reg(ops[1], v[1]) || !reg(ops[2], v[2])) return true;
                break;
            case FMT_LOAD:
            case FMT_STORE: {
                if (!count(2)) return true;
                std::string_view mem = Trim(e->format == FMT_LOAD ? ops[0] : ops[1]);
                const std::string_view r = e->format == FMT_LOAD ? ops[1] : ops[0];
                if (mem.empty() || mem.back() != ']' || mem.rfind('[') == std::string_view::npos) return bad("disp[reg]");
                const std::size_t open = mem.rfind('[');
                const std::string_view disp = Trim(mem.substr(0, open));
                std::uint32_t base = 0, data = 0, d = 0;
                if (!reg(mem.substr(open + 1, mem.size() - open - 2), base) || !reg(r, data)) return failed();
                if (!disp.empty() && !value(disp, 16, d)) return true;
                if (e->format == FMT_LOAD) {
                    v[0] = d;
                    v[1] = base;
                    v[2] = data;
                } else {
                    v[0] = data;
                    v[1] = d;
                    v[2] = base;
                }
                break;
            }
            default: return bad("operands");
        }
    }
    length = static_cast<std::size_t>(FormatLength(in.format));
    if (later) return false;
    const Encoded enc = tarvo::Encode(in, v, true);
    std::memcpy(out, enc.bytes, enc.length);
    return true;
}

void Assembler::Instruction(std::string_view word, std::string_view operands, const Stmt& st) {
    const std::uint64_t key = PackName(word);
    const Mnemonic* m = FindMnemonic(key);
    if (m == nullptr) m = FindAlias(key);
    // Conditional branches and br are relaxed: their size waits for the
    // walks. jr and jal to a name go the same way, by the name's index.
    const std::uint16_t format = m != nullptr && m->op[0] >= 0 ? optable[m->op[0]].format : 0;
    const bool jump = format == FMT_JUMP26 && PlainName(Trim(operands)) && !MayNameLocal(operands);
    if (jump || (format == FMT_BCOND && optable[m->op[0]].name != "nop")) {
        std::vector<std::string_view> ops = SplitCommas(operands);
        if (ops.size() != 1 || ops[0].empty()) {
            Diag(Severity::kError, st.loc, msg::kGnuBadOperands, std::string(Trim(operands)).c_str());
            return;
        }
        Item it{IK::kBranch};
        it.loc = st.loc;
        std::string buffer;
        const std::string_view text = LocalView(ops[0], buffer);
        // A name alone needs no reading now; anything else is read once for its syntax.
        const bool name = PlainName(text);
        Value t;
        std::string bad;
        const ExprStatus status = name ? ExprStatus::kOk : Evaluate(text, *this, t, &bad);
        if (status == ExprStatus::kSyntax || status == ExprStatus::kDivZero) {
            Diag(Severity::kError, st.loc, msg::kGnuBadExpression, bad.c_str());
            return;
        }
        it.a = static_cast<std::uint32_t>(branches_.size());
        branches_.push_back({optable[m->op[0]].code, static_cast<std::uint8_t>(jump ? 4 : 2)});
        SetText(it, text);
        Bind(it);
        return Add(std::move(it));
    }
    std::uint8_t bytes[8];
    std::size_t length = 0;
    if (Encode(word, operands, Mode::kNow, st.loc, bytes, length)) {
        if (length == 0) return;
        Item it{IK::kBytes};
        it.a = static_cast<std::uint32_t>(pool_.size());
        it.b = static_cast<std::uint32_t>(length);
        pool_.insert(pool_.end(), bytes, bytes + length);
        return Add(std::move(it));
    }
    Item it{IK::kInstr};
    it.loc = st.loc;
    it.width = static_cast<std::uint8_t>(length);
    SetText(it, std::string(word) + " " + Localize(operands));
    Add(std::move(it));
}

}  // namespace

void Assemble(Context& ctx, std::FILE* src, const std::string& path,
              const std::vector<std::pair<std::string, std::string>>& defines, Image& image, std::FILE* listing) {
    Assembler a(ctx, listing);
    a.Run(src, path, defines, image);
}

}  // namespace tarvo::gnu
