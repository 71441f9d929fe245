#include "gnu/gnu_expr.h"

namespace tarvo::gnu {
namespace {

// Binary operators by level, loosest first; unary - ~ ! bind tighter than all.
enum Op : std::uint8_t {
    kNone, kOrOr, kAndAnd, kEq, kNe, kLt, kGt, kLe, kGe, kAdd, kSub, kOr, kAnd, kXor, kOrNot, kXorXor,
    kMul, kDiv, kMod, kShl, kShr,
};

constexpr int Level(Op op) {
    switch (op) {
        case kOrOr: return 1;
        case kAndAnd: return 2;
        case kEq: case kNe: case kLt: case kGt: case kLe: case kGe: return 3;
        case kAdd: case kSub: return 4;
        case kOr: case kAnd: case kXor: case kOrNot: case kXorXor: return 5;
        case kMul: case kDiv: case kMod: case kShl: case kShr: return 6;
        default: return 0;
    }
}

class Parser {
public:
    Parser(std::string_view text, ExprEnv& env, std::string* name) : s_(text), env_(env), name_(name) {}

    ExprStatus Run(Value& out) {
        out = Binary(1);
        Blanks();
        if (status_ == ExprStatus::kOk && at_ < s_.size()) Fail(ExprStatus::kSyntax, s_.substr(at_));
        return status_;
    }

private:
    void Blanks() {
        while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t')) ++at_;
    }
    void Fail(ExprStatus st, std::string_view what) {
        if (status_ != ExprStatus::kOk) return;
        status_ = st;
        if (name_ != nullptr) *name_ = std::string(what);
    }
    char Peek(std::size_t k = 0) const { return at_ + k < s_.size() ? s_[at_ + k] : '\0'; }

    // The operator at the reading point and its length.
    Op PeekOp(std::size_t& len) const {
        const char a = Peek(), b = Peek(1);
        len = 2;
        switch (a) {
            case '|': if (b == '|') return kOrOr; len = 1; return kOr;
            case '&': if (b == '&') return kAndAnd; len = 1; return kAnd;
            case '=': if (b == '=') return kEq; len = 1; return kEq;  // '=' alone compares too
            case '!': if (b == '=') return kNe; if (b == '!') return kXorXor; len = 1; return kOrNot;
            case '<':
                if (b == '>') return kNe;
                if (b == '=') return kLe;
                if (b == '<') return kShl;
                len = 1; return kLt;
            case '>':
                if (b == '=') return kGe;
                if (b == '>') return kShr;
                len = 1; return kGt;
            case '+': len = 1; return kAdd;
            case '-': len = 1; return kSub;
            case '^': len = 1; return kXor;
            case '*': len = 1; return kMul;
            case '/': len = 1; return kDiv;
            case '%': len = 1; return kMod;
            default: len = 0; return kNone;
        }
    }

    std::int64_t Abs(const Value& v) const { return v.sec == kAbsolute ? v.v : env_.Address(v.sec, v.v); }

    // Operators of level min or looser-binding-than-unary, left to right.
    Value Binary(int min) {
        Value left = Unary();
        for (;;) {
            Blanks();
            std::size_t len = 0;
            const Op op = PeekOp(len);
            if (op == kNone || Level(op) < min || status_ != ExprStatus::kOk) return left;
            at_ += len;
            const Value right = Binary(Level(op) + 1);
            left = Apply(op, left, right);
        }
    }

    Value Apply(Op op, const Value& l, const Value& r) {
        // Offsets stay offsets through + and -, as a linker would keep them.
        if (op == kAdd && (l.sec == kAbsolute || r.sec == kAbsolute))
            return {static_cast<std::int64_t>(static_cast<std::uint64_t>(l.v) + static_cast<std::uint64_t>(r.v)),
                    l.sec == kAbsolute ? r.sec : l.sec};
        if (op == kSub && (r.sec == kAbsolute || r.sec == l.sec))
            return {static_cast<std::int64_t>(static_cast<std::uint64_t>(l.v) - static_cast<std::uint64_t>(r.v)),
                    r.sec == kAbsolute ? l.sec : kAbsolute};
        const std::int64_t a = Abs(l), b = Abs(r);
        const auto ua = static_cast<std::uint64_t>(a), ub = static_cast<std::uint64_t>(b);
        std::int64_t v = 0;
        switch (op) {
            case kOrOr: v = a != 0 || b != 0; break;
            case kAndAnd: v = a != 0 && b != 0; break;
            case kEq: v = a == b ? -1 : 0; break;
            case kNe: v = a != b ? -1 : 0; break;
            case kLt: v = a < b ? -1 : 0; break;
            case kGt: v = a > b ? -1 : 0; break;
            case kLe: v = a <= b ? -1 : 0; break;
            case kGe: v = a >= b ? -1 : 0; break;
            case kAdd: v = static_cast<std::int64_t>(ua + ub); break;
            case kSub: v = static_cast<std::int64_t>(ua - ub); break;
            case kOr: v = a | b; break;
            case kAnd: v = a & b; break;
            case kXor: case kXorXor: v = a ^ b; break;
            case kOrNot: v = a | ~b; break;
            case kMul: v = static_cast<std::int64_t>(ua * ub); break;
            case kDiv: case kMod:
                if (b == 0) {
                    Fail(ExprStatus::kDivZero, "0");
                    return {};
                }
                // The one quotient that overflows wraps, as the host would not.
                if (b == -1) v = op == kDiv ? static_cast<std::int64_t>(0 - ua) : 0;
                else v = op == kDiv ? a / b : a % b;
                break;
            // A count past the width gives 0, as GNU as gives it.
            case kShl: v = ub >= 64 ? 0 : static_cast<std::int64_t>(ua << ub); break;
            case kShr: v = ub >= 64 ? 0 : static_cast<std::int64_t>(ua >> ub); break;
            default: break;
        }
        return {v, kAbsolute};
    }

