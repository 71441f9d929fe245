// The parts of GNU syntax mode that its three files share: the items of a
// program, its sections and symbols, and the assembler that reads statements
// into items (gnu_reader.cpp), encodes instructions (gnu_instructions.cpp)
// and walks the items until sizes settle (gnu_assembler.cpp).
#pragma once
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "globals.h"
#include "isa/optable.h"
#include "symbols/symbols.h"
#include "gnu/gnu_assembler.h"
#include "gnu/gnu_expr.h"
#include "gnu/gnu_source.h"
#include "link/link.h"

namespace tarvo::gnu {

inline constexpr std::int64_t kDefaultStart = 0x07000000;
inline constexpr std::int64_t kMaxImage = std::int64_t{1} << 28;
inline constexpr std::size_t kMaxIncludeDepth = 64;
inline constexpr std::size_t kMaxMacroDepth = 256;
inline constexpr std::size_t kMaxConditions = 256;
// What macro calls and repeat blocks may produce in one run: far beyond any
// real program, and a bound on memory (an item a statement) for one that
// never ends.
inline constexpr std::uint64_t kMaxStatements = 10000000;
inline constexpr std::size_t kMaxText = std::size_t{1} << 30;
inline constexpr int kMaxWalks = 100;

// Values come from the source and may be anything: sums and differences
// wrap as the 64-bit values of GNU as do, never overflow.
constexpr std::int64_t Plus(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}
constexpr std::int64_t Minus(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b));
}

// text begins with word (lower case), letter case ignored.
bool StartsFolded(std::string_view text, std::string_view word);
[[gnu::always_inline]] inline std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// A name alone, as an expression: no number, not '.'.
bool PlainName(std::string_view t);
// Splits at commas outside parentheses, brackets, strings and character
// constants; each part trimmed.
void SplitCommas(std::string_view s, std::vector<std::string_view>& out);
std::vector<std::string_view> SplitCommas(std::string_view s);
// A quoted string with C escapes; false when text is no string (or, without
// rest, when more follows it).
bool ReadString(std::string_view text, std::string& out, std::string_view* rest = nullptr);

// GNU as' names of registers, system registers (eipc ... adtre, sr0-sr7,
// sr24, sr25) and setf conditions; -1 for anything else.
int GnuSystemRegister(std::string_view text);
int GnuCondition(std::string_view text);
// A name that a register alias may stand for: any of the three.
bool RegisterLike(std::string_view text);

// The operand functions: hi(E) and the rest apply to the whole operand.
enum class Fn : std::uint8_t { kNone, kHi, kLo, kHi0, kSdaoff, kTdaoff, kZdaoff };
// Takes a function's name off text, leaving "(...)..."; kNone when there is none.
Fn TakeFunction(std::string_view& text);
// An offset into one of the port's data areas: it must reach the area once linked.
constexpr bool AreaFunction(Fn fn) { return fn == Fn::kSdaoff || fn == Fn::kTdaoff || fn == Fn::kZdaoff; }
constexpr const char* FunctionName(Fn fn) {
    return fn == Fn::kSdaoff ? "sdaoff" : fn == Fn::kTdaoff ? "tdaoff" : "zdaoff";
}

struct Section {
    explicit Section(std::string_view n) : name(n) {}
    std::string name;
    bool alloc = true, nobits = false;
    bool write = false, exec = false;  // what a linker learns of it: ELF's w and x
    bool dropped = false;              // the link discarded it: its bytes are in no image
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
    // The symbol whose name this one stands for (set to a register's name:
    // an alias), or -1.
    int alias = -1;
    bool fixed = false;  // set by .equiv: never set again
    bool assigned = false;  // = .set .equ or .equiv gives it a value: the unit's even when not known yet
    int region = 0;      // alignments and .orgs before it in its section, as GNU as' frags count them
    // Link mode: .global/.globl or .weak make it the units' (bind), its
    // definition (or that directive) is at; linked: its value is the link's,
    // the same in every walk.
    link::InputSymbol::Bind bind = link::InputSymbol::kLocal;
    bool linked = false;
    int dropped = -1;  // linked: the section /DISCARD/ dropped that held its definition
    Loc at;
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
    Loc at, elseAt;  // the opener, and the .else once seen
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

// A statement in the listing: its text in the listing's own arena.
struct ListLine {
    Loc loc;
    std::uint32_t firstItem;
    std::size_t textAt;
    std::uint32_t textLen;
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
    // unit: link mode, where the source is one unit of a link (what GNU as
    // makes an object file of), not a flat image.
    Assembler(Context& ctx, std::FILE* listing, bool unit = false)
        : ctx_(ctx), source_(names_), listing_(listing), unit_(unit) {
        sections_.emplace_back(".text");
        sections_[0].appeared = 0;
        sections_[0].exec = true;
        off_.assign(1, 0);
        region_.assign(1, 0);
    }

    // Single-source mode: the flat image of the source.
    void Run(std::string text, const std::string& path, const Defines& defines, Image& image);

