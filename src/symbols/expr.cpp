#include "symbols/expr.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>

#include "text.h"

namespace tarvo {
namespace {

// Characters that end a name: operators, parentheses and the separators.
inline constexpr std::array<bool, 256> kEndsName = [] {
    std::array<bool, 256> t{};
    for (char c : std::string_view("+-*/%<>&^|~()=!")) t[static_cast<unsigned char>(c)] = true;
    for (char c : szSeparators) t[static_cast<unsigned char>(c)] = true;
    return t;
}();

constexpr bool IsNameChar(char c) { return !kEndsName[static_cast<unsigned char>(c)]; }
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Names that may be nested inside each other's values before we give up.
constexpr int kMaxDepth = 64;
// The most text an expression may come to with the values of its names put
// in (read or written): values that name each other twice over would
// otherwise double it at every level.
constexpr std::size_t kMaxText = 64 * 1024;

// A number in the classic syntax, read whole.
bool WholeNumber(std::string_view run, std::uint32_t& v) {
    std::int32_t n = 0;
    std::size_t end = 0;
    if (ScanNumber(run, n, &end) != Scan::kNumber || end != run.size()) return false;
    v = static_cast<std::uint32_t>(n);
    return true;
}

bool IsFunction(std::string_view run, std::string_view rest) {
    return !rest.empty() && rest.front() == '(' && (stricmp(run, "hi") == 0 || stricmp(run, "lo") == 0);
}

// The key of a local label reference: "Nb", "Nf", or a key "N#k" already
// put in; empty when run is none of them (or "Nb" has no definition yet,
// which no later line can mend).
std::string LocalKey(const ExprEnv& env, std::string_view run) {
    if (env.locals == nullptr) return {};
    std::size_t i = 0;
    while (i < run.size() && IsDigit(run[i])) ++i;
    const std::string_view digits = run.substr(0, i), tail = run.substr(i);
    if (tail.size() == 1 && (tail[0] == 'b' || tail[0] == 'f')) return env.locals->Key(digits, tail[0] == 'f');
    if (tail.size() > 1 && tail[0] == '#' && std::all_of(tail.begin() + 1, tail.end(), IsDigit)) return std::string(run);
    return {};
}

class Parser {
public:
    Parser(std::string_view s, const ExprEnv& env, int depth, std::vector<std::string>* missing, std::size_t& read)
        : s_(s), env_(env), depth_(depth), missing_(missing), read_(read) {}

    std::uint32_t Full() {
        std::uint32_t v = Or();
        Skip();
        if (i_ != s_.size()) bad_ = true;
        return v;
    }
    ExprStatus Status() const {
        if (bad_) return ExprStatus::kMalformed;
        if (undefined_) return ExprStatus::kUndefined;  // a zero divisor may be a missing name
        return divZero_ ? ExprStatus::kDivZero : ExprStatus::kOk;
    }

private:
    // Blanks and tabs may stand between the parts of an expression.
    void Skip() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
    }
    bool Take(char c) {
        Skip();
        if (i_ == s_.size() || s_[i_] != c) return false;
        ++i_;
        return true;
    }

    // C's binary operators by precedence, lowest first: || && | ^ & (== !=)
    // (< <= > >=) (<< >>) (+ -) (* / %). An operator is one or two
    // characters; its code is the first, or a letter for the two-character
    // ones that share it.
    struct Op {
        char code = 0;
        int length = 0;
        int prec = 0;
    };
    static Op Operator(char c, char next) {
        switch (c) {
            case '|': return next == '|' ? Op{'o', 2, 1} : Op{'|', 1, 3};
            case '&': return next == '&' ? Op{'a', 2, 2} : Op{'&', 1, 5};
            case '^': return {'^', 1, 4};
            case '=': return next == '=' ? Op{'=', 2, 6} : Op{};
            case '!': return next == '=' ? Op{'!', 2, 6} : Op{};
            case '<':
                return next == '<' ? Op{'<', 2, 8} : next == '=' ? Op{'l', 2, 7} : Op{'L', 1, 7};
            case '>':
                return next == '>' ? Op{'>', 2, 8} : next == '=' ? Op{'g', 2, 7} : Op{'G', 1, 7};
            case '+': case '-': return {c, 1, 9};
            case '*': case '/': case '%': return {c, 1, 10};
            default: return {};
        }
    }

