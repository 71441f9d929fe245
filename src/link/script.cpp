// The linker script reader: a lexer whose word characters depend on where
// it stands (ld's own lexer has states for this: a section pattern may hold
// '*' and '-', an expression may not), and one function per command.
#include "link/script.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <utility>

#include "messages.h"

namespace tarvo::link {

namespace {

// ld stops reading at a syntax error; so does the reader, by throwing this
// to ReadScript.
struct Stop {};

enum class Tok : std::uint8_t { kEnd, kWord, kNumber, kString, kPunct };
enum class Mode : std::uint8_t { kExpr, kName };

struct Token {
    Tok kind = Tok::kEnd;
    std::string_view text;
    std::uint64_t value = 0;
    std::string_view hex;  // a 0x number's digits
};

struct Source {
    std::string text, file;
    std::size_t pos = 0;
    int line = 1;
};

// ld gives up past ten levels of INCLUDE; a file that includes itself
// several times on each level is bounded by the count.
constexpr std::size_t kMaxIncludeDepth = 10;
constexpr std::size_t kMaxIncludes = 1000;

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr int HexDigit(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
// Symbol names in expressions.
constexpr bool IsExprStart(char c) { return IsAlpha(c) || c == '_' || c == '.'; }
constexpr bool IsExprChar(char c) { return IsExprStart(c) || IsDigit(c) || c == '$'; }
// Section, file and region names and their wildcards (ld's characters of a
// file name, less ':' so that ".text:" reads as a name and a colon).
constexpr bool IsNameChar(char c) {
    return IsAlpha(c) || IsDigit(c) || c == '_' || c == '.' || c == '/' || c == '\\' || c == '$' || c == '~' ||
           c == '-' || c == '+' || c == '%' || c == '[' || c == ']' || c == '*' || c == '?' || c == '^' || c == '!';
}

// Operators, longest first.
constexpr std::string_view kPuncts[] = {"<<=", ">>=", "<<", ">>", "<=", ">=", "==", "!=", "&&", "||", "+=", "-=",
                                        "*=",  "/=",  "&=", "|=", "(",  ")",  "{",  "}",  ";",  ",",  ":",  "=",
                                        "+",   "-",   "*",  "/",  "%",  "<",  ">",  "&",  "|",  "^",  "!",  "~",
                                        "?"};

// A number as ld's lexer and bfd_scan_vma read it: 0x and $ hexadecimal, a
// leading 0 octal (to the first digit that is not octal), K and M multiply;
// or hex digits with a base letter after them (h, x hexadecimal; o octal;
// b binary; d decimal).
bool ReadNumber(std::string_view t, std::uint64_t& value, std::string_view& hex) {
    auto digits = [](std::string_view d, unsigned base, bool stopAtBad, std::uint64_t& v) {
        v = 0;
        if (d.empty()) return false;
        for (char c : d) {
            const int x = HexDigit(c);
            if (x < 0 || static_cast<unsigned>(x) >= base) {
                if (stopAtBad) return true;
                return false;
            }
            v = v * base + static_cast<unsigned>(x);
        }
        return true;
    };
    std::uint64_t scale = 1;
    auto takeScale = [&](std::string_view& d) {
        if (d.size() > 1 && (d.back() == 'K' || d.back() == 'k')) scale = 1024, d.remove_suffix(1);
        else if (d.size() > 1 && (d.back() == 'M' || d.back() == 'm')) scale = 1024 * 1024, d.remove_suffix(1);
    };
    hex = {};
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        std::string_view d = t.substr(2);
        takeScale(d);
        if (!digits(d, 16, false, value)) return false;
        if (scale == 1) hex = d;
        value *= scale;
        return true;
    }
    if (t[0] == '$') {
        std::string_view d = t.substr(1);
        takeScale(d);
        if (!digits(d, 16, false, value)) return false;
        value *= scale;
        return true;
    }
    const char last = t.back();
    unsigned base = 0;
    switch (last) {
        case 'h': case 'H': case 'x': case 'X': base = 16; break;
        case 'o': case 'O': base = 8; break;
        case 'b': case 'B': base = 2; break;
        case 'd': case 'D': base = 10; break;
        default: break;
    }
    if (base != 0 && t.size() > 1) {
        std::uint64_t ignored = 0;
        if (digits(t.substr(0, t.size() - 1), 16, false, ignored))
            return digits(t.substr(0, t.size() - 1), base, false, value);
    }
    std::string_view d = t;
    takeScale(d);
    for (char c : d)
        if (!IsDigit(c)) return false;
    if (d.size() > 1 && d[0] == '0') digits(d.substr(1), 8, true, value);
    else digits(d, 10, false, value);
    value *= scale;
    return true;
}

class Reader {
public:
    Reader(Script& script, const ReadFile& readFile, std::vector<Diagnostic>& diags)
        : s_(script), readFile_(readFile), diags_(diags) {}

    void Push(std::string text, std::string file) {
        auto src = std::make_unique<Source>();
        src->text = std::move(text);
        src->file = std::move(file);
        sources_.push_back(std::move(src));
    }
    void Pop() { sources_.pop_back(); }

    void ReadTop() {
        for (;;) {
            const Token t = Peek(Mode::kName);
            if (t.kind == Tok::kEnd) return;
            TopCommand();
        }
    }

