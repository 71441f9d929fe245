// One instruction line: the operand resolver reads names, numbers,
// registers and expressions (what is not defined yet becomes a forward
// field), the encoder builds the bytes, and the object writer takes them.
#pragma once
#include <cstdint>
#include <string_view>

#include "globals.h"

namespace tarvo {

struct OpEntry;

// The mnemonic and up to three operands; an empty view is an absent operand.
struct Tokens {
    std::string_view szOpcode, szParam1, szParam2, szParam3;
};

enum class EncodeStatus : std::uint8_t {
    kOk,
    kBadOpcode,
    kBadParam,     // the operand in slot fails
    kSyntaxError,
    kUnknown,      // a group entry ("BSTR", "FPP ") named as a mnemonic
    kTargetRange,  // an @ target beyond the field
    kTargetAlign,  // an odd @ target
    kDivZero,
};

// What --strict reports of an operand; the instruction is written all the same.
enum StrictFlag : std::uint8_t {
    kStrictRange = 1,     // the value does not fit its field
    kStrictOdd = 2,       // an odd displacement
    kStrictRegister = 4,  // a register number above 31
    kStrictTrailing = 8,  // characters after the number or register
};

// A displacement operand that the classic reading takes, though it almost
// surely means an address.
enum class Suspect : std::uint8_t {
    kNone,
    kLabel,  // a bare label: its address becomes the displacement
    kLocal,  // "1b"/"2f" without "@": the digits become the displacement
};

// Eight bytes: it is returned for every line. Operands are counted as
// written ("ldsr r6, 40" reads them the other way round).
struct LineResult {
    EncodeStatus status = EncodeStatus::kOk;
    std::uint8_t slot = 0;         // the operand a failure is about
    std::uint8_t strict[3] = {};   // StrictFlag bits by operand
    bool oddLocation = false;
    Suspect suspect = Suspect::kNone;  // about operand 0
    std::uint8_t read = 3;         // operands the instruction reads; later ones are dropped
    bool Flagged() const { return oddLocation || (strict[0] | strict[1] | strict[2]) != 0; }
};
static_assert(sizeof(LineResult) == 8);

// Encodes the line into ctx.obj; on failure writes nothing. Prints nothing.
LineResult Construct(Context& ctx, const Tokens& tokens);

// What an expression on the current line sees.
ExprEnv LineEnv(const Context& ctx);

// The pending name of expr, or none.
Pending PendingName(const Context& ctx, std::string_view expr);

// An instruction whose operands are numbers already (the pseudo-
// instructions' own), values by slot as the encoder takes them. text, when
// given, is the operand of slot 0, which waits for pending.
void EmitKnown(Context& ctx, const OpEntry& entry, const std::uint32_t (&values)[3], std::string_view text = {},
               Pending pending = {});

// The address of the current location: the image base plus the location,
// unless "base." set another.
inline std::uint32_t CurrentAddress(const Context& ctx) { return ctx.obj.Address(); }

// "lo(E)" as a whole operand: the low half fits any 16-bit field.
bool IsLowHalf(std::string_view text);

// Whether a data item of width bytes holds v, written signed or unsigned.
bool DataFits(unsigned width, std::int32_t v);

// Reads a data item or other number that may be an expression: the classic
// reading first, then "(...)" or a bare name, read as "(NAME)". On
// kUndefined the caller reserves the room and calls AddForward with pending.
ExprStatus ReadValue(Context& ctx, std::string_view text, std::int32_t& value, Pending* pending = nullptr);

// Registers the field just reserved under ref, waiting for the names of
// expr; pending, when the caller found it, is the one name expr lacks.
void AddForward(Context& ctx, std::string_view expr, std::string_view operand, const ObjectWriter::RefId& ref,
                const FieldUse& use, Pending pending = {});

// After a definition: fills every forward field that now lacks nothing.
// waits is the handle the name's slot held; number is the value as a
// number, when the caller has it.
void ResolveForwards(Context& ctx, std::uint32_t waits, std::string_view name, std::string_view value,
                     const std::int32_t* number = nullptr);

// At the end of the top file: reports the names still undefined and writes
// their fields as they stand.
void FinishForwards(Context& ctx);

}  // namespace tarvo
