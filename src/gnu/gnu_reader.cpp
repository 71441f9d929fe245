// Statements into items: labels, assignments, directives, macro calls and
// recording, repeats, conditions, includes, sections and data.
#include <algorithm>
#include <cstring>

#include "directives/compiler_line.h"
#include "gnu/gnu_core.h"
#include "messages.h"

namespace tarvo::gnu {

namespace {

struct Argument {
    std::string_view text;
    std::size_t start;  // where it begins in the text, for a vararg's rest
};

// Arguments of a macro call or an .irp list: separated by commas or
// blanks (blanks around an operator do not end one); an empty one between
// commas.
std::vector<Argument> SplitArguments(std::string_view rest) {
    std::vector<Argument> args;
    std::size_t i = 0;
    auto blanks = [&] {
        while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t')) ++i;
    };
    while (true) {
        blanks();
        if (i >= rest.size()) break;
        const std::size_t start = i;
        if (rest[i] == ',') {
            args.push_back({{}, start});
            ++i;
            continue;
        }
        int depth = 0;
        while (i < rest.size()) {
            const char c = rest[i];
            if (c == '"') {
                for (++i; i < rest.size() && rest[i] != '"'; ++i)
                    if (rest[i] == '\\') ++i;
                ++i;
                continue;
            }
            if (c == '\'') {
                std::int64_t v = 0;
                i += 1 + CharConstant(rest.substr(i + 1), v);
                continue;
            }
            if (c == '(') ++depth;
            if (c == ')') --depth;
            if (depth <= 0 && (c == ',' || c == ' ' || c == '\t')) {
                // Blanks around an operator do not end the argument.
                std::size_t j = i;
                while (j < rest.size() && (rest[j] == ' ' || rest[j] == '\t')) ++j;
                if (c != ',' && j < rest.size() && j > i && std::strchr("+-*/%&|^<>=!", rest[j]) != nullptr &&
                    !(rest[j] == '-' && j + 1 < rest.size() && rest[j + 1] != ' ')) {
                    i = j + 1;
                    while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t')) ++i;
                    continue;
                }
                if (c != ',' && i > start && std::strchr("+-*/%&|^<>=!", rest[i - 1]) != nullptr) {
                    ++i;
                    continue;
                }
                break;
            }
            ++i;
        }
        args.push_back({Trim(rest.substr(start, i - start)), start});
        blanks();
        if (i < rest.size() && rest[i] == ',') ++i;
    }
    return args;
}

}  // namespace

namespace {

// A section whose name makes it one of no bytes.
bool NoBitsByName(std::string_view name) {
    for (std::string_view base : {".bss", ".sbss", ".tbss", ".zbss"})
        if (name == base || (name.size() > base.size() && name.starts_with(base) && name[base.size()] == '.'))
            return true;
    return false;
}

}  // namespace

std::size_t Assembler::SectionNamed(std::string_view name) {
    for (std::size_t i = 0; i < sections_.size(); ++i)
        if (sections_[i].name == name) return i;
    Section s(name);
    s.alloc = false;
    auto implied = [&](std::string_view base) {
        return name == base || (name.size() > base.size() && name.substr(0, base.size() + 1) == std::string(base) + ".");
    };
    // The names ELF and the V810 port give flags to, as GNU as knows them
    // (all allocated; w: writable, x: code).
    struct Implied {
        std::string_view base;
        bool write, exec;
    };
    static constexpr Implied kLoaded[] = {
        {".text", false, true},        {".data", true, false},       {".rodata", false, false},
        {".bss", true, false},         {".sdata", true, false},      {".sbss", true, false},
        {".tdata", true, false},       {".tbss", true, false},       {".zdata", true, false},
        {".zbss", true, false},        {".rosdata", false, false},   {".rozdata", false, false},
        {".data1", true, false},       {".rodata1", false, false},   {".init", false, true},
        {".fini", false, true},        {".ctors", true, false},      {".dtors", true, false},
        {".init_array", true, false},  {".fini_array", true, false}, {".preinit_array", true, false}};
    for (const Implied& k : kLoaded) {
        if (!implied(k.base)) continue;
        s.alloc = true;
        s.write = k.write;
        s.exec = k.exec;
    }
    s.alloc = s.alloc && name != ".";
    s.nobits = NoBitsByName(name);
    sections_.push_back(std::move(s));
    off_.push_back(0);
    region_.push_back(0);
    return sections_.size() - 1;
}

void Assembler::Switch(std::size_t sec) {
    if (sections_[sec].appeared < 0) sections_[sec].appeared = appearances_++;
    if (sec == readSection_) return;
    prevSection_ = readSection_;
    readSection_ = sec;
    Item it{IK::kSection};
    it.a = static_cast<std::uint32_t>(sec);
    Add(std::move(it));
}

void Assembler::DefineLabel(std::string_view name, const Stmt& st) {
    std::string key(name);
    bool local = true;
    for (char c : name) local = local && c >= '0' && c <= '9';
    if (local) key = "\x01" + key + "." + std::to_string(++localCount_[key]);
    const int i = SymIndex(key);
    Sym& s = syms_[static_cast<std::size_t>(i)];
    if (s.defined) {
        Diag(Severity::kError, st.loc, msg::kGnuRedefined, key.c_str());
        return;
    }
    s.label = true;
    s.at = st.loc;
    Item it{IK::kLabel};
    it.a = static_cast<std::uint32_t>(i);
    it.loc = st.loc;
    Add(std::move(it));
}

void Assembler::Set(std::string_view name, std::string_view expr, const Stmt& st, bool equiv) {
    name = Trim(name);
    bool valid = !name.empty() && !(name[0] >= '0' && name[0] <= '9');
    for (char c : name) valid = valid && IsNameChar(c) && c != '\x01';
    if (!valid) {
        Diag(Severity::kError, st.loc, msg::kGnuBadExpression, std::string(name).c_str());
        return;
    }
    const int i = SymIndex(name);
    // Only a name .set, .equ or = gave a value may take another.
    Sym& s = syms_[static_cast<std::size_t>(i)];
    if ((equiv && s.defined) || s.label || s.fixed) {
        Diag(Severity::kError, st.loc, msg::kGnuRedefined, std::string(name).c_str());
        return;
    }
    s.fixed = equiv;
    s.assigned = true;
    s.at = st.loc;
    // A register's name (or a system register's, a condition's) that no
    // symbol holds, or a name that itself stands for one: NAME stands for
    // that name, as GNU as equates it.
    const std::string_view target = Trim(expr);
    if (PlainName(target)) {
        const int t = symIndex_.Find(target, syms_);
        const Sym* ts = t >= 0 ? &syms_[static_cast<std::size_t>(t)] : nullptr;
        const bool alias = ts != nullptr && ts->defined && ts->alias >= 0;
        if (alias || ((ts == nullptr || !ts->defined) && RegisterLike(target))) {
            Item it{IK::kSet};
            it.a = static_cast<std::uint32_t>(i);
            it.n = SymIndex(target);
            it.width = 1;
            it.loc = st.loc;
            Add(std::move(it));
            return;
        }
    }
    const std::string text = Localize(target);
    Value v;
    std::string bad;
    dot = {off_[cur_], static_cast<int>(cur_)};
    const ExprStatus status = Evaluate(text, *this, v, &bad);
    if (status == ExprStatus::kSyntax || status == ExprStatus::kDivZero) {
        Diag(Severity::kError, st.loc, status == ExprStatus::kDivZero ? msg::kGnuDivZero : msg::kGnuBadExpression,
             bad.c_str());
        return;
    }
    Item it{IK::kSet};
    it.a = static_cast<std::uint32_t>(i);
    it.loc = st.loc;
    SetText(it, text);
    Add(std::move(it));
}

// The names a statement begins with, then its directive, instruction or
// macro call.
void Assembler::Statement(const Stmt& st) {
    std::string_view s = Trim(st.text);
    auto word = [](std::string_view t) {
        std::size_t i = 0;
        while (i < t.size() && t[i] != ' ' && t[i] != '\t') ++i;
        return t.substr(0, i);
    };
    // Labels first; a statement that only records or skips takes none. The
    // run of name characters that ends the loop serves NAME = EXPR below.
    std::string_view labels[8];
    std::vector<std::string_view> moreLabels;
    std::size_t nLabels = 0, nameLength = 0;
    for (;;) {
        std::size_t i = 0;
        while (i < s.size() && IsNameChar(s[i])) ++i;
        nameLength = i;
        if (i == 0 || i >= s.size() || s[i] != ':') break;
        if (nLabels < std::size(labels)) labels[nLabels++] = s.substr(0, i);
        else moreLabels.push_back(s.substr(0, i));
        s = Trim(s.substr(i + 1));
    }
    const std::string_view first = word(s);
    // Lower case in place for the usual short word.
    char folded[32];
    std::string longer;
    std::string_view lower;
    if (first.size() <= sizeof folded) {
        for (std::size_t i = 0; i < first.size(); ++i)
            folded[i] = FoldCase(first[i]);
        lower = {folded, first.size()};
    } else {
        longer = Folded(first);
        lower = longer;
    }
    const std::string_view rest = Trim(s.substr(first.size()));
    if (rec_) return Record(lower, st);
    // Conditions are read where lines are skipped too; the other block
    // directives and the rest only where they are not.
    const DirectiveEntry* d = !first.empty() && first.front() == '.' ? FindDirective(lower) : nullptr;
    const bool skipping = Skipping();
    if (d != nullptr && (d->kind == DirectiveEntry::kCondition || (d->kind == DirectiveEntry::kBlock && !skipping)))
        return (this->*d->handler)(lower, rest, st, d->arg);
    if (skipping) return;
    if (keepLines_) {
        const std::string_view shown = Trim(st.text);
        lines_.push_back({st.loc, static_cast<std::uint32_t>(items_.size()), lineTexts_.size(),
                          static_cast<std::uint32_t>(shown.size())});
        lineTexts_.append(shown);
    }
    for (std::size_t k = 0; k < nLabels; ++k) DefineLabel(labels[k], st);
    for (std::string_view l : moreLabels) DefineLabel(l, st);
    if (s.empty()) return;
    // NAME = EXPR
    {
        const std::size_t i = nameLength;
        std::size_t j = i;
        while (j < s.size() && (s[j] == ' ' || s[j] == '\t')) ++j;
        if (i > 0 && j < s.size() && s[j] == '=' && (j + 1 == s.size() || s[j + 1] != '=')) {
            Set(s.substr(0, i), s.substr(j + 1), st, false);
            return;
        }
    }
    if (first.front() == '.') {
        if (d != nullptr) return (this->*d->handler)(lower, rest, st, d->arg);
        auto m = macros_.find(lower);
        if (m != macros_.end()) return Call(*m->second, rest, st);
        Diag(Severity::kError, st.loc, msg::kGnuUnknownDirective, std::string(lower).c_str());
        return;
    }
    if (!macros_.empty()) {
        auto m = macros_.find(lower);
        if (m != macros_.end()) {
            Call(*m->second, rest, st);
            return;
        }
    }
    Instruction(first, rest, st);
}

// A statement while a macro or repeat body is recorded: nested openers and
// closers are counted; the closer of the body ends the recording.
void Assembler::Record(std::string_view word, const Stmt& st) {
    const bool macro = rec_->kind == Recording::kMacro;
    if (macro ? word == ".macro" : (word == ".rept" || word == ".irp" || word == ".irpc")) ++rec_->depth;
    if (word != (macro ? ".endm" : ".endr") || --rec_->depth != 0) {
        // A line of the file keeps the name in force there (a marker's or
        // .file's) with its line, as GNU as marks a body.
        Loc at = st.loc;
        if (!st.produced) at.file = source_.NameInForce();
        rec_->body->lines.push_back({std::string(st.text), at});
        return;
    }
    std::unique_ptr<Recording> r = std::move(rec_);
    if (r->kind == Recording::kMacro) {
        if (r->macro) {
            r->macro->body = r->body;
            r->macro->at = r->loc;
            macros_[Folded(r->macro->name)] = r->macro;
        }
        return;
    }
    Source::Expansion e;
    e.body = r->body;
    e.call = r->loc;
    e.name = r->kind == Recording::kRept ? ".rept" : r->kind == Recording::kIrp ? ".irp" : ".irpc";
    if (r->kind == Recording::kRept) {
        e.rounds = r->count;
    } else {
        e.names.push_back(r->name);
        for (const std::string& item : r->items) e.values.push_back({item});
        if (e.values.empty()) e.values.push_back({""});
        e.rounds = e.values.size();
    }
    source_.PushBody(std::move(e));
}

bool Assembler::Skipping() const { return !conds_.empty() && !conds_.back().active; }

void Assembler::OpenCondition(bool value, const Stmt& st) {
    if (conds_.size() >= kMaxConditions) {
        Diag(Severity::kError, st.loc, msg::kGnuNoEnd, ".endif");
        return;
    }
    const bool skipping = Skipping();
    conds_.push_back({!skipping && value, !skipping && value, !skipping, false, st.loc, {}});
}

// .if, .ifeq, .ifne, .iflt, .ifle, .ifgt, .ifge (test 0-6) of a value.
void Assembler::IfValue(std::string_view, std::string_view rest, const Stmt& st, int test) {
    std::int64_t v = 0;
    if (!Skipping() && !Now(rest, st.loc, v)) v = 0;
    const bool values[] = {v != 0, v == 0, v != 0, v < 0, v <= 0, v > 0, v >= 0};
    OpenCondition(values[test], st);
}

void Assembler::IfDefined(std::string_view, std::string_view rest, const Stmt& st, int defined) {
    const int found = symIndex_.Find(Trim(rest), syms_);
    OpenCondition((found >= 0 && syms_[static_cast<std::size_t>(found)].defined) == (defined != 0), st);
}

// .ifc and .ifnc: two strings, each quoted with ' or up to the comma.
void Assembler::IfSame(std::string_view, std::string_view rest, const Stmt& st, int same) {
    std::string_view r = rest;
    auto take = [&r](bool first) {
        r = Trim(r);
        std::string_view s;
        if (!r.empty() && r.front() == '\'') {
            const std::size_t end = r.find('\'', 1);
            s = r.substr(1, end == std::string_view::npos ? std::string_view::npos : end - 1);
            r = end == std::string_view::npos ? std::string_view{} : r.substr(end + 1);
        } else {
            const std::size_t comma = first ? r.find(',') : std::string_view::npos;
            s = Trim(r.substr(0, comma));
            r = comma == std::string_view::npos ? std::string_view{} : r.substr(comma);
        }
        return s;
    };
    const std::string_view a = take(true);
    r = Trim(r);
    if (!r.empty() && r.front() == ',') r.remove_prefix(1);
    const std::string_view b = take(false);
    OpenCondition((a == b) == (same != 0), st);
}

// .ifeqs and .ifnes: two strings in double quotes, with escapes.
void Assembler::IfStrings(std::string_view, std::string_view rest, const Stmt& st, int same) {
    std::string x, y;
    std::string_view after;
    bool ok = ReadString(rest, x, &after);
    after = Trim(after);
    ok = ok && !after.empty() && after.front() == ',' && ReadString(after.substr(1), y);
    if (!ok && !Skipping()) Diag(Severity::kError, st.loc, msg::kGnuExpected, "two quoted strings");
    OpenCondition(ok && (x == y) == (same != 0), st);
}

void Assembler::IfBlank(std::string_view, std::string_view rest, const Stmt& st, int blank) {
    OpenCondition(Trim(rest).empty() == (blank != 0), st);
}

// .else (0), .elseif (1) and .endif (2).
void Assembler::ElseDirective(std::string_view word, std::string_view rest, const Stmt& st, int which) {
    if (conds_.empty()) {
        Diag(Severity::kError, st.loc, msg::kGnuUnbalanced, std::string(word).c_str());
        return;
    }
    Cond& c = conds_.back();
    if (which != 2 && c.sawElse && c.parentActive) Diag(Severity::kError, st.loc, "%s", msg::kGnuDuplicateElse);
    if (which == 2) {
        conds_.pop_back();
    } else if (which == 0) {
        c.active = c.parentActive && !c.taken;
        c.taken = true;
        c.sawElse = true;
        c.elseAt = st.loc;
    } else {
        std::int64_t v = 0;
        const bool test = c.parentActive && !c.taken;
        c.active = test && Now(rest, st.loc, v) && v != 0;
        c.taken = c.taken || c.active;
    }
}

// .rept N, .irp S, V..., .irpc S, CHARS: the body is recorded up to .endr.
void Assembler::RepeatDirective(std::string_view, std::string_view rest, const Stmt& st, int kind) {
    rec_ = std::make_unique<Recording>();
    rec_->loc = st.loc;
    rec_->kind = static_cast<Recording::Kind>(kind);
    if (kind == Recording::kRept) {
        std::int64_t n = 0;
        if (Now(rest, st.loc, n)) rec_->count = n > 0 ? static_cast<std::uint64_t>(n) : 0;
        return;
    }
    // The symbol, then the values as a macro call's arguments are read.
    const std::vector<Argument> parts = SplitArguments(rest);
    rec_->name = parts.empty() ? std::string() : std::string(parts[0].text);
    for (std::size_t k = 1; k < parts.size(); ++k) {
        if (kind == Recording::kIrp) {
            rec_->items.emplace_back(parts[k].text);
            continue;
        }
        for (char c : parts[k].text) rec_->items.emplace_back(1, c);
    }
}

// .endm or .endr with nothing recorded.
void Assembler::Unopened(std::string_view word, std::string_view, const Stmt& st, int) {
    Diag(Severity::kError, st.loc, msg::kGnuUnbalanced, std::string(word).c_str());
}

void Assembler::ExitDirective(std::string_view, std::string_view, const Stmt& st, int) {
    if (source_.MacroDepth() == 0) {
        Diag(Severity::kError, st.loc, msg::kGnuUnbalanced, ".exitm");
        return;
    }
    const std::size_t depth = source_.ExitMacro();
    if (depth != std::string::npos && depth < conds_.size()) conds_.resize(depth);
}

void Assembler::MacroDirective(std::string_view, std::string_view rest, const Stmt& st, int) {
    DefineMacro(rest, st);
}

void Assembler::DefineMacro(std::string_view rest, const Stmt& st) {
    rec_ = std::make_unique<Recording>();
    rec_->kind = Recording::kMacro;
    rec_->loc = st.loc;
    std::size_t i = 0;
    while (i < rest.size() && rest[i] != ' ' && rest[i] != '\t' && rest[i] != ',') ++i;
    auto m = std::make_shared<Macro>();
    m->name = std::string(rest.substr(0, i));
    std::string_view params = Trim(rest.substr(i));
    if (!params.empty() && params.front() == ',') params.remove_prefix(1);
    // Parameters are separated by commas or blanks.
    std::string spaced(params);
    for (std::size_t k = 0; k < spaced.size(); ++k)
        if (spaced[k] == '\t') spaced[k] = ' ';
    std::vector<std::string> pieces;
    for (std::string_view part : SplitCommas(spaced)) {
        // "a b" inside one comma piece: two parameters, unless around '='.
        std::string p(part);
        std::size_t at = 0;
        while (at < p.size()) {
            std::size_t end = p.find(' ', at);
            if (end == std::string::npos) end = p.size();
            std::string piece = p.substr(at, end - at);
            at = end + 1;
            if (piece.empty()) continue;
            if (!pieces.empty() && (piece.front() == '=' || (!pieces.back().empty() && pieces.back().back() == '=')))
                pieces.back() += piece;
            else
                pieces.push_back(piece);
        }
    }
    for (const std::string& piece : pieces) {
        Macro::Param p;
        std::string_view text = piece;
        const std::size_t eq = text.find('=');
        if (eq != std::string_view::npos) {
            p.value = std::string(Trim(text.substr(eq + 1)));
            text = Trim(text.substr(0, eq));
        }
        const std::size_t colon = text.find(':');
        if (colon != std::string_view::npos) {
            const std::string q = Folded(Trim(text.substr(colon + 1)));
            p.required = q == "req";
            p.vararg = q == "vararg";
            text = Trim(text.substr(0, colon));
        }
        p.name = std::string(text);
        m->params.push_back(std::move(p));
    }
    if (m->name.empty()) {
        Diag(Severity::kError, st.loc, msg::kGnuExpected, "a macro name");
        return;
    }
    if (macros_.count(Folded(m->name)) != 0) {
        Diag(Severity::kError, st.loc, msg::kGnuMacroTwice, m->name.c_str());
        return;  // the body is still read, and dropped
    }
    rec_->macro = std::move(m);
}

void Assembler::Call(const Macro& m, std::string_view rest, const Stmt& st) {
    if (source_.MacroDepth() >= kMaxMacroDepth) {
        // Once: every call under way is dropped, so that a macro calling
        // itself twice does not report at every branch of its tree.
        Diag(Severity::kError, st.loc, msg::kGnuMacroDepth, m.name.c_str());
        std::size_t depth = std::string::npos;
        for (std::size_t d; (d = source_.ExitMacro()) != std::string::npos;) depth = d;
        if (depth < conds_.size()) conds_.resize(depth);
        return;
    }
    const std::vector<Argument> args = SplitArguments(rest);
    std::vector<std::string> values(m.params.size());
    std::vector<bool> given(m.params.size());
    std::size_t positional = 0;
    for (std::size_t k = 0; k < args.size(); ++k) {
        std::string_view a = args[k].text;
        // NAME=VALUE gives a parameter by name.
        std::size_t n = 0;
        while (n < a.size() && IsNameChar(a[n])) ++n;
        if (n > 0 && n < a.size() && a[n] == '=' && (n + 1 == a.size() || a[n + 1] != '=')) {
            std::size_t p = 0;
            while (p < m.params.size() && m.params[p].name != a.substr(0, n)) ++p;
            if (p == m.params.size()) {
                Diag(Severity::kError, st.loc, msg::kGnuBadParam, std::string(a.substr(0, n)).c_str(), m.name.c_str());
                return;
            }
            values[p] = std::string(a.substr(n + 1));
            given[p] = true;
            continue;
        }
        if (positional >= m.params.size()) {
            Diag(Severity::kError, st.loc, msg::kGnuTooManyArgs, m.name.c_str());
            return;
        }
        if (m.params[positional].vararg) {
            values[positional] = std::string(Trim(rest.substr(args[k].start)));
            given[positional] = true;
            positional = m.params.size();
            break;
        }
        values[positional] = std::string(a);
        given[positional] = !a.empty();
        ++positional;
    }
    for (std::size_t p = 0; p < m.params.size(); ++p) {
        if (given[p]) continue;
        if (m.params[p].required) {
            Diag(Severity::kError, st.loc, msg::kGnuMissingArg, m.params[p].name.c_str(), m.name.c_str());
            return;
        }
        values[p] = m.params[p].value;
    }
    Source::Expansion e;
    e.body = m.body;
    e.macro = true;
    for (const Macro::Param& p : m.params) e.names.push_back(p.name);
    e.values.push_back(std::move(values));
    e.number = std::to_string(macroCount_++);
    e.conditions = conds_.size();
    e.call = st.loc;
    e.name = m.name;
    source_.PushBody(std::move(e));
}

// An include or incbin file, searched from the including file's folder as
// the default language searches; every file read is a dependency.
FilePtr Assembler::Open(const std::string& name, std::string& path, const Stmt& st) {
    ctx_.files.push_back(source_.CurrentPath());
    ctx_.file = static_cast<std::uint32_t>(ctx_.files.size() - 1);
    FilePtr f(OpenInclude(ctx_, name, path));
    ctx_.files.pop_back();
    FileId id;
    if (f && GetFileId(f.get(), id)) {
        // Reading standard output while writing it could chase its own output.
        if (ctx_.hasObjId && id == ctx_.objId) f.reset();
        else CheckInput(ctx_, id);
    }
    if (!f) {
        Diag(Severity::kError, st.loc, msg::kGnuCannotOpen, name.c_str());
        return f;
    }
    ctx_.files.push_back(path);
    return f;
}

void Assembler::Include(std::string_view, std::string_view rest, const Stmt& st, int) {
    std::string name;
    if (!ReadString(rest, name)) {
        Diag(Severity::kError, st.loc, msg::kGnuExpected, "a quoted file name");
        return;
    }
    if (source_.FileDepth() >= kMaxIncludeDepth) {
        Diag(Severity::kError, st.loc, msg::kGnuIncludeDepth, name.c_str());
        return;
    }
    std::string path;
    FilePtr f = Open(name, path, st);
    if (!f) return;
    source_.PushFile(ReadRest(f.get()), path);
}

void Assembler::Incbin(std::string_view, std::string_view rest, const Stmt& st, int) {
    std::string name;
    std::string_view after;
    if (!ReadString(rest, name, &after)) {
        Diag(Severity::kError, st.loc, msg::kGnuExpected, "a quoted file name");
        return;
    }
    std::int64_t skip = 0, count = -1;
    std::vector<std::string_view> parts = SplitCommas(after);
    if (!parts.empty() && !parts[0].empty()) {
        Diag(Severity::kError, st.loc, msg::kGnuExpected, "a comma");
        return;
    }
    if (parts.size() > 1 && !Now(parts[1], st.loc, skip)) return;
    if (parts.size() > 2 && !Now(parts[2], st.loc, count)) return;
    std::string path;
    FilePtr f = Open(name, path, st);
    if (!f) return;
    // A device that never ends is read only as far as any image could use.
    std::vector<std::uint8_t> data;
    std::uint8_t buffer[65536];
    for (std::size_t n; data.size() <= static_cast<std::size_t>(kMaxImage) &&
                        (n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0;)
        data.insert(data.end(), buffer, buffer + n);
    const auto size = static_cast<std::int64_t>(data.size());
    if (skip < 0 || skip > size || (count >= 0 && skip + count > size)) {
        Diag(Severity::kError, st.loc, msg::kGnuIncbinRange);
        return;
    }
    const std::int64_t take = count < 0 ? size - skip : count;
    Item it{IK::kBytes};
    it.loc = st.loc;
    it.a = static_cast<std::uint32_t>(pool_.size());
    it.b = static_cast<std::uint32_t>(take);
    pool_.insert(pool_.end(), data.begin() + skip, data.begin() + skip + take);
    Add(std::move(it));
}

void Assembler::SectionDirective(std::string_view, std::string_view rest, const Stmt& st, int push) {
    std::vector<std::string_view> parts = SplitCommas(rest);
    std::string name;
    if (parts.empty() || parts[0].empty()) {
        Diag(Severity::kError, st.loc, msg::kGnuExpected, "a section name");
        return;
    }
    if (!ReadString(parts[0], name)) name = std::string(parts[0]);
    const std::size_t sec = SectionNamed(name);
    // Flags count where the section first appears (a --section-start names it earlier).
    if (sections_[sec].appeared < 0 && parts.size() > 1) {
        std::string flags;
        if (!ReadString(parts[1], flags)) flags = std::string(parts[1]);
        Section& s = sections_[sec];
        s.alloc = flags.find('a') != std::string::npos;
        s.write = flags.find('w') != std::string::npos;
        s.exec = flags.find('x') != std::string::npos;
        // A type, when given, else the name's.
        if (parts.size() > 2) s.nobits = Folded(Trim(parts[2])) == "@nobits" || Folded(Trim(parts[2])) == "%nobits";
    }
    if (push) sectionStack_.push_back({readSection_, prevSection_});
    Switch(sec);
}

void Assembler::DataDirective(std::string_view, std::string_view rest, const Stmt& st, int width) {
    SplitCommas(rest, items_buf_);
    for (std::string_view item : items_buf_) {
        if (item.empty()) {
            Diag(Severity::kError, st.loc, msg::kGnuBadExpression, "");
            continue;
        }
        const Fn fn = TakeFunction(item);
        Item it{IK::kData};
        it.b = static_cast<std::uint32_t>(fn);
        it.width = static_cast<std::uint8_t>(width);
        it.loc = st.loc;
        std::string text = Localize(item);
        Value v;
        std::string bad;
        ExprStatus status;
        if (PlainName(text)) {
            // A name alone: found once, and kept by its index.
            it.n = SymIndex(text) + 1;
            status = ItemValue(it, v, nullptr);
            const Sym& s = syms_[static_cast<std::size_t>(it.n - 1)];
            moved = s.moves || v.sec != kAbsolute;
        } else {
            dot = {off_[cur_], static_cast<int>(cur_)};
            status = Evaluate(text, *this, v, &bad);
        }
        if (status == ExprStatus::kSyntax || status == ExprStatus::kDivZero) {
            Diag(Severity::kError, st.loc, status == ExprStatus::kDivZero ? msg::kGnuDivZero : msg::kGnuBadExpression,
                 bad.c_str());
            text.assign(1, '0');
        } else if (status == ExprStatus::kOk && !moved &&
                   (fn == Fn::kSdaoff || fn == Fn::kTdaoff || ApplyFn(fn, v.v, Mode::kNow, st.loc))) {
            // Known now: its bytes, and its message now, as GNU as gives it
            // (sdaoff() and tdaoff() of a number write the number).
            const int bits = static_cast<int>(width) * 8;
            if (bits < 64) {
                const std::int64_t low = -(std::int64_t{1} << (bits - 1)), high = (std::int64_t{1} << bits) - 1;
                if (v.v < low || v.v > high)
                    Diag(ctx_.set.strict ? Severity::kError : Severity::kWarning, st.loc, msg::kGnuCut,
                         static_cast<long long>(v.v), static_cast<long long>(low), static_cast<long long>(high),
                         static_cast<unsigned long long>(v.v & high));
            }
            Item bytes{IK::kBytes};
            bytes.loc = st.loc;
            bytes.a = static_cast<std::uint32_t>(pool_.size());
            bytes.b = width;
            for (int k = 0; k < width; ++k)
                pool_.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(v.v) >> (8 * k)));
            Add(std::move(bytes));
            continue;
        }
        SetText(it, text);
        Bind(it);
        Add(std::move(it));
    }
}

