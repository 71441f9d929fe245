#include "isa/construct.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <utility>

#include "isa/encode.h"
#include "isa/optable.h"
#include "messages.h"
#include "text.h"

namespace tarvo {
namespace {

enum Kind : unsigned { kAbsent = 0, kRegister = 1, kNumber = 2 };

constexpr unsigned Shape(Kind a, Kind b, Kind c) { return a | b << 2 | c << 4; }

constexpr std::uint64_t kJmp = PackName("jmp");
constexpr std::uint64_t kNop = PackName("nop");
constexpr std::uint64_t kTrap = PackName("trap");
constexpr std::uint64_t kLdsr = PackName("ldsr");
constexpr std::uint64_t kStsr = PackName("stsr");
constexpr std::uint64_t kSetf = PackName("setf");


bool SystemRegisterSlot(std::uint64_t key, int slot) { return slot == 0 && (key == kLdsr || key == kStsr); }

// ext: extensions are on; sysregSlot: the operand may name a system register.
inline Kind KindOf(bool ext, bool sysregSlot, std::string_view text) {
    if (text.empty()) return kAbsent;
    if (text.front() == '$') return kRegister;
    std::int32_t n = 0;
    if (sysregSlot && ReadNumber(text, n)) return kRegister;  // a system register by number
    // Register names begin with a letter; numbers, "@..." and "(...)" skip the name tables.
    const char c = static_cast<char>(text.front() | 0x20);
    if (!ext || c < 'a' || c > 'z') return kNumber;
    if (sysregSlot && SystemRegister(text) >= 0) return kRegister;
    return GnuRegister(text) >= 0 ? kRegister : kNumber;
}

// FieldFits by table: every numeric operand of every line is checked.
constexpr auto kFieldRanges = [] {
    std::array<std::pair<std::int32_t, std::int32_t>, optable.size()> t{};
    for (std::size_t i = 0; i < t.size(); ++i) {
        const std::int64_t span = std::int64_t{1} << FieldBits(optable[i].format);
        const std::int64_t low = optable[i].flags & (kSigned | kEitherSign) ? -span / 2 : 0;
        const std::int64_t high = optable[i].flags & kSigned ? span / 2 - 1 : span - 1;
        t[i] = {static_cast<std::int32_t>(std::max<std::int64_t>(low, INT32_MIN)),
                static_cast<std::int32_t>(std::min<std::int64_t>(high, INT32_MAX))};
    }
    return t;
}();
inline bool Fits(const OpEntry& e, std::int32_t v) {
    const auto& [low, high] = kFieldRanges[static_cast<std::size_t>(&e - optable.data())];
    return v >= low && v <= high;
}

class Resolver {
public:
    Resolver(Context& ctx, std::uint64_t key, LineResult& result)
        : ctx_(ctx), key_(key), result_(result), checks_(Checking(ctx)) {}

    bool Register(int slot, std::string_view text, std::uint32_t& out) {
        if (!text.empty() && text.front() == '$') {
            std::int32_t n = 0;
            std::size_t end = 0;
            if (ScanNumber(text.substr(1), n, &end) != Scan::kNumber) return false;
            out = static_cast<std::uint32_t>(n) & 0x1F;
            if (checks_) {
                if (n < 0 || n > 31) result_.strict[slot] |= kStrictRegister;
                if (end + 1 != text.size()) result_.strict[slot] |= kStrictTrailing;
            }
            return true;
        }
        if (ctx_.set.classic) return false;
        if (SystemRegisterSlot(key_, slot)) {
            std::int32_t n = 0;
            std::size_t end = 0;
            if (ScanNumber(text, n, &end) == Scan::kNumber && end == text.size()) {
                // A number, as in the classic order, whose field takes 0 to 31.
                out = static_cast<std::uint32_t>(n) & 0x1F;
                if (checks_ && (n < 0 || n > 31)) result_.strict[slot] |= kStrictRange;
                return true;
            }
        }
        const int sr = SystemRegisterSlot(key_, slot) ? SystemRegister(text) : -1;
        const int r = sr >= 0 ? sr : GnuRegister(text);
        out = static_cast<std::uint32_t>(r);
        return r >= 0;
    }

