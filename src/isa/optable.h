// The V810 instruction set as the encoder and the disassembler share it:
// three tables, the format classes, the field layouts and the byte order.
#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace tarvo {

enum Format : std::uint16_t {
    FMT_REGREG = 0x0001,   // reg1, reg2
    FMT_IMMREG = 0x0002,   // imm5, reg2
    FMT_BCOND = 0x0004,    // 7-bit opcode, disp9
    FMT_JUMP26 = 0x0008,   // disp26
    FMT_IMM16 = 0x0010,    // imm16, reg1, reg2
    FMT_LOAD = 0x0020,     // disp16[reg1], reg2
    FMT_STORE = 0x0040,    // reg2, disp16[reg1]
    FMT_FPP = 0x0080,      // floating-point group, sub-opcode in the second halfword
    FMT_BSTR = 0x0100,     // bit-string group, sub-opcode in reg1
    FMT_SPECIAL = 0x0200,  // 10-bit value field
};

// What the tables say of an entry beyond its class.
enum EntryFlag : std::uint8_t {
    kSigned = 1,      // the processor sign-extends the value field
    kEitherSign = 2,  // the field is written signed or unsigned (movea, addi, movhi)
    kSetsBit0 = 4,    // written with bit 0 set (reti, halt), unless NEC's encoding is asked for
    kExtension = 8,   // not in the classic language, nor in the classic listing
    kOneReg = 16,     // one register operand, in reg2 (xb, xh)
    kNotGnu = 32,     // a spelling GNU as' V810 port does not have (it says cli, sei, notbsu)
};

// In the sub-operation tables, format holds the sub-opcode and code is 0.
struct OpEntry {
    std::uint16_t format;
    std::uint8_t code;
    std::string_view name;
    std::uint8_t flags = 0;
};

// Search order matters: the first entry whose class the operands allow wins,
// which is how the register and immediate forms of "mov" are told apart.
inline constexpr std::array<OpEntry, 69> optable{{
    {FMT_REGREG, 0x00, "mov"},    {FMT_REGREG, 0x01, "add"},    {FMT_REGREG, 0x02, "sub"},
    {FMT_REGREG, 0x03, "cmp"},    {FMT_REGREG, 0x04, "shl"},    {FMT_REGREG, 0x05, "shr"},
    {FMT_REGREG, 0x06, "jmp"},    {FMT_REGREG, 0x07, "sar"},    {FMT_REGREG, 0x08, "mul"},
    {FMT_REGREG, 0x09, "div"},    {FMT_REGREG, 0x0A, "mulu"},   {FMT_REGREG, 0x0B, "divu"},
    {FMT_REGREG, 0x0C, "or"},     {FMT_REGREG, 0x0D, "and"},    {FMT_REGREG, 0x0E, "xor"},
    {FMT_REGREG, 0x0F, "not"},    {FMT_IMMREG, 0x10, "mov", kSigned}, {FMT_IMMREG, 0x11, "add", kSigned},
    {FMT_IMMREG, 0x12, "setf"},   {FMT_IMMREG, 0x13, "cmp", kSigned}, {FMT_IMMREG, 0x14, "shl"},
    {FMT_IMMREG, 0x15, "shr"},    {FMT_SPECIAL, 0x16, "ei", kNotGnu},    {FMT_IMMREG, 0x17, "sar"},
    {FMT_SPECIAL, 0x18, "trap"},  {FMT_REGREG, 0x1C, "ldsr"},   {FMT_REGREG, 0x1D, "stsr"},
    {FMT_SPECIAL, 0x1E, "di", kNotGnu},    {FMT_BCOND, 0x40, "bv", kSigned},  {FMT_BCOND, 0x41, "bl", kSigned},
    {FMT_BCOND, 0x42, "be", kSigned},  {FMT_BCOND, 0x43, "bnh", kSigned}, {FMT_BCOND, 0x44, "bn", kSigned},
    {FMT_BCOND, 0x45, "br", kSigned},  {FMT_BCOND, 0x46, "blt", kSigned}, {FMT_BCOND, 0x47, "ble", kSigned},
    {FMT_BCOND, 0x48, "bnv", kSigned}, {FMT_BCOND, 0x49, "bnl", kSigned}, {FMT_BCOND, 0x4A, "bne", kSigned},
    {FMT_BCOND, 0x4B, "bh", kSigned},  {FMT_BCOND, 0x4C, "bp", kSigned},  {FMT_BCOND, 0x4D, "nop", kSigned},
    {FMT_BCOND, 0x4E, "bge", kSigned}, {FMT_BCOND, 0x4F, "bgt", kSigned}, {FMT_JUMP26, 0x2A, "jr", kSigned},
    {FMT_JUMP26, 0x2B, "jal", kSigned}, {FMT_IMM16, 0x28, "movea", kEitherSign},
    {FMT_IMM16, 0x29, "addi", kEitherSign}, {FMT_IMM16, 0x2C, "ori"}, {FMT_IMM16, 0x2D, "andi"},
    {FMT_IMM16, 0x2E, "xori"},    {FMT_IMM16, 0x2F, "movhi", kEitherSign},
    {FMT_LOAD, 0x30, "ld.b", kSigned},  {FMT_LOAD, 0x31, "ld.h", kSigned},  {FMT_LOAD, 0x33, "ld.w", kSigned},
    {FMT_LOAD, 0x38, "in.b", kSigned},  {FMT_LOAD, 0x39, "in.h", kSigned},  {FMT_LOAD, 0x3A, "caxi", kSigned},
    {FMT_LOAD, 0x3B, "in.w", kSigned},  {FMT_STORE, 0x34, "st.b", kSigned}, {FMT_STORE, 0x35, "st.h", kSigned},
    {FMT_STORE, 0x37, "st.w", kSigned}, {FMT_STORE, 0x3C, "out.b", kSigned},
    {FMT_STORE, 0x3D, "out.h", kSigned}, {FMT_STORE, 0x3F, "out.w", kSigned},
    {FMT_SPECIAL, 0x19, "reti", kSetsBit0}, {FMT_SPECIAL, 0x1A, "halt", kSetsBit0},
    {FMT_BSTR, 0x1F, "BSTR"},     {FMT_FPP, 0x3E, "FPP "},
}};
static_assert(optable[46].name == "movea" && optable[41].name == "nop");
static_assert(optable[67].code == 0x1F && optable[68].name.size() == 4);