void Assembler::FloatDirective(std::string_view, std::string_view rest, const Stmt& st, int width) {
    for (std::string_view item : SplitCommas(rest)) {
        // GNU as' 0f and 0d prefixes, or a plain decimal number.
        if (item.size() > 2 && item[0] == '0' && std::strchr("fFdDrR", item[1]) != nullptr) item.remove_prefix(2);
        const std::string text(item);
        char* end = nullptr;
        const double v = std::strtod(text.c_str(), &end);
        if (text.empty() || end == nullptr || *end != '\0') {
            Diag(Severity::kError, st.loc, msg::kGnuBadExpression, text.c_str());
            continue;
        }
        std::uint8_t bytes[8];
        if (width == 4) {
            const float f = static_cast<float>(v);
            std::memcpy(bytes, &f, 4);
        } else {
            std::memcpy(bytes, &v, 8);
        }
        Item it{IK::kBytes};
        it.loc = st.loc;
        it.a = static_cast<std::uint32_t>(pool_.size());
        it.b = width;
        pool_.insert(pool_.end(), bytes, bytes + width);
        Add(std::move(it));
    }
}

// .uleb128 (0) and .sleb128 (1): each value in as many 7-bit groups as it
// takes. GCC's debug sections give differences of labels that relaxation may
// still change; those sections are in no image, so there a value not known
// yet is written as 0, and only a loaded section needs it now.
void Assembler::LebDirective(std::string_view, std::string_view rest, const Stmt& st, int sign) {
    const bool loaded = sections_[readSection_].alloc;
    for (std::string_view item : SplitCommas(rest)) {
        std::int64_t v = 0;
        if (!Now(item, st.loc, v, !loaded)) {
            if (loaded) continue;
            Value any;
            const ExprStatus status = Evaluate(Localize(item), *this, any, nullptr);
            if (status == ExprStatus::kSyntax || status == ExprStatus::kDivZero) {
                Now(item, st.loc, v);
                continue;
            }
            v = 0;
        }
        Item it{IK::kBytes};
        it.loc = st.loc;
        it.a = static_cast<std::uint32_t>(pool_.size());
        for (bool more = true; more;) {
            const auto group = static_cast<std::uint8_t>(v & 0x7F);
            if (sign) {
                v >>= 7;  // arithmetic: the sign stays
                more = !((v == 0 && !(group & 0x40)) || (v == -1 && (group & 0x40)));
            } else {
                v = static_cast<std::int64_t>(static_cast<std::uint64_t>(v) >> 7);
                more = v != 0;
            }
            pool_.push_back(more ? group | 0x80 : group);
        }
        it.b = static_cast<std::uint32_t>(pool_.size() - it.a);
        Add(std::move(it));
    }
}

