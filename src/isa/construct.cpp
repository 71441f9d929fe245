#include "isa/construct.h"

#include "isa/optable.h"
#include "text.h"

namespace tarvo {
namespace {

enum Kind : unsigned { kAbsent = 0, kRegister = 1, kNumber = 2 };

constexpr Kind KindOf(std::string_view text) {
    if (text.empty()) return kAbsent;
    return text.front() == '$' ? kRegister : kNumber;
}

constexpr unsigned Shape(Kind a, Kind b, Kind c) { return a | b << 2 | c << 4; }

constexpr std::uint64_t kJmp = PackName("jmp");
constexpr std::uint64_t kNop = PackName("nop");
constexpr std::uint64_t kTrap = PackName("trap");
constexpr std::uint64_t kEi = PackName("ei");
constexpr std::uint64_t kDi = PackName("di");

// Operands as read for one instruction; each reader returns the failure code
// of its slot, so the first operand that fails decides the result.
struct Operands {
    std::string_view text[3];

    int Reg(int slot, unsigned& r) const {
        return ReadRegister(text[slot], r) ? kEncoded : kBadParam1 + slot;
    }
    int Num(int slot, std::uint32_t& v) const {
        std::int32_t n = 0;
        if (!ReadNumber(text[slot], n)) return kBadParam1 + slot;
        v = static_cast<std::uint32_t>(n);
        return kEncoded;
    }
};

// Reads operands in the order the class demands and builds the words.
int Encode(const OpEntry& e, std::uint64_t key, const Operands& ops, std::uint16_t& hw1,
           std::uint16_t& hw2) {
    unsigned r1 = 0, r2 = 0;
    std::uint32_t v = 0;
    int rc = kEncoded;
    switch (e.format) {
        case FMT_REGREG:
            if ((rc = ops.Reg(0, r1)) || (rc = ops.Reg(1, r2))) return rc;
            hw1 = Pack6(e.code, r2, r1);
            return kEncoded;
        case FMT_IMMREG:
            if ((rc = ops.Num(0, v)) || (rc = ops.Reg(1, r2))) return rc;
            hw1 = Pack6(e.code, r2, v);
            return kEncoded;
        case FMT_BCOND:
            if ((rc = ops.Num(0, v))) return rc;
            hw1 = PackBranch(e.code, v);
            return kEncoded;
        case FMT_JUMP26:
            if ((rc = ops.Num(0, v))) return rc;
            hw1 = static_cast<std::uint16_t>((e.code & 0x3F) << 10 | ((v >> 16) & 0x3FF));
            hw2 = static_cast<std::uint16_t>(v);
            return kEncoded;
        case FMT_IMM16:
        case FMT_LOAD:
            if ((rc = ops.Num(0, v)) || (rc = ops.Reg(1, r1)) || (rc = ops.Reg(2, r2))) return rc;
            hw1 = Pack6(e.code, r2, r1);
            hw2 = static_cast<std::uint16_t>(v);
            return kEncoded;
        case FMT_STORE:
            if ((rc = ops.Reg(0, r2)) || (rc = ops.Num(1, v)) || (rc = ops.Reg(2, r1))) return rc;
            hw1 = Pack6(e.code, r2, r1);
            hw2 = static_cast<std::uint16_t>(v);
            return kEncoded;
        case FMT_SPECIAL:
            if (key == kTrap) {
                // "trap" with nothing to read is a syntax error, never a
                // parameter error, since those quote an operand.
                if (ops.text[0].empty()) return kSyntaxError;
                if ((rc = ops.Num(0, v))) return rc;
            } else {
                v = (key == kEi || key == kDi) ? 0 : 1;  // reti and halt carry bit 0
            }
            hw1 = static_cast<std::uint16_t>((e.code & 0x3F) << 10 | (v & 0x3FF));
            return kEncoded;
        default:  // the group entries "BSTR" and "FPP " encode nothing themselves
            return kUnknown;
    }
}

}  // namespace

int Construct(Context& ctx, std::FILE* obj, const Tokens& tokens) {
    Operands ops{{tokens.szParam1, tokens.szParam2, tokens.szParam3}};
    // One level of name resolution on every operand, before kinds are judged.
    for (std::string_view& t : ops.text)
        if (auto value = ctx.lstHead.CheckConstant(t)) t = *value;

    const std::uint64_t key = PackName(tokens.szOpcode);
    std::uint16_t mask = 0;
    switch (Shape(KindOf(ops.text[0]), KindOf(ops.text[1]), KindOf(ops.text[2]))) {
        case Shape(kRegister, kRegister, kAbsent): mask = FMT_REGREG | FMT_FPP; break;
        case Shape(kNumber, kRegister, kAbsent): mask = FMT_IMMREG; break;
        case Shape(kNumber, kAbsent, kAbsent): mask = FMT_BCOND | FMT_JUMP26 | FMT_SPECIAL; break;
        case Shape(kNumber, kRegister, kRegister): mask = FMT_IMM16 | FMT_LOAD; break;
        case Shape(kRegister, kNumber, kRegister): mask = FMT_STORE; break;
        case Shape(kAbsent, kAbsent, kAbsent): mask = FMT_BSTR | FMT_SPECIAL; break;
        case Shape(kRegister, kAbsent, kAbsent):
            if (key == kJmp) {
                ops.text[1] = "$0";  // "jmp [$r]" is the register pair form with reg2 = 0
                mask = FMT_REGREG;
            } else if (key != kNop) {
                return kSyntaxError;
            }
            break;
        default: return kSyntaxError;
    }
    if (key == kNop) {  // always the never-taken branch; its operands are ignored
        ops.text[0] = "0";
        mask = FMT_BCOND;
    }

    std::uint16_t hw1 = 0, hw2 = 0;
    std::uint16_t format = 0;
    const Mnemonic* m = FindMnemonic(key);
    const OpEntry* entry = nullptr;
    if (m != nullptr) {
        for (std::int8_t i : m->op) {
            if (i >= 0 && (optable[i].format & mask) == optable[i].format) {
                entry = &optable[i];
                break;
            }
        }
    }
    if (entry != nullptr) {
        if (int rc = Encode(*entry, key, ops, hw1, hw2)) return rc;
        format = entry->format;
    } else if (mask & FMT_FPP) {
        if (m == nullptr || m->fp < 0) return kBadOpcode;
        unsigned r1 = 0, r2 = 0;
        if (int rc = ops.Reg(0, r1)) return rc;
        if (int rc = ops.Reg(1, r2)) return rc;
        hw1 = Pack6(kOpcodeFPP, r2, r1);
        hw2 = static_cast<std::uint16_t>((fptable[m->fp].format & 0x3F) << 10);
        format = FMT_FPP;
    } else if (mask & FMT_BSTR) {
        if (m == nullptr || m->bs < 0) return kBadOpcode;
        hw1 = Pack6(kOpcodeBSTR, 0, bstable[m->bs].format);
        format = FMT_BSTR;
    } else {
        return kBadOpcode;
    }

    const int length = FormatLength(format);
    PutHalf(obj, hw1);
    if (length == 4) PutHalf(obj, hw2);
    AdvancePC(ctx, static_cast<std::uint32_t>(length));
    return kEncoded;
}

}  // namespace tarvo
