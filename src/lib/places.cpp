#include "lib/places.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <unordered_map>

#include "symbols/symbols.h"

namespace tarvo::lib {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '_' || c == '.' || c == '$' ||
           c == '?';
}

// The default language: blanks, tabs, commas and brackets separate tokens;
// a token that begins with ';' begins a comment; inside a token, operators
// and parentheses separate the names of an expression.
void TarvoLine(std::string_view line, int number, std::vector<Token>& out) {
    bool first = true, wantFile = false;
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == ',' || c == '[' || c == ']') {
            ++i;
            continue;
        }
        if (c == ';') return;
        if (c == '"') {
            std::size_t end = line.find('"', i + 1);
            end = end == std::string_view::npos ? line.size() : end + 1;
            if (wantFile) out.push_back({line.substr(i, end - i), number, static_cast<int>(i)});
            wantFile = false;
            i = end;
            continue;
        }
        // One token of the classic reading, cut into the words of an expression.
        std::size_t end = i;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != ',' && line[end] != '[' &&
               line[end] != ']' && line[end] != '"')
            ++end;
        const std::string_view token = line.substr(i, end - i);
        if (first) {
            wantFile = stricmp(token, "inc.") == 0 || stricmp(token, "incbin.") == 0 || stricmp(token, "table.") == 0;
            first = false;
        }
        std::size_t w = 0;
        while (w < token.size()) {
            if (!IsWordChar(token[w])) {
                ++w;
                continue;
            }
            std::size_t e = w;
            while (e < token.size() && IsWordChar(token[e])) ++e;
            // "1:" defines a local label; "NAME:" a label.
            if (e < token.size() && token[e] == ':') ++e;
            out.push_back({token.substr(w, e - w), number, static_cast<int>(i + w)});
            w = e;
        }
        i = end;
    }
}

// GNU syntax: '#' and "/* */" comments, ';' between statements, strings
// and character constants, names of letters, digits, '_', '.' and '$'.
void GnuText(std::string_view text, std::vector<Token>& out) {
    int line = 1;
    std::size_t lineStart = 0;
    bool wantFile = false;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '\n') {
            ++line;
            lineStart = ++i;
            wantFile = false;
            continue;
        }
        if (c == '#') {
            while (i < text.size() && text[i] != '\n') ++i;
            continue;
        }
        if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
            const std::size_t end = text.find("*/", i + 2);
            const std::size_t stop = end == std::string_view::npos ? text.size() : end + 2;
            for (; i < stop; ++i)
                if (text[i] == '\n') {
                    ++line;
                    lineStart = i + 1;
                }
            continue;
        }
        if (c == '"') {
            std::size_t j = i + 1;
            while (j < text.size() && text[j] != '"' && text[j] != '\n') j += text[j] == '\\' ? 2 : 1;
            j = std::min(text.size(), j + 1);
            if (wantFile) out.push_back({text.substr(i, j - i), line, static_cast<int>(i - lineStart)});
            wantFile = false;
            i = j;
            continue;
        }
        if (c == '\'') {
            i += i + 2 < text.size() && text[i + 1] == '\\' ? 3 : 2;
            if (i < text.size() && text[i] == '\'') ++i;
            continue;
        }
        if (c == '\\') {  // a macro parameter: \NAME is no use of NAME
            ++i;
            while (i < text.size() && IsWordChar(text[i])) ++i;
            continue;
        }
        if (!IsWordChar(c)) {
            ++i;
            continue;
        }
        std::size_t e = i;
        while (e < text.size() && IsWordChar(text[e])) ++e;
        if (e < text.size() && text[e] == ':' && (e + 1 >= text.size() || text[e + 1] != ':')) ++e;
        const std::string_view word = text.substr(i, e - i);
        wantFile = word == ".include" || word == ".incbin";
        out.push_back({word, line, static_cast<int>(i - lineStart)});
        i = e;
    }
}

