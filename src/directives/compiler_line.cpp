#include "directives/compiler_line.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "isa/construct.h"
#include "isa/optable.h"
#include "messages.h"
#include "text.h"
#include "text_table.h"

namespace tarvo {
namespace {

enum Keyword {
    kOrg, kInc, kDs, kDw, kDh, kDb, kDf, kLb, kJump, kCall, kMov32,
    kBase, kAlign, kFill, kIncbin, kAssert, kErrorKw, kWarningKw, kStr, kStrz, kSet,
    kArea, kEndArea, kTable, kNone
};

// Tested in this order; those after the first eleven are extensions.
constexpr std::array<std::string_view, 24> kKeywords{
    "org.", "inc.", "ds.", "dw.", "dh.", "db.", "df.", "lb.", ".jump", ".call", ".mov32",
    "base.", "align.", "fill.", "incbin.", "assert.", "error.", "warning.", "str.", "strz.", "set.",
    "area.", "endarea.", "table."};
constexpr std::size_t kClassicKeywords = 11;

// The keywords packed as mnemonics are: one integer compare each.
constexpr std::array<std::uint64_t, kKeywords.size()> kKeywordKeys = [] {
    std::array<std::uint64_t, kKeywords.size()> t{};
    for (std::size_t i = 0; i < t.size(); ++i) t[i] = PackName(kKeywords[i]);
    return t;
}();

Keyword FindKeyword(std::string_view token, bool classic) {
    if (!KeywordShaped(token)) return kNone;
    const std::uint64_t key = PackName(token);
    const std::size_t n = classic ? kClassicKeywords : kKeywords.size();
    for (std::size_t i = 0; i < n; ++i)
        if (key == kKeywordKeys[i] && token.size() == kKeywords[i].size()) return static_cast<Keyword>(i);
    return kNone;
}

// The next operand of a keyword; outside the classic language a
// parenthesis holds its blanks.
std::string_view Operand(const Context& ctx, std::string_view& rest) { return NextOperand(rest, !ctx.set.classic); }

// How many operands each keyword reads (-1: all, or checked by the keyword
// itself; -2: a quoted text; -3: a quoted text and two more).
constexpr std::array<int, kKeywords.size()> kOperandCount{1, -2, -2, -1, -1, -1, 2, 1, 1, 1, 2, 1, 2, 3,
                                                          -3, -1, -2, -2, -1, -1, 2, 2, 0, -2};

std::string_view DroppedText(const Context& ctx, Keyword keyword, std::string_view rest);

// Tokens a keyword line does not read are reported.
inline void CheckDropped(Context& ctx, Keyword keyword, std::string_view rest) {
    if (!Checking(ctx) || kOperandCount[keyword] == -1) return;
    // Most lines hold one operand and nothing else: no separator after it.
    std::size_t i = 0;
    while (i < rest.size() && IsSeparator(rest[i])) ++i;
    while (i < rest.size() && !IsSeparator(rest[i])) ++i;
    if (kOperandCount[keyword] >= 1 && i == rest.size()) return;
    if (const std::string_view dropped = DroppedText(ctx, keyword, rest); !dropped.empty())
        ReportCheck(ctx, AtLocation(ctx), msg::kAfterOperands, dropped);
}

// The first token a keyword line does not read, or empty.
std::string_view DroppedText(const Context& ctx, Keyword keyword, std::string_view rest) {
    const int count = kOperandCount[keyword];
    if (count == -1) return {};
    if (count <= -2) {
        const std::size_t open = rest.find('"');
        const std::size_t close = open == std::string_view::npos ? open : rest.find('"', open + 1);
        if (close == std::string_view::npos) return {};
        rest.remove_prefix(close + 1);
        for (int i = 0; count == -3 && i < 2; ++i)
            if (Operand(ctx, rest).empty()) return {};
        return NextOperand(rest);
    }
    for (int i = 0; i < count; ++i)
        if (Operand(ctx, rest).empty()) return {};
    return Operand(ctx, rest);
}

// A fill value is a data item of its width: one that does not fit is
// reported as db. and dh. report theirs (a warning, or under --strict an
// error); the low bytes are written.
void CheckFill(Context& ctx, std::string_view text, std::int32_t value, unsigned width) {
    if (Checking(ctx) && !DataFits(width, value)) ReportCheck(ctx, AtLocation(ctx), msg::kValueRange, text);
}

void Org(Context& ctx, std::string_view rest) {
    std::int32_t value = 0;
    if (ReadValue(ctx, Operand(ctx, rest), value) != ExprStatus::kOk) {
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kInvalidOrg);
        return;
    }
    // Only the low 24 bits count, so the image base may be written or not.
    std::uint32_t target = static_cast<std::uint32_t>(value) & 0xFFFFFF;
    // A patch touches places in any order; what it skips keeps the image's bytes.
    if (ctx.obj.Patching()) {
        ctx.obj.Seek(target);
        return;
    }
    auto distance = static_cast<std::int32_t>(target - static_cast<std::uint32_t>(ctx.obj.Location()));
    if (distance < 0) {
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kOrgBelowPC);
        return;
    }
    ctx.obj.EmitFill(static_cast<std::uint32_t>(distance), 0xFF);
}