    int ReadExpressionAlone() {
        const int e = Expr();
        const Token t = Peek();
        if (t.kind != Tok::kEnd) Fail(msg::kLinkExpected, "the end of the expression", Shown(t).c_str());
        return e;
    }

private:
    using Handler = void (Reader::*)();
    struct Command {
        std::string_view name;
        Handler handler;
    };

    // ---- lexing ----

    Source& Src() { return *sources_.back(); }
    Place Here() const { return {sources_.back()->file, sources_.back()->line}; }
    // The place of the next token.
    Place At() {
        SkipBlanks(Src().pos, Src().line);
        return Here();
    }

    // A syntax error: at the line of the token that does not fit.
    [[gnu::format(printf, 2, 3)]] [[noreturn]] void Fail(const char* fmt, ...) {
        Source& src = Src();
        while (src.pos < src.text.size() && (src.text[src.pos] == ' ' || src.text[src.pos] == '\t' ||
                                             src.text[src.pos] == '\r' || src.text[src.pos] == '\n'))
            src.line += src.text[src.pos++] == '\n';
        va_list ap;
        va_start(ap, fmt);
        Stopping(Here(), fmt, ap);
    }
    // An error about what was read, at its place.
    [[gnu::format(printf, 3, 4)]] [[noreturn]] void FailAt(const Place& where, const char* fmt, ...) {
        va_list ap;
        va_start(ap, fmt);
        Stopping(where, fmt, ap);
    }
    [[noreturn]] void Stopping(const Place& where, const char* fmt, va_list ap) {
        char buf[512];
        std::vsnprintf(buf, sizeof buf, fmt, ap);
        va_end(ap);
        diags_.push_back({true, where, buf});
        throw Stop{};
    }

    static std::string Shown(const Token& t) {
        return t.kind == Tok::kEnd ? std::string("end of file") : std::string(t.text);
    }

    void SkipBlanks(std::size_t& pos, int& line) {
        const std::string& x = Src().text;
        while (pos < x.size()) {
            const char c = x[pos];
            if (c == '\n') {
                ++line, ++pos;
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
                ++pos;
            } else if (c == '/' && pos + 1 < x.size() && x[pos + 1] == '*') {
                const std::size_t end = x.find("*/", pos + 2);
                if (end == std::string::npos) {
                    if (probing_) {
                        pos = x.size();
                        return;
                    }
                    FailAt({Src().file, line}, "%s", msg::kLinkOpenComment);
                }
                for (std::size_t i = pos; i < end; ++i) line += x[i] == '\n';
                pos = end + 2;
            } else {
                break;
            }
        }
    }

    Token Lex(Mode mode, std::size_t& pos, int& line) {
        SkipBlanks(pos, line);
        const std::string& x = Src().text;
        Token t;
        if (pos >= x.size()) return t;
        const std::string_view all(x);
        const char c = x[pos];
        const std::size_t start = pos;
        if (c == '"') {
            const std::size_t end = x.find('"', pos + 1);
            if (end == std::string::npos) {
                if (probing_) return t;
                FailAt({Src().file, line}, "%s", msg::kLinkOpenString);
            }
            for (std::size_t i = pos; i < end; ++i) line += x[i] == '\n';
            pos = end + 1;
            t.kind = Tok::kString;
            t.text = all.substr(start + 1, end - start - 1);
            return t;
        }
        // A token of the characters `in` takes, after its first.
        auto run = [&](Tok kind, bool (*in)(char)) {
            for (++pos; pos < x.size() && in(x[pos]);) ++pos;
            t.kind = kind;
            t.text = all.substr(start, pos - start);
            return t;
        };
        if (mode == Mode::kName && IsNameChar(c)) return run(Tok::kWord, IsNameChar);
        // After `=FILL` an expression is being read: /DISCARD/ there ends
        // it, not divides it.
        if (all.substr(pos, 9) == "/DISCARD/") {
            pos += 9;
            t.kind = Tok::kWord;
            t.text = all.substr(start, 9);
            return t;
        }
        if (mode == Mode::kExpr && (IsDigit(c) || (c == '$' && pos + 1 < x.size() && HexDigit(x[pos + 1]) >= 0))) {
            run(Tok::kNumber, [](char ch) { return IsDigit(ch) || IsAlpha(ch); });
            if (!ReadNumber(t.text, t.value, t.hex) && !probing_)
                FailAt({Src().file, line}, msg::kLinkBadNumber, std::string(t.text).c_str());
            return t;
        }
        if (mode == Mode::kExpr && IsExprStart(c)) return run(Tok::kWord, IsExprChar);
        t.kind = Tok::kPunct;
        for (std::string_view p : kPuncts)
            if (all.substr(pos, p.size()) == p) {
                pos += p.size();
                t.text = p;
                return t;
            }
        ++pos;  // a character no token holds: the parser names it
        t.text = all.substr(start, 1);
        return t;
    }