// "1:" and the like: the digits of a local label's definition.
bool LocalDefinition(std::string_view t, std::string_view& digits) {
    if (t.size() < 2 || t.back() != ':') return false;
    digits = t.substr(0, t.size() - 1);
    return std::all_of(digits.begin(), digits.end(), IsDigit);
}

// "1b" / "1f" (after an '@' in the default language): a local reference.
bool LocalReference(std::string_view t, std::string_view& digits, bool& forward) {
    if (t.size() < 2 || (t.back() != 'b' && t.back() != 'f' && t.back() != 'B' && t.back() != 'F')) return false;
    digits = t.substr(0, t.size() - 1);
    forward = t.back() == 'f' || t.back() == 'F';
    return std::all_of(digits.begin(), digits.end(), IsDigit);
}

// The number a local label's digits stand for ("01" and "1" are one label).
std::string LocalKey(std::string_view digits) {
    while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
    return std::string(digits);
}

Place At(const std::string& path, const Token& t, std::size_t length) {
    return {path, t.line, t.column, t.column + static_cast<int>(length)};
}

}  // namespace

std::vector<Token> Tokens(std::string_view text, Syntax syntax) {
    std::vector<Token> out;
    if (syntax == Syntax::kGnu) {
        GnuText(text, out);
        return out;
    }
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        std::string_view line = text.substr(0, end);
        ++number;
        TarvoLine(line, number, out);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1));
    }
    return out;
}

std::size_t NextLine(std::string_view text, std::size_t from) {
    const std::size_t end = text.find_first_of("\r\n", from);
    if (end == std::string_view::npos) return end;
    return end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
}

std::string_view LineOf(std::string_view text, int line) {
    std::size_t start = 0;
    for (int n = 1; n < line && start != std::string_view::npos; ++n) start = NextLine(text, start);
    if (start == std::string_view::npos) return {};
    text.remove_prefix(start);
    return text.substr(0, text.find_first_of("\r\n"));
}