void Assembler::StringDirective(std::string_view, std::string_view rest, const Stmt& st, int zero) {
    for (std::string_view item : SplitCommas(rest)) {
        std::string s;
        if (!ReadString(item, s)) {
            Diag(Severity::kError, st.loc, msg::kGnuExpected, "a quoted string");
            continue;
        }
        Item it{IK::kBytes};
        it.loc = st.loc;
        it.a = static_cast<std::uint32_t>(pool_.size());
        it.b = static_cast<std::uint32_t>(s.size() + zero);
        pool_.insert(pool_.end(), s.begin(), s.end());
        if (zero) pool_.push_back(0);
        Add(std::move(it));
    }
}

void Assembler::Align(std::int64_t bytes, std::string_view fill, const Stmt& st, std::string_view max) {
    if (bytes <= 0 || (bytes & (bytes - 1)) != 0 || bytes > (std::int64_t{1} << 30)) {
        Diag(Severity::kError, st.loc, msg::kGnuBadAlign);
        return;
    }
    std::int64_t f = 0, most = 0;
    if (!fill.empty() && !Now(fill, st.loc, f)) return;
    if (!max.empty() && (!Now(max, st.loc, most) || most <= 0)) return;
    Section& s = sections_[readSection_];
    s.align = std::max(s.align, bytes);
    Item it{IK::kAlign};
    it.loc = st.loc;
    it.n = bytes;
    it.a = static_cast<std::uint32_t>(f & 0xFF);
    it.b = static_cast<std::uint32_t>(std::min<std::int64_t>(most, UINT32_MAX));
    Add(std::move(it));
}