    Token Peek(Mode mode = Mode::kExpr) {
        std::size_t pos = Src().pos;
        int line = Src().line;
        return Lex(mode, pos, line);
    }
    // The token after the next one.
    Token PeekSecond(Mode first, Mode second) {
        std::size_t pos = Src().pos;
        int line = Src().line;
        Lex(first, pos, line);
        return Lex(second, pos, line);
    }
    Token Next(Mode mode = Mode::kExpr) {
        Source& src = Src();
        SkipBlanks(src.pos, src.line);
        return Lex(mode, src.pos, src.line);
    }
    bool Is(const Token& t, std::string_view text) const {
        return (t.kind == Tok::kPunct || t.kind == Tok::kWord) && t.text == text;
    }
    bool Accept(std::string_view text, Mode mode = Mode::kExpr) {
        if (!Is(Peek(mode), text)) return false;
        Next(mode);
        return true;
    }
    void Expect(std::string_view text, Mode mode = Mode::kExpr) {
        const Token t = Peek(mode);
        if (!Is(t, text)) Fail(msg::kLinkExpected, ("`" + std::string(text) + "'").c_str(), Shown(t).c_str());
        Next(mode);
    }
    // A name: a word or a quoted string.
    std::string Name(Mode mode, const char* what) {
        const Token t = Peek(mode);
        if (t.kind != Tok::kWord && t.kind != Tok::kString) Fail(msg::kLinkExpected, what, Shown(t).c_str());
        Next(mode);
        return std::string(t.text);
    }
    // Statements end with ';' (or ',', as ld allows).
    void End() {
        if (!Accept(";") && !Accept(",")) Expect(";");
    }

    // ---- commands ----

    void TopCommand() {
        static constexpr Command kCommands[] = {
            {"ASSERT", &Reader::AssertCommand},
            {"ENTRY", &Reader::Entry},
            {"EXTERN", &Reader::Extern},
            {"FORCE_COMMON_ALLOCATION", &Reader::Nothing},
            {"HIDDEN", &Reader::Hidden},
            {"INCLUDE", &Reader::IncludeTop},
            {"INHIBIT_COMMON_ALLOCATION", &Reader::Nothing},
            {"MEMORY", &Reader::Memory},
            {"OUTPUT", &Reader::Output},
            {"OUTPUT_ARCH", &Reader::OneName},
            {"OUTPUT_FORMAT", &Reader::OutputFormat},
            {"PROVIDE", &Reader::Provide},
            {"PROVIDE_HIDDEN", &Reader::Provide},
            {"REGION_ALIAS", &Reader::RegionAlias},
            {"SEARCH_DIR", &Reader::SearchDir},
            {"SECTIONS", &Reader::Sections},
            {"TARGET", &Reader::OneName},
        };
        if (Accept(";", Mode::kName)) return;
        list_ = &s_.top;
        if (Dispatch(kCommands)) return;
        if (AssignmentAhead()) return Assignment(s_.top);
        NotTaken();
    }

    template <std::size_t N>
    bool Dispatch(const Command (&commands)[N]) {
        const Token t = Peek(Mode::kName);
        if (t.kind != Tok::kWord) return false;
        for (const Command& c : commands)
            if (c.name == t.text) {
                keyword_ = t.text;
                Next(Mode::kName);
                (this->*c.handler)();
                return true;
            }
        return false;
    }

    [[noreturn]] void NotTaken() {
        const Token t = Peek(Mode::kName);
        if (t.kind == Tok::kWord) Fail(msg::kLinkNotTaken, std::string(t.text).c_str());
        Fail(msg::kLinkExpected, "a command", Shown(t).c_str());
    }

    void Nothing() {}

    void Entry() {
        Expect("(");
        s_.entryWhere = At();
        s_.entry = Name(Mode::kExpr, "a symbol");
        Expect(")");
    }
    void Extern() {
        Expect("(");
        while (!Accept(")")) {
            s_.externs.push_back(Name(Mode::kExpr, "a symbol"));
            Accept(",");
        }
    }
    void Output() {
        Expect("(", Mode::kName);
        s_.output = Name(Mode::kName, "a file name");
        Expect(")", Mode::kName);
    }
    void OneName() {
        Expect("(", Mode::kName);
        Name(Mode::kName, "a name");
        Expect(")", Mode::kName);
    }
    void OutputFormat() {
        Expect("(", Mode::kName);
        Name(Mode::kName, "a format");
        if (Accept(",", Mode::kName)) {
            Name(Mode::kName, "a format");
            Expect(",", Mode::kName);
            Name(Mode::kName, "a format");
        }
        Expect(")", Mode::kName);
    }
    void SearchDir() {
        Expect("(", Mode::kName);
        s_.searchDirs.push_back(Name(Mode::kName, "a directory"));
        Expect(")", Mode::kName);
    }

    // INCLUDE reads the file where it stands, as commands of the same kind.
    void Include(void (Reader::*list)()) {
        const Place where = At();
        const std::string name = Name(Mode::kName, "a file name");
        if (sources_.size() > kMaxIncludeDepth) FailAt(where, msg::kLinkIncludeDepth, name.c_str());
        if (++includes_ > kMaxIncludes) FailAt(where, msg::kLinkIncludeCount, name.c_str());
        std::string text, found;
        bool read = false;
        // As ld: the name as given, then each SEARCH_DIR.
        if (readFile_ && readFile_(name, text)) read = true, found = name;
        for (std::size_t i = 0; !read && i < s_.searchDirs.size(); ++i) {
            const std::string path = s_.searchDirs[i] + "/" + name;
            if (readFile_ && readFile_(path, text)) read = true, found = path;
        }
        if (!read) FailAt(where, msg::kLinkCannotRead, name.c_str());
        s_.files.push_back(found);
        Push(std::move(text), found);
        (this->*list)();
        if (Peek(Mode::kName).kind != Tok::kEnd) NotTaken();
        Pop();
    }
    void IncludeTop() { Include(&Reader::ReadTop); }
    void IncludeMemory() { Include(&Reader::MemoryList); }
    void IncludeSections() { Include(&Reader::SectionsList); }
    void IncludeBody() { Include(&Reader::BodyList); }

