// Instructions: operands read as GNU as reads them, encoded by the shared
// tables and encoder; branches and jumps as items that the walks size.
#include <array>
#include <cstring>

#include "gnu/gnu_core.h"
#include "isa/encode.h"
#include "isa/optable.h"
#include "messages.h"

namespace tarvo::gnu {

namespace {

// The names of a table that GNU as' port knows too.
template <std::size_t N>
constexpr int FindGnuNamed(const std::array<NamedNumber, N>& table, std::string_view name, std::string_view missing) {
    const int n = FindNamed(table, name);
    return n >= 0 && PackName(name) == PackName(missing) ? -1 : n;
}

}  // namespace

int GnuSystemRegister(std::string_view text) {
    // sr0-sr7, sr24 and sr25, and every name but pir (sr6 has no other name).
    const int sr = PrefixedNumber(text, "sr");
    if (sr >= 0) return sr <= 7 || sr == 24 || sr == 25 ? sr : -1;
    return FindGnuNamed(kSystemRegisters, text, "pir");
}

// Every condition name but f (setf's false has no name in GNU as).
int GnuCondition(std::string_view text) { return FindGnuNamed(kConditions, text, "f"); }

bool RegisterLike(std::string_view text) {
    return GnuRegister(text) >= 0 || GnuSystemRegister(text) >= 0 || GnuCondition(text) >= 0;
}

std::string_view Assembler::AliasTarget(std::string_view name) const {
    // Most operands that are no register are numbers: no name to look up.
    if (name.empty() || (name.front() >= '0' && name.front() <= '9') || !IsNameChar(name.front())) return {};
    const int i = symIndex_.Find(name, syms_);
    if (i < 0) return {};
    const Sym& s = syms_[static_cast<std::size_t>(i)];
    if (s.alias < 0 || !s.defined) return {};
    return syms_[static_cast<std::size_t>(s.alias)].name;
}

int Assembler::AliasRegister(std::string_view text) const {
    const std::string_view target = AliasTarget(text);
    return target.empty() ? -1 : GnuRegister(target);
}

std::int64_t Assembler::Cut(std::int64_t v, std::int64_t low, std::int64_t high, const Loc& loc, Mode mode) {
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

Assembler::Get Assembler::Operand(std::string_view text, Mode mode, const Loc& loc, std::int64_t& out, bool allowFn,
                                  Fn* used) {
    text = Trim(text);
    const Fn fn = allowFn ? TakeFunction(text) : Fn::kNone;
    if (used != nullptr) *used = fn;
    std::string buffer;
    const std::string_view local = mode == Mode::kNow ? LocalView(text, buffer) : text;
    Value v;
    std::string name;
    dot = {off_[cur_], static_cast<int>(cur_)};
    const ExprStatus st = Evaluate(local, *this, v, &name);
    if (st == ExprStatus::kUndefined || (st == ExprStatus::kOk && moved && mode == Mode::kNow)) {
        if (mode == Mode::kNow) return Get::kLater;
        Undefined(loc, name);
        // In a unit, sdaoff() and tdaoff() of a name the link gives need
        // __gp or __tp from the link too.
        if (unit_) ApplyFn(fn, out, mode, loc);
        out = 0;
        return Get::kOk;
    }
    if (st != ExprStatus::kOk) {
        if (mode == Mode::kNow) Diag(Severity::kError, loc, st == ExprStatus::kDivZero ? msg::kGnuDivZero : msg::kGnuBadExpression, name.c_str());
        else Late(2, Severity::kError, loc, st == ExprStatus::kDivZero ? msg::kGnuDivZero : msg::kGnuBadExpression, name.c_str());
        return Get::kError;
    }
    std::int64_t x = Address(v.sec, v.v);
    if (AreaFunction(fn) && mode == Mode::kNow && v.sec == kAbsolute) {
        // Of a number known now: the low half for zdaoff(), as GNU as
        // keeps it; an offset from __gp or __tp needs an address.
        if (fn != Fn::kZdaoff) {
            Diag(Severity::kError, loc, msg::kGnuAreaOfNumber, FunctionName(fn));
            return Get::kError;
        }
        out = static_cast<std::int16_t>(x & 0xFFFF);
        if (used != nullptr) *used = Fn::kNone;
        return Get::kOk;
    }
    if (!ApplyFn(fn, x, mode, loc)) return Get::kLater;
    // An offset into a data area must reach it once linked.
    if (AreaFunction(fn) && (x < -32768 || x > 32767)) {
        Late(3, Severity::kError, loc, msg::kGnuAreaRange, FunctionName(fn), static_cast<long long>(x));
        x &= 0xFFFF;
    }
    out = x;
    return Get::kOk;
}

ExprStatus Assembler::ItemValue(const Item& it, Value& v, std::string* name) {
    dot = {off_[cur_], static_cast<int>(cur_)};
    if (it.n <= 0) return Evaluate(Text(it), *this, v, name);
    const Sym& s = syms_[static_cast<std::size_t>(it.n - 1)];
    if (s.alias >= 0) {
        if (Lookup(s.name, v)) return ExprStatus::kOk;
        if (name != nullptr) *name = s.name;
        return ExprStatus::kUndefined;
    }
    if (s.moves) linkUse_ = true;
    if (linked_) CheckDropped(s);
    if (s.defined) {
        v = s.val;
    } else if (s.lastDefined) {
        v = s.last;
        usedLast_ = true;
        lastRegion_ = s.region;
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
            Undefined(loc, sym);
            return true;
        }
        x = Minus(x, Address(b.sec, b.v));
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
        Undefined(loc, name);
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
        if (st == ExprStatus::kUndefined) Undefined(it.loc, name);
        else Late(2, Severity::kError, it.loc, msg::kGnuBadExpression, std::string(Text(it)).c_str());
        return;
    }
    const std::int64_t here = off_[cur_];
    const std::int64_t disp = t.sec == static_cast<int>(cur_) ? Minus(t.v, here)
                                                             : Minus(Address(t.sec, t.v), Address(static_cast<int>(cur_), here));
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
        jr(Minus(disp, 2), out + 2);
    }
}