void Assembler::Space(std::int64_t count, std::int64_t value, std::int64_t size, const Stmt& st) {
    if (count <= 0) return;
    if (count > kMaxImage / std::max<std::int64_t>(size, 1)) {
        Diag(Severity::kError, st.loc, msg::kGnuBadSize, static_cast<long long>(count));
        return;
    }
    Item it{IK::kSpace};
    it.loc = st.loc;
    it.a = static_cast<std::uint32_t>(pool_.size());
    it.b = static_cast<std::uint32_t>(size);
    it.n = count;
    // The value's low four bytes, the rest zero, as GNU as fills.
    for (std::int64_t k = 0; k < size; ++k)
        pool_.push_back(k < 4 ? static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * k)) : 0);
    Add(std::move(it));
}

namespace {

// Where .comm and .lcomm (0) and the port's .scomm, .tcomm, .zcomm take room.
constexpr std::string_view kCommonSections[] = {".bss", ".sbss", ".tbss", ".zbss"};

}  // namespace

// NAME, SIZE[, ALIGN]: room under a label in a section of no bytes; the
// section being read stays, and .previous then names the room's section.
void Assembler::CommonDirective(std::string_view word, std::string_view rest, const Stmt& st, int area) {
    std::vector<std::string_view> args = SplitCommas(rest);
    Junk(args, 3, st);
    std::int64_t size = 0, align = 1;
    if (args.size() < 2 || args[0].empty()) {
        Diag(Severity::kError, st.loc, msg::kGnuExpected, "a name and a size");
        return;
    }
    if (!Now(args[1], st.loc, size)) return;
    if (size < 0) {
        Diag(Severity::kError, st.loc, msg::kGnuBadSize, static_cast<long long>(size));
        return;
    }
    if (args.size() > 2 && !args[2].empty() && !Now(args[2], st.loc, align)) return;
    if (align < 0 && area != 0) Diag(Severity::kWarning, st.loc, "%s", msg::kGnuNegativeAlign);
    if (align <= 0 && area != 0) align = 1;
    if (align == 0) align = 1;
    const std::size_t back = readSection_;
    // In a unit, .comm room is a common, which a linker script places by
    // *(COMMON), and which units share as ld merges commons: a weak name
    // stands for it (the first unit's room is used).
    const bool common = unit_ && word == ".comm";
    const std::size_t room = SectionNamed(common ? "COMMON" : kCommonSections[area]);
    if (common) {
        Section& s = sections_[room];
        s.alloc = s.nobits = s.write = true;
    }
    Switch(room);
    Align(align, {}, st);
    DefineLabel(args[0], st);
    if (common) {
        Sym& s = syms_[static_cast<std::size_t>(SymIndex(args[0]))];
        if (s.bind == link::InputSymbol::kLocal) s.bind = link::InputSymbol::kWeak;
    }
    Space(size, 0, 1, st);
    Switch(back);
    prevSection_ = area == 0 ? prevSection_ : room;
}