    void Memory() {
        Expect("{", Mode::kName);
        MemoryList();
        Expect("}", Mode::kName);
    }
    void MemoryList() {
        for (;;) {
            const Token t = Peek(Mode::kName);
            if (t.kind == Tok::kEnd || Is(t, "}")) return;
            if (Accept("INCLUDE", Mode::kName)) {
                IncludeMemory();
                continue;
            }
            MemoryRegion();
        }
    }
    void MemoryRegion() {
        Region r;
        r.where = At();
        r.name = Name(Mode::kName, "a memory region");
        if (Accept("(", Mode::kName)) {
            bool invert = false;
            for (char c : Name(Mode::kName, "attributes")) {
                std::uint32_t flag = 0;
                switch (c) {
                    case '!': invert = !invert; continue;
                    case 'r': case 'R': flag = kReadOnlyFlag; break;
                    case 'w': case 'W': flag = kDataFlag; break;
                    case 'x': case 'X': flag = kCodeFlag; break;
                    case 'a': case 'A': flag = kAllocFlag; break;
                    case 'i': case 'I': case 'l': case 'L': flag = kLoadFlag; break;
                    default: FailAt(r.where, msg::kLinkBadAttribute, c);
                }
                (invert ? r.notFlags : r.flags) |= flag;
            }
            Expect(")", Mode::kName);
        }
        Expect(":", Mode::kName);
        const Token o = Peek(Mode::kName);
        if (!Is(o, "ORIGIN") && !Is(o, "org") && !Is(o, "o")) Fail(msg::kLinkExpected, "ORIGIN", Shown(o).c_str());
        Next(Mode::kName);
        Expect("=");
        r.origin = Expr();
        Accept(",");
        const Token l = Peek(Mode::kName);
        if (!Is(l, "LENGTH") && !Is(l, "len") && !Is(l, "l")) Fail(msg::kLinkExpected, "LENGTH", Shown(l).c_str());
        Next(Mode::kName);
        Expect("=");
        r.length = Expr();
        Accept(";");
        for (const Region& other : s_.regions)
            if (other.name == r.name) FailAt(r.where, msg::kLinkRegionTwice, r.name.c_str());
        s_.regions.push_back(std::move(r));
    }

    void RegionAlias() {
        const Place where = At();
        Expect("(", Mode::kName);
        std::string alias = Name(Mode::kName, "an alias");
        Expect(",", Mode::kName);
        std::string region = Name(Mode::kName, "a memory region");
        Expect(")", Mode::kName);
        bool found = false;
        for (const Region& r : s_.regions) {
            if (r.name == alias) FailAt(where, msg::kLinkRegionTwice, alias.c_str());
            found = found || r.name == region;
        }
        for (const auto& [a, target] : s_.aliases) {
            if (a == alias) FailAt(where, msg::kLinkRegionTwice, alias.c_str());
            found = found || a == region;
        }
        if (!found) FailAt(where, msg::kLinkNoRegion, region.c_str());
        s_.aliases.emplace_back(std::move(alias), std::move(region));
    }

    void Sections() {
        Expect("{", Mode::kName);
        SectionsList();
        Expect("}", Mode::kName);
    }
    void SectionsList() {
        static constexpr Command kCommands[] = {
            {"ASSERT", &Reader::AssertCommand},
            {"ENTRY", &Reader::Entry},
            {"HIDDEN", &Reader::Hidden},
            {"INCLUDE", &Reader::IncludeSections},
            {"PROVIDE", &Reader::Provide},
            {"PROVIDE_HIDDEN", &Reader::Provide},
        };
        for (;;) {
            const Token t = Peek(Mode::kName);
            if (t.kind == Tok::kEnd || Is(t, "}")) return;
            if (Accept(";", Mode::kName)) continue;
            list_ = &s_.top;
            if (Dispatch(kCommands)) continue;
            if (AssignmentAhead()) {
                Assignment(s_.top);
                continue;
            }
            // Commands ld has that tarvo refuses, and ones that belong
            // outside SECTIONS (a syntax error in ld too).
            static constexpr std::string_view kRefused[] = {"GROUP", "INPUT", "INSERT", "LD_FEATURE", "NOCROSSREFS",
                                                            "NOCROSSREFS_TO", "OVERLAY", "PHDRS", "STARTUP", "VERSION"};
            static constexpr std::string_view kOutside[] = {
                "CONSTRUCTORS", "EXTERN", "FORCE_COMMON_ALLOCATION", "INHIBIT_COMMON_ALLOCATION", "MEMORY", "OUTPUT",
                "OUTPUT_ARCH", "OUTPUT_FORMAT", "REGION_ALIAS", "SEARCH_DIR", "SECTIONS", "TARGET"};
            for (std::string_view r : kRefused)
                if (Is(t, r)) NotTaken();
            for (std::string_view o : kOutside)
                if (Is(t, o)) Fail(msg::kLinkExpected, "an output section", std::string(o).c_str());
            if (t.kind != Tok::kWord && t.kind != Tok::kString) NotTaken();
            OutputSection();
        }
    }

    // The statement list the current command adds to.
    std::vector<int>& List() { return *list_; }
    int Add(Statement st) {
        s_.stmts.push_back(std::move(st));
        return static_cast<int>(s_.stmts.size()) - 1;
    }