    // Precedence climbing: one call per operand, not one per level.
    std::uint32_t Or(int minPrec = 1) {
        std::uint32_t v = Unary();
        for (;;) {
            Skip();
            if (i_ >= s_.size()) return v;
            const Op op = Operator(s_[i_], i_ + 1 < s_.size() ? s_[i_ + 1] : '\0');
            if (op.prec < minPrec || op.prec == 0) return v;
            i_ += static_cast<std::size_t>(op.length);
            v = Apply(op.code, v, Or(op.prec + 1));
        }
    }

    std::uint32_t Apply(char op, std::uint32_t v, std::uint32_t w) {
        const auto a = static_cast<std::int32_t>(v), b = static_cast<std::int32_t>(w);
        switch (op) {
            case '|': return v | w;
            case '^': return v ^ w;
            case '&': return v & w;
            case 'o': return v != 0 || w != 0;
            case 'a': return v != 0 && w != 0;
            case '=': return v == w;
            case '!': return v != w;
            case 'L': return a < b;
            case 'l': return a <= b;
            case 'G': return a > b;
            case 'g': return a >= b;
            case '<': return v << (w & 31);
            case '>': return static_cast<std::uint32_t>(a >> (w & 31));
            case '+': return v + w;
            case '-': return v - w;
            case '*': return v * w;
            default: break;
        }
        if (b == 0) {
            divZero_ = true;
            return 0;
        }
        if (a == INT_MIN && b == -1) return op == '/' ? v : 0;  // the one quotient that does not fit wraps
        return static_cast<std::uint32_t>(op == '/' ? a / b : a % b);
    }
    // Every nesting (parentheses, unary operators, hi/lo) passes here, so
    // a hostile line cannot run the stack out.
    std::uint32_t Unary() {
        if (++nesting_ > kMaxNesting) {
            bad_ = true;
            i_ = s_.size();
            return 0;
        }
        std::uint32_t v = 0;
        if (Take('-')) v = 0u - Unary();
        else if (Take('~')) v = ~Unary();
        else if (Take('!')) v = Unary() == 0;
        else v = Primary();
        --nesting_;
        return v;
    }
    std::uint32_t Primary() {
        if (Take('(')) {
            std::uint32_t v = Or();
            if (!Take(')')) bad_ = true;
            return v;
        }
        Skip();
        if (i_ < s_.size() && s_[i_] == '\'') return Character();
        std::size_t j = i_;
        while (j < s_.size() && IsNameChar(s_[j])) ++j;
        const std::string_view run = s_.substr(i_, j - i_);
        i_ = j;
        if (run.empty()) {
            bad_ = true;
            return 0;
        }
        std::uint32_t v = 0;
        if (IsDigit(run.front())) {
            if (WholeNumber(run, v) || Binary(run, v)) return v;
            const std::string key = LocalKey(env_, run);
            if (key.empty()) {
                bad_ = true;
                return 0;
            }
            if (auto known = env_.locals->Value(key)) return *known;
            Missing(key);
            return 0;
        }
        if (IsFunction(run, s_.substr(i_))) {
            ++i_;
            v = Or();
            if (!Take(')')) bad_ = true;
            return (run[0] | 0x20) == 'h' ? HighHalf(v) : LowHalf(v);
        }
        return Name(run);
    }
    // 'c' or a C escape between quotes.
    std::uint32_t Character() {
        unsigned v = 0;
        std::size_t n = 1;
        if (i_ + 1 < s_.size() && s_[i_ + 1] == '\\') n = 1 + ReadEscape(s_, i_ + 2, v);
        else if (i_ + 1 < s_.size() && s_[i_ + 1] != '\'') v = static_cast<unsigned char>(s_[i_ + 1]);
        else n = 0;
        if (n == 0 || i_ + n + 1 >= s_.size() || s_[i_ + n + 1] != '\'') {
            bad_ = true;
            i_ = s_.size();
            return 0;
        }
        i_ += n + 2;
        return v;
    }
    // 0b and binary digits, each read whole.
    static bool Binary(std::string_view run, std::uint32_t& v) {
        if (run.size() < 3 || run[0] != '0' || (run[1] | 0x20) != 'b') return false;
        v = 0;
        for (char c : run.substr(2)) {
            if (c != '0' && c != '1') return false;
            v = v << 1 | static_cast<std::uint32_t>(c - '0');
        }
        return true;
    }
    std::uint32_t Name(std::string_view name) {
        if (name == ".") return env_.dot;
        auto value = env_.names.Lookup(name);
        if (!value) {
            Missing(name);
            return 0;
        }
        // A value that is one number is that number; any other is read
        // whole as an expression (a register is none).
        if (value->whole()) return static_cast<std::uint32_t>(value->number);
        const std::string_view text = value->text;
        read_ += text.size();
        if (depth_ >= kMaxDepth || read_ > kMaxText || text.empty() || text.front() == '$') {
            bad_ = true;
            i_ = s_.size();
            return 0;
        }
        const std::string copy(text);  // a later insert may move the value
        Parser inner(copy, env_, depth_ + 1, missing_, read_);
        std::uint32_t v = inner.Full();
        bad_ = bad_ || inner.bad_;
        divZero_ = divZero_ || inner.divZero_;
        undefined_ = undefined_ || inner.undefined_;
        return v;
    }

