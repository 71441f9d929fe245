#include "lsp/features.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <set>

namespace tarvo::lsp {
namespace {

// LSP's DiagnosticSeverity, CompletionItemKind and SymbolKind values.
enum : int { kSevError = 1, kSevWarning = 2, kSevInformation = 3 };
enum : int { kItemFunction = 3, kItemVariable = 6, kItemModule = 9, kItemKeyword = 14, kItemReference = 18,
             kItemEnumMember = 20, kItemConstant = 21 };
enum : int { kSymModule = 2, kSymMethod = 6, kSymFunction = 12, kSymConstant = 14 };

// Files are read up to the size of the largest message.
constexpr std::size_t kMaxFile = std::size_t{64} << 20;
// Hover lists this many pieces of a line (a macro call or a repeat makes many).
constexpr std::size_t kHoverLines = 16;

std::string Hex(std::uint64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*" PRIX64, digits, value);
    return text;
}

// Places in the files of one analysis, in the client's units.
class Places {
public:
    Places(const Analysis& a, Encoding encoding) : a_(a), encoding_(encoding) {}

    std::string_view LineText(const std::string& file, int line0, bool& known) {
        auto it = lines_.find(file);
        if (it == lines_.end()) {
            const auto text = a_.texts.find(file);
            if (text == a_.texts.end()) {
                known = false;
                return {};
            }
            it = lines_.emplace(file, Lines(*text->second)).first;
        }
        known = true;
        return it->second.Line(line0);
    }

    // The token the place names, else its whole line.
    Json Range(const Place& p) {
        const int line0 = std::max(p.line - 1, 0);
        bool known = false;
        const std::string_view text = LineText(p.file, line0, known);
        int start = 0, end = 0;
        if (p.column >= 0) {
            const int columnEnd = std::max(p.columnEnd, p.column);
            start = known ? ToClient(text, p.column, encoding_) : p.column;
            end = known ? ToClient(text, columnEnd, encoding_) : columnEnd;
        } else if (known) {
            end = ToClient(text, static_cast<int>(text.size()), encoding_);
        }
        return Json{{"start", {{"line", line0}, {"character", start}}}, {"end", {{"line", line0}, {"character", end}}}};
    }

    std::string Uri(const std::string& path) const {
        const auto it = a_.uris.find(path);
        return it != a_.uris.end() ? it->second : PathToUri(path);
    }
    Json Location(const Place& p) { return Json{{"uri", Uri(p.file)}, {"range", Range(p)}}; }