    // NAME [ADDRESS] [(TYPE)] : [AT(LMA)] [ALIGN(A)] [SUBALIGN(A)] { ... }
    //     [> REGION] [AT> REGION] [=FILL] [,]
    void OutputSection() {
        Statement os;
        os.kind = Kind::kOutput;
        os.where = At();
        os.name = Name(Mode::kName, "an output section");
        os.discard = os.name == "/DISCARD/";
        if (!Is(Peek(), ":")) {
            if (!SectionType(os)) {
                os.addr = Expr();
                SectionType(os);
            }
        }
        Expect(":");
        if (Is(Peek(Mode::kName), "AT") && Is(PeekSecond(Mode::kName, Mode::kExpr), "(")) {
            Next(Mode::kName);
            os.lmaExpr = Parenthesized();
        }
        if (Accept("ALIGN", Mode::kName)) os.align = Parenthesized();
        if (Accept("SUBALIGN", Mode::kName)) os.subalign = Parenthesized();
        const Token c = Peek(Mode::kName);
        if (Is(c, "ALIGN_WITH_INPUT") || Is(c, "ONLY_IF_RO") || Is(c, "ONLY_IF_RW") || Is(c, "SPECIAL")) NotTaken();
        Expect("{", Mode::kName);
        std::vector<int>* outer = list_;
        std::vector<int> body;
        list_ = &body;
        BodyList();
        list_ = outer;
        Expect("}", Mode::kName);
        os.body = std::move(body);
        for (;;) {
            if (Accept(">", Mode::kName)) {
                os.region = Name(Mode::kName, "a memory region");
            } else if (Is(Peek(Mode::kName), "AT") && Is(PeekSecond(Mode::kName, Mode::kName), ">")) {
                Next(Mode::kName);
                Next(Mode::kName);
                os.lmaRegion = Name(Mode::kName, "a memory region");
            } else if (Is(Peek(Mode::kName), ":")) {
                Fail(msg::kLinkNotTaken, ":phdr");
            } else if (Accept("=", Mode::kName)) {
                os.fillExpr = Expr();
            } else {
                break;
            }
        }
        Accept(",", Mode::kName);
        if (os.lmaExpr >= 0 && !os.lmaRegion.empty()) FailAt(os.where, msg::kLinkBothLma, os.name.c_str());
        s_.top.push_back(Add(std::move(os)));
    }

    // (NOLOAD) and the types tarvo refuses.
    bool SectionType(Statement& os) {
        if (!Is(Peek(), "(")) return false;
        const Token t = PeekSecond(Mode::kExpr, Mode::kName);
        if (t.kind != Tok::kWord) return false;
        static constexpr std::string_view kTypes[] = {"COPY", "DSECT", "INFO", "OVERLAY", "READONLY", "TYPE"};
        if (t.text == "NOLOAD") {
            Next();
            Next(Mode::kName);
            Expect(")");
            os.noload = true;
            return true;
        }
        for (std::string_view type : kTypes)
            if (t.text == type) Fail(msg::kLinkNotTaken, std::string(type).c_str());
        return false;
    }

    void BodyList() {
        static constexpr Command kCommands[] = {
            {"ASSERT", &Reader::AssertCommand},
            {"BYTE", &Reader::DataCommand},
            {"CONSTRUCTORS", &Reader::Nothing},
            {"FILL", &Reader::FillCommand},
            {"HIDDEN", &Reader::Hidden},
            {"INCLUDE", &Reader::IncludeBody},
            {"LONG", &Reader::DataCommand},
            {"PROVIDE", &Reader::Provide},
            {"PROVIDE_HIDDEN", &Reader::Provide},
            {"QUAD", &Reader::DataCommand},
            {"SHORT", &Reader::DataCommand},
            {"SQUAD", &Reader::DataCommand},
        };
        static constexpr std::string_view kRefused[] = {"CREATE_OBJECT_SYMBOLS", "INPUT_SECTION_FLAGS",
                                                        "SORT_BY_INIT_PRIORITY", "ASCIZ", "LINKER_VERSION"};
        for (;;) {
            const Token t = Peek(Mode::kName);
            if (t.kind == Tok::kEnd || Is(t, "}")) return;
            if (Accept(";", Mode::kName)) continue;
            if (Dispatch(kCommands)) continue;
            if (AssignmentAhead()) {
                Assignment(List());
                continue;
            }
            for (std::string_view r : kRefused)
                if (Is(t, r)) NotTaken();
            if (t.kind != Tok::kWord && t.kind != Tok::kString) NotTaken();
            Statement in;
            in.kind = Kind::kInput;
            in.where = At();
            InputDescription(in);
            List().push_back(Add(std::move(in)));
        }
    }

    // [KEEP(] FILE [(SECTIONS)] [)]
    void InputDescription(Statement& in) {
        if (Accept("KEEP", Mode::kName)) {
            Expect("(", Mode::kName);
            InputDescription(in);
            in.keep = true;
            Expect(")", Mode::kName);
            return;
        }
        in.file = WildPattern(true);
        if (!Accept("(", Mode::kName)) return;
        while (!Accept(")", Mode::kName)) {
            in.sections.push_back(WildPattern(false));
            Accept(",", Mode::kName);
        }
    }