// The Virtual Boy's own entries of the group (xb, xh, rev, mpyhw) are extensions.
inline constexpr std::array<OpEntry, 12> fptable{{
    {0x00, 0, "cmpf.s"}, {0x02, 0, "cvt.ws"}, {0x03, 0, "cvt.sw"}, {0x04, 0, "addf.s"},
    {0x05, 0, "subf.s"}, {0x06, 0, "mulf.s"}, {0x07, 0, "divf.s"}, {0x0B, 0, "trnc.sw"},
    {0x08, 0, "xb", kExtension | kOneReg}, {0x09, 0, "xh", kExtension | kOneReg},
    {0x0A, 0, "rev", kExtension}, {0x0C, 0, "mpyhw", kExtension},
}};

inline constexpr std::array<OpEntry, 12> bstable{{
    {0x00, 0, "SCH0BSU"}, {0x01, 0, "SCH0BSD"}, {0x02, 0, "SCH1BSU"}, {0x03, 0, "SCH1BSD"},
    {0x08, 0, "ORBSU"},   {0x09, 0, "ANDBSU"},  {0x0A, 0, "XORBSU"},  {0x0B, 0, "MOVBSU"},
    {0x0C, 0, "ORNBSU"},  {0x0D, 0, "ANDNBSU"}, {0x0E, 0, "XORNBSU"}, {0x0F, 0, "MOVNBSU", kNotGnu},
}};

// Bytes an instruction of a class takes.
constexpr int FormatLength(std::uint16_t format) {
    switch (format) {
        case FMT_JUMP26: case FMT_IMM16: case FMT_LOAD: case FMT_STORE: case FMT_FPP: return 4;
        default: return 2;
    }
}

// Bits of the value field of a class, and its range as the entry reads it.
constexpr int FieldBits(std::uint16_t format) {
    switch (format) {
        case FMT_IMMREG: return 5;
        case FMT_BCOND: return 9;
        case FMT_JUMP26: return 26;
        case FMT_IMM16: case FMT_LOAD: case FMT_STORE: return 16;
        case FMT_SPECIAL: return 10;
        default: return 0;
    }
}
constexpr bool FieldFits(const OpEntry& e, std::int32_t v) {
    const std::int64_t span = std::int64_t{1} << FieldBits(e.format);
    const std::int64_t low = e.flags & (kSigned | kEitherSign) ? -span / 2 : 0;
    const std::int64_t high = e.flags & kSigned ? span / 2 - 1 : span - 1;
    return v >= low && v <= high;
}
static_assert(FieldFits(optable[16], -16) && !FieldFits(optable[16], 16) && FieldFits(optable[20], 31));
static_assert(FieldFits(optable[46], 65535) && FieldFits(optable[46], -32768) && !FieldFits(optable[48], -1));

// Displacement classes: the value is a distance in bytes, always even.
constexpr bool IsDisplacement(std::uint16_t format) { return format == FMT_BCOND || format == FMT_JUMP26; }