// base. ADDR: from here on the code runs at ADDR.
void Base(Context& ctx, std::string_view rest) {
    std::int32_t value = 0;
    if (ReadValue(ctx, Operand(ctx, rest), value) != ExprStatus::kOk) {
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kInvalidBase);
        return;
    }
    ctx.obj.SetBase(static_cast<std::uint32_t>(value));
}

// align. N[, FILL]: FILL bytes (0xFF unless given) up to a multiple of N.
void Align(Context& ctx, std::string_view rest) {
    std::int32_t n = 0, fill = 0xFF;
    std::string_view fillText;
    if (ReadValue(ctx, Operand(ctx, rest), n) != ExprStatus::kOk || n <= 0 ||
        static_cast<std::uint32_t>(n) > kImageSize || (n & (n - 1)) != 0 ||
        (!(fillText = Operand(ctx, rest)).empty() && ReadValue(ctx, fillText, fill) != ExprStatus::kOk)) {
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kInvalidAlign);
        return;
    }
    CheckFill(ctx, fillText, fill, 1);
    const auto location = static_cast<std::uint32_t>(ctx.obj.Location());
    const std::uint32_t mask = static_cast<std::uint32_t>(n) - 1;
    ctx.obj.EmitFill((static_cast<std::uint32_t>(n) - (location & mask)) & mask, static_cast<std::uint8_t>(fill));
}

// fill. COUNT[, VALUE[, SIZE]]: COUNT items of SIZE bytes (1, 2 or 4), low byte first.
void Fill(Context& ctx, std::string_view rest) {
    std::int32_t count = 0, value = 0, size = 1;
    std::string_view valueText, sizeText;
    const bool ok = ReadValue(ctx, Operand(ctx, rest), count) == ExprStatus::kOk && count >= 0 &&
                    ((valueText = Operand(ctx, rest)).empty() || ReadValue(ctx, valueText, value) == ExprStatus::kOk) &&
                    ((sizeText = Operand(ctx, rest)).empty() || ReadValue(ctx, sizeText, size) == ExprStatus::kOk) &&
                    (size == 1 || size == 2 || size == 4) &&
                    static_cast<std::uint64_t>(count) * static_cast<std::uint64_t>(size) <= kImageSize;
    if (!ok) {
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kInvalidFill);
        return;
    }
    CheckFill(ctx, valueText, value, static_cast<unsigned>(size));
    std::uint8_t item[4];
    PutLittle(static_cast<std::uint32_t>(value), 4, item);
    ctx.obj.EmitRepeat(static_cast<std::uint32_t>(count), item, static_cast<std::size_t>(size));
}

// The quoted text of "ds." and "inc.": rest is the text after the keyword's
// own separator. Returns false, after reporting, when there is no quote.
bool Quoted(Context& ctx, std::string_view rest, const char* noQuote, std::string_view& text,
            bool& closed) {
    if (rest.empty()) {
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kInvalidString);
        return false;
    }
    std::size_t open = rest.find('"');
    if (open == std::string_view::npos) {
        Report(ctx, Severity::kError, AtLocation(ctx), "%s", noQuote);
        return false;
    }
    rest.remove_prefix(open + 1);
    std::size_t close = rest.find('"');
    closed = close != std::string_view::npos;
    text = closed ? rest.substr(0, close) : rest;
    return true;
}

// Appends the bytes of a string: as they are, or through the table. False,
// after a message, when a character has no entry; nothing is added then.
bool AddString(Context& ctx, std::string_view text, std::string& bytes) {
    if (ctx.table == nullptr) {
        bytes += text;
        return true;
    }
    const std::size_t size = bytes.size();
    const std::size_t stop = ctx.table->Encode(text, bytes);
    if (stop == text.size()) return true;
    bytes.resize(size);
    Report(ctx, Severity::kError, AtLocation(ctx), msg::kNoTableEntry, std::string(text.substr(stop)).c_str());
    return false;
}