    Pattern WildPattern(bool file) {
        Pattern p;
        if (Accept("EXCLUDE_FILE", Mode::kName)) {
            Expect("(", Mode::kName);
            while (!Accept(")", Mode::kName)) p.excludeFiles.push_back(Name(Mode::kName, "a file name"));
            Pattern inner = WildPattern(file);
            inner.excludeFiles.insert(inner.excludeFiles.end(), p.excludeFiles.begin(), p.excludeFiles.end());
            return inner;
        }
        const Token t = Peek(Mode::kName);
        Sort sort = Sort::kNone;
        bool sorting = true;
        if (Is(t, "SORT") || Is(t, "SORT_BY_NAME")) sort = Sort::kName;
        else if (Is(t, "SORT_BY_ALIGNMENT") && !file) sort = Sort::kAlignment;
        else if (Is(t, "SORT_NONE")) sort = Sort::kNone;
        else if (Is(t, "SORT_BY_ALIGNMENT") || Is(t, "SORT_BY_INIT_PRIORITY") || Is(t, "REVERSE")) NotTaken();
        else sorting = false;
        if (sorting) {
            Next(Mode::kName);
            Expect("(", Mode::kName);
            p = WildPattern(file);
            // SORT_BY_NAME(SORT_BY_ALIGNMENT(x)): the outer key first.
            p.sort2 = p.sort;
            p.sort = sort;
            if (p.sort2 == p.sort) p.sort2 = Sort::kNone;
            Expect(")", Mode::kName);
            return p;
        }
        p.glob = Name(Mode::kName, file ? "a file name" : "a section name");
        return p;
    }

    int Parenthesized() {
        Expect("(");
        const int e = Expr();
        Expect(")");
        return e;
    }

    // FILL(EXPR), BYTE(EXPR), ..., QUAD(EXPR): a statement of one value.
    void ValueCommand(Kind kind, unsigned width) {
        Statement st;
        st.kind = kind;
        st.where = At();
        st.width = width;
        st.expr = Parenthesized();
        Accept(";");
        List().push_back(Add(std::move(st)));
    }
    void FillCommand() { ValueCommand(Kind::kFill, 0); }
    void DataCommand() {
        ValueCommand(Kind::kData, keyword_ == "BYTE" ? 1 : keyword_ == "SHORT" ? 2 : keyword_ == "LONG" ? 4 : 8);
    }

    void AssertCommand() {
        Statement st;
        st.kind = Kind::kAssert;
        st.where = At();
        Expect("(");
        st.expr = Expr();
        Expect(",");
        st.text = Name(Mode::kName, "a message");
        Expect(")");
        Accept(";");
        List().push_back(Add(std::move(st)));
    }

    // PROVIDE(NAME = EXPR); PROVIDE_HIDDEN alike (hiding changes nothing in
    // a flat image); HIDDEN(NAME = EXPR) is a plain assignment.
    void Provide() { Wrapped(true); }
    void Hidden() { Wrapped(false); }
    void Wrapped(bool provide) {
        Expect("(");
        const std::size_t at = List().size();
        if (!AssignmentAhead()) Fail(msg::kLinkExpected, "an assignment", Shown(Peek(Mode::kName)).c_str());
        Assignment(List(), false);
        Statement& st = s_.stmts[static_cast<std::size_t>(List()[at])];
        if (provide && st.name == ".") FailAt(st.where, "%s", msg::kLinkProvideDot);
        st.provide = provide;
        Expect(")");
        End();
    }

    // Looks for NAME followed by an assignment operator; leaves the position.
    // Probing reads ahead in the wrong mode ("lib/*(.text)" as an expression
    // holds a comment's start), so nothing it reads is an error.
    bool AssignmentAhead() {
        probing_ = true;
        const bool found = ProbeAssignment();
        probing_ = false;
        return found;
    }
    bool ProbeAssignment() {
        for (Mode m : {Mode::kExpr, Mode::kName}) {
            std::size_t pos = Src().pos;
            int line = Src().line;
            const Token name = Lex(m, pos, line);
            if (name.kind != Tok::kWord && name.kind != Tok::kString) continue;
            const Token op = Lex(Mode::kExpr, pos, line);
            if (op.kind == Tok::kPunct && AssignOp(op.text) != kNotAssign) return true;
        }
        return false;
    }
    static constexpr int kNotAssign = -1, kPlainAssign = -2;
    static int AssignOp(std::string_view t) {
        if (t == "=") return kPlainAssign;
        static constexpr std::pair<std::string_view, Op> kOps[] = {
            {"+=", Op::kAdd}, {"-=", Op::kSub}, {"*=", Op::kMul}, {"/=", Op::kDiv},
            {"<<=", Op::kShl}, {">>=", Op::kShr}, {"&=", Op::kAnd}, {"|=", Op::kOr}};
        for (const auto& [text, op] : kOps)
            if (t == text) return static_cast<int>(op);
        return kNotAssign;
    }

    void Assignment(std::vector<int>& list, bool end = true) {
        Statement st;
        st.kind = Kind::kAssign;
        st.where = At();
        // The name as the operator check found it: an expression name first.
        std::size_t pos = Src().pos;
        int line = Src().line;
        Token name = Lex(Mode::kExpr, pos, line);
        Token op = Lex(Mode::kExpr, pos, line);
        if ((name.kind != Tok::kWord && name.kind != Tok::kString) || op.kind != Tok::kPunct ||
            AssignOp(op.text) == kNotAssign) {
            pos = Src().pos;
            line = Src().line;
            name = Lex(Mode::kName, pos, line);
            op = Lex(Mode::kExpr, pos, line);
        }
        Src().pos = pos;
        Src().line = line;
        st.name = std::string(name.text);
        const int kind = AssignOp(op.text);
        const int value = Expr();
        if (kind == kPlainAssign) {
            st.expr = value;
        } else {
            Node lhs;
            lhs.op = st.name == "." ? Op::kDot : Op::kName;
            lhs.name = st.name;
            st.expr = Binary(static_cast<Op>(kind), AddNode(std::move(lhs)), value);
        }
        if (end) End();
        list.push_back(Add(std::move(st)));
    }

