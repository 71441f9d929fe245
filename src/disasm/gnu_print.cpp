#include "disasm/gnu_print.h"

#include <string_view>

#include "isa/optable.h"

namespace tarvo {
namespace {

// Built by append: GCC 12 warns falsely of a literal plus a string.
std::string Prefixed(char prefix, unsigned n) { return std::string(1, prefix).append(std::to_string(n)); }
std::string Register(unsigned r) { return Prefixed('r', r); }

std::string Hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(v));
    return text;
}

std::string SystemRegisterName(unsigned r) {
    for (const NamedNumber& n : kSystemRegisters)
        if (n.value == r && n.name != "pir") return std::string(n.name);
    return std::string("s").append(Prefixed('r', r));
}

}  // namespace

void SpellGnu(const Decoded& d, std::uint32_t address, std::string& mnemonic, std::vector<std::string>& operands) {
    mnemonic.clear();
    operands.clear();
    if (d.entry == nullptr) return;
    const OpEntry& e = *d.entry;
    const std::string_view name = e.name;
    std::uint32_t v[3];
    Fields(d, v);
    mnemonic = std::string(name);
    switch (e.format) {
        case FMT_REGREG:
            if (name == "jmp") {
                operands = {"[" + Register(d.r1) + "]"};
            } else if (name == "ldsr") {
                operands = {Register(d.r2), SystemRegisterName(d.r1)};
            } else if (name == "stsr") {
                operands = {SystemRegisterName(d.r1), Register(d.r2)};
            } else {
                operands = {Register(d.r1), Register(d.r2)};
            }
            break;
        case FMT_IMMREG: {
            const std::int32_t imm = e.flags & kSigned ? SignExtend(d.r1, 5) : static_cast<std::int32_t>(d.r1);
            operands = {std::to_string(imm), Register(d.r2)};
            break;
        }
        case FMT_BCOND:
            if (name != "nop") operands = {Hex(address + static_cast<std::uint32_t>(SignExtend(v[0], 9)))};
            break;
        case FMT_JUMP26:
            operands = {Hex(address + static_cast<std::uint32_t>(SignExtend(v[0], 26)))};
            break;
        case FMT_IMM16: {
            // movea and addi sign-extend; the logical ones and movhi take the bits.
            const std::string imm = name == "movea" || name == "addi" ? std::to_string(SignExtend(d.hw2, 16)) : Hex(d.hw2);
            operands = {imm, Register(d.r1), Register(d.r2)};
            break;
        }
        case FMT_LOAD:
            operands = {std::to_string(SignExtend(d.hw2, 16)) + "[" + Register(d.r1) + "]", Register(d.r2)};
            break;
        case FMT_STORE:
            operands = {Register(d.r2), std::to_string(SignExtend(d.hw2, 16)) + "[" + Register(d.r1) + "]"};
            break;
        case FMT_FPP:
            if (d.sub == nullptr) {
                mnemonic.clear();
                break;
            }
            mnemonic = std::string(d.sub->name);
            if (d.sub->flags & kOneReg) operands = {Register(d.r2)};
            else operands = {Register(d.r1), Register(d.r2)};
            break;
        case FMT_BSTR:
            if (d.sub == nullptr) {
                mnemonic.clear();
                break;
            }
            mnemonic = std::string(d.sub->name);
            for (char& c : mnemonic) c = static_cast<char>(c | 0x20);
            break;
        case FMT_SPECIAL: {
            const unsigned field = d.hw1 & 0x3FF;
            // GNU as' names: the classic ei/di are cli/sei; bit 0 tells
            // reti from brkret and halt from stby.
            if (name == "ei") mnemonic = "cli";
            else if (name == "di") mnemonic = "sei";
            else if (name == "reti") mnemonic = field & 1 ? "brkret" : "reti";
            else if (name == "halt") mnemonic = field & 1 ? "stby" : "halt";
            else if (name == "trap" && field == 0x1F) mnemonic = "breakpoint";
            else if (name == "trap") operands = {std::to_string(field)};
            break;
        }
        default: mnemonic.clear(); break;
    }
}

}  // namespace tarvo