inline constexpr std::uint16_t kOpcodeFPP = 0x3E;
inline constexpr std::uint16_t kOpcodeBSTR = 0x1F;

// Field positions of the first halfword.
constexpr unsigned Reg1(std::uint16_t hw) { return hw & 0x1F; }
constexpr unsigned Reg2(std::uint16_t hw) { return (hw >> 5) & 0x1F; }
constexpr std::uint16_t Pack6(unsigned code, unsigned reg2, unsigned low5) {
    return static_cast<std::uint16_t>((code & 0x3F) << 10 | (reg2 & 0x1F) << 5 | (low5 & 0x1F));
}
constexpr std::uint16_t PackBranch(unsigned code7, unsigned disp9) {
    return static_cast<std::uint16_t>((code7 & 0x7F) << 9 | (disp9 & 0x1FF));
}
static_assert(Reg2(Pack6(0x00, 2, 1)) == 2 && Pack6(0x00, 2, 1) == 0x0041);
static_assert(PackBranch(0x4D, 0) == 0x9A00);

// The opcode key of a first halfword: bits 15-10, or bits 15-9 for the
// branch group whose top bits are 100.
constexpr unsigned OpcodeKey(std::uint16_t hw) {
    unsigned high = hw >> 8;
    return (high & 0xE0) == 0x80 ? high >> 1 : high >> 2;
}

// Every halfword is stored low byte first and the opcode halfword comes
// first, so a 32-bit instruction is never one little-endian word.
inline void PutHalf(std::FILE* f, std::uint16_t hw) {
    putc_unlocked(hw & 0xFF, f);
    putc_unlocked(hw >> 8, f);
}
// Data items (dw., dh., db., fill.) are plain little-endian values.
constexpr void PutLittle(std::uint32_t v, unsigned width, std::uint8_t* out) {
    for (unsigned i = 0; i < width; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
constexpr std::uint16_t GetHalf(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// Index of optable by opcode key (0..0x7F): the first entry with that code,
// or -1. Opcodes 0x1B, 0x32 and 0x36 have none.
inline constexpr std::array<std::int8_t, 128> kOpByKey = [] {
    std::array<std::int8_t, 128> t{};
    t.fill(-1);
    for (std::size_t i = optable.size(); i-- > 0;) t[optable[i].code] = static_cast<std::int8_t>(i);
    return t;
}();

template <std::size_t N>
constexpr std::array<std::int8_t, 64> SubByCode(const std::array<OpEntry, N>& table) {
    std::array<std::int8_t, 64> t{};
    t.fill(-1);
    for (std::size_t i = N; i-- > 0;) t[table[i].format & 0x3F] = static_cast<std::int8_t>(i);
    return t;
}
inline constexpr auto kFpBySub = SubByCode(fptable);
inline constexpr auto kBsBySub = SubByCode(bstable);

// Lookup by mnemonic without string scans: a name of up to eight characters,
// folded to lower case, packed into one integer, then a small hash table.
constexpr std::uint64_t PackName(std::string_view s) {
    if (s.empty() || s.size() > 8) return 0;
    std::uint64_t k = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c | 0x20);
        k |= static_cast<std::uint64_t>(c) << (8 * i);
    }
    return k;
}

struct Mnemonic {
    std::uint64_t key = 0;
    std::int8_t op[2] = {-1, -1};  // optable entries, in table order
    std::int8_t fp = -1;           // fptable entry
    std::int8_t bs = -1;           // bstable entry
};

inline constexpr std::size_t kMnemonicSlots = 256;
constexpr std::size_t MnemonicSlot(std::uint64_t key) {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 56);
}

inline constexpr std::array<Mnemonic, kMnemonicSlots> kMnemonics = [] {
    std::array<Mnemonic, kMnemonicSlots> t{};
    auto slot = [&t](std::string_view name) -> Mnemonic& {
        std::uint64_t key = PackName(name);
        std::size_t i = MnemonicSlot(key);
        while (t[i].key != 0 && t[i].key != key) i = (i + 1) % kMnemonicSlots;
        t[i].key = key;
        return t[i];
    };
    for (std::size_t i = 0; i < optable.size(); ++i) {
        Mnemonic& m = slot(optable[i].name);
        if (m.op[0] < 0) m.op[0] = static_cast<std::int8_t>(i);
        else if (m.op[1] < 0) m.op[1] = static_cast<std::int8_t>(i);
        else throw "a mnemonic has more than two optable entries";
    }
    for (std::size_t i = 0; i < fptable.size(); ++i) slot(fptable[i].name).fp = static_cast<std::int8_t>(i);
    for (std::size_t i = 0; i < bstable.size(); ++i) slot(bstable[i].name).bs = static_cast<std::int8_t>(i);
    return t;
}();