    // ---- expressions ----

    int AddNode(Node n) {
        s_.nodes.push_back(std::move(n));
        return static_cast<int>(s_.nodes.size()) - 1;
    }
    int Binary(Op op, int a, int b) {
        Node n;
        n.op = op;
        n.a = a;
        n.b = b;
        return AddNode(std::move(n));
    }

    int Expr() {
        const int c = BinaryLevel(0);
        if (!Accept("?")) return c;
        Node n;
        n.op = Op::kCond;
        n.a = c;
        n.b = Expr();
        Expect(":");
        n.c = Expr();
        return AddNode(std::move(n));
    }

    // C's binary operators and their levels, loosest first.
    static int BinaryOp(const Token& t, Op& op) {
        struct Entry {
            std::string_view text;
            Op op;
            int level;
        };
        static constexpr Entry kOps[] = {
            {"||", Op::kOrOr, 0}, {"&&", Op::kAndAnd, 1}, {"|", Op::kOr, 2},   {"^", Op::kXor, 3},
            {"&", Op::kAnd, 4},   {"==", Op::kEq, 5},     {"!=", Op::kNe, 5},  {"<", Op::kLt, 6},
            {">", Op::kGt, 6},    {"<=", Op::kLe, 6},     {">=", Op::kGe, 6},  {"<<", Op::kShl, 7},
            {">>", Op::kShr, 7},  {"+", Op::kAdd, 8},     {"-", Op::kSub, 8},  {"*", Op::kMul, 9},
            {"/", Op::kDiv, 9},   {"%", Op::kMod, 9},
        };
        if (t.kind != Tok::kPunct) return -1;
        for (const Entry& e : kOps)
            if (e.text == t.text) {
                op = e.op;
                return e.level;
            }
        return -1;
    }

    // Precedence climbing; operators of one level group to the left.
    int BinaryLevel(int least) {
        int lhs = Unary();
        for (;;) {
            Op op = Op::kAdd;
            const int level = BinaryOp(Peek(), op);
            if (level < least) return lhs;
            Next();
            lhs = Binary(op, lhs, BinaryLevel(level + 1));
        }
    }

    int Unary() {
        const Token t = Peek();
        if (t.kind == Tok::kPunct) {
            Op op;
            if (t.text == "-") op = Op::kNeg;
            else if (t.text == "!") op = Op::kNot;
            else if (t.text == "~") op = Op::kCompl;
            else if (t.text != "+") return Primary();
            else op = Op::kNumber;  // unary plus: the operand itself
            Next();
            if (op == Op::kNumber) return Unary();
            Node n;
            n.op = op;
            n.a = Unary();
            return AddNode(std::move(n));
        }
        return Primary();
    }

    int Primary() {
        const Token t = Peek();
        Node n;
        if (t.kind == Tok::kNumber) {
            Next();
            n.op = Op::kNumber;
            n.value = t.value;
            n.name = std::string(t.hex);
            return AddNode(std::move(n));
        }
        if (t.kind == Tok::kString) {
            Next();
            n.op = Op::kName;
            n.name = std::string(t.text);
            return AddNode(std::move(n));
        }
        if (Is(t, "(")) {
            Next();
            const int e = Expr();
            Expect(")");
            return e;
        }
        if (t.kind != Tok::kWord) Fail(msg::kLinkExpected, "an expression", Shown(t).c_str());
        if (t.text == ".") {
            Next();
            n.op = Op::kDot;
            return AddNode(std::move(n));
        }
        static constexpr std::string_view kRefused[] = {
            "CONSTANT", "DATA_SEGMENT_ALIGN", "DATA_SEGMENT_END", "DATA_SEGMENT_RELRO_END", "NEXT",
            "SEGMENT_START", "SIZEOF_HEADERS", "sizeof_headers"};
        for (std::string_view r : kRefused)
            if (t.text == r) Fail(msg::kLinkFunctionNotTaken, std::string(r).c_str());
        const std::string word(t.text);
        Next();
        if (!Is(Peek(), "(")) {
            n.op = Op::kName;
            n.name = word;
            return AddNode(std::move(n));
        }
        struct Function {
            std::string_view name;
            Op op;
            enum Arg : std::uint8_t { kExpr, kTwo, kSection, kRegion, kSymbol, kMessage } arg;
        };
        static constexpr Function kFunctions[] = {
            {"ABSOLUTE", Op::kAbsolute, Function::kExpr}, {"ADDR", Op::kAddr, Function::kSection},
            {"ALIGN", Op::kAlign, Function::kExpr},       {"ALIGNOF", Op::kAlignof, Function::kSection},
            {"ASSERT", Op::kAssert, Function::kMessage},
            {"BLOCK", Op::kAlign, Function::kExpr},       {"DEFINED", Op::kDefined, Function::kSymbol},
            {"LENGTH", Op::kLength, Function::kRegion},   {"LOADADDR", Op::kLoadaddr, Function::kSection},
            {"LOG2CEIL", Op::kLog2ceil, Function::kExpr}, {"MAX", Op::kMax, Function::kTwo},
            {"MIN", Op::kMin, Function::kTwo},            {"ORIGIN", Op::kOrigin, Function::kRegion},
            {"SIZEOF", Op::kSizeof, Function::kSection},
        };
        for (const Function& f : kFunctions) {
            if (f.name != word) continue;
            Next();  // (
            n.op = f.op;
            switch (f.arg) {
                case Function::kExpr:
                    n.a = Expr();
                    if (f.op == Op::kAlign && word == "ALIGN" && Accept(",")) {
                        n.op = Op::kAlignTo;
                        n.b = Expr();
                    }
                    break;
                case Function::kTwo:
                    n.a = Expr();
                    Expect(",");
                    n.b = Expr();
                    break;
                case Function::kSection: n.name = Name(Mode::kName, "a section name"); break;
                case Function::kRegion: n.name = Name(Mode::kName, "a memory region"); break;
                case Function::kSymbol: n.name = Name(Mode::kExpr, "a symbol"); break;
                case Function::kMessage:
                    // ASSERT(E, "TEXT") as a value: E, checked as the statement is.
                    n.a = Expr();
                    Expect(",");
                    n.name = Name(Mode::kName, "a message");
                    break;
            }
            Expect(")");
            return AddNode(std::move(n));
        }
        Fail(msg::kLinkUnknownFunction, word.c_str());
    }