namespace {

struct Extra {
    std::string_view name;
    std::uint16_t halfword;
};
// GNU as' mnemonics beyond the shared tables.
constexpr Extra kExtras[] = {{"brkret", 0x6401}, {"stby", 0x6801}, {"breakpoint", 0x601F}};

// GNU as' mnemonics in the shared tables: their names but the default
// language's own spellings, and the other spellings the port knows, hashed
// as kMnemonics is, so that a statement costs one lookup.
constexpr std::array<Mnemonic, kMnemonicSlots> kGnuMnemonics = [] {
    std::array<Mnemonic, kMnemonicSlots> t{};
    auto put = [&t](const Mnemonic& m) {
        std::size_t i = MnemonicSlot(m.key);
        while (t[i].key != 0) i = (i + 1) % kMnemonicSlots;
        t[i] = m;
    };
    for (const Mnemonic& m : kMnemonics) {
        const bool own = (m.op[0] >= 0 && (optable[m.op[0]].flags & kNotGnu)) ||
                         (m.bs >= 0 && (bstable[m.bs].flags & kNotGnu));
        const bool group = m.op[0] >= 0 && (optable[m.op[0]].format == FMT_BSTR || optable[m.op[0]].format == FMT_FPP);
        if (m.key != 0 && !own && !group) put(m);
    }
    for (const Alias& a : kAliases) {
        Mnemonic m = *FindMnemonic(PackName(a.canonical));
        m.key = a.key;
        put(m);
    }
    return t;
}();

constexpr const Mnemonic* GnuMnemonic(std::string_view word) {
    const std::uint64_t key = PackName(word);
    if (key == 0) return nullptr;
    for (std::size_t i = MnemonicSlot(key);; i = (i + 1) % kMnemonicSlots) {
        if (kGnuMnemonics[i].key == key) return &kGnuMnemonics[i];
        if (kGnuMnemonics[i].key == 0) return nullptr;
    }
}
static_assert(GnuMnemonic("di") == nullptr && GnuMnemonic("MOVNBSU") == nullptr && GnuMnemonic("BSTR") == nullptr);
static_assert(GnuMnemonic("sei")->op[0] == FindMnemonic(PackName("di"))->op[0] && GnuMnemonic("notbsu")->bs == 11);

}  // namespace