// Operands past the most a directive takes: GNU as' junk at the end of the
// line (what the directive read still takes effect).
void Assembler::Junk(const std::vector<std::string_view>& args, std::size_t most, const Stmt& st) {
    if (args.size() > most) Diag(Severity::kError, st.loc, msg::kGnuJunk, std::string(Trim(args[most])).c_str());
}

void Assembler::SpaceDirective(std::string_view, std::string_view rest, const Stmt& st, int noFill) {
    SplitCommas(rest, items_buf_);
    Junk(items_buf_, noFill ? 1 : 2, st);
    std::int64_t n = 0, v = 0;
    const std::string_view count = items_buf_.empty() ? std::string_view{} : items_buf_[0];
    const std::string_view fill = items_buf_.size() > 1 ? items_buf_[1] : std::string_view{};
    if (!Now(count, st.loc, n)) return;
    if (!noFill && !fill.empty() && !Now(fill, st.loc, v)) return;
    Space(n, v, 1, st);
}

void Assembler::FillDirective(std::string_view, std::string_view rest, const Stmt& st, int) {
    const std::vector<std::string_view> args = SplitCommas(rest);
    Junk(args, 3, st);
    std::int64_t r = 0, size = 1, v = 0;
    if (!Now(args.empty() ? std::string_view{} : args[0], st.loc, r)) return;
    if (args.size() > 1 && !args[1].empty() && !Now(args[1], st.loc, size)) return;
    if (args.size() > 2 && !args[2].empty() && !Now(args[2], st.loc, v)) return;
    if (size < 0 || size > 8) {
        Diag(Severity::kError, st.loc, msg::kGnuBadSize, static_cast<long long>(size));
        return;
    }
    Space(r, v, size, st);
}