    void Missing(std::string_view name) {
        undefined_ = true;
        if (missing_ == nullptr) return;
        for (const std::string& m : *missing_)
            if (stricmp(m, name) == 0) return;
        missing_->emplace_back(name);
    }

    static constexpr int kMaxNesting = 256;
    int nesting_ = 0;
    std::string_view s_;
    std::size_t i_ = 0;
    const ExprEnv& env_;
    int depth_;
    std::vector<std::string>* missing_;
    std::size_t& read_;  // value text read by this parse and the ones it nests
    bool bad_ = false, divZero_ = false, undefined_ = false;
};

// Copies text, handing each run of name characters (and what follows it)
// to put, which appends its replacement. Empty (no expression) when the
// result would pass kMaxText; put reports that by returning false.
template <typename Put>
std::string MapRuns(std::string_view text, Put put) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (!IsNameChar(text[i])) {
            out.push_back(text[i++]);
            continue;
        }
        std::size_t j = i;
        while (j < text.size() && IsNameChar(text[j])) ++j;
        if (!put(out, text.substr(i, j - i), text.substr(j)) || out.size() > kMaxText) return {};
        i = j;
    }
    return out;
}

std::string SubstituteAt(std::string_view text, const ExprEnv& env, int depth) {
    return MapRuns(text, [&env, depth](std::string& out, std::string_view run, std::string_view rest) {
        if (IsDigit(run.front())) {
            // A local label reference means what it means here: put in its
            // value, or the key of the definition it waits for.
            const std::string key = LocalKey(env, run);
            const auto known = key.empty() ? std::nullopt : env.locals->Value(key);
            out += known ? std::to_string(*known) : key.empty() ? std::string(run) : key;
            return true;
        }
        std::optional<SymbolList::Value> value;
        if (!IsFunction(run, rest)) value = env.names.Lookup(run);
        if (run == ".") {
            out += std::to_string(env.dot);
        } else if (!value) {
            out += run;
        } else if (value->whole()) {
            out += std::to_string(static_cast<std::uint32_t>(value->number));
        } else if (depth < kMaxDepth) {
            const std::string copy(value->text);
            const std::string inner = SubstituteAt(copy, env, depth + 1);
            if (inner.empty() && !copy.empty()) return false;
            out += '(';
            out += inner;
            out += ')';
        } else {
            out += run;
        }
        return true;
    });
}

}  // namespace

std::int32_t Half(std::int32_t value, int half) {
    const auto u = static_cast<std::uint32_t>(value);
    return static_cast<std::int32_t>(half == 1 ? HighHalf(u) : half == 2 ? LowHalf(u) : u);
}