void IndexFile(const std::string& path, std::string_view text, Syntax syntax, const std::vector<std::string>& files,
               std::vector<Name>& names) {
    const bool gnu = syntax == Syntax::kGnu;
    const std::vector<Token> tokens = Tokens(text, syntax);
    // Names by spelling; a local label of a file indexed before (its name
    // is its digits) is no name here, where those digits are a number.
    std::unordered_map<std::string, std::size_t> byName;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i].name;
        if (names[i].kind == Name::Kind::kFile ||
            std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        byName.emplace(gnu ? name : Folded(name), i);
    }

    // Local labels: each definition a name; references found afterwards.
    std::map<std::string, std::vector<std::size_t>> locals;  // digits -> names, in file order
    for (const Token& t : tokens) {
        std::string_view digits;
        if (!LocalDefinition(t.text, digits)) continue;
        Name n;
        n.name = std::string(digits);
        n.kind = Name::Kind::kLabel;
        n.defined = At(path, t, digits.size());
        locals[LocalKey(digits)].push_back(names.size());
        names.push_back(std::move(n));
    }
    auto localTarget = [&](const Token& t, std::string_view digits, bool forward) -> Name* {
        const auto found = locals.find(LocalKey(digits));
        if (found == locals.end()) return nullptr;
        Name* best = nullptr;
        for (std::size_t index : found->second) {
            Name& n = names[index];
            const bool before = n.defined.line < t.line || (n.defined.line == t.line && n.defined.column < t.column);
            if (forward && !before) return &n;
            if (!forward && before) best = &n;
        }
        return best;
    };

    // Words after which a name is defined, when the run did not say where.
    auto defines = [gnu](std::string_view before) {
        static constexpr std::string_view kTarvo[] = {"lb.", "df.", "set.", "macro."};
        static constexpr std::string_view kGnu[] = {".set", ".equ", ".equiv", ".macro", ".comm", ".lcomm", ".section"};
        if (gnu) return std::find(std::begin(kGnu), std::end(kGnu), before) != std::end(kGnu);
        return std::any_of(std::begin(kTarvo), std::end(kTarvo),
                           [&](std::string_view w) { return stricmp(w, before) == 0; });
    };
    const Token* previous = nullptr;
    for (const Token& t : tokens) {
        const Token* before = previous != nullptr && previous->line == t.line ? previous : nullptr;
        previous = &t;
        std::string_view word = t.text;
        if (!word.empty() && word.front() == '"') {
            // A file the source includes: the path the run opened for it.
            const std::string_view written = word.substr(1, word.size() >= 2 && word.back() == '"' ? word.size() - 2 : 1);
            for (const std::string& f : files) {
                if (f != written && !(f.size() > written.size() && f.ends_with(written) &&
                                      f[f.size() - written.size() - 1] == '/'))
                    continue;
                auto known = std::find_if(names.begin(), names.end(), [&](const Name& n) {
                    return n.kind == Name::Kind::kFile && n.name == f;
                });
                if (known == names.end()) {
                    Name n;
                    n.name = f;
                    n.kind = Name::Kind::kFile;
                    n.defined = {f, 1, 0, 0};
                    names.push_back(std::move(n));
                    known = names.end() - 1;
                }
                known->uses.push_back(At(path, t, word.size()));
                break;
            }
            continue;
        }
        std::string_view digits;
        bool forward = false;
        if (LocalDefinition(word, digits)) continue;
        if (LocalReference(word, digits, forward)) {
            if (Name* n = localTarget(t, digits, forward)) n->uses.push_back(At(path, t, word.size()));
            continue;
        }
        const bool label = word.size() > 1 && word.back() == ':';
        if (label) word.remove_suffix(1);
        const auto found = byName.find(gnu ? std::string(word) : Folded(word));
        if (found == byName.end()) continue;
        Name& n = names[found->second];
        if (n.defined.file.empty() && (label || (before != nullptr && defines(before->text)))) {
            n.defined = At(path, t, word.size());
            continue;
        }
        // The definition's own token gives its columns; any other is a use.
        if (n.defined.file == path && n.defined.line == t.line &&
            (n.defined.column < 0 || n.defined.column == t.column)) {
            n.defined.column = t.column;
            n.defined.columnEnd = t.column + static_cast<int>(word.size());
            continue;
        }
        n.uses.push_back(At(path, t, word.size()));
    }
}

void FindColumns(std::string_view line, std::string_view token, std::string_view message, Place& place) {
    if (token.empty()) {
        // The operand a message names: in its last "(...)" or "`...'".
        const std::size_t open = message.rfind('(');
        const std::size_t quote = message.rfind('`');
        if (open != std::string_view::npos && (quote == std::string_view::npos || open > quote)) {
            const std::size_t close = message.find(')', open);
            if (close != std::string_view::npos) token = message.substr(open + 1, close - open - 1);
        } else if (quote != std::string_view::npos) {
            const std::size_t close = message.find('\'', quote);
            if (close != std::string_view::npos) token = message.substr(quote + 1, close - quote - 1);
        }
    }
    if (token.empty()) return;
    // The token where it stands whole (`bc` not inside `abc`), else its first
    // appearance; names ignore letter case in the default language.
    auto whole = [](std::string_view text, std::string_view word) {
        auto inName = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '$'; };
        std::size_t first = std::string_view::npos;
        for (std::size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
            if (first == std::string_view::npos) first = at;
            const bool before = at == 0 || !inName(text[at - 1]) || !inName(word.front());
            const bool after = at + word.size() == text.size() || !inName(text[at + word.size()]) || !inName(word.back());
            if (before && after) return at;
        }
        return first;
    };
    std::size_t at = whole(line, token);
    if (at == std::string_view::npos) at = whole(Folded(line), Folded(token));
    if (at == std::string_view::npos) return;
    place.column = static_cast<int>(at);
    place.columnEnd = static_cast<int>(at + token.size());
}

}  // namespace tarvo::lib