void Ds(Context& ctx, std::string_view rest) {
    std::string_view text;
    bool closed = false;
    if (!Quoted(ctx, rest, msg::kInvalidString, text, closed)) return;
    if (ctx.table == nullptr) {
        ctx.obj.Emit(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    } else if (std::string bytes; AddString(ctx, text, bytes)) {
        ctx.obj.Emit(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    if (!closed) Report(ctx, Severity::kCountedWarning, AtLocation(ctx), msg::kNoClosingQuote);
}

void Data(Context& ctx, std::string_view rest, unsigned width, const char* bad) {
    for (;;) {
        std::string_view item = Operand(ctx, rest);
        if (item.empty()) return;
        std::int32_t value = 0;
        Pending pending;
        const ExprStatus status = ReadValue(ctx, item, value, &pending);
        if (status == ExprStatus::kMalformed) {
            Report(ctx, Severity::kError, AtLocation(ctx), "%s", bad);
            return;
        }
        if (status == ExprStatus::kDivZero) {
            Report(ctx, Severity::kError, AtLocation(ctx), msg::kDivZero, std::string(item).c_str());
            return;
        }
        if (status == ExprStatus::kOk && Checking(ctx)) {
            std::size_t end = 0;
            // What the classic reading took for a number ("(...)" is none).
            if (item.front() != '(' && ScanNumber(item, value, &end) == Scan::kNumber && end != item.size())
                ReportCheck(ctx, AtLocation(ctx), msg::kTrailing, item);
            if (!DataFits(width, value)) ReportCheck(ctx, AtLocation(ctx), msg::kValueRange, item);
        }
        std::uint8_t bytes[4];
        PutLittle(static_cast<std::uint32_t>(value), width, bytes);
        if (status == ExprStatus::kOk) {
            ctx.obj.Emit(bytes, width);
        } else {
            FieldUse use;
            use.width = static_cast<std::uint8_t>(width);
            AddForward(ctx, item, item, ctx.obj.Reserve(bytes, width), use, pending);
        }
    }
}

// A name must not read as a number or register: every use of it would
// read the number instead. And a name made again in another way than it
// was made is almost surely a mistake; the newest definition counts, as
// it always has. A label again is the classic report's; set. again is
// what set. is for.
void CheckName(Context& ctx, std::string_view name, Origin origin, const Constant* old) {
    if (old != nullptr && !(origin == Origin::kSet && old->origin == Origin::kSet) && origin != Origin::kOption)
        ReportCheck(ctx, AtLocation(ctx), origin == Origin::kLabel && old->IsLabel() ? msg::kLabelTwice : msg::kNameTwice,
                    name);
    // Only white space, a digit, a sign or '$' can begin a number or register.
    const auto c = static_cast<unsigned char>(name.empty() ? 'a' : name.front());
    std::int32_t n = 0;
    unsigned r = 0;
    if ((c <= ' ' || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '$') &&
        (ReadNumber(name, n) || ReadRegister(name, r)))
        ReportCheck(ctx, AtLocation(ctx), msg::kNameIsNumber, name);
}

// Adds a definition of name (as written), checks it, and fills the forward
// fields that waited for it.
void Insert(Context& ctx, std::string_view name, Constant record, const std::int32_t* number = nullptr) {
    std::uint32_t waits = SymbolList::kNoWaits;
    const Constant* previous = nullptr;
    const Origin origin = record.origin;
    const Constant& added = ctx.lstHead.InsertConstant(std::move(record), &waits, &previous);
    if (Checking(ctx)) CheckName(ctx, name, origin, previous);
    ResolveForwards(ctx, waits, added.szName, added.szValue, number);
}

// A label's value text: the address in the classic "0x%08x" form.
std::string LabelValue(std::uint32_t address) {
    char value[10] = {'0', 'x'};
    PutHex(value + 2, address, 8);
    return std::string(value, sizeof value);
}

// The name and value of df. and set.; false after a message when one is missing.
bool NameAndValue(Context& ctx, std::string_view rest, std::string_view& name, std::string_view& value) {
    name = Operand(ctx, rest);
    if (name.empty()) {
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kInvalidDefineName);
        return false;
    }
    value = Operand(ctx, rest);
    if (value.empty()) {
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kInvalidDefineValue);
        return false;
    }
    return true;
}

void Define(Context& ctx, std::string_view rest, Origin origin = Origin::kDefine) {
    std::string_view name, value;
    if (!NameAndValue(ctx, rest, name, value)) return;
    Constant record = SymbolList::CreateConstant();
    record.szName = name;
    record.szValue = value;
    record.origin = origin;
    if (!ctx.set.quiet) SayStrings(ctx, msg::kDefine, record.szName, record.szValue);
    Insert(ctx, name, std::move(record));
}

// set. NAME EXPR: NAME holds the value EXPR has here, until the next set.
void Set(Context& ctx, std::string_view rest) {
    std::string_view name, expr;
    if (!NameAndValue(ctx, rest, name, expr)) return;
    const std::optional<std::int32_t> v = ValueHere(ctx, expr);
    if (!v) return;
    Constant record = SymbolList::CreateConstant();
    record.szName = name;
    record.szValue = std::to_string(*v);
    record.origin = Origin::kSet;
    if (!ctx.set.quiet) SayStrings(ctx, msg::kDefine, record.szName, record.szValue);
    Insert(ctx, name, std::move(record), &*v);
}

}  // namespace