    // Link mode. Reads and relaxes the unit as GNU as does one file, and
    // reports what GNU as reports of it.
    void AssembleUnit(std::string text, const std::string& path, const Defines& defines);
    // What the linker needs of it: sections, shared names, names it uses.
    void Export(link::Unit& unit);
    // Once linked: places the sections where the link put them, takes the
    // names the link gave and writes the bytes; reports what only the link
    // decides (a displacement that does not reach).
    void Finalize(const link::Layout& layout, std::size_t unit);
    // The bytes of the exported section k.
    std::span<const std::uint8_t> Bytes(std::size_t k) const;
    // The labels for the symbol file: address and name.
    void Labels(std::vector<std::pair<std::uint32_t, std::string>>& out);
    // The listing's lines of the statements.
    void ListStatements();
    // Statements are kept for an editor too, not only for a listing.
    void KeepLines(bool keep) { keepLines_ = keepLines_ || keep; }
    // The names and statements an editor wants (Image::record).
    void Record(Image& image) const;
    // Each statement's place, address, first bytes (at most max) and text.
    template <class Visit>
    void EachStatement(std::size_t max, Visit&& visit) const;

    // ExprEnv
    bool Lookup(std::string_view name, Value& out) override;
    std::int64_t Address(int sec, std::int64_t offset) const override {
        if (sec < 0) return offset;
        linkUse_ = true;  // in a unit, the link decides it
        return Plus(sections_[static_cast<std::size_t>(sec)].start, offset);
    }

private:
    // Messages
    [[gnu::format(printf, 4, 5)]] void Diag(Severity s, const Loc& loc, const char* fmt, ...);
    void Report(Severity s, const Loc& loc, std::string_view text);
    const char* FileName(const Loc& loc) const { return names_[loc.file].c_str(); }

    // Reading
    void Statement(const Stmt& st);
    void Record(std::string_view word, const Stmt& st);
    // A directive: its name, its handler and the handler's argument.
    struct DirectiveEntry {
        std::string_view name;
        void (Assembler::*handler)(std::string_view word, std::string_view rest, const Stmt& st, int arg);
        int arg;
        // kCondition: read where lines are skipped too; kBlock: before the
        // statement's labels, where lines are not skipped.
        enum Kind : std::uint8_t { kPlain, kBlock, kCondition } kind = kPlain;
    };
    // The directive table's entry of word (lower case), or null.
    static const DirectiveEntry* FindDirective(std::string_view word);
    bool Skipping() const;
    void OpenCondition(bool value, const Stmt& st);
    // The directives' handlers, as the directive table names them: word is
    // the directive as found (lower case), arg the table's argument.
    void IfValue(std::string_view word, std::string_view rest, const Stmt& st, int test);
    void IfDefined(std::string_view word, std::string_view rest, const Stmt& st, int defined);
    void IfSame(std::string_view word, std::string_view rest, const Stmt& st, int same);
    void IfStrings(std::string_view word, std::string_view rest, const Stmt& st, int same);
    void IfBlank(std::string_view word, std::string_view rest, const Stmt& st, int blank);
    void ElseDirective(std::string_view word, std::string_view rest, const Stmt& st, int which);
    void RepeatDirective(std::string_view word, std::string_view rest, const Stmt& st, int kind);
    void MacroDirective(std::string_view word, std::string_view rest, const Stmt& st, int);
    void Unopened(std::string_view word, std::string_view rest, const Stmt& st, int);
    void ExitDirective(std::string_view word, std::string_view rest, const Stmt& st, int);
    void DataDirective(std::string_view word, std::string_view rest, const Stmt& st, int width);
    void FloatDirective(std::string_view word, std::string_view rest, const Stmt& st, int width);
    void LebDirective(std::string_view word, std::string_view rest, const Stmt& st, int sign);
    void Junk(const std::vector<std::string_view>& args, std::size_t most, const Stmt& st);
    void StringDirective(std::string_view word, std::string_view rest, const Stmt& st, int zero);
    void CommonDirective(std::string_view word, std::string_view rest, const Stmt& st, int area);
    void SpaceDirective(std::string_view word, std::string_view rest, const Stmt& st, int noFill);
    void FillDirective(std::string_view word, std::string_view rest, const Stmt& st, int);
    void AlignDirective(std::string_view word, std::string_view rest, const Stmt& st, int bytes);
    void OrgDirective(std::string_view word, std::string_view rest, const Stmt& st, int offset);
    void SetDirective(std::string_view word, std::string_view rest, const Stmt& st, int equiv);
    void NamedSection(std::string_view word, std::string_view rest, const Stmt& st, int);
    void SectionDirective(std::string_view word, std::string_view rest, const Stmt& st, int push);
    void PopSection(std::string_view word, std::string_view rest, const Stmt& st, int);
    void Previous(std::string_view word, std::string_view rest, const Stmt& st, int);
    void ErrDirective(std::string_view word, std::string_view rest, const Stmt& st, int);
    void MessageDirective(std::string_view word, std::string_view rest, const Stmt& st, int kind);
    void Purgem(std::string_view word, std::string_view rest, const Stmt& st, int);
    void EndDirective(std::string_view word, std::string_view rest, const Stmt& st, int);
    void FileDirective(std::string_view word, std::string_view rest, const Stmt& st, int);
    void NoEffect(std::string_view word, std::string_view rest, const Stmt& st, int);
    void BindDirective(std::string_view word, std::string_view rest, const Stmt& st, int bind);
    // Room of size bytes filled with value's low bytes.
    void Space(std::int64_t count, std::int64_t value, std::int64_t size, const Stmt& st);
    void Call(const Macro& m, std::string_view rest, const Stmt& st);
    void DefineMacro(std::string_view rest, const Stmt& st);
    void Include(std::string_view word, std::string_view rest, const Stmt& st, int);
    FilePtr Open(const std::string& name, std::string& path, const Stmt& st);
    void Incbin(std::string_view word, std::string_view rest, const Stmt& st, int);
    void Switch(std::size_t sec);
    std::size_t SectionNamed(std::string_view name);
    // max, when given: no padding at all where more would be needed.
    void Align(std::int64_t bytes, std::string_view fill, const Stmt& st, std::string_view max = {});
    void Set(std::string_view name, std::string_view expr, const Stmt& st, bool equiv);
    void DefineLabel(std::string_view name, const Stmt& st);
    void Instruction(std::string_view word, std::string_view operands, const Stmt& st);