// A value known now: absolute, and made of no address.
bool Assembler::Constant(std::string_view text, Mode mode, std::int64_t& out) {
    std::string buffer;
    const std::string_view local = mode == Mode::kNow ? LocalView(text, buffer) : text;
    Value v;
    dot = {off_[cur_], static_cast<int>(cur_)};
    if (Evaluate(local, *this, v) != ExprStatus::kOk || v.sec != kAbsolute || moved) return false;
    out = v.v;
    return true;
}

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
    const Mnemonic* m = GnuMnemonic(word);
    for (const Extra& x : kExtras) {
        if (m != nullptr || word.size() != x.name.size() || !StartsFolded(word, x.name)) continue;
        if (!ops.empty()) return bad(std::string(Trim(operands)).c_str());
        out[0] = x.halfword & 0xFF;
        out[1] = x.halfword >> 8;
        length = 2;
        return true;
    }
    if (m == nullptr) {
        if (mode == Mode::kNow) Diag(Severity::kError, loc, msg::kGnuUnknownMnemonic, std::string(word).c_str());
        length = 0;
        return true;
    }
    Instr in;
    std::uint32_t v[3] = {};
    auto reg = [&](std::string_view text, std::uint32_t& r) {
        const int n = Register(Trim(text));
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
    // fixup: GNU as cuts the value when it writes the section, not at the
    // statement (a displacement), which orders its message.
    auto value = [&](std::string_view text, int bits, std::uint32_t& field, bool allowFn = true, bool fixup = false) {
        std::int64_t x = 0;
        Fn fn = Fn::kNone;
        const Get g = Operand(text, mode, loc, x, allowFn, &fn);
        if (g == Get::kLater) later = true;
        if (g != Get::kOk) return g != Get::kError;
        const std::int64_t low = bits == 5 ? -16 : -32768;
        const std::int64_t high = (std::int64_t{1} << bits) - 1;
        // An offset into a data area was checked as a link checks it.
        if (!AreaFunction(fn) && (x < low || x > high)) {
            if (fixup && mode == Mode::kNow) {
                later = true;
                return true;
            }
            x = Cut(x, low, high, loc, mode);
        }
        field = static_cast<std::uint32_t>(x & high);
        return true;
    };
    // A named number (a system register, a condition): a name the table
    // knows, an alias of one, or a number known now of 0 or more, cut with
    // a warning above high.
    auto named = [&](std::string_view text, int (*find)(std::string_view), std::int64_t high, const char* what,
                     std::uint32_t& field) {
        text = Trim(text);
        int n = find(text);
        if (n < 0 && !AliasTarget(text).empty()) n = find(AliasTarget(text));
        if (n >= 0) {
            field = static_cast<std::uint32_t>(n);
            return true;
        }
        std::int64_t x = 0;
        if (text.empty() || !Constant(text, mode, x) || x < 0) {
            if (mode == Mode::kNow) Diag(Severity::kError, loc, msg::kGnuBadNamed, what, std::string(text).c_str());
            return false;
        }
        field = static_cast<std::uint32_t>(Cut(x, 0, high, loc, mode));
        return true;
    };
    // disp[reg], the displacement never left out; GNU as lets a second ']'
    // pass in silence.
    auto memory = [&](std::string_view text, std::string_view& disp, std::uint32_t& base) {
        text = Trim(text);
        if (text.ends_with("]]")) text.remove_suffix(1);
        const std::size_t open = text.rfind('[');
        if (text.empty() || text.back() != ']' || open == std::string_view::npos) return bad("disp[reg]"), false;
        disp = Trim(text.substr(0, open));
        if (disp.empty()) return bad("no displacement before [reg]"), false;
        return reg(text.substr(open + 1, text.size() - open - 2), base);
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
        // mov, add, cmp, shl, shr and sar take a register or an immediate first.
        if (m->op[1] >= 0 && !ops.empty() && Register(Trim(ops[0])) < 0) e = &optable[static_cast<std::size_t>(m->op[1])];
        in.entry = e;
        in.format = e->format;
        switch (e->format) {
            case FMT_REGREG:
                if (e->name == "jmp") {
                    std::string_view target = ops.empty() ? std::string_view{} : Trim(ops[0]);
                    if (target.ends_with("]]")) target.remove_suffix(1);
                    if (!count(1)) return failed();
                    if (target.size() < 2 || target.front() != '[' || target.back() != ']') return bad("jmp [reg]");
                    if (!reg(target.substr(1, target.size() - 2), v[0])) return failed();
                } else if (e->name == "ldsr" || e->name == "stsr") {
                    if (!count(2)) return true;
                    const bool load = e->name == "ldsr";
                    if (!reg(load ? ops[0] : ops[1], v[1]) ||
                        !named(load ? ops[1] : ops[0], GnuSystemRegister, 31, "system register", v[0]))
                        return failed();
                } else if (!count(2) || !reg(ops[0], v[0]) || !reg(ops[1], v[1])) {
                    return failed();
                }
                break;
            case FMT_IMMREG:
                if (!count(2)) return true;
                if (e->name == "setf") {
                    if (!named(ops[0], GnuCondition, 15, "condition", v[0])) return failed();
                } else if (!value(ops[0], 5, v[0], false)) {
                    return true;
                }
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
                                           ? Minus(t.v, here)
                                           : Minus(Address(t.sec, t.v), Address(static_cast<int>(cur_), here));
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
                const bool load = e->format == FMT_LOAD;
                std::string_view disp;
                std::uint32_t base = 0, data = 0, d = 0;
                if (!memory(load ? ops[0] : ops[1], disp, base) || !reg(load ? ops[1] : ops[0], data)) return failed();
                if (!value(disp, 16, d, true, true)) return true;
                if (load) {
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
    const Mnemonic* m = GnuMnemonic(word);
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
        if (name) it.n = SymIndex(text) + 1;
        return Add(std::move(it));
    }
    std::uint8_t bytes[8];
    std::size_t length = 0;
    if (Encode(word, operands, Mode::kNow, st.loc, bytes, length)) {
        if (length == 0) return;
        Item it{IK::kBytes};
        it.loc = st.loc;
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

}  // namespace tarvo::gnu