    EncodeStatus Number(const Instr& in, int slot, std::string_view text, std::uint32_t& out) {
        std::int32_t n = 0;
        std::size_t end = 0;
        if (ScanNumber(text, n, &end) == Scan::kNumber) {
            if (checks_) {
                if (end != text.size()) result_.strict[slot] |= kStrictTrailing;
                Check(in, slot, n);
            }
            out = static_cast<std::uint32_t>(n);
            return EncodeStatus::kOk;
        }
        if (ctx_.set.classic || text.empty()) return EncodeStatus::kBadParam;
        if (text.front() == '@' && IsDisplacement(in.format) && key_ != kNop) {
            target = true;
            return Expression(in, slot, text.substr(1), out);
        }
        if (HasParen(text)) return Expression(in, slot, text, out);
        if (key_ == kSetf && slot == 0) {
            const int c = FindNamed(kConditions, text);
            out = static_cast<std::uint32_t>(c);
            return c >= 0 ? EncodeStatus::kOk : EncodeStatus::kBadParam;
        }
        return EncodeStatus::kBadParam;
    }

    std::string_view pendingExpr;  // the expression of a pending operand
    Pending pending;               // its one undefined name, if it is no more
    int pendingSlot = -1;          // its slot: the value stays 0 until its names are defined
    bool target = false;           // the number is an @ target

private:
    void Check(const Instr& in, int slot, std::int32_t v) {
        if (!Fits(*in.entry, v)) result_.strict[slot] |= kStrictRange;
        if (IsDisplacement(in.format) && (v & 1)) result_.strict[slot] |= kStrictOdd;
    }

    EncodeStatus Expression(const Instr& in, int slot, std::string_view expr, std::uint32_t& out) {
        std::int32_t v = 0;
        const ExprStatus status = Evaluate(expr, LineEnv(ctx_), v, nullptr, &pending);
        switch (status) {
            case ExprStatus::kMalformed: return EncodeStatus::kBadParam;
            case ExprStatus::kDivZero: return EncodeStatus::kDivZero;
            case ExprStatus::kUndefined:
                pendingSlot = slot;
                pendingExpr = expr;
                return EncodeStatus::kOk;
            case ExprStatus::kOk: break;
        }
        if (target) {
            v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v) - CurrentAddress(ctx_));
            if (!FieldFits(*in.entry, v)) return EncodeStatus::kTargetRange;
            if (v & 1) return EncodeStatus::kTargetAlign;
        } else if (checks_ && !(FieldBits(in.format) == 16 && IsLowHalf(expr))) {
            Check(in, slot, v);
        }
        out = static_cast<std::uint32_t>(v);
        return EncodeStatus::kOk;
    }

    Context& ctx_;
    std::uint64_t key_;
    LineResult& result_;
    bool checks_;  // what --strict reports is looked for
};

// Finds the entry the mnemonic and the operand kinds select.
EncodeStatus Select(const Context& ctx, std::uint64_t key, std::uint16_t mask, Instr& in) {
    const Mnemonic* m = FindMnemonic(key);
    if (m == nullptr && !ctx.set.classic) m = FindAlias(key);
    if (m != nullptr) {
        for (std::int8_t i : m->op) {
            if (i >= 0 && (optable[i].format & mask) == optable[i].format) {
                in.entry = &optable[i];
                in.format = optable[i].format;
                return EncodeStatus::kOk;
            }
        }
    }
    if (mask & FMT_FPP) {
        if (m == nullptr || m->fp < 0) return EncodeStatus::kBadOpcode;
        in.sub = &fptable[m->fp];
        if (in.sub->flags & kExtension && ctx.set.classic) return EncodeStatus::kBadOpcode;
        in.entry = &optable[kOpByKey[kOpcodeFPP]];
        in.format = FMT_FPP;
        return EncodeStatus::kOk;
    }
    if (mask & FMT_BSTR) {
        if (m == nullptr || m->bs < 0) return EncodeStatus::kBadOpcode;
        in.sub = &bstable[m->bs];
        in.entry = &optable[kOpByKey[kOpcodeBSTR]];
        in.format = FMT_BSTR;
        return EncodeStatus::kOk;
    }
    return EncodeStatus::kBadOpcode;
}

// A bare label, or digits with "b"/"f" that name no constant, where a
// displacement is read.
Suspect Suspicious(const Context& ctx, std::string_view written) {
    if (written.empty() || written.front() == '@' || written.front() == '(') return Suspect::kNone;
    if (const Constant* c = ctx.lstHead.FindConstant(written)) return c->IsLabel() ? Suspect::kLabel : Suspect::kNone;
    std::size_t digits = 0;
    while (digits < written.size() && written[digits] >= '0' && written[digits] <= '9') ++digits;
    const bool local = digits > 0 && digits + 1 == written.size() && (written.back() == 'b' || written.back() == 'f');
    return local ? Suspect::kLocal : Suspect::kNone;
}

