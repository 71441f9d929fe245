#include "gnu/gnu_source.h"

#include <array>

#include "gnu/gnu_expr.h"

namespace tarvo::gnu {

struct Source::Frame {
    // A file.
    bool file = false;
    std::string text, path;
    std::size_t pos = 0;
    // GNU as' two places: the physical line, and the logical one that line
    // markers and .file set. A message names the logical place once a
    // numbered marker has given it a line; next is the place it names.
    Loc next;
    std::uint32_t physical = 0, logical = 0;
    int shift = 0;  // a line's physical number less the number next gives it
    bool numbered = false;
    bool inComment = false;   // inside /* */ at the end of the last line
    std::vector<Line> pending;
    std::size_t taken = 0;
    // A body.
    Expansion e;
    std::uint64_t round = 0;
    std::size_t line = 0;
    std::uint32_t call = 0;  // calls_ index of this expansion
};

Source::Source(std::vector<std::string>& names) : names_(names) {}
Source::~Source() = default;

void Source::Stop() { frames_.clear(); }

std::uint32_t Source::NameIndex(std::string_view name) {
    for (std::size_t i = names_.size(); i-- > 0;)
        if (names_[i] == name) return static_cast<std::uint32_t>(i);
    names_.emplace_back(name);
    return static_cast<std::uint32_t>(names_.size() - 1);
}

void Source::PushFile(std::string text, const std::string& path) {
    auto f = std::make_unique<Frame>();
    f->file = true;
    f->text = std::move(text);
    f->path = path;
    f->physical = f->logical = NameIndex(path);
    f->next = {f->physical, 1};
    frames_.push_back(std::move(f));
}

void Source::PushBody(Expansion e) {
    if (e.rounds == 0 || e.body->lines.empty()) return;
    auto f = std::make_unique<Frame>();
    f->call = static_cast<std::uint32_t>(calls_.size());
    calls_.push_back({e.call, NameIndex(e.name)});
    f->e = std::move(e);
    frames_.push_back(std::move(f));
}

std::uint32_t Source::NameInForce() const {
    for (auto f = frames_.rbegin(); f != frames_.rend(); ++f)
        if ((*f)->file) return (*f)->logical;
    return 0;
}

std::size_t Source::FileDepth() const {
    std::size_t n = 0;
    for (const auto& f : frames_) n += f->file;
    return n;
}

std::size_t Source::MacroDepth() const {
    std::size_t n = 0;
    for (const auto& f : frames_) n += !f->file && f->e.macro;
    return n;
}

std::string Source::CurrentPath() const {
    for (auto f = frames_.rbegin(); f != frames_.rend(); ++f)
        if ((*f)->file) return (*f)->path;
    return {};
}

void Source::SetFileName(std::string_view name) {
    for (auto f = frames_.rbegin(); f != frames_.rend(); ++f) {
        if (!(*f)->file) continue;
        (*f)->logical = NameIndex(name);
        if ((*f)->numbered) (*f)->next.file = (*f)->logical;
        return;
    }
}

bool Source::TakeOpenEndSlow(Loc& loc) {
    loc = openEnds_.front();
    openEnds_.erase(openEnds_.begin());
    return true;
}

std::size_t Source::ExitMacro() {
    while (!frames_.empty() && !frames_.back()->file) {
        const bool macro = frames_.back()->e.macro;
        const std::size_t depth = frames_.back()->e.conditions;
        frames_.pop_back();
        if (macro) return depth;
    }
    return std::string::npos;
}

namespace {

// A line marker of the C preprocessor: # LINE ["FILE" [FLAGS]]. named: a
// file was given; returning: flag 2 was given (back from an include).
bool Marker(std::string_view line, int& number, std::string_view& file, bool& named, bool& returning) {
    std::size_t i = 1;
    auto blanks = [&] {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    };
    blanks();
    const std::size_t digits = i;
    number = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9' && number < 100000000)
        number = number * 10 + (line[i++] - '0');
    if (i == digits) return false;
    const std::size_t afterNumber = i;
    blanks();
    returning = false;
    named = i < line.size();
    // The file name may be left out: the line number alone.
    if (!named) return number > 0;
    if (i == afterNumber || line[i] != '"') return false;
    const std::size_t end = line.find('"', i + 1);
    if (end == std::string_view::npos) return false;
    file = line.substr(i + 1, end - i - 1);
    returning = false;
    for (i = end + 1; i < line.size();) {
        blanks();
        const std::size_t start = i;
        int flag = 0;
        while (i < line.size() && line[i] >= '0' && line[i] <= '9' && flag < 10) flag = flag * 10 + (line[i++] - '0');
        if (i == start) break;
        returning = returning || flag == 2;
    }
    return true;
}

constexpr auto kLineStops = [] {
    std::array<bool, 256> t{};
    for (unsigned char c : std::string_view("\n\"'/#;")) t[c] = true;
    return t;
}();

bool Blank(std::string_view s) {
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\f' && c != '\v') return false;
    return true;
}

}  // namespace

bool Source::FromFile(Frame& f, Stmt& out) {
    while (f.taken == f.pending.size()) {
        f.pending.clear();
        f.taken = 0;
        if (f.pos >= f.text.size()) return false;
        // One scan finds the end of the line, or the first character that
        // needs the careful reading below; most lines have none.
        std::size_t stop = f.pos;
        const std::size_t size = f.text.size();
        const char* text = f.text.data();
        while (stop < size && !kLineStops[static_cast<unsigned char>(text[stop])]) ++stop;
        const bool plain = !f.inComment && (stop == size || text[stop] == '\n') && (stop == f.pos || text[f.pos] != '#');
        std::size_t eol = stop < size && text[stop] != '\n' ? f.text.find('\n', stop) : stop;
        if (eol == std::string::npos) eol = size;
        const std::string_view line(text + f.pos, eol - f.pos);
        const Loc loc = f.next;
        ++f.next.line;
        // GNU as finds the missing line end when it reads past the last
        // whole line, and names that line (0: the file).
        if (eol == size && !line.empty()) openEnds_.push_back({loc.file, loc.line - 1});
        f.pos = eol + 1;
        if (!f.inComment && !line.empty() && line[0] == '#') {
            int number = 0;
            std::string_view file;
            bool named = false, returning = false;
            if (!Marker(line, number, file, named, returning)) continue;
            if (number > 0) {
                // The next line is line number of file (of the same file
                // when the marker names none).
                if (named) f.logical = NameIndex(file);
                f.shift = loc.line + f.shift + 1 - number;
                f.next = {f.logical, number};
                f.numbered = true;
            } else if (file.empty() && returning) {
                // GCC's end of an inline-asm block: the file's own place again.
                f.logical = f.physical;
                f.next = {f.physical, loc.line + f.shift + 1};
                f.shift = 0;
                f.numbered = true;
            } else {
                // The name alone; the line counts on.
                f.logical = NameIndex(file);
                if (f.numbered) f.next.file = f.logical;
            }
            continue;
        }
        if (plain) {
            if (Blank(line)) continue;
            out = {line, loc, false};
            return true;
        }
        std::string cur;
        auto push = [&] {
            if (!Blank(cur)) f.pending.push_back({std::move(cur), loc});
            cur.clear();
        };
        for (std::size_t i = 0; i < line.size();) {
            const char c = line[i];
            if (f.inComment) {
                if (c == '*' && i + 1 < line.size() && line[i + 1] == '/') {
                    f.inComment = false;
                    cur += ' ';
                    i += 2;
                } else {
                    ++i;
                }
                continue;
            }
            if (c == '"') {
                std::size_t j = i + 1;
                while (j < line.size() && line[j] != '"') j += line[j] == '\\' ? 2 : 1;
                j = std::min(j + 1, line.size());
                cur.append(line.substr(i, j - i));
                i = j;
            } else if (c == '\'') {
                std::int64_t v = 0;
                const std::size_t n = CharConstant(line.substr(i + 1), v);
                cur.append(line.substr(i, 1 + n));
                i += 1 + n;
            } else if (c == '/' && i + 1 < line.size() && line[i + 1] == '*') {
                f.inComment = true;
                i += 2;
            } else if (c == '#') {
                break;
            } else if (c == ';') {
                push();
                ++i;
            } else {
                cur += c;
                ++i;
            }
        }
        push();
    }
    const Line& l = f.pending[f.taken++];
    out = {l.text, l.loc, false};
    return true;
}

bool Source::Next(Stmt& out) {
    while (!frames_.empty()) {
        Frame& f = *frames_.back();
        if (f.file) {
            if (FromFile(f, out)) return true;
            frames_.pop_back();
            continue;
        }
        if (f.line == f.e.body->lines.size()) {
            f.line = 0;
            if (++f.round >= f.e.rounds) {
                frames_.pop_back();
                continue;
            }
        }
        // Copied: an .exitm may drop the body while its statement is read.
        const Line& s = f.e.body->lines[f.line++];
        if (f.e.names.empty() && !f.e.macro) {
            buffer_ = s.text;
        } else {
            const auto& values = f.e.values.size() == 1 ? f.e.values[0] : f.e.values[f.round];
            Substitute(s.text, f.e.names, values, f.e.number, f.e.macro, buffer_);
        }
        out = {buffer_, {s.loc.file, s.loc.line, f.call}, true};
        return true;
    }
    return false;
}

void Substitute(std::string_view text, const std::vector<std::string>& names, const std::vector<std::string>& values,
                std::string_view number, bool macro, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[i + 1];
        if (macro && c == '@') {
            out += number;
            ++i;
            continue;
        }
        if (c == '(' && i + 2 < text.size() && text[i + 2] == ')') {
            i += 2;
            continue;
        }
        std::size_t end = i + 1;
        while (end < text.size() && IsNameChar(text[end]) && text[end] != '.' && text[end] != '$') ++end;
        const std::string_view name = text.substr(i + 1, end - i - 1);
        std::size_t k = 0;
        while (k < names.size() && names[k] != name) ++k;
        if (name.empty() || k == names.size()) {
            out += '\\';
            continue;
        }
        out += values[k];
        i = end - 1;
    }
}

}  // namespace tarvo::gnu
