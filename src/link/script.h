// A linker script as commands and expression trees (GNU ld's statement list,
// read one function per command as lld's ScriptParser does).
#pragma once
#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/link.h"

namespace tarvo::link {

enum class Op : std::uint8_t {
    kNumber, kName, kDot,
    kNeg, kNot, kCompl,
    kMul, kDiv, kMod, kAdd, kSub, kShl, kShr, kLt, kGt, kLe, kGe, kEq, kNe, kAnd, kXor, kOr, kAndAnd, kOrOr,
    kCond,
    kAlign, kAlignTo, kAlignof, kAddr, kLoadaddr, kSizeof, kOrigin, kLength, kDefined, kAbsolute, kMax, kMin,
    kLog2ceil, kAssert,
};

// One node of an expression tree; children are indexes into Script::nodes.
struct Node {
    Op op = Op::kNumber;
    int a = -1, b = -1, c = -1;
    std::uint64_t value = 0;
    std::string name;  // a symbol, section or region; for a 0x number, its digits (a fill's width)
};

enum class Sort : std::uint8_t { kNone, kName, kAlignment };

// A wildcard with what it leaves out (EXCLUDE_FILE) and how matches sort.
struct Pattern {
    std::string glob;
    std::vector<std::string> excludeFiles;
    Sort sort = Sort::kNone, sort2 = Sort::kNone;
};

enum class Kind : std::uint8_t { kAssign, kAssert, kOutput, kInput, kFill, kData };

struct Statement {
    Kind kind = Kind::kAssign;
    Place where;
    // kAssign: name ("." for the location counter) = expr. kAssert: expr and
    // text. kFill: expr. kData: width and expr.
    std::string name, text;
    int expr = -1;
    bool provide = false;
    unsigned width = 0;
    // kInput
    Pattern file;
    std::vector<Pattern> sections;  // empty: every section of the file
    bool keep = false;
    // kOutput
    int addr = -1, lmaExpr = -1, align = -1, subalign = -1, fillExpr = -1;
    bool noload = false, discard = false, orphan = false;
    std::string region, lmaRegion;
    std::vector<int> body;  // statements
};

struct Region {
    std::string name;
    int origin = -1, length = -1;  // expressions
    std::uint32_t flags = 0, notFlags = 0;  // the attributes, as section flags
    Place where;
};

// Section flags as BFD keeps them; region attributes and orphan placement
// compare them.
enum : std::uint32_t {
    kAllocFlag = 1, kLoadFlag = 2, kContentsFlag = 4, kReadOnlyFlag = 8, kCodeFlag = 16, kDataFlag = 32,
    kDebugFlag = 64,
};

struct Script {
    std::vector<Node> nodes;
    std::vector<Statement> stmts;
    std::vector<int> top;  // the statement list: top-level and SECTIONS commands in order
    std::vector<Region> regions;
    std::vector<std::pair<std::string, std::string>> aliases;  // REGION_ALIAS: alias, region
    std::vector<std::string> externs, searchDirs, files;
    std::string entry, output;
    Place entryWhere;
};

// A message as data: printf's format, checked by the compiler.
[[gnu::format(printf, 4, 5)]] void Complain(std::vector<Diagnostic>& diags, bool error, const Place& where,
                                            const char* fmt, ...);
void ComplainV(std::vector<Diagnostic>& diags, bool error, const Place& where, const char* fmt, va_list ap);

// Reads a script's text into script (adding to what it holds), its INCLUDEs
// through readFile. False after an error.
bool ReadScript(std::string_view text, const std::string& file, const ReadFile& readFile, Script& script,
                std::vector<Diagnostic>& diags);

// Reads an expression alone (--defsym's value); -1 after an error.
int ReadExpression(std::string_view text, const Place& where, Script& script, std::vector<Diagnostic>& diags);

// fnmatch without flags, as ld matches names: * ? [...] ([!...] and [^...]
// negate), \ quotes.
bool Glob(std::string_view pattern, std::string_view name);

// The fill pattern of a constant expression, as ld makes it: a 0x number
// gives as many bytes as its digits fill, anything else 4 bytes, high byte
// first.
std::vector<std::uint8_t> FillPattern(const Node& node, std::uint64_t value);

}  // namespace tarvo::link