bool OneRegister(const Context& ctx, std::uint64_t key) {
    if (ctx.set.classic) return false;
    const Mnemonic* m = FindMnemonic(key);
    return m != nullptr && m->fp >= 0 && fptable[m->fp].flags & kOneReg;
}

// The bytes of a forward field for a value.
Encoded FieldBytes(const FieldUse& use, std::uint32_t value, bool nec) {
    if (use.entry < 0) {
        Encoded e;
        e.length = use.width;
        PutLittle(value, use.width, e.bytes);
        return e;
    }
    const OpEntry& entry = optable[static_cast<std::size_t>(use.entry)];
    std::uint32_t v[3] = {use.values[0], use.values[1], use.values[2]};
    v[use.slot] = value;
    return Encode({&entry, entry.format, nullptr}, v, nec);
}

void MarkFailed(Context& ctx, int pass) {
    for (Context::Pass& p : ctx.passes)
        if (p.serial == pass) p.failed = true;
}

void Fill(Context& ctx, const Forward& f) {
    const char* error = nullptr;
    std::int32_t v = f.value;
    switch (f.known ? ExprStatus::kOk : Evaluate(f.expr, LineEnv(ctx), v)) {
        case ExprStatus::kOk: break;
        case ExprStatus::kDivZero: error = msg::kDivZero; break;
        default: error = msg::kInvalidParam; break;
    }
    if (f.use.entry == kAssertion) {
        // Checked now that its names are known, at the location of its line.
        const Where at{Where::kLocation, f.file, f.line, f.use.base, &f.trace};
        if (error != nullptr) Report(ctx, Severity::kError, at, error, f.operand.c_str());
        else if (v == 0) Report(ctx, Severity::kError, at, msg::kAssertionFailed, f.operand.c_str());
        return;
    }
    const OpEntry* entry = f.use.entry < 0 ? nullptr : &optable[static_cast<std::size_t>(f.use.entry)];
    if (error == nullptr && f.use.target) {
        v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v) - f.use.base);
        if (!FieldFits(*entry, v)) error = msg::kTargetRange;
        else if (v & 1) error = msg::kTargetAlign;
    }
    v = Half(v, f.use.half);
    auto where = [&f] { return Where{Where::kLine, f.file, f.line, -1, &f.trace}; };  // read only for a message
    if (error != nullptr) {
        Report(ctx, Severity::kError, where(), error, f.operand.c_str());
        MarkFailed(ctx, f.pass);
        v = 0;
    } else if (Checking(ctx) && !f.use.target) {
        const bool fits = (entry ? Fits(*entry, v) : DataFits(f.use.width, v)) ||
                          (entry && FieldBits(entry->format) == 16 && (f.use.half == 2 || IsLowHalf(f.operand)));
        const char* text = !fits ? msg::kValueRange
                           : entry && IsDisplacement(entry->format) && (v & 1) ? msg::kOddDisplacement
                                                                               : nullptr;
        if (text != nullptr) {
            ReportCheck(ctx, where(), text, {}, f.operand);
            if (ctx.set.strict) MarkFailed(ctx, f.pass);
        }
    }
    Encoded e = FieldBytes(f.use, static_cast<std::uint32_t>(v), ctx.set.necEncoding);
    ctx.obj.Patch(f.ref, e.bytes);
}

}  // namespace

ExprEnv LineEnv(const Context& ctx) {
    return {ctx.lstHead, ctx.lineAddress, ctx.set.classic ? nullptr : &ctx.locals};
}

bool IsLowHalf(std::string_view text) {
    if (text.size() < 4 || stricmp(text.substr(0, 3), "lo(") != 0 || text.back() != ')') return false;
    int depth = 0;
    for (std::size_t i = 2; i < text.size(); ++i) {
        depth += text[i] == '(' ? 1 : text[i] == ')' ? -1 : 0;
        if (depth == 0) return i + 1 == text.size();
    }
    return false;
}

bool DataFits(unsigned width, std::int32_t v) {
    if (width == 1) return v >= -128 && v <= 255;
    if (width == 2) return v >= -32768 && v <= 65535;
    return true;
}