    // A file as the document's folder sees it.
    std::string Shown(const std::string& path) const {
        const std::filesystem::path folder = std::filesystem::path(a_.path).parent_path();
        const std::string relative = std::filesystem::path(path).lexically_relative(folder).string();
        return relative.empty() || relative.compare(0, 2, "..") == 0 ? path : relative;
    }

private:
    const Analysis& a_;
    Encoding encoding_;
    std::map<std::string, Lines> lines_;
};

void NormalFiles(AssembleResult& r) {
    std::map<std::string, std::string> cache;
    auto normal = [&](std::string& file) {
        if (file.empty()) return;
        auto it = cache.find(file);
        if (it == cache.end()) it = cache.emplace(file, NormalPath(file)).first;
        file = it->second;
    };
    auto message = [&](auto& self, Message& m) -> void {
        normal(m.place.file);
        normal(m.top.file);
        for (Message& note : m.notes) self(self, note);
    };
    for (Message& m : r.messages) message(message, m);
    for (Name& n : r.names) {
        normal(n.defined.file);
        for (Place& use : n.uses) normal(use.file);
    }
    for (LineBytes& l : r.lines) normal(l.file);
    for (std::string& f : r.files) normal(f);
}

int SeverityOf(Message::Severity s) {
    return s == Message::Severity::kError ? kSevError : s == Message::Severity::kWarning ? kSevWarning : kSevInformation;
}

bool WordByte(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '$';
}

std::string_view WordAt(std::string_view line, int byteColumn) {
    std::size_t start = std::min(line.size(), static_cast<std::size_t>(std::max(byteColumn, 0)));
    std::size_t end = start;
    while (start > 0 && WordByte(line[start - 1])) --start;
    while (end < line.size() && WordByte(line[end])) ++end;
    return line.substr(start, end - start);
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

struct Hit {
    const Name* name = nullptr;
    const Place* place = nullptr;  // the definition or use under the cursor
};

// The name whose definition or use covers the cursor; where the library
// gave no columns, the word under the cursor names it.
Hit NameAt(const Analysis& a, int line0, int character, Encoding encoding) {
    const auto text = a.texts.find(a.path);
    if (text == a.texts.end()) return {};
    const std::string_view lineText = Lines(*text->second).Line(line0);
    const int column = ToBytes(lineText, character, encoding);
    const int line1 = line0 + 1;
    auto onLine = [&](const Place& p) { return p.line == line1 && p.file == a.path; };
    // Strictly inside a token first, then just after one (the cursor of a
    // word being typed).
    for (int slack = 0; slack < 2; ++slack)
        for (const Name& n : a.result.names) {
            auto covers = [&](const Place& p) {
                return onLine(p) && p.column >= 0 && column >= p.column &&
                       column < std::max(p.columnEnd, p.column + 1) + slack;
            };
            if (covers(n.defined)) return {&n, &n.defined};
            for (const Place& use : n.uses)
                if (covers(use)) return {&n, &use};
        }
    const std::string_view word = WordAt(lineText, column);
    if (word.empty()) return {};
    const Name* same = nullptr;
    const Name* folded = nullptr;
    for (const Name& n : a.result.names) {
        if (n.kind == Name::Kind::kFile) continue;
        if (n.name == word) {
            if (onLine(n.defined) && n.defined.column < 0) return {&n, nullptr};
            for (const Place& use : n.uses)
                if (onLine(use) && use.column < 0) return {&n, nullptr};
            if (same == nullptr) same = &n;
        } else if (folded == nullptr && SameIgnoringCase(n.name, word)) {
            folded = &n;
        }
    }
    return {same != nullptr ? same : folded, nullptr};
}


std::string ValueText(const Name& n) {
    switch (n.kind) {
        case Name::Kind::kLabel:
        case Name::Kind::kSection:
            return Hex(static_cast<std::uint32_t>(n.value), 8);
        case Name::Kind::kName: {
            std::string v = std::to_string(n.value) + " (" + Hex(static_cast<std::uint32_t>(n.value), 8) + ")";
            // An expression, not a number: as written too.
            const bool number = !n.text.empty() && std::isdigit(static_cast<unsigned char>(n.text[0])) &&
                                std::all_of(n.text.begin(), n.text.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
            if (!n.text.empty() && !number) v += ", " + n.text;
            return v;
        }
        case Name::Kind::kMacro:
        case Name::Kind::kFile:
            break;
    }
    return n.text;
}

// The words of a language as completion items.
Json WordItems(Syntax syntax) {
    Json items = Json::array();
    const Words w = Vocabulary(syntax);
    auto add = [&](const std::vector<std::string>& list, int kind, const char* detail) {
        for (const std::string& word : list) items.push_back({{"label", word}, {"kind", kind}, {"detail", detail}});
    };
    add(w.mnemonics, kItemKeyword, "instruction");
    add(w.registers, kItemVariable, "register");
    add(w.systemRegisters, kItemVariable, "system register");
    add(w.conditions, kItemEnumMember, "condition");
    add(w.directives, kItemKeyword, "directive");
    return items;
}

}  // namespace

std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t limit) {
    // Non-blocking: a FIFO must not stop the server.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<std::string> out;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) <= limit) {
        std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
        out = std::move(bytes);
    }
    ::close(fd);
    return out;
}

std::shared_ptr<const Analysis> Analyze(const Job& job) {
    auto a = std::make_shared<Analysis>();
    a->uri = job.uri;
    a->path = job.path;
    a->version = job.version;
    a->syntax = job.syntax;
    a->uris = job.uris;
    a->texts[job.path] = job.text;
    AssembleOptions options;
    options.syntax = job.syntax;
    options.strict = job.settings.strict;
    options.classic = job.settings.classic;
    options.includeDirs = job.settings.includeDirs;
    options.defines = job.settings.defines;
    options.quiet = true;  // no progress lines: nobody reads the output
    // Open documents stand in for files; what is read is kept for the
    // places of its messages and names.
    const FileReader read = [&](const std::string& path) -> std::optional<std::string> {
        const std::string key = NormalPath(path);
        if (const auto seen = a->texts.find(key); seen != a->texts.end()) return *seen->second;
        Text text;
        if (const auto open = job.open.find(key); open != job.open.end()) {
            text = open->second;
        } else {
            std::optional<std::string> bytes = job.readDisk ? ReadRegularFile(key, kMaxFile) : std::nullopt;
            if (!bytes) {
                a->missing.insert(key);  // a document opened later by this name reruns this one
                return std::nullopt;
            }
            text = std::make_shared<const std::string>(std::move(*bytes));
        }
        a->texts.emplace(key, text);
        return *text;
    };
    a->result = Assemble(*job.text, job.path, options, read);
    NormalFiles(a->result);
    return a;
}

std::map<std::string, std::vector<Json>> Diagnostics(const Analysis& a, Encoding encoding) {
    Places places(a, encoding);
    std::map<std::string, std::vector<Json>> out;
    out[a.uri];  // the document's own list, empty or not
    // A macro's body line is the place of a message once per call: shown once.
    std::set<std::string> shown;
    for (const Message& m : a.result.messages) {
        Json related = Json::array();
        for (const Message& note : m.notes)
            if (note.place.line > 0 && !note.place.file.empty())
                related.push_back({{"location", places.Location(note.place)}, {"message", note.text}});
        auto add = [&](const std::string& uri, const Place& where, const std::string& text) {
            const std::string key = uri + '\n' + std::to_string(where.line) + ':' + std::to_string(where.column) + ':' +
                                    std::to_string(where.columnEnd) + ':' + std::to_string(SeverityOf(m.severity)) + text;
            if (!shown.insert(key).second) return;
            Json d{{"range", places.Range(where)}, {"severity", SeverityOf(m.severity)}, {"source", "tarvo"},
                   {"message", text}};
            if (!related.empty()) d["relatedInformation"] = related;
            out[uri].push_back(std::move(d));
        };
        const Place& at = m.place;
        const bool here = at.line > 0 && !at.file.empty();
        // The line of the document that leads to it.
        Place top = m.top.line > 0 && m.top.file == a.path ? m.top : Place{a.path, 1, -1, -1};
        if (m.top.line <= 0 && here && at.file == a.path) top = at;
        if (here) {
            const auto open = a.uris.find(at.file);
            if (at.file == a.path) add(a.uri, at, m.text);
            else if (open != a.uris.end()) add(open->second, at, m.text);
        }
        if (!here || at.file != a.path || at.line != top.line) {
            std::string text = m.text;
            if (here) {
                text = places.Shown(at.file) + ":" + std::to_string(at.line) + ": " + text;
                related.push_back({{"location", places.Location(at)}, {"message", m.text}});
            }
            add(a.uri, top, text);
        }
    }
    return out;
}

Json Definition(const Analysis& a, int line, int character, Encoding encoding) {
    const Hit hit = NameAt(a, line, character, encoding);
    if (hit.name == nullptr || hit.name->defined.line <= 0 || hit.name->defined.file.empty()) return nullptr;
    Places places(a, encoding);
    return places.Location(hit.name->defined);
}

Json References(const Analysis& a, int line, int character, bool withDefinition, Encoding encoding) {
    const Hit hit = NameAt(a, line, character, encoding);
    Json out = Json::array();
    if (hit.name == nullptr) return out;
    Places places(a, encoding);
    const Name& n = *hit.name;
    if (withDefinition && n.defined.line > 0 && !n.defined.file.empty()) out.push_back(places.Location(n.defined));
    for (const Place& use : n.uses)
        if (use.line > 0 && !use.file.empty()) out.push_back(places.Location(use));
    return out;
}

Json Hover(const Analysis& a, int line, int character, Encoding encoding) {
    Places places(a, encoding);
    const Hit hit = NameAt(a, line, character, encoding);
    std::string text;
    if (hit.name != nullptr) {
        const Name& n = *hit.name;
        text = std::string(Word(n.kind)) + " `" + n.name + "`";
        const std::string value = ValueText(n);
        if (!value.empty()) text += n.kind == Name::Kind::kMacro ? " `" + value + "`" : " = `" + value + "`";
        if (n.defined.line > 0 && !n.defined.file.empty())
            text += "\n\ndefined in " + places.Shown(n.defined.file) + ", line " + std::to_string(n.defined.line);
    }
    // What the line put in the image.
    std::size_t pieces = 0;
    std::string bytes;
    for (const LineBytes& l : a.result.lines) {
        if (l.line != line + 1 || l.file != a.path || l.bytes.empty()) continue;
        if (++pieces > kHoverLines) continue;
        bytes += (bytes.empty() ? "" : "  \n") + std::string("`") + Hex(l.address, 8) + "`:";
        for (std::uint8_t b : l.bytes) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", b);
            bytes += hex;
        }
    }
    if (pieces > kHoverLines) bytes += "  \nand " + std::to_string(pieces - kHoverLines) + " more";
    if (!bytes.empty()) text += (text.empty() ? "" : "\n\n---\n\n") + bytes;
    if (text.empty()) return nullptr;
    Json out{{"contents", {{"kind", "markdown"}, {"value", text}}}};
    if (hit.place != nullptr) out["range"] = places.Range(*hit.place);
    return out;
}