ExprStatus Evaluate(std::string_view text, const ExprEnv& env, std::int32_t& value,
                    std::vector<std::string>* missing, Pending* pending) {
    // The common cases without a parse: a number or a defined name whose
    // value is a number, perhaps in parentheses.
    std::string_view inner = text;
    while (inner.size() >= 2 && inner.front() == '(' && inner.back() == ')') inner = inner.substr(1, inner.size() - 2);
    std::uint32_t v = 0;
    if (!inner.empty() && IsDigit(inner.front()) && WholeNumber(inner, v)) {
        value = static_cast<std::int32_t>(v);
        return ExprStatus::kOk;
    }
    int half = 0;
    inner = SplitHalf(inner, half);
    const std::string_view name = BareName(inner);
    if (!name.empty()) {
        auto known = env.names.Lookup(name);
        if (known && known->whole()) {
            value = Half(known->number, half);
            return ExprStatus::kOk;
        }
        if (!known) {
            value = 0;
            if (missing != nullptr) missing->emplace_back(name);
            if (pending != nullptr) *pending = {name, half};
            return ExprStatus::kUndefined;
        }
    }
    std::size_t read = 0;
    Parser p(text, env, 0, missing, read);
    value = static_cast<std::int32_t>(p.Full());
    return p.Status();
}

std::string Substitute(std::string_view text, const ExprEnv& env) { return SubstituteAt(text, env, 0); }

std::string Bind(std::string_view text, std::string_view name, std::string_view value) {
    return MapRuns(text, [name, value](std::string& out, std::string_view run, std::string_view rest) {
        if (stricmp(run, name) == 0 && !IsFunction(run, rest)) {
            out += '(';
            out += value;
            out += ')';
        } else {
            out += run;
        }
        return true;
    });
}

std::string_view BareName(std::string_view text) {
    while (text.size() >= 2 && text.front() == '(' && text.back() == ')') text = text.substr(1, text.size() - 2);
    if (text.empty() || IsDigit(text.front()) || text.front() == '\'' || text == ".") return {};
    for (char c : text)
        if (!IsNameChar(c)) return {};
    return text;
}

std::string_view SplitHalf(std::string_view text, int& half) {
    half = 0;
    if (text.size() <= 4 || text[2] != '(' || text.back() != ')') return text;
    const std::string_view inner = text.substr(3, text.size() - 4);
    if (BareName(inner).empty()) return text;
    if (stricmp(text.substr(0, 2), "hi") == 0) half = 1;
    if (stricmp(text.substr(0, 2), "lo") == 0) half = 2;
    return half != 0 ? inner : text;
}

bool HasParen(std::string_view text) { return text.find('(') != std::string_view::npos; }

bool IsNameToken(std::string_view text) {
    if (text.empty()) return false;
    const char c = static_cast<char>(text.front() | 0x20);
    if (!((c >= 'a' && c <= 'z') || text.front() == '_' || text.front() == '.')) return false;
    return std::all_of(text.begin(), text.end(), IsNameChar) && text != ".";
}

std::size_t ReadEscape(std::string_view text, std::size_t at, unsigned& value) {
    static constexpr std::string_view kEscapes = "n\nt\tr\ra\ab\bf\fv\v\\\\\"\"''";
    if (at >= text.size()) return 0;
    const char e = text[at];
    std::size_t n = 0;
    value = 0;
    if (e >= '0' && e <= '7') {
        for (; n < 3 && at + n < text.size() && text[at + n] >= '0' && text[at + n] <= '7'; ++n)
            value = value * 8 + static_cast<unsigned>(text[at + n] - '0');
        return n;
    }
    if (e == 'x') {
        for (; n < 2 && at + 1 + n < text.size() && std::isxdigit(static_cast<unsigned char>(text[at + 1 + n])); ++n) {
            const char h = static_cast<char>(text[at + 1 + n] | 0x20);
            value = value * 16 + static_cast<unsigned>(h <= '9' ? h - '0' : h - 'a' + 10);
        }
        return n == 0 ? 0 : n + 1;
    }
    for (std::size_t k = 0; k < kEscapes.size(); k += 2) {
        if (kEscapes[k] == e) {
            value = static_cast<unsigned char>(kEscapes[k + 1]);
            return 1;
        }
    }
    return 0;
}

}  // namespace tarvo
