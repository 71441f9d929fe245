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

}  // namespace

int FilterCommand(std::string_view line, Tokens& tokens) {
    tokens = Tokens{};
    tokens.szOpcode = NextToken(line);
    if (tokens.szOpcode.empty() || tokens.szOpcode.front() == ';') return 0;
    tokens.szParam1 = NextOperand(line);
    if (!tokens.szParam1.empty()) tokens.szParam2 = NextOperand(line);
    if (!tokens.szParam2.empty()) tokens.szParam3 = NextOperand(line);
    return 1;
}

int GenerateObj(Context& ctx, std::FILE* src, const char* name, std::FILE* obj) {
    LineReader reader(src, ctx.includeChain.size() > 1 ? kIncludeBlock : kTopBlock);
    int bResult = 1;
    int nLine = 0;
    std::string_view line;
    Tokens tokens;
    while (reader.ExtractLine(ctx.szBuffer, line)) {
        ++nLine;
        if (CompilerLine(ctx, line, obj)) continue;
        if (!FilterCommand(line, tokens)) continue;
        int rc = Construct(ctx, obj, tokens);
        if (rc == kEncoded) continue;
        bResult = 0;
        // The messages quote the tokens as written, not their resolved values.
        const std::string_view params[] = {tokens.szParam1, tokens.szParam2, tokens.szParam3};
        switch (static_cast<unsigned>(rc)) {
            case kBadOpcode:
                ErrorInLine(ctx, nLine, msg::kInvalidOpcode, std::string(tokens.szOpcode).c_str());
                break;
            case kBadParam1:
            case kBadParam2:
            case kBadParam3:
                ErrorInLine(ctx, nLine, msg::kInvalidParam, std::string(params[rc - kBadParam1]).c_str());
                break;
            case kSyntaxError:
                ErrorInLine(ctx, nLine, "%s", msg::kSyntaxError);
                break;
            default:
                ErrorInLine(ctx, nLine, msg::kUnknownError, std::string(tokens.szOpcode).c_str());
                break;
        }
    }
    if (reader.Failed()) {
        Say(ctx, msg::kCannotRead, name);
        ++ctx.nErrors;
    }
    return bResult;
}

}  // namespace tarvo
