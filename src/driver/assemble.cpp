#include "driver/assemble.h"

#include <string>

#include "directives/compiler_line.h"
#include "driver/line_reader.h"
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
    const std::string param(params[r.slot]);
    const Where where = InLine(ctx, nLine);
    switch (r.status) {
        case EncodeStatus::kOk: break;
        case EncodeStatus::kBadOpcode:
            Report(ctx, Severity::kError, where, msg::kInvalidOpcode, std::string(tokens.szOpcode).c_str());
            break;
        case EncodeStatus::kBadParam: Report(ctx, Severity::kError, where, msg::kInvalidParam, param.c_str()); break;
        case EncodeStatus::kSyntaxError: Report(ctx, Severity::kError, where, "%s", msg::kSyntaxError); break;
        case EncodeStatus::kUnknown:
            Report(ctx, Severity::kError, where, msg::kUnknownError, std::string(tokens.szOpcode).c_str());
            break;
        case EncodeStatus::kTargetRange: Report(ctx, Severity::kError, where, msg::kTargetRange, param.c_str()); break;
        case EncodeStatus::kTargetAlign: Report(ctx, Severity::kError, where, msg::kTargetAlign, param.c_str()); break;
        case EncodeStatus::kDivZero: Report(ctx, Severity::kError, where, msg::kDivZero, param.c_str()); break;
    }
}

// The --strict findings of an instruction that was written; true when any.
bool ReportStrict(Context& ctx, int nLine, const Tokens& tokens, const LineResult& r) {
    static constexpr std::pair<StrictFlag, const char*> kTexts[] = {
        {kStrictRange, msg::kValueRange}, {kStrictOdd, msg::kOddDisplacement},
        {kStrictRegister, msg::kRegisterRange}, {kStrictTrailing, msg::kTrailing}};
    const std::string_view params[] = {tokens.szParam1, tokens.szParam2, tokens.szParam3};
    bool any = false;
    if (r.oddLocation) {
        Report(ctx, Severity::kError, InLine(ctx, nLine), msg::kOddLocation, std::string(tokens.szOpcode).c_str());
        any = true;
    }
    for (int slot = 0; slot < 3; ++slot) {
        for (const auto& [flag, text] : kTexts) {
            if (!(r.strict[slot] & flag)) continue;
            Report(ctx, Severity::kError, InLine(ctx, nLine), text, std::string(params[slot]).c_str());
            any = true;
        }
    }
    return any;
}

// The mnemonic and the operands that follow it; a comment ends them.
Tokens SplitOperands(std::string_view mnemonic, std::string_view rest) {
    Tokens tokens{mnemonic, NextOperand(rest), {}, {}};
    if (!tokens.szParam1.empty()) tokens.szParam2 = NextOperand(rest);
    if (!tokens.szParam2.empty()) tokens.szParam3 = NextOperand(rest);
    return tokens;
}

}  // namespace

int FilterCommand(std::string_view line, Tokens& tokens) {
    const std::string_view first = NextToken(line);
    tokens = first.empty() || first.front() == ';' ? Tokens{} : SplitOperands(first, line);
    return tokens.szOpcode.empty() ? 0 : 1;
}

int GenerateObj(Context& ctx, std::FILE* src, const char* name) {
    LineReader reader(src, ctx.includeChain.size() > 1 ? kIncludeBlock : kTopBlock);
    const bool top = ctx.passes.empty();
    ctx.passes.push_back({ctx.nextPass++, false});
    int bResult = 1;
    int nLine = 0;
    std::string_view line;
    Tokens tokens;
    while (reader.ExtractLine(ctx.szBuffer, line)) {
        ++nLine;
        ctx.line = nLine;
        ctx.lineAddress = CurrentAddress(ctx);
        if (ctx.observer != nullptr)
            ctx.observer->Line(static_cast<std::uint32_t>(ctx.obj.Location()), nLine, !top, line);
        const bool beyond = ctx.set.strict && static_cast<std::uint32_t>(ctx.obj.Location()) > kImageSize;
        // The line is split once: the first token decides what it is.
        std::string_view rest = line;
        std::string_view first = NextToken(rest);
        while (IsLabelToken(first) && !ctx.set.classic) {
            DefineLabelToken(ctx, first);
            first = NextToken(rest);
        }
        if (CompilerLine(ctx, first, rest)) {
            if (ctx.set.strict && !beyond && static_cast<std::uint32_t>(ctx.obj.Location()) > kImageSize)
                Report(ctx, Severity::kError, AtLocation(ctx), msg::kBeyondImage, std::string(first).c_str());
            continue;
        }
        if (first.empty() || first.front() == ';') continue;
        tokens = SplitOperands(first, rest);
        const LineResult r = Construct(ctx, tokens);
        if (r.status != EncodeStatus::kOk) {
            bResult = 0;
            ReportLine(ctx, nLine, tokens, r);
            continue;
        }
        if (!ctx.set.strict) continue;
        if (ReportStrict(ctx, nLine, tokens, r)) bResult = 0;
        if (!beyond && static_cast<std::uint32_t>(ctx.obj.Location()) > kImageSize) {
            Report(ctx, Severity::kError, InLine(ctx, nLine), msg::kBeyondImage,
                   std::string(tokens.szOpcode).c_str());
            bResult = 0;
        }
    }
    if (reader.Failed()) Report(ctx, Severity::kError, Nowhere(), msg::kCannotRead, name);
    if (top) {
        if (ctx.observer != nullptr) ctx.observer->End(static_cast<std::uint32_t>(ctx.obj.Location()));
        FinishForwards(ctx);
    }
    if (ctx.passes.back().failed) bResult = 0;
    ctx.passes.pop_back();
    return bResult;
}

}  // namespace tarvo