void DefineLabel(Context& ctx, std::string_view name) {
    Constant record = SymbolList::CreateConstant();
    record.szName = name;
    // Labels carry the image base, so jumps to them reach the loaded code.
    const auto address = static_cast<std::int32_t>(CurrentAddress(ctx));
    record.szValue = LabelValue(static_cast<std::uint32_t>(address));
    if (!ctx.set.quiet) SayStrings(ctx, msg::kLabel, record.szName, record.szValue);
    record.origin = Origin::kLabel;
    Insert(ctx, name, std::move(record), &address);
}

void DefineLabelToken(Context& ctx, std::string_view token) {
    const std::string_view name = token.substr(0, token.size() - 1);
    if (!std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        DefineLabel(ctx, name);
        return;
    }
    const std::uint32_t address = CurrentAddress(ctx);
    const auto number = static_cast<std::int32_t>(address);
    const std::string key = ctx.locals.Define(name, address);
    ResolveForwards(ctx, ctx.lstHead.TakeWaits(key), key, LabelValue(address), &number);
}

namespace {

void Label(Context& ctx, std::string_view rest) {
    std::string_view name = Operand(ctx, rest);
    if (name.empty()) {
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kInvalidLabelName);
        return;
    }
    DefineLabel(ctx, name);
}

}  // namespace

std::FILE* OpenInclude(const Context& ctx, const std::string& name, std::string& path) {
    path = name;
    if (std::FILE* f = OpenInput(ctx, name)) return f;
    if (ctx.set.classic || name.empty() || name.front() == '/') return nullptr;
    std::vector<std::string> places;
    const std::string& including = ctx.files[ctx.file];
    const std::size_t slash = including.rfind('/');
    if (slash != std::string::npos) places.push_back(including.substr(0, slash + 1));
    for (const std::string& dir : ctx.set.includeDirs)
        places.push_back(dir.empty() || dir.back() == '/' ? dir : dir + '/');
    for (const std::string& place : places) {
        path = place + name;
        if (std::FILE* f = OpenInput(ctx, path)) return f;
    }
    return nullptr;
}