// .align and .p2align take a power of 2 (as the V810 port reads .align),
// .balign the bytes.
void Assembler::AlignDirective(std::string_view, std::string_view rest, const Stmt& st, int bytes) {
    const std::vector<std::string_view> args = SplitCommas(rest);
    Junk(args, 3, st);
    auto arg = [&](std::size_t k) { return k < args.size() ? args[k] : std::string_view{}; };
    std::int64_t n = 0;
    if (!Now(arg(0), st.loc, n)) return;
    if (!bytes) {
        if (n < 0 || n > 30) {
            Diag(Severity::kError, st.loc, msg::kGnuBadAlign);
            return;
        }
        n = std::int64_t{1} << n;
    }
    Align(n, arg(1), st, arg(2));
}

// .org E[, F], and the port's .offset N: .org to a number, zero fill.
void Assembler::OrgDirective(std::string_view, std::string_view rest, const Stmt& st, int offset) {
    const std::vector<std::string_view> args = SplitCommas(rest);
    Junk(args, offset ? 1 : 2, st);
    std::int64_t f = 0, to = 0;
    Item it{IK::kOrg};
    it.loc = st.loc;
    if (offset) {
        if (!Now(args.empty() ? std::string_view{} : args[0], st.loc, to)) return;
        SetText(it, std::to_string(to));
    } else {
        if (args.size() > 1 && !args[1].empty() && !Now(args[1], st.loc, f)) return;
        SetText(it, Localize(args.empty() ? std::string_view{} : args[0]));
    }
    it.a = static_cast<std::uint32_t>(f & 0xFF);
    hasOrg_ = true;
    Add(std::move(it));
}