constexpr const Mnemonic* FindMnemonic(std::uint64_t key) {
    if (key == 0) return nullptr;
    for (std::size_t i = MnemonicSlot(key);; i = (i + 1) % kMnemonicSlots) {
        if (kMnemonics[i].key == key) return &kMnemonics[i];
        if (kMnemonics[i].key == 0) return nullptr;
    }
}
static_assert(FindMnemonic(PackName("MOV"))->op[1] == 16);
static_assert(FindMnemonic(PackName("movbsu"))->bs == 7);

// Other spellings of table mnemonics (extensions).
struct Alias {
    std::string_view name, canonical;
    std::uint64_t key = PackName(name);
};
inline constexpr std::array<Alias, 7> kAliases{{
    {"bz", "be"}, {"bnz", "bne"}, {"bc", "bl"}, {"bnc", "bnl"}, {"cli", "ei"}, {"sei", "di"},
    {"notbsu", "MOVNBSU"},
}};
constexpr const Mnemonic* FindAlias(std::uint64_t key) {
    for (const Alias& a : kAliases)
        if (a.key == key) return FindMnemonic(PackName(a.canonical));
    return nullptr;
}
static_assert(FindAlias(PackName("BZ"))->op[0] == 30);

// A name and the number it stands for: system registers of ldsr/stsr and
// the conditions of setf (extensions; letter case ignored).
struct NamedNumber {
    std::string_view name;
    std::uint8_t value;
    std::uint64_t key = PackName(name);  // packed once, not at every lookup
};
inline constexpr std::array<NamedNumber, 10> kSystemRegisters{{
    {"eipc", 0}, {"eipsw", 1}, {"fepc", 2}, {"fepsw", 3}, {"ecr", 4},
    {"psw", 5}, {"pir", 6}, {"tkcw", 7}, {"chcw", 24}, {"adtre", 25},
}};
inline constexpr std::array<NamedNumber, 22> kConditions{{
    {"v", 0},   {"c", 1},   {"l", 1},   {"z", 2},   {"e", 2},   {"nh", 3},  {"s", 4},
    {"n", 4},   {"t", 5},   {"lt", 6},  {"le", 7},  {"nv", 8},  {"nc", 9},  {"nl", 9},
    {"nz", 10}, {"ne", 10}, {"h", 11},  {"ns", 12}, {"p", 12},  {"f", 13},  {"ge", 14},
    {"gt", 15},
}};

// GNU as's register names (extensions): r0-r31 and these.
inline constexpr std::array<NamedNumber, 6> kRegisterNames{{
    {"zero", 0}, {"fp", 2}, {"sp", 3}, {"gp", 4}, {"tp", 5}, {"lp", 31},
}};

template <std::size_t N>
constexpr int FindNamed(const std::array<NamedNumber, N>& table, std::string_view name) {
    const std::uint64_t key = PackName(name);
    for (const NamedNumber& n : table)
        if (key != 0 && n.key == key) return n.value;
    return -1;
}
static_assert(FindNamed(kSystemRegisters, "PSW") == 5 && FindNamed(kConditions, "gt") == 15);

// prefix followed by a decimal number 0-31 ("r12", "sr5"), letter case
// ignored; -1 for anything else.
constexpr int PrefixedNumber(std::string_view text, std::string_view prefix) {
    if (text.size() <= prefix.size() || text.size() > prefix.size() + 2) return -1;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if ((text[i] | 0x20) != prefix[i]) return -1;
    int n = 0;
    for (std::size_t i = prefix.size(); i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        n = n * 10 + (text[i] - '0');
    }
    // "r01" is not a register name: one spelling per register.
    if (text.size() == prefix.size() + 2 && text[prefix.size()] == '0') return -1;
    return n <= 31 ? n : -1;
}
// A general register by its GNU name, or -1.
constexpr int GnuRegister(std::string_view text) {
    const int r = PrefixedNumber(text, "r");
    return r >= 0 ? r : FindNamed(kRegisterNames, text);
}
// A system register by name or as sr0-sr31, or -1.
constexpr int SystemRegister(std::string_view text) {
    const int r = PrefixedNumber(text, "sr");
    return r >= 0 ? r : FindNamed(kSystemRegisters, text);
}
static_assert(GnuRegister("R31") == 31 && GnuRegister("r32") == -1 && GnuRegister("lp") == 31);
static_assert(SystemRegister("sr24") == 24 && SystemRegister("psw") == 5 && SystemRegister("r5") == -1);

}  // namespace tarvo