LineResult Construct(Context& ctx, const Tokens& tokens) {
    LineResult result;
    std::string_view text[3] = {tokens.szParam1, tokens.szParam2, tokens.szParam3};
    std::string_view written[3] = {text[0], text[1], text[2]};
    // One level of name resolution on every operand, before kinds are judged.
    for (std::string_view& t : text) {
        if (t.empty()) break;  // operands are filled from the first on
        if (auto value = ctx.lstHead.CheckConstant(t)) t = *value;
    }

    const std::uint64_t key = PackName(tokens.szOpcode);
    // "ldsr $6, psw" as GNU writes it: the system register (by name or
    // number) may come second.
    std::int32_t number = 0;
    bool swapped = false;
    if ((key == kLdsr || key == kStsr) && !ctx.set.classic && text[2].empty() && !text[1].empty() &&
        text[1].front() != '$' && !text[0].empty() && !ReadNumber(text[0], number) &&
        (SystemRegister(text[1]) >= 0 || ReadNumber(text[1], number))) {
        std::swap(text[0], text[1]);
        std::swap(written[0], written[1]);
        swapped = true;
    }
    auto fail = [&result, swapped](EncodeStatus s, int slot = 0) {
        result.status = s;
        result.slot = static_cast<std::uint8_t>(swapped && slot < 2 ? 1 - slot : slot);
        return result;
    };
    std::uint16_t mask = 0;
    const bool ext = !ctx.set.classic;
    const bool sysreg = ext && SystemRegisterSlot(key, 0);
    switch (Shape(KindOf(ext, sysreg, text[0]), KindOf(ext, false, text[1]), KindOf(ext, false, text[2]))) {
        case Shape(kRegister, kRegister, kAbsent): mask = FMT_REGREG | FMT_FPP; break;
        case Shape(kNumber, kRegister, kAbsent): mask = FMT_IMMREG; break;
        case Shape(kNumber, kAbsent, kAbsent): mask = FMT_BCOND | FMT_JUMP26 | FMT_SPECIAL; break;
        case Shape(kNumber, kRegister, kRegister): mask = FMT_IMM16 | FMT_LOAD; break;
        case Shape(kRegister, kNumber, kRegister): mask = FMT_STORE; break;
        case Shape(kAbsent, kAbsent, kAbsent): mask = FMT_BSTR | FMT_SPECIAL; break;
        case Shape(kRegister, kAbsent, kAbsent):
            if (key == kJmp) {
                text[1] = "$0";  // "jmp [$r]" is the register pair form with reg2 = 0
                mask = FMT_REGREG;
            } else if (OneRegister(ctx, key)) {
                mask = FMT_FPP;
            } else if (key != kNop) {
                return fail(EncodeStatus::kSyntaxError);
            }
            break;
        default: return fail(EncodeStatus::kSyntaxError);
    }
    if (key == kNop) {  // always the never-taken branch; its operands are ignored
        text[0] = "0";
        mask = FMT_BCOND;
    }

    Instr in;
    if (EncodeStatus s = Select(ctx, key, mask, in); s != EncodeStatus::kOk) return fail(s);
    if (in.format == FMT_FPP && in.sub->flags & kOneReg && !text[1].empty())
        return fail(EncodeStatus::kSyntaxError);
    if (in.format == FMT_SPECIAL && key == kTrap && text[0].empty()) {
        // "trap" with nothing to read is a syntax error, never a parameter
        // error, since those quote an operand.
        return fail(EncodeStatus::kSyntaxError);
    }
    // The group entries "BSTR" and "FPP " encode nothing themselves.
    if ((in.format == FMT_BSTR || in.format == FMT_FPP) && in.sub == nullptr) return fail(EncodeStatus::kUnknown);

    Resolver resolver(ctx, key, result);
    std::uint32_t v[3] = {0, 0, 0};
    const char* kinds = SlotKinds(in);
    if (IsDisplacement(in.format) && key != kNop && !ctx.set.classic) result.suspect = Suspicious(ctx, written[0]);
    int slots = 0;
    for (; kinds[slots] != '\0'; ++slots) {
        if (kinds[slots] == 'r') {
            if (!resolver.Register(slots, text[slots], v[slots])) return fail(EncodeStatus::kBadParam, slots);
        } else if (EncodeStatus s = resolver.Number(in, slots, text[slots], v[slots]); s != EncodeStatus::kOk) {
            return fail(s, slots);
        }
    }
    // "jmp [r1], r2" reads r2 too: the register pair form encodes it.
    result.read = static_cast<std::uint8_t>(key == kNop ? 0 : slots);
    if (swapped) std::swap(result.strict[0], result.strict[1]);
    const Encoded e = Encode(in, v, ctx.set.necEncoding);
    result.oddLocation = ctx.obj.Location() & 1;
    if (resolver.pendingSlot < 0) {
        ctx.obj.Emit(e.bytes, e.length);
        return result;
    }
    const int pendingSlot = resolver.pendingSlot;
    FieldUse use;
    use.entry = static_cast<std::int16_t>(in.entry - optable.data());
    use.slot = static_cast<std::uint8_t>(pendingSlot);
    for (int i = 0; i < 3; ++i) use.values[i] = v[i];
    use.target = resolver.target;
    use.base = CurrentAddress(ctx);
    AddForward(ctx, resolver.pendingExpr, written[pendingSlot], ctx.obj.Reserve(e.bytes, e.length), use,
               resolver.pending);
    return result;
}