void Assembler::SetDirective(std::string_view, std::string_view rest, const Stmt& st, int equiv) {
    const std::size_t comma = rest.find(',');
    if (comma == std::string_view::npos) {
        Diag(Severity::kError, st.loc, msg::kGnuExpected, "a comma after the name");
        return;
    }
    Set(rest.substr(0, comma), rest.substr(comma + 1), st, equiv != 0);
}

// .text, .data, .bss (subsection 1: GNU as takes a subsection number after
// them) and the port's data areas (0: nothing after them): the section of
// that name.
void Assembler::NamedSection(std::string_view word, std::string_view rest, const Stmt& st, int subsection) {
    if (!rest.empty())
        Diag(Severity::kError, st.loc, subsection ? msg::kGnuSubsection : msg::kGnuJunk, std::string(rest).c_str());
    Switch(SectionNamed(word));
}

void Assembler::PopSection(std::string_view, std::string_view, const Stmt& st, int) {
    if (sectionStack_.empty()) {
        Diag(Severity::kError, st.loc, msg::kGnuNoSection);
        return;
    }
    const auto [sec, prev] = sectionStack_.back();
    sectionStack_.pop_back();
    Switch(sec);
    prevSection_ = prev;
}

void Assembler::Previous(std::string_view, std::string_view, const Stmt&, int) { Switch(prevSection_); }

void Assembler::ErrDirective(std::string_view, std::string_view, const Stmt& st, int) {
    Diag(Severity::kError, st.loc, msg::kGnuErr);
}

// .error (0), .warning (1) and .print (2) "TEXT".
void Assembler::MessageDirective(std::string_view, std::string_view rest, const Stmt& st, int kind) {
    std::string text;
    if (!ReadString(rest, text)) {
        if (kind == 2) return Diag(Severity::kError, st.loc, msg::kGnuExpected, "a quoted string");
        text = kind == 0 ? msg::kGnuErrorInvoked : msg::kGnuWarningInvoked;
    }
    if (kind == 2) return SayText(ctx_, text + "\n");
    Diag(kind == 0 ? Severity::kError : Severity::kWarning, st.loc, "%s", text.c_str());
}

void Assembler::Purgem(std::string_view, std::string_view rest, const Stmt&, int) {
    auto m = macros_.find(Folded(Trim(rest)));
    if (m != macros_.end()) macros_.erase(m);
}

void Assembler::EndDirective(std::string_view, std::string_view, const Stmt&, int) { source_.Stop(); }

void Assembler::FileDirective(std::string_view, std::string_view rest, const Stmt&, int) {
    std::string name;
    if (ReadString(rest, name)) source_.SetFileName(name);
}

// Symbol attributes and the like: nothing to change in a flat image.
void Assembler::NoEffect(std::string_view, std::string_view, const Stmt&, int) {}

// .global, .globl, .weak and .local NAME, ...: what a link shares of the
// names (nothing in a flat image). A global name stays weak once .weak.
void Assembler::BindDirective(std::string_view, std::string_view rest, const Stmt& st, int bind) {
    for (std::string_view name : SplitCommas(rest)) {
        if (!PlainName(name)) continue;
        Sym& s = syms_[static_cast<std::size_t>(SymIndex(name))];
        const auto b = static_cast<link::InputSymbol::Bind>(bind);
        if (b != link::InputSymbol::kGlobal || s.bind != link::InputSymbol::kWeak) s.bind = b;
        if (!s.label && !s.defined) s.at = st.loc;
    }
}