namespace {

// The file named by the quoted text of inc. and incbin., searched as an
// include is; rest is left after the closing quote. Null, after a message,
// when there is none to read.
FilePtr OpenQuoted(Context& ctx, std::string_view& rest, std::string& name, std::string& path, FileId& id) {
    std::string_view quoted;
    bool closed = false;
    if (!Quoted(ctx, rest, msg::kInvalidInclude, quoted, closed)) return nullptr;
    // A nested pass reuses the line buffer, so the name must be our own copy.
    name = quoted;
    if (!closed) Report(ctx, Severity::kWarning, AtLocation(ctx), msg::kAssumingName, name.c_str());
    rest.remove_prefix(std::min(rest.size(), static_cast<std::size_t>(quoted.data() + quoted.size() - rest.data()) + 1));
    FilePtr f(ctx.includeChain.size() < kMaxIncludeDepth ? OpenInclude(ctx, name, path) : nullptr);
    // Reading standard output while writing it could chase its own output.
    if (f && GetFileId(f.get(), id) && ctx.hasObjId && id == ctx.objId) f.reset();
    if (f) CheckInput(ctx, id);
    if (!f) Report(ctx, Severity::kError, AtLocation(ctx), msg::kCannotOpenInclude, name.c_str());
    return f;
}

void Include(Context& ctx, std::string_view rest) {
    std::string name, path;
    FileId id;
    FilePtr f = OpenQuoted(ctx, rest, name, path, id);
    if (!f) return;
    for (const FileId& open : ctx.includeChain) {
        if (open == id) {
            Report(ctx, Severity::kError, AtLocation(ctx), msg::kRecursiveInclude, name.c_str());
            return;
        }
    }
    if (!ctx.set.quiet) Say(ctx, msg::kStartRecursion, name.c_str());
    ctx.includeChain.push_back(id);
    const std::uint32_t outerFile = ctx.file;
    const int outerLine = ctx.line;
    const std::uint32_t outerAddress = ctx.lineAddress;
    ctx.files.push_back(path);
    ctx.file = static_cast<std::uint32_t>(ctx.files.size() - 1);
    int ok = ctx.runPass(ctx, f.get(), name.c_str());
    ctx.file = outerFile;
    ctx.line = outerLine;
    ctx.lineAddress = outerAddress;
    ctx.includeChain.pop_back();
    if (!ok || !ctx.set.quiet) Say(ctx, "%s", ok ? msg::kRecursionOk : msg::kRecursionFail);
}

// "0x" and four lower-case hex digits: the form in which halves reach Construct.
struct HalfText {
    char text[7];
    explicit HalfText(std::uint32_t half) {
        static constexpr char kHex[] = "0123456789abcdef";
        text[0] = '0';
        text[1] = 'x';
        for (int i = 0; i < 4; ++i) text[2 + i] = kHex[(half >> (12 - 4 * i)) & 0xF];
        text[6] = '\0';
    }
    std::string_view view() const { return {text, 6}; }
};

// The operand texts of a movhi/movea pair that builds a value: the halves as
// numbers, or hi()/lo() of an expression whose names come later.
struct PairText {
    std::string high, low;
    bool known = false;  // the halves are numbers: these
    std::uint32_t highHalf = 0, lowHalf = 0;
    std::string_view pending;  // the one name the expression lacks, when found already (not in hi()/lo())
    PairText(std::uint32_t v, std::uint32_t highOr = 0)
        : high(HalfText(HighHalf(v) | highOr).view()), low(HalfText(LowHalf(v)).view()), known(true),
          highHalf(HighHalf(v) | highOr), lowHalf(LowHalf(v)) {}
    PairText(std::string_view expr, std::string_view pendingName)
        : high(Call("hi(", expr)), low(Call("lo(", expr)), pending(pendingName) {}

private:
    static std::string Call(std::string_view function, std::string_view expr) {
        std::string s;
        s.reserve(function.size() + expr.size() + 1);
        s += function;
        s += expr;
        s += ')';
        return s;
    }
};

constexpr const OpEntry& Entry(std::string_view mnemonic) { return optable[FindMnemonic(PackName(mnemonic))->op[0]]; }
constexpr const OpEntry& kMovhi = Entry("movhi");
constexpr const OpEntry& kMovea = Entry("movea");
constexpr const OpEntry& kJmp = Entry("jmp");

// Whether texts reach the encoder as they are: none is a defined name
// (every operand text is looked up once, generated ones too).
bool Unnamed(const Context& ctx, std::initializer_list<std::string_view> texts) {
    return std::none_of(texts.begin(), texts.end(),
                        [&ctx](std::string_view t) { return ctx.lstHead.CheckConstant(t).has_value(); });
}

// movhi high, $0, reg / movea low, reg, reg. With reg a fixed register
// (number given) and texts that are no names, the values go to the
// encoder directly: the pseudo-instructions make millions of these.
bool LoadPair(Context& ctx, const PairText& pair, std::string_view reg, int number = -1) {
    if (number >= 0 && Unnamed(ctx, {pair.high, "$0", reg, pair.low})) {
        const auto r = static_cast<std::uint32_t>(number);
        if (pair.known) {
            EmitKnown(ctx, kMovhi, {pair.highHalf, 0, r});
            EmitKnown(ctx, kMovea, {pair.lowHalf, r, r});
            return true;
        }
        if (const std::string_view name = pair.pending.empty() ? PendingName(ctx, pair.high).name : pair.pending;
            !name.empty()) {
            EmitKnown(ctx, kMovhi, {0, 0, r}, pair.high, {name, 1});
            EmitKnown(ctx, kMovea, {0, r, r}, pair.low, {name, 2});
            return true;
        }
    }
    return Construct(ctx, {"movhi", pair.high, "$0", reg}).status == EncodeStatus::kOk &&
           Construct(ctx, {"movea", pair.low, reg, reg}).status == EncodeStatus::kOk;
}

bool JumpTo(Context& ctx, const PairText& target) {
    if (!LoadPair(ctx, target, "$1", 1)) return false;
    if (Unnamed(ctx, {"$1"})) {
        EmitKnown(ctx, kJmp, {1, 0, 0});
        return true;
    }
    return Construct(ctx, {"jmp", "$1", {}, {}}).status == EncodeStatus::kOk;
}

// A name's value that is a number, or (extensions) an expression.
ExprStatus ValueOf(Context& ctx, const SymbolList::Value& value, std::int32_t& v) {
    if (value.isNumber) {
        v = value.number;
        return ExprStatus::kOk;
    }
    return ctx.set.classic || !HasParen(value.text) ? ExprStatus::kMalformed : ReadValue(ctx, value.text, v);
}

// The target that follows ".jump" or ".call": a name whose value is a
// number (a number written directly is not accepted), or an expression.
bool JumpTarget(Context& ctx, std::string_view& rest, std::optional<PairText>& target) {
    std::string_view name = Operand(ctx, rest);
    if (name.empty()) return false;
    std::int32_t v = 0;
    ExprStatus status = ExprStatus::kMalformed;
    Pending pending;
    if (auto value = ctx.lstHead.Lookup(name)) {
        status = ValueOf(ctx, *value, v);
    } else if (!ctx.set.classic && HasParen(name)) {
        status = ReadValue(ctx, name, v, &pending);
    }
    if (status == ExprStatus::kOk) target.emplace(static_cast<std::uint32_t>(v));
    else if (status == ExprStatus::kUndefined) target.emplace(name, pending.half == 0 ? pending.name : std::string_view{});
    return target.has_value();
}

void Jump(Context& ctx, std::string_view rest) {
    std::optional<PairText> target;
    if (!JumpTarget(ctx, rest, target)) {
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kJumpNoLabel);
        return;
    }
    if (!JumpTo(ctx, *target)) Report(ctx, Severity::kError, AtLocation(ctx), msg::kJumpFailed);
}