    Script& s_;
    const ReadFile& readFile_;
    std::vector<Diagnostic>& diags_;
    std::vector<std::unique_ptr<Source>> sources_;
    std::vector<int>* list_ = nullptr;
    std::string_view keyword_;
    bool probing_ = false;
    std::size_t includes_ = 0;
};

}  // namespace

void ComplainV(std::vector<Diagnostic>& diags, bool error, const Place& where, const char* fmt, va_list ap) {
    char buf[1024];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    diags.push_back({error, where, buf});
}

void Complain(std::vector<Diagnostic>& diags, bool error, const Place& where, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    ComplainV(diags, error, where, fmt, ap);
    va_end(ap);
}

bool ReadScript(std::string_view text, const std::string& file, const ReadFile& readFile, Script& script,
                std::vector<Diagnostic>& diags) {
    Reader reader(script, readFile, diags);
    reader.Push(std::string(text), file);
    try {
        reader.ReadTop();
    } catch (const Stop&) {
        return false;
    }
    return true;
}

int ReadExpression(std::string_view text, const Place& where, Script& script, std::vector<Diagnostic>& diags) {
    Reader reader(script, nullptr, diags);
    reader.Push(std::string(text), where.file);
    try {
        return reader.ReadExpressionAlone();
    } catch (const Stop&) {
        return -1;
    }
}

bool Glob(std::string_view p, std::string_view n) {
    // Backtracking over the last '*' only: linear for every pattern.
    std::size_t pi = 0, ni = 0, starP = std::string_view::npos, starN = 0;
    while (ni < n.size()) {
        if (pi < p.size() && p[pi] == '*') {
            starP = pi++;
            starN = ni;
            continue;
        }
        if (pi < p.size()) {
            bool ok = false;
            std::size_t next = pi + 1;
            if (p[pi] == '?') {
                ok = true;
            } else if (p[pi] == '[') {
                std::size_t i = pi + 1;
                const bool negate = i < p.size() && (p[i] == '!' || p[i] == '^');
                if (negate) ++i;
                bool in = false, closed = false;
                for (bool first = true; i < p.size(); first = false) {
                    if (p[i] == ']' && !first) {
                        closed = true;
                        break;
                    }
                    char lo = p[i];
                    if (lo == '\\' && i + 1 < p.size()) lo = p[++i];
                    char hi = lo;
                    if (i + 2 < p.size() && p[i + 1] == '-' && p[i + 2] != ']') {
                        hi = p[i + 2];
                        if (hi == '\\' && i + 3 < p.size()) hi = p[i + 3], ++i;
                        i += 2;
                    }
                    in = in || (n[ni] >= lo && n[ni] <= hi);
                    ++i;
                }
                if (closed) {
                    ok = in != negate;
                    next = i + 1;
                } else {
                    ok = n[ni] == '[';  // no closing ']': a plain character, as fnmatch
                }
            } else if (p[pi] == '\\' && pi + 1 < p.size()) {
                ok = p[pi + 1] == n[ni];
                next = pi + 2;
            } else {
                ok = p[pi] == n[ni];
            }
            if (ok) {
                pi = next;
                ++ni;
                continue;
            }
        }
        if (starP == std::string_view::npos) return false;
        pi = starP + 1;
        ni = ++starN;
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

std::vector<std::uint8_t> FillPattern(const Node& node, std::uint64_t value) {
    std::vector<std::uint8_t> out;
    if (node.op == Op::kNumber && !node.name.empty()) {
        // Each pair of digits a byte, an odd first digit a byte alone.
        const std::string& d = node.name;
        std::size_t i = 0;
        if (d.size() % 2 == 1) out.push_back(static_cast<std::uint8_t>(HexDigit(d[i++])));
        for (; i < d.size(); i += 2)
            out.push_back(static_cast<std::uint8_t>(HexDigit(d[i]) << 4 | HexDigit(d[i + 1])));
        return out;
    }
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
    return out;
}

}  // namespace tarvo::link
