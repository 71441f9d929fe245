#include "driver/assemble.h"

#include <string>

#include "directives/compiler_line.h"
#include "driver/line_reader.h"
#include "driver/line_supply.h"
#include "messages.h"
#include "text.h"

namespace tarvo {
namespace {

// Large blocks for the top file; small ones for includes, so a deep include
// chain does not hold much memory.
constexpr std::size_t kTopBlock = 256 * 1024;
constexpr std::size_t kIncludeBlock = 16 * 1024;

// Prints the message of a failed instruction line; it quotes the tokens as
// written, not their resolved values.
void ReportLine(Context& ctx, int nLine, const Tokens& tokens, const LineResult& r) {
    const std::string_view params[] = {tokens.szParam1, tokens.szParam2, tokens.szParam3};
    const std::string_view token = r.status == EncodeStatus::kBadOpcode || r.status == EncodeStatus::kUnknown
                                       ? tokens.szOpcode
                                   : r.status == EncodeStatus::kSyntaxError ? std::string_view()
                                                                            : params[r.slot];
    const std::string quoted(token);
    const Where where = InLine(ctx, nLine);
    switch (r.status) {
        case EncodeStatus::kOk: break;
        case EncodeStatus::kBadOpcode: ReportToken(ctx, Severity::kError, where, token, msg::kInvalidOpcode, quoted.c_str()); break;
        case EncodeStatus::kBadParam: ReportToken(ctx, Severity::kError, where, token, msg::kInvalidParam, quoted.c_str()); break;
        case EncodeStatus::kSyntaxError: Report(ctx, Severity::kError, where, "%s", msg::kSyntaxError); break;
        case EncodeStatus::kUnknown: ReportToken(ctx, Severity::kError, where, token, msg::kUnknownError, quoted.c_str()); break;
        case EncodeStatus::kTargetRange: ReportToken(ctx, Severity::kError, where, token, msg::kTargetRange, quoted.c_str()); break;
        case EncodeStatus::kTargetAlign: ReportToken(ctx, Severity::kError, where, token, msg::kTargetAlign, quoted.c_str()); break;
        case EncodeStatus::kDivZero: ReportToken(ctx, Severity::kError, where, token, msg::kDivZero, quoted.c_str()); break;
    }
}

// A displacement that almost surely means an address: one report that
// stands for every other finding of that operand.
bool ReportSuspect(Context& ctx, int nLine, const Tokens& tokens, LineResult& r) {
    if (r.suspect == Suspect::kNone) return false;
    ReportCheck(ctx, InLine(ctx, nLine), r.suspect == Suspect::kLabel ? msg::kLabelDisplacement : msg::kLocalWithoutAt,
                tokens.szParam1);
    r.strict[0] = 0;
    return true;
}

// The first token an instruction does not read (a comment is none).
std::string_view Dropped(const Tokens& tokens, std::uint8_t read, std::string_view rest) {
    switch (read) {
        case 0: return tokens.szParam1;
        case 1: return tokens.szParam2;
        case 2: return tokens.szParam3;
        default: return rest.empty() ? rest : NextOperand(rest);
    }
}

// The --strict findings of an instruction that was written; true when any.
bool ReportStrict(Context& ctx, int nLine, const Tokens& tokens, const LineResult& r) {
    static constexpr std::pair<StrictFlag, const char*> kTexts[] = {
        {kStrictRange, msg::kValueRange}, {kStrictOdd, msg::kOddDisplacement},
        {kStrictRegister, msg::kRegisterRange}, {kStrictTrailing, msg::kTrailing}};
    if (!r.Flagged()) return false;
    const std::string_view params[] = {tokens.szParam1, tokens.szParam2, tokens.szParam3};
    bool any = false;
    if (r.oddLocation) {
        ReportCheck(ctx, InLine(ctx, nLine), msg::kOddLocation, tokens.szOpcode);
        any = true;
    }
    for (int slot = 0; slot < 3; ++slot) {
        if (r.strict[slot] == 0) continue;
        for (const auto& [flag, text] : kTexts) {
            if (!(r.strict[slot] & flag)) continue;
            ReportCheck(ctx, InLine(ctx, nLine), text, params[slot]);
            any = true;
        }
    }
    return any;
}

// The mnemonic and the operands that follow it; a comment ends them.
// rest is left after the last operand taken.
Tokens SplitOperands(std::string_view mnemonic, std::string_view& rest, bool parens) {
    Tokens tokens{mnemonic, NextOperand(rest, parens), {}, {}};
    if (!tokens.szParam1.empty()) tokens.szParam2 = NextOperand(rest, parens);
    if (!tokens.szParam2.empty()) tokens.szParam3 = NextOperand(rest, parens);
    return tokens;
}

// The first ':' of a token.
std::size_t Colon(std::string_view token) {
    for (std::size_t i = 0; i < token.size(); ++i)
        if (token[i] == ':') return i;
    return std::string_view::npos;
}

// A line after its labels; false when an instruction failed (or, under
// --strict, drew a report).
bool AssembleLine(Context& ctx, LineSupply& supply, std::string_view first, std::string_view rest, int nLine,
                  bool beyond) {
    for (;;) {
        if (!ctx.set.classic && supply.Call(first, rest)) return true;
        if (KeywordShaped(first) && CompilerLine(ctx, first, rest)) {
            if (!beyond && static_cast<std::uint32_t>(ctx.obj.Location()) > kImageSize)
                ReportCheck(ctx, AtLocation(ctx), msg::kBeyondImage, first);
            return true;
        }
        if (first.empty() || first.front() == ';') return true;
        const std::string_view operands = rest;
        const Tokens tokens = SplitOperands(first, rest, !ctx.set.classic);
        LineResult r = Construct(ctx, tokens);
        // "loop:add -1, r6": a label right before the rest of its token, read
        // where the classic reading finds no mnemonic.
        if (r.status == EncodeStatus::kBadOpcode && !ctx.set.classic) {
            if (const std::size_t colon = Colon(first); colon != std::string_view::npos && colon > 0) {
                DefineLabelToken(ctx, first.substr(0, colon + 1));
                first = first.substr(colon + 1);
                rest = operands;
                continue;
            }
        }
        if (r.status != EncodeStatus::kOk) {
            ReportLine(ctx, nLine, tokens, r);
            return false;
        }
        if (!Checking(ctx)) return true;
        bool reported = ReportSuspect(ctx, nLine, tokens, r);
        if (const std::string_view dropped = Dropped(tokens, r.read, rest); !dropped.empty()) {
            ReportCheck(ctx, InLine(ctx, nLine), msg::kAfterOperands, dropped);
            reported = true;
        }
        if (ReportStrict(ctx, nLine, tokens, r)) reported = true;
        if (!beyond && static_cast<std::uint32_t>(ctx.obj.Location()) > kImageSize) {
            ReportCheck(ctx, InLine(ctx, nLine), msg::kBeyondImage, tokens.szOpcode);
            reported = true;
        }
        // Under --strict a report fails the line; a warning does not.
        return !(reported && ctx.set.strict);
    }
}

}  // namespace

int FilterCommand(std::string_view line, Tokens& tokens) {
    const std::string_view first = NextToken(line);
    tokens = first.empty() || first.front() == ';' ? Tokens{} : SplitOperands(first, line, false);
    return tokens.szOpcode.empty() ? 0 : 1;
}

int GenerateObj(Context& ctx, std::FILE* src, const char* name) {
    LineReader reader(src, ctx.includeChain.size() > 1 ? kIncludeBlock : kTopBlock);
    const bool top = ctx.passes.empty();
    LineSupply supply(ctx, reader, top);
    ctx.passes.push_back({ctx.nextPass++, false});
    int bResult = 1;
    std::string_view line, first, rest;
    while (supply.Next(line, first, rest)) {
        const int nLine = ctx.line;
        const bool beyond = static_cast<std::uint32_t>(ctx.obj.Location()) > kImageSize;
        // The line is split once: the first token decides what it is.
        while (IsLabelToken(first) && !ctx.set.classic) {
            DefineLabelToken(ctx, first);
            first = NextToken(rest);
        }
        if (!AssembleLine(ctx, supply, first, rest, nLine, beyond)) bResult = 0;
    }
    if (reader.Failed()) Report(ctx, Severity::kError, Nowhere(), msg::kCannotRead, name);
    supply.Finish();
    if (top) {
        if (ctx.observer != nullptr) ctx.observer->End(static_cast<std::uint32_t>(ctx.obj.Location()));
        FinishForwards(ctx);
    }
    if (ctx.passes.back().failed) bResult = 0;
    ctx.passes.pop_back();
    return bResult;
}

}  // namespace tarvo