void Call(Context& ctx, std::string_view rest) {
    std::optional<PairText> target;
    if (!JumpTarget(ctx, rest, target)) {
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kCallNoLabel);
        return;
    }
    // The link address is the byte after the 18-byte sequence, image base
    // included (the classic formula), or after base. the running address.
    const PairText link = ctx.obj.Based() ? PairText(CurrentAddress(ctx) + 18)
                                          : PairText(static_cast<std::uint32_t>(ctx.obj.Location()) + 18, kImageBase >> 16);
    if (!LoadPair(ctx, link, "$31", 31)) {
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kLinkFailed);
        return;
    }
    if (!JumpTo(ctx, *target)) Report(ctx, Severity::kError, AtLocation(ctx), msg::kCallFailed);
}

void Mov32(Context& ctx, std::string_view rest) {
    std::string_view operand = Operand(ctx, rest);
    if (operand.empty()) {
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kMov32NoNumber);
        return;
    }
    std::int32_t v = 0;
    ExprStatus status = ExprStatus::kOk;
    if (!ReadNumber(operand, v)) {  // a number is never looked up as a name
        auto value = ctx.lstHead.Lookup(operand);
        if (value) {
            status = ValueOf(ctx, *value, v);
            if (status == ExprStatus::kMalformed || status == ExprStatus::kDivZero) {
                Report(ctx, Severity::kError, AtLocation(ctx), msg::kMov32BadDefine, std::string(value->text).c_str());
                return;
            }
        } else {
            status = ctx.set.classic || !HasParen(operand) ? ExprStatus::kMalformed : ReadValue(ctx, operand, v);
            if (status == ExprStatus::kMalformed || status == ExprStatus::kDivZero) {
                Report(ctx, Severity::kError, AtLocation(ctx), msg::kMov32NoParam);
                return;
            }
        }
    }
    // The register goes to Construct as written, so a name for a register works.
    std::string_view reg = NextToken(rest);
    if (reg.empty() || reg.front() == ';') {
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kMov32NoReg, std::string(reg).c_str());
        return;
    }
    const PairText pair = status == ExprStatus::kOk ? PairText(static_cast<std::uint32_t>(v)) : PairText(operand, {});
    if (!LoadPair(ctx, pair, reg)) Report(ctx, Severity::kError, AtLocation(ctx), msg::kMov32Failed);
}


// incbin. "FILE"[, OFFSET[, LENGTH]]: the bytes of FILE, searched as inc. is.
void Incbin(Context& ctx, std::string_view rest) {
    std::string name, path;
    FileId id;
    FilePtr f = OpenQuoted(ctx, rest, name, path, id);
    if (!f) return;
    ctx.files.push_back(path);
    std::int32_t offset = 0, length = -1;
    const std::string_view offsetText = Operand(ctx, rest), lengthText = Operand(ctx, rest);
    const bool valid = (offsetText.empty() || ReadValue(ctx, offsetText, offset) == ExprStatus::kOk) &&
                       (lengthText.empty() || (ReadValue(ctx, lengthText, length) == ExprStatus::kOk && length >= 0)) &&
                       offset >= 0;
    // What is read: up to the range's end, or up to the end of the file but
    // no more than an image holds (a device may never end).
    const std::uint64_t want = length >= 0 ? static_cast<std::uint64_t>(offset) + static_cast<std::uint64_t>(length)
                                           : std::uint64_t{kImageSize} + 1;
    std::string bytes;
    char block[1 << 16];
    for (std::size_t got; valid && bytes.size() < want &&
                          (got = std::fread(block, 1, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof block, want - bytes.size())), f.get())) > 0;)
        bytes.append(block, got);
    if (std::ferror(f.get())) {
        Report(ctx, Severity::kError, Nowhere(), msg::kCannotRead, name.c_str());
        return;
    }
    if (!valid || bytes.size() > kImageSize || static_cast<std::uint64_t>(offset) > bytes.size() ||
        (length >= 0 && bytes.size() < want)) {
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kIncbinRange);
        return;
    }
    ctx.obj.Emit(reinterpret_cast<const std::uint8_t*>(bytes.data()) + offset, bytes.size() - static_cast<std::size_t>(offset));
}

