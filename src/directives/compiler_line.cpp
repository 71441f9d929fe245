#include "directives/compiler_line.h"

#include <array>
#include <string>

#include "isa/construct.h"
#include "messages.h"
#include "text.h"

namespace tarvo {
namespace {

enum Keyword { kOrg, kInc, kDs, kDw, kDh, kDb, kDf, kLb, kJump, kCall, kMov32, kNone };

// Tested in this order.
constexpr std::array<std::string_view, 11> kKeywords{
    "org.", "inc.", "ds.", "dw.", "dh.", "db.", "df.", "lb.", ".jump", ".call", ".mov32"};

Keyword FindKeyword(std::string_view token) {
    // Every keyword begins or ends with a dot: one test turns away instruction lines.
    if (token.size() < 3 || token.size() > 6 || (token.front() != '.' && token.back() != '.'))
        return kNone;
    for (std::size_t i = 0; i < kKeywords.size(); ++i)
        if (stricmp(token, kKeywords[i]) == 0) return static_cast<Keyword>(i);
    return kNone;
}

void WriteFill(std::FILE* obj, std::uint32_t count) {
    static constexpr auto kFill = [] {
        std::array<unsigned char, 4096> a{};
        a.fill(0xFF);
        return a;
    }();
    while (count > 0) {
        std::size_t n = count < kFill.size() ? count : kFill.size();
        fwrite_unlocked(kFill.data(), 1, n, obj);
        count -= static_cast<std::uint32_t>(n);
    }
}

void Org(Context& ctx, std::string_view rest, std::FILE* obj) {
    std::int32_t value = 0;
    if (!ReadNumber(NextOperand(rest), value)) {
        ErrorAt(ctx, msg::kInvalidOrg);
        return;
    }
    // Only the low 24 bits count, so the image base may be written or not.
    std::uint32_t target = static_cast<std::uint32_t>(value) & 0xFFFFFF;
    auto distance = static_cast<std::int32_t>(target - static_cast<std::uint32_t>(ctx.nPC));
    if (distance < 0) {
        ErrorAt(ctx, msg::kOrgBelowPC);
        return;
    }
    WriteFill(obj, static_cast<std::uint32_t>(distance));
    AdvancePC(ctx, static_cast<std::uint32_t>(distance));
}

// The quoted text of "ds." and "inc.": rest is the text after the keyword's
// own separator. Returns false, after reporting, when there is no quote.
bool Quoted(Context& ctx, std::string_view rest, const char* noQuote, std::string_view& text,
            bool& closed) {
    if (rest.empty()) {
        ErrorAt(ctx, msg::kInvalidString);
        return false;
    }
    std::size_t open = rest.find('"');
    if (open == std::string_view::npos) {
        ErrorAt(ctx, "%s", noQuote);
        return false;
    }
    rest.remove_prefix(open + 1);
    std::size_t close = rest.find('"');
    closed = close != std::string_view::npos;
    text = closed ? rest.substr(0, close) : rest;
    return true;
}

void Ds(Context& ctx, std::string_view rest, std::FILE* obj) {
    std::string_view text;
    bool closed = false;
    if (!Quoted(ctx, rest, msg::kInvalidString, text, closed)) return;
    fwrite_unlocked(text.data(), 1, text.size(), obj);
    AdvancePC(ctx, static_cast<std::uint32_t>(text.size()));
    if (!closed) WarningAt(ctx, true, msg::kNoClosingQuote);
}

void Data(Context& ctx, std::string_view rest, std::FILE* obj, unsigned width, const char* bad) {
    for (;;) {
        std::string_view item = NextOperand(rest);
        if (item.empty()) return;
        std::int32_t value = 0;
        if (!ReadNumber(item, value)) {
            ErrorAt(ctx, "%s", bad);
            return;
        }
        auto v = static_cast<std::uint32_t>(value);
        for (unsigned i = 0; i < width; ++i) putc_unlocked((v >> (8 * i)) & 0xFF, obj);
        AdvancePC(ctx, width);
    }
}

void Define(Context& ctx, std::string_view rest) {
    Constant record = SymbolList::CreateConstant();
    std::string_view name = NextOperand(rest);
    if (name.empty()) {
        ErrorAt(ctx, msg::kInvalidDefineName);
        return;
    }
    std::string_view value = NextOperand(rest);
    if (value.empty()) {
        ErrorAt(ctx, msg::kInvalidDefineValue);
        return;
    }
    record.szName = name;
    record.szValue = value;
    Say(ctx, msg::kDefine, record.szName.c_str(), record.szValue.c_str());
    ctx.lstHead.InsertConstant(std::move(record));
}

void Label(Context& ctx, std::string_view rest) {
    Constant record = SymbolList::CreateConstant();
    std::string_view name = NextOperand(rest);
    if (name.empty()) {
        ErrorAt(ctx, msg::kInvalidLabelName);
        return;
    }
    record.szName = name;
    // Labels carry the image base, so jumps to them reach the loaded code.
    char value[16];
    std::snprintf(value, sizeof value, "0x%08x",
                  static_cast<unsigned>(static_cast<std::uint32_t>(ctx.nPC) | 0x07000000u));
    record.szValue = value;
    Say(ctx, msg::kLabel, record.szName.c_str(), record.szValue.c_str());
    ctx.lstHead.InsertConstant(std::move(record));
}

void Include(Context& ctx, std::string_view rest, std::FILE* obj) {
    std::string_view quoted;
    bool closed = false;
    if (!Quoted(ctx, rest, msg::kInvalidInclude, quoted, closed)) return;
    // The nested pass reuses the line buffer, so the name must be our own copy.
    const std::string name(quoted);
    if (!closed) WarningAt(ctx, false, msg::kAssumingName, name.c_str());

    std::FILE* f = ctx.includeChain.size() < kMaxIncludeDepth ? std::fopen(name.c_str(), "r") : nullptr;
    FileId id;
    // Reading the object file while writing it could chase its own output.
    if (f != nullptr && GetFileId(f, id) && ctx.hasObjId && id == ctx.objId) {
        std::fclose(f);
        f = nullptr;
    }
    if (f == nullptr) {
        ErrorAt(ctx, msg::kCannotOpenInclude, name.c_str());
        return;
    }
    for (const FileId& open : ctx.includeChain) {
        if (open == id) {
            std::fclose(f);
            ErrorAt(ctx, msg::kRecursiveInclude, name.c_str());
            return;
        }
    }
    Say(ctx, msg::kStartRecursion, name.c_str());
    ctx.includeChain.push_back(id);
    int ok = ctx.runPass(ctx, f, name.c_str(), obj);
    ctx.includeChain.pop_back();
    Say(ctx, "%s", ok ? msg::kRecursionOk : msg::kRecursionFail);
    std::fclose(f);
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

// High and low halves for "movhi" then "movea": movea sign-extends its
// immediate, so a low half with bit 15 set needs one more in the high half.
void Halves(std::uint32_t v, std::uint32_t& high, std::uint32_t& low) {
    low = v & 0xFFFF;
    high = (v >> 16) & 0xFFFF;
    if (low & 0x8000) high = (high + 1) & 0xFFFF;
}

// movhi high, $0, reg / movea low, reg, reg
bool LoadPair(Context& ctx, std::FILE* obj, std::uint32_t high, std::uint32_t low,
              std::string_view reg) {
    HalfText h(high), l(low);
    return Construct(ctx, obj, {"movhi", h.view(), "$0", reg}) == kEncoded &&
           Construct(ctx, obj, {"movea", l.view(), reg, reg}) == kEncoded;
}

bool JumpTo(Context& ctx, std::FILE* obj, std::uint32_t target) {
    std::uint32_t high = 0, low = 0;
    Halves(target, high, low);
    return LoadPair(ctx, obj, high, low, "$1") && Construct(ctx, obj, {"jmp", "$1", {}, {}}) == kEncoded;
}

// The value of the name that follows ".jump" or ".call"; a number written
// directly is not accepted.
bool LabelValue(Context& ctx, std::string_view& rest, std::uint32_t& target) {
    std::string_view name = NextOperand(rest);
    if (name.empty()) return false;
    auto value = ctx.lstHead.CheckConstant(name);
    std::int32_t v = 0;
    if (!value || !ReadNumber(*value, v)) return false;
    target = static_cast<std::uint32_t>(v);
    return true;
}

void Jump(Context& ctx, std::string_view rest, std::FILE* obj) {
    std::uint32_t target = 0;
    if (!LabelValue(ctx, rest, target)) {
        ErrorAt(ctx, msg::kJumpNoLabel);
        return;
    }
    if (!JumpTo(ctx, obj, target)) ErrorAt(ctx, msg::kJumpFailed);
}

void Call(Context& ctx, std::string_view rest, std::FILE* obj) {
    std::uint32_t target = 0;
    if (!LabelValue(ctx, rest, target)) {
        ErrorAt(ctx, msg::kCallNoLabel);
        return;
    }
    // The link address is the byte after the 18-byte sequence, image base included.
    std::uint32_t high = 0, low = 0;
    Halves(static_cast<std::uint32_t>(ctx.nPC) + 18, high, low);
    if (!LoadPair(ctx, obj, high | 0x0700, low, "$31")) {
        ErrorAt(ctx, msg::kLinkFailed);
        return;
    }
    if (!JumpTo(ctx, obj, target)) ErrorAt(ctx, msg::kCallFailed);
}

void Mov32(Context& ctx, std::string_view rest, std::FILE* obj) {
    std::string_view operand = NextOperand(rest);
    if (operand.empty()) {
        ErrorAt(ctx, msg::kMov32NoNumber);
        return;
    }
    std::int32_t v = 0;
    if (!ReadNumber(operand, v)) {  // a number is never looked up as a name
        auto value = ctx.lstHead.CheckConstant(operand);
        if (!value) {
            ErrorAt(ctx, msg::kMov32NoParam);
            return;
        }
        if (!ReadNumber(*value, v)) {
            ErrorAt(ctx, msg::kMov32BadDefine, std::string(*value).c_str());
            return;
        }
    }
    // The register goes to Construct as written, so a name for a register works.
    std::string_view reg = NextToken(rest);
    if (reg.empty() || reg.front() == ';') {
        ErrorAt(ctx, msg::kMov32NoReg, std::string(reg).c_str());
        return;
    }
    std::uint32_t high = 0, low = 0;
    Halves(static_cast<std::uint32_t>(v), high, low);
    if (!LoadPair(ctx, obj, high, low, reg)) ErrorAt(ctx, msg::kMov32Failed);
}

}  // namespace

int CompilerLine(Context& ctx, std::string_view line, std::FILE* obj) {
    std::string_view rest = line;
    Keyword keyword = FindKeyword(NextToken(rest));
    switch (keyword) {
        case kNone: return 0;
        case kOrg: Org(ctx, rest, obj); break;
        case kInc: Include(ctx, rest, obj); break;
        case kDs: Ds(ctx, rest, obj); break;
        case kDw: Data(ctx, rest, obj, 4, msg::kInvalid32); break;
        case kDh: Data(ctx, rest, obj, 2, msg::kInvalid16); break;
        case kDb: Data(ctx, rest, obj, 1, msg::kInvalid8); break;
        case kDf: Define(ctx, rest); break;
        case kLb: Label(ctx, rest); break;
        case kJump: Jump(ctx, rest, obj); break;
        case kCall: Call(ctx, rest, obj); break;
        case kMov32: Mov32(ctx, rest, obj); break;
    }
    return 1;
}

}  // namespace tarvo