Json Completion(const Analysis* a, Syntax syntax) {
    static const Json defaultWords = WordItems(Syntax::kDefault), gnuWords = WordItems(Syntax::kGnu);
    Json items = syntax == Syntax::kGnu ? gnuWords : defaultWords;
    if (a != nullptr) {
        std::set<std::string> seen;
        for (const Name& n : a->result.names) {
            if (n.name.empty() || std::isdigit(static_cast<unsigned char>(n.name[0])) || n.kind == Name::Kind::kFile ||
                !seen.insert(n.name).second)
                continue;
            const int kind = n.kind == Name::Kind::kLabel   ? kItemReference
                             : n.kind == Name::Kind::kMacro ? kItemFunction
                             : n.kind == Name::Kind::kSection ? kItemModule
                                                              : kItemConstant;
            std::string detail(Word(n.kind));
            const std::string value = ValueText(n);
            if (!value.empty()) detail += (n.kind == Name::Kind::kMacro ? " " : " = ") + value;
            items.push_back({{"label", n.name}, {"kind", kind}, {"detail", detail}});
        }
    }
    return Json{{"isIncomplete", false}, {"items", std::move(items)}};
}

Json Symbols(const Analysis& a, Encoding encoding) {
    Places places(a, encoding);
    std::vector<const Name*> defined;
    for (const Name& n : a.result.names)
        if (n.defined.file == a.path && n.defined.line > 0 && n.kind != Name::Kind::kFile && !n.name.empty() &&
            !std::isdigit(static_cast<unsigned char>(n.name[0])))
            defined.push_back(&n);
    std::stable_sort(defined.begin(), defined.end(),
                     [](const Name* x, const Name* y) { return x->defined.line < y->defined.line; });
    Json out = Json::array();
    for (const Name* n : defined) {
        const int kind = n->kind == Name::Kind::kLabel   ? kSymFunction
                         : n->kind == Name::Kind::kMacro ? kSymMethod
                         : n->kind == Name::Kind::kSection ? kSymModule
                                                           : kSymConstant;
        Place line = n->defined;
        line.column = line.columnEnd = -1;
        Json symbol{{"name", n->name}, {"kind", kind}, {"range", places.Range(line)},
                    {"selectionRange", places.Range(n->defined)}};
        const std::string value = ValueText(*n);
        symbol["detail"] = value.empty() ? std::string(Word(n->kind)) : value;
        out.push_back(std::move(symbol));
    }
    return out;
}

}  // namespace tarvo::lsp