// assert. EXPR[, "TEXT"]: an error where EXPR is 0, checked once its names are known.
void Assert(Context& ctx, std::string_view rest) {
    const std::string_view expr = Operand(ctx, rest);
    const std::size_t open = rest.find('"');
    std::string text(expr);
    std::string_view unread = rest.substr(0, open);  // between EXPR and the text: only a separator
    if (open != std::string_view::npos) {
        const std::size_t close = rest.find('"', open + 1);
        text = rest.substr(open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
        if (const std::string_view dropped = Operand(ctx, unread); !dropped.empty()) unread = dropped;
        else unread = close == std::string_view::npos ? std::string_view() : rest.substr(close + 1);
    }
    ReportUnread(ctx, unread);
    std::int32_t v = 0;
    switch (ValueNow(ctx, expr, v)) {
        case ExprStatus::kOk:
            if (v == 0) Report(ctx, Severity::kError, AtLocation(ctx), msg::kAssertionFailed, text.c_str());
            return;
        case ExprStatus::kDivZero:
            Report(ctx, Severity::kError, AtLocation(ctx), msg::kDivZero, std::string(expr).c_str());
            return;
        case ExprStatus::kMalformed:
            Report(ctx, Severity::kError, AtLocation(ctx), msg::kInvalidParam, std::string(expr).c_str());
            return;
        case ExprStatus::kUndefined: break;
    }
    FieldUse use;
    use.entry = kAssertion;
    use.base = static_cast<std::uint32_t>(ctx.obj.Location());
    AddForward(ctx, expr, text, ObjectWriter::RefId{}, use);
}

// error. "TEXT" and warning. "TEXT".
void SayText(Context& ctx, std::string_view rest, Severity severity) {
    std::string_view text;
    bool closed = false;
    if (Quoted(ctx, rest, msg::kInvalidString, text, closed))
        Report(ctx, severity, AtLocation(ctx), msg::kUserText, std::string(text).c_str());
}

// str. "TEXT"[, "TEXT"]...: the bytes of each text, escapes read; strz.
// puts a zero byte after each. A bad escape writes nothing of the line; a
// text the table cannot write, nothing of that text.
void Str(Context& ctx, std::string_view rest, bool zero) {
    std::string bytes, text;
    auto end = [&] {
        if (AddString(ctx, text, bytes) && zero) bytes += '\0';
        text.clear();
    };
    bool open = false;
    for (std::size_t i = 0; i < rest.size();) {
        const char c = rest[i];
        if (c == ';' && !open) break;
        if (c != '"') {
            if (!IsSeparator(c)) {
                Report(ctx, Severity::kError, AtLocation(ctx), msg::kInvalidString);
                return;
            }
            ++i;
            continue;
        }
        open = true;
        for (++i; i < rest.size() && rest[i] != '"'; ++i) {
            if (rest[i] != '\\') {
                text += rest[i];
                continue;
            }
            const std::size_t at = i++;
            unsigned value = 0;
            const std::size_t taken = ReadEscape(rest, i, value);
            if (taken == 0) {
                const std::string escape(rest.substr(at, i < rest.size() ? 2 : 1));
                Report(ctx, Severity::kError, AtLocation(ctx), msg::kInvalidEscape, escape.c_str());
                return;
            }
            i += taken - 1;
            text += static_cast<char>(value);
        }
        if (i >= rest.size()) break;  // no closing quote
        ++i;
        open = false;
        end();
    }
    if (!open && bytes.empty() && rest.find('"') == std::string_view::npos) {
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kInvalidString);
        return;
    }
    if (open) end();
    ctx.obj.Emit(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    if (open) Report(ctx, Severity::kCountedWarning, AtLocation(ctx), msg::kNoClosingQuote);
}

// area. SIZE[, FILL]: what follows up to endarea. must fit in SIZE bytes.
void Area(Context& ctx, std::string_view rest) {
    std::int32_t size = 0, fill = -1;
    std::string_view fillText;
    if (ReadValue(ctx, Operand(ctx, rest), size) != ExprStatus::kOk || size < 0 ||
        static_cast<std::uint32_t>(size) > kImageSize ||
        (!(fillText = Operand(ctx, rest)).empty() && ReadValue(ctx, fillText, fill) != ExprStatus::kOk)) {
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kInvalidArea);
        return;
    }
    if (ctx.area) {
        Report(ctx, Severity::kError, AtLocation(ctx), "%s", msg::kUnbalancedArea);
        return;
    }
    if (!fillText.empty()) CheckFill(ctx, fillText, fill, 1);
    ctx.area = OpenArea{static_cast<std::uint32_t>(ctx.obj.Location()), static_cast<std::uint32_t>(size),
                        fillText.empty() ? -1 : fill & 0xFF, ctx.passes.back().serial, ctx.file, ctx.line,
                        CurrentTrace(ctx)};
}

void EndArea(Context& ctx) {
    if (!ctx.area) {
        Report(ctx, Severity::kError, AtLocation(ctx), "%s", msg::kUnbalancedArea);
        return;
    }
    const OpenArea area = std::move(*ctx.area);
    ctx.area.reset();
    // A patch's org. may have gone back before the area: nothing is over then.
    const std::int64_t used = static_cast<std::int32_t>(static_cast<std::uint32_t>(ctx.obj.Location()) - area.start);
    if (used > area.size)
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kAreaOverflow, static_cast<int>(used - area.size));
    else if (area.fill >= 0 && used >= 0)
        ctx.obj.EmitFill(area.size - static_cast<std::uint32_t>(used), static_cast<std::uint8_t>(area.fill));
}