    Value Unary() {
        Blanks();
        const char c = Peek();
        if (c == '-' || c == '~' || c == '!' || c == '+') {
            ++at_;
            const Value v = Unary();
            const auto u = static_cast<std::uint64_t>(Abs(v));
            if (c == '+') return v;
            if (c == '-') return {static_cast<std::int64_t>(0 - u), kAbsolute};
            if (c == '~') return {static_cast<std::int64_t>(~u), kAbsolute};
            return {u == 0 ? 1 : 0, kAbsolute};
        }
        return Primary();
    }

    Value Primary() {
        Blanks();
        const char c = Peek();
        if (c == '(') {
            ++at_;
            const Value v = Binary(1);
            Blanks();
            if (Peek() != ')') {
                Fail(ExprStatus::kSyntax, s_.substr(at_));
                return {};
            }
            ++at_;
            return v;
        }
        if (c == '\'') {
            std::int64_t v = 0;
            const std::size_t n = CharConstant(s_.substr(at_ + 1), v);
            if (n == 0) {
                Fail(ExprStatus::kSyntax, s_.substr(at_));
                return {};
            }
            at_ += 1 + n;
            return {v, kAbsolute};
        }
        if (c >= '0' && c <= '9') return Number();
        if (IsNameChar(c)) {
            const std::size_t start = at_;
            while (IsNameChar(Peek())) ++at_;
            const std::string_view name = s_.substr(start, at_ - start);
            Value v = env_.dot;
            if (name != "." && !env_.Lookup(name, v)) {
                Fail(ExprStatus::kUndefined, name);
                return {};
            }
            env_.moved = env_.moved || v.sec != kAbsolute;
            return v;
        }
        Fail(ExprStatus::kSyntax, s_.substr(at_));
        return {};
    }

    Value Number() {
        const std::size_t start = at_;
        unsigned base = 10;
        if (Peek() == '0' && (Peek(1) == 'x' || Peek(1) == 'X')) {
            base = 16;
            at_ += 2;
        } else if (Peek() == '0' && (Peek(1) == 'b' || Peek(1) == 'B') && Peek(2) >= '0' && Peek(2) <= '1') {
            base = 2;
            at_ += 2;
        } else if (Peek() == '0') {
            base = 8;
        }
        std::uint64_t v = 0;
        std::size_t digits = 0;
        for (;; ++at_, ++digits) {
            const char d = Peek();
            unsigned k = 99;
            if (d >= '0' && d <= '9') k = static_cast<unsigned>(d - '0');
            else if (d >= 'a' && d <= 'f') k = static_cast<unsigned>(d - 'a' + 10);
            else if (d >= 'A' && d <= 'F') k = static_cast<unsigned>(d - 'A' + 10);
            if (k >= base) break;
            v = v * base + k;
        }
        if ((base == 16 && digits == 0) || IsNameChar(Peek())) {
            while (IsNameChar(Peek())) ++at_;
            Fail(ExprStatus::kSyntax, s_.substr(start, at_ - start));
            return {};
        }
        return {static_cast<std::int64_t>(v), kAbsolute};
    }

    std::string_view s_;
    ExprEnv& env_;
    std::string* name_;
    std::size_t at_ = 0;
    ExprStatus status_ = ExprStatus::kOk;
};

}  // namespace

std::size_t CharConstant(std::string_view after, std::int64_t& value) {
    if (after.empty()) return 0;
    std::size_t n = 1;
    if (after[0] != '\\') {
        value = static_cast<unsigned char>(after[0]);
    } else if (after.size() < 2) {
        return 0;
    } else {
        n = 2;
        switch (after[1]) {
            case 'n': value = '\n'; break;
            case 't': value = '\t'; break;
            case 'r': value = '\r'; break;
            case 'b': value = '\b'; break;
            case 'f': value = '\f'; break;
            case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7':
                value = 0;
                for (n = 1; n < 4 && n < after.size() && after[n] >= '0' && after[n] <= '7'; ++n)
                    value = value * 8 + (after[n] - '0');
                break;
            default: value = static_cast<unsigned char>(after[1]); break;
        }
    }
    // 'c' as well as 'c: the closing quote belongs to the constant.
    if (n < after.size() && after[n] == '\'') ++n;
    return n;
}

ExprStatus Evaluate(std::string_view text, ExprEnv& env, Value& out, std::string* name) {
    env.moved = false;
    Parser p(text, env, name);
    return p.Run(out);
}

}  // namespace tarvo::gnu