// GNU as' pseudo-ops of the V810 port that a flat image needs, sorted by name.
const Assembler::DirectiveEntry* Assembler::FindDirective(std::string_view word) {
    using A = Assembler;
    constexpr auto kCond = DirectiveEntry::kCondition;
    constexpr auto kBlock = DirectiveEntry::kBlock;
    static constexpr DirectiveEntry kDirectives[] = {
        {".2byte", &A::DataDirective, 2},       {".4byte", &A::DataDirective, 4},
        {".8byte", &A::DataDirective, 8},       {".align", &A::AlignDirective, 0},
        {".ascii", &A::StringDirective, 0},     {".asciz", &A::StringDirective, 1},
        {".balign", &A::AlignDirective, 1},     {".bss", &A::NamedSection, 1},
        {".byte", &A::DataDirective, 1},        {".comm", &A::CommonDirective, 0},
        {".data", &A::NamedSection, 1},         {".double", &A::FloatDirective, 8},
        {".eject", &A::NoEffect, 0},            {".else", &A::ElseDirective, 0, kCond}, {".elseif", &A::ElseDirective, 1, kCond},
        {".end", &A::EndDirective, 0},          {".endif", &A::ElseDirective, 2, kCond},
        {".endm", &A::Unopened, 0, kBlock},     {".endr", &A::Unopened, 0, kBlock},
        {".equ", &A::SetDirective, 0},          {".equiv", &A::SetDirective, 1},
        {".err", &A::ErrDirective, 0},          {".error", &A::MessageDirective, 0},
        {".exitm", &A::ExitDirective, 0, kBlock}, {".extern", &A::NoEffect, 0},
        {".file", &A::FileDirective, 0},        {".fill", &A::FillDirective, 0},
        {".float", &A::FloatDirective, 4},      {".global", &A::BindDirective, link::InputSymbol::kGlobal},
        {".globl", &A::BindDirective, link::InputSymbol::kGlobal},            {".hidden", &A::NoEffect, 0},
        {".hword", &A::DataDirective, 2},       {".ident", &A::NoEffect, 0},
        {".if", &A::IfValue, 0, kCond},         {".ifb", &A::IfBlank, 1, kCond},
        {".ifc", &A::IfSame, 1, kCond},         {".ifdef", &A::IfDefined, 1, kCond},
        {".ifeq", &A::IfValue, 1, kCond},       {".ifeqs", &A::IfStrings, 1, kCond},
        {".ifge", &A::IfValue, 6, kCond},       {".ifgt", &A::IfValue, 5, kCond},
        {".ifle", &A::IfValue, 4, kCond},       {".iflt", &A::IfValue, 3, kCond},
        {".ifnb", &A::IfBlank, 0, kCond},       {".ifnc", &A::IfSame, 0, kCond},
        {".ifndef", &A::IfDefined, 0, kCond},   {".ifne", &A::IfValue, 2, kCond},
        {".ifnes", &A::IfStrings, 0, kCond},    {".ifnotdef", &A::IfDefined, 0, kCond},
        {".incbin", &A::Incbin, 0},             {".include", &A::Include, 0},
        {".int", &A::DataDirective, 4},         {".internal", &A::NoEffect, 0},         {".irp", &A::RepeatDirective, Recording::kIrp, kBlock},
        {".irpc", &A::RepeatDirective, Recording::kIrpc, kBlock}, {".lcomm", &A::CommonDirective, 0},
        {".list", &A::NoEffect, 0},             {".loc", &A::NoEffect, 0},
        {".loc_mark_labels", &A::NoEffect, 0},  {".local", &A::BindDirective, link::InputSymbol::kLocal},            {".long", &A::DataDirective, 4},
        {".macro", &A::MacroDirective, 0, kBlock}, {".nolist", &A::NoEffect, 0}, {".offset", &A::OrgDirective, 1},
        {".org", &A::OrgDirective, 0},          {".p2align", &A::AlignDirective, 0},
        {".popsection", &A::PopSection, 0},     {".previous", &A::Previous, 0},
        {".print", &A::MessageDirective, 2},    {".protected", &A::NoEffect, 0},
        {".psize", &A::NoEffect, 0},    {".purgem", &A::Purgem, 0},
        {".pushsection", &A::SectionDirective, 1}, {".quad", &A::DataDirective, 8},
        {".rept", &A::RepeatDirective, Recording::kRept, kBlock}, {".rosdata", &A::NamedSection, 0},
        {".rozdata", &A::NamedSection, 0},      {".sbss", &A::NamedSection, 0},
        {".sbttl", &A::NoEffect, 0},
        {".scomm", &A::CommonDirective, 1},     {".sdata", &A::NamedSection, 0},
        {".section", &A::SectionDirective, 0},  {".set", &A::SetDirective, 0},
        {".short", &A::DataDirective, 2},       {".single", &A::FloatDirective, 4},
        {".size", &A::NoEffect, 0},             {".skip", &A::SpaceDirective, 0},
        {".sleb128", &A::LebDirective, 1},
        {".space", &A::SpaceDirective, 0},      {".stabd", &A::NoEffect, 0},
        {".stabn", &A::NoEffect, 0},            {".stabs", &A::NoEffect, 0},      {".string", &A::StringDirective, 1},
        {".tbss", &A::NamedSection, 0},         {".tcomm", &A::CommonDirective, 2},
        {".tdata", &A::NamedSection, 0},        {".text", &A::NamedSection, 1},
        {".title", &A::NoEffect, 0},            {".type", &A::NoEffect, 0},
        {".uleb128", &A::LebDirective, 0},             {".warning", &A::MessageDirective, 1},
        {".weak", &A::BindDirective, link::InputSymbol::kWeak},             {".word", &A::DataDirective, 4},
        {".zbss", &A::NamedSection, 0},         {".zcomm", &A::CommonDirective, 3},
        {".zdata", &A::NamedSection, 0},        {".zero", &A::SpaceDirective, 1},
    };
    static_assert(std::is_sorted(std::begin(kDirectives), std::end(kDirectives),
                                 [](const DirectiveEntry& a, const DirectiveEntry& b) { return a.name < b.name; }));
    // Where the names of each character after the dot begin: a lookup
    // compares a few names of the same letter, most of them by length alone.
    static constexpr auto kFirst = [] {
        std::array<std::uint8_t, 129> first{};
        std::size_t k = 0;
        for (std::size_t c = 0; c < first.size(); ++c) {
            while (k < std::size(kDirectives) && static_cast<unsigned char>(kDirectives[k].name[1]) < c) ++k;
            first[c] = static_cast<std::uint8_t>(k);
        }
        return first;
    }();
    const unsigned c = word.size() > 1 ? static_cast<unsigned char>(word[1]) : 128u;
    for (std::size_t k = c < 128 ? kFirst[c] : 0, end = c < 128 ? kFirst[c + 1] : 0; k < end; ++k) {
        const DirectiveEntry& d = kDirectives[k];
        if (d.name.size() == word.size() && d.name == word) return &d;
    }
    return nullptr;
}

}  // namespace tarvo::gnu