// table. "FILE": str., strz. and ds. write through FILE; table. alone: plain bytes.
void Table(Context& ctx, std::string_view rest) {
    if (std::string_view r = rest; Operand(ctx, r).empty()) {
        ctx.table.reset();
        return;
    }
    std::string name, path;
    FileId id;
    FilePtr f = OpenQuoted(ctx, rest, name, path, id);
    if (!f) return;
    ctx.files.push_back(path);
    auto table = std::make_shared<TextTable>();
    const int bad = table->Read(f.get());
    if (std::ferror(f.get())) {
        Report(ctx, Severity::kError, Nowhere(), msg::kCannotRead, name.c_str());
        return;
    }
    if (bad != 0) {
        Report(ctx, Severity::kError, AtLocation(ctx), msg::kInvalidTableLine, name.c_str(), bad);
        return;
    }
    ctx.table = std::move(table);
}
}  // namespace

void FinishArea(Context& ctx) {
    if (!ctx.area || ctx.area->pass != ctx.passes.back().serial) return;
    const OpenArea& a = *ctx.area;
    Report(ctx, Severity::kError, {Where::kLine, a.file, a.line, -1, &a.trace}, "%s", msg::kMissingEndarea);
    ctx.area.reset();
}

void ReportUnread(Context& ctx, std::string_view unread) {
    if (!Checking(ctx)) return;
    if (const std::string_view token = Operand(ctx, unread); !token.empty())
        ReportCheck(ctx, AtLocation(ctx), msg::kAfterOperands, token);
}

std::optional<std::int32_t> ValueHere(Context& ctx, std::string_view expr) {
    std::int32_t v = 0;
    const char* error = msg::kInvalidParam;
    switch (ValueNow(ctx, expr, v)) {
        case ExprStatus::kOk: return v;
        case ExprStatus::kUndefined: error = msg::kNotKnownYet; break;
        case ExprStatus::kDivZero: error = msg::kDivZero; break;
        case ExprStatus::kMalformed: break;
    }
    Report(ctx, Severity::kError, AtLocation(ctx), error, std::string(expr).c_str());
    return std::nullopt;
}

void DefineOption(Context& ctx, std::string_view name, std::string_view value) {
    const std::string line = std::string(name) + " " + std::string(value);
    CheckDropped(ctx, kDf, line);
    Define(ctx, line, Origin::kOption);
}

ExprStatus ValueNow(Context& ctx, std::string_view text, std::int32_t& value) {
    if (text.empty()) return ExprStatus::kMalformed;
    const ExprStatus status = ReadValue(ctx, text, value);
    if (status != ExprStatus::kMalformed || HasParen(text)) return status;
    // A name: its whole value, read as an expression.
    return Evaluate(text, LineEnv(ctx), value);
}

bool ReservedName(std::string_view name) {
    if (name.empty() || name.front() == '$' || FindKeyword(name, false) != kNone) return true;
    const std::uint64_t key = PackName(name);
    return FindMnemonic(key) != nullptr || FindAlias(key) != nullptr || GnuRegister(name) >= 0 ||
           SystemRegister(name) >= 0;
}

int CompilerLine(Context& ctx, std::string_view line) {
    std::string_view rest = line;
    const std::string_view first = NextToken(rest);
    return CompilerLine(ctx, first, rest);
}

int CompilerLine(Context& ctx, std::string_view first, std::string_view rest) {
    Keyword keyword = FindKeyword(first, ctx.set.classic);
    if (keyword == kNone) return 0;
    CheckDropped(ctx, keyword, rest);
    switch (keyword) {
        case kNone: return 0;
        case kOrg: Org(ctx, rest); break;
        case kInc: Include(ctx, rest); break;
        case kDs: Ds(ctx, rest); break;
        case kDw: Data(ctx, rest, 4, msg::kInvalid32); break;
        case kDh: Data(ctx, rest, 2, msg::kInvalid16); break;
        case kDb: Data(ctx, rest, 1, msg::kInvalid8); break;
        case kDf: Define(ctx, rest); break;
        case kLb: Label(ctx, rest); break;
        case kJump: Jump(ctx, rest); break;
        case kCall: Call(ctx, rest); break;
        case kMov32: Mov32(ctx, rest); break;
        case kBase: Base(ctx, rest); break;
        case kAlign: Align(ctx, rest); break;
        case kFill: Fill(ctx, rest); break;
        case kIncbin: Incbin(ctx, rest); break;
        case kAssert: Assert(ctx, rest); break;
        case kErrorKw: SayText(ctx, rest, Severity::kError); break;
        case kWarningKw: SayText(ctx, rest, Severity::kWarning); break;
        case kStr: Str(ctx, rest, false); break;
        case kStrz: Str(ctx, rest, true); break;
        case kSet: Set(ctx, rest); break;
        case kArea: Area(ctx, rest); break;
        case kEndArea: EndArea(ctx); break;
        case kTable: Table(ctx, rest); break;
    }
    return 1;
}

}  // namespace tarvo