void EmitKnown(Context& ctx, const OpEntry& entry, const std::uint32_t (&values)[3], std::string_view text,
               Pending pending) {
    const Encoded e = Encode({&entry, entry.format, nullptr}, values, ctx.set.necEncoding);
    if (text.empty()) {
        ctx.obj.Emit(e.bytes, e.length);
        return;
    }
    FieldUse use;
    use.entry = static_cast<std::int16_t>(&entry - optable.data());
    for (int i = 0; i < 3; ++i) use.values[i] = values[i];
    use.base = CurrentAddress(ctx);
    AddForward(ctx, text, text, ctx.obj.Reserve(e.bytes, e.length), use, pending);
}

Pending PendingName(const Context& ctx, std::string_view expr) {
    Pending p;
    p.name = BareName(SplitHalf(expr, p.half));
    return !p.name.empty() && !ctx.lstHead.CheckConstant(p.name) ? p : Pending{};
}

ExprStatus ReadValue(Context& ctx, std::string_view text, std::int32_t& value, Pending* pending) {
    if (ReadNumber(text, value)) return ExprStatus::kOk;
    if (ctx.set.classic) return ExprStatus::kMalformed;
    // A bare name reads as "(NAME)"; a register name that names nothing is no value.
    if (!HasParen(text) && !(IsNameToken(text) && (GnuRegister(text) < 0 || ctx.lstHead.CheckConstant(text))))
        return ExprStatus::kMalformed;
    return Evaluate(text, LineEnv(ctx), value, nullptr, pending);
}

void AddForward(Context& ctx, std::string_view expr, std::string_view operand, const ObjectWriter::RefId& ref,
                const FieldUse& use, Pending pending) {
    Forward& f = ctx.forwards.Next();
    f.operand = operand;
    f.file = ctx.file;
    f.line = ctx.line;
    if (ctx.bodyLine != 0 || !ctx.expansions.empty()) f.trace = ExpansionTrace(ctx);
    else if (f.trace.calls || f.trace.bodyLine != 0) f.trace = {};  // a record is reused
    f.pass = ctx.passes.empty() ? -1 : ctx.passes.back().serial;
    f.ref = ref;
    f.use = use;
    // The common forms, one undefined name, wait for that name alone.
    if (pending.name.empty()) pending = PendingName(ctx, expr);
    if (!pending.name.empty()) {
        f.expr = pending.name;
        f.bare = true;
        f.use.half = static_cast<std::uint8_t>(pending.half);
        ctx.forwards.Add(ctx.lstHead);
        return;
    }
    f.expr = Substitute(expr, LineEnv(ctx));
    std::vector<std::string> missing;
    std::int32_t unused = 0;
    Evaluate(f.expr, LineEnv(ctx), unused, &missing);
    // Only a text grown too large lacks no name here: nothing would fill it.
    if (missing.empty()) return Fill(ctx, f);
    ctx.forwards.Add(ctx.lstHead, missing);
}

void ResolveForwards(Context& ctx, std::uint32_t waits, std::string_view name, std::string_view value,
                     const std::int32_t* number) {
    if (waits == SymbolList::kNoWaits) return;
    std::int32_t n = 0;
    std::size_t end = 0;
    if (number == nullptr && ScanNumber(value, n, &end) == Scan::kNumber && end == value.size()) number = &n;
    for (const Forward* f : ctx.forwards.Define(ctx.lstHead, waits, name, LineEnv(ctx), value, number))
        Fill(ctx, *f);
}

void FinishForwards(Context& ctx) {
    std::vector<std::string> missing;
    ctx.forwards.ForEachOpen([&](const Forward& f) {
        missing.clear();
        std::int32_t unused = 0;
        Evaluate(f.expr, LineEnv(ctx), unused, &missing);
        for (const std::string& name : missing)
            Report(ctx, Severity::kError, {Where::kLine, f.file, f.line, -1, &f.trace}, msg::kUndefinedName,
                   LocalLabels::Display(name).c_str());
        MarkFailed(ctx, f.pass);
    });
    ctx.forwards.Clear(ctx.lstHead);
    ctx.obj.Finish();
}

}  // namespace tarvo