    // The reading, then the walks that settle sizes.
    void Read(std::string text, const std::string& path, const Defines& defines);
    void Relax();
    // The messages the walks left for the end, in GNU as' order.
    void ReportLate();
    // Link mode: a name the unit uses and does not define, at a use.
    void Refer(const Loc& loc, std::string_view name);

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
    // Steps every item once.
    void WalkItems();
    // True when a name has another value, or none, than after the walk before.
    bool EndWalk();
    bool Place();
    void Late(int phase, Severity s, const Loc& loc, const char* fmt, ...) __attribute__((format(printf, 5, 6)));
    void CheckDropped(const Sym& s);
    // A name never defined, at a use: reported after everything else.
    void Undefined(const Loc& loc, std::string_view name);

    // A general register by name or through an alias; -1 for anything else.
    int Register(std::string_view text) const {
        const int r = GnuRegister(text);
        return r >= 0 ? r : AliasRegister(text);
    }
    int AliasRegister(std::string_view text) const;
    // The name an alias stands for, or nothing.
    std::string_view AliasTarget(std::string_view name) const;
    // Encoding; false (kNow only) when a value is not known yet.
    enum class Mode { kNow, kFinal };
    bool Encode(std::string_view word, std::string_view operands, Mode mode, const Loc& loc, std::uint8_t* out,
                std::size_t& length);
    enum class Get { kOk, kLater, kError };
    // used: the operand function it began with (hi() and the rest), if any.
    Get Operand(std::string_view text, Mode mode, const Loc& loc, std::int64_t& out, bool allowFn = true,
                Fn* used = nullptr);
    bool Constant(std::string_view text, Mode mode, std::int64_t& out);
    Get Target(std::string_view text, Mode mode, const Loc& loc, Value& out);
    bool ApplyFn(Fn fn, std::int64_t& x, Mode mode, const Loc& loc);
    // The value of a branch target or data item: by its name's index when
    // it is a name alone (n > 0), which spares the walks a parse.
    ExprStatus ItemValue(const Item& it, Value& v, std::string* name);
    void Bind(Item& it);
    // v cut to a field whose largest value is high (all ones), with a
    // warning when it is not in low..high.
    std::int64_t Cut(std::int64_t v, std::int64_t low, std::int64_t high, const Loc& loc, Mode mode);
    void Branch(const Item& item, std::uint8_t* out);
    void Listing();

    Context& ctx_;
    std::vector<std::string> names_;
    Source source_;
    std::FILE* listing_;
    bool keepLines_ = listing_ != nullptr;  // statements kept for the listing or an editor

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
    std::string lineTexts_;
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
    int lastRegion_ = 0;     // the region of the name it took
    std::vector<int> region_;  // per section: alignments and .orgs passed in this walk
    bool estimate_ = false;  // the walk of GNU as' first estimate
    bool hasOrg_ = false;    // an .org or .offset was read
    bool tooLarge_ = false;  // a section would pass kMaxImage
    const Image* image_ = nullptr;

    // Link mode
    const bool unit_;
    bool linked_ = false;           // the sections are placed and the linked names known
    mutable bool linkUse_ = false;  // the item being walked read an address or a linked name
    std::string path_;
    // The names the unit uses and does not define, each at its first use.
    std::vector<std::pair<std::string, Loc>> refs_;
    std::unordered_map<std::string, std::size_t> refIndex_;
    std::vector<std::size_t> exported_;  // the section of each exported one
    // The items the link decides, with the section and offset they stand
    // at, and every assignment in between: what the walk after the link
    // steps again (the rest of the bytes stand as the unit wrote them).
    struct Replay {
        std::uint32_t item, section;
        std::int64_t offset;
    };
    std::vector<Replay> replay_;
};

}  // namespace tarvo::gnu
