// The walks over the items: offsets, symbol values and branch sizes until
// nothing moves, then the bytes, the sections' places and the image.
#include "gnu/gnu_assembler.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_set>

#include "gnu/gnu_core.h"
#include "messages.h"

namespace tarvo::gnu {

bool StartsFolded(std::string_view text, std::string_view word) {
    return text.size() >= word.size() && stricmp(text.substr(0, word.size()), word) == 0;
}


// A name alone, as an expression: no number, not '.'.
bool PlainName(std::string_view t) {
    bool plain = !t.empty() && !(t[0] >= '0' && t[0] <= '9') && t != ".";
    for (char c : t) plain = plain && IsNameChar(c);
    return plain;
}

// Splits at commas outside parentheses, brackets, strings and character
// constants.
// The characters that SplitCommas must look at.
constexpr auto kSplitStops = [] {
    std::array<bool, 256> t{};
    for (unsigned char c : std::string_view("\"'()[],")) t[c] = true;
    return t;
}();

void SplitCommas(std::string_view s, std::vector<std::string_view>& out) {
    out.clear();
    if (Trim(s).empty()) return;
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (!kSplitStops[static_cast<unsigned char>(c)]) continue;
        if (c == '"') {
            for (++i; i < s.size() && s[i] != '"'; ++i)
                if (s[i] == '\\') ++i;
        } else if (c == '\'') {
            std::int64_t v = 0;
            i += CharConstant(s.substr(i + 1), v);
        } else if (c == '(' || c == '[') {
            ++depth;
        } else if (c == ')' || c == ']') {
            --depth;
        } else if (c == ',' && depth <= 0) {
            out.push_back(Trim(s.substr(start, i - start)));
            start = i + 1;
        }
    }
    out.push_back(Trim(s.substr(std::min(start, s.size()))));
}

std::vector<std::string_view> SplitCommas(std::string_view s) {
    std::vector<std::string_view> out;
    SplitCommas(s, out);
    return out;
}

// A quoted string with C escapes; false when text is no string.
bool ReadString(std::string_view text, std::string& out, std::string_view* rest) {
    text = Trim(text);
    if (text.empty() || text.front() != '"') return false;
    out.clear();
    std::size_t i = 1;
    for (; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        switch (c) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'v': out += '\v'; break;
            case 'a': out += '\a'; break;
            case 'x': case 'X': {
                unsigned v = 0;
                std::size_t n = 0;
                while (i + 1 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
                    const char d = text[++i];
                    v = v * 16 + static_cast<unsigned>(d <= '9' ? d - '0' : (d | 0x20) - 'a' + 10);
                    ++n;
                }
                out += static_cast<char>(n == 0 ? 'x' : v & 0xFF);
                break;
            }
            default:
                if (c >= '0' && c <= '7') {
                    unsigned v = static_cast<unsigned>(c - '0');
                    for (int k = 0; k < 2 && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '7'; ++k)
                        v = v * 8 + static_cast<unsigned>(text[++i] - '0');
                    out += static_cast<char>(v & 0xFF);
                } else {
                    out += c;
                }
        }
    }
    if (i >= text.size()) return false;
    if (rest != nullptr) *rest = text.substr(i + 1);
    else if (!Trim(text.substr(i + 1)).empty()) return false;
    return true;
}

Fn TakeFunction(std::string_view& text) {
    if (text.empty() || std::strchr("hHlLsStTzZ", text.front()) == nullptr) return Fn::kNone;
    static constexpr std::pair<std::string_view, Fn> kFns[] = {
        {"hi0", Fn::kHi0}, {"hi", Fn::kHi},         {"lo", Fn::kLo},
        {"sdaoff", Fn::kSdaoff}, {"tdaoff", Fn::kTdaoff}, {"zdaoff", Fn::kZdaoff},
    };
    for (const auto& [name, fn] : kFns) {
        if (text.size() <= name.size() || !StartsFolded(text, name)) continue;
        std::string_view after = text.substr(name.size());
        while (!after.empty() && (after.front() == ' ' || after.front() == '\t')) after.remove_prefix(1);
        if (after.empty() || after.front() != '(') continue;
        text = after;
        return fn;
    }
    return Fn::kNone;
}

void Assembler::Diag(Severity s, const Loc& loc, const char* fmt, ...) {
    char text[1024];
    std::va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    Report(s, loc, text);
}

// The message with a note for each macro call or repeat its line came
// from, innermost first.
void Assembler::Report(Severity s, const Loc& loc, std::string_view text) {
    CallNote notes[8];
    std::vector<CallNote> more;
    std::size_t n = 0;
    for (std::uint32_t id = loc.calls; id != 0;) {
        const Source::Call& c = source_.CallOf(id);
        const CallNote note{names_[c.at.file], c.at.line, names_[c.name]};
        if (n < std::size(notes)) notes[n++] = note;
        else more.push_back(note);
        id = c.at.calls;
    }
    if (more.empty()) return ReportGnu(ctx_, s, FileName(loc), loc.line, text, std::span(notes, n));
    more.insert(more.begin(), notes, notes + n);
    ReportGnu(ctx_, s, FileName(loc), loc.line, text, more);
}

void Assembler::Late(int phase, Severity s, const Loc& loc, const char* fmt, ...) {
    // A unit says before the link what GNU as says of it, and after the
    // link what only the link decides.
    if (unit_ && linkUse_ != linked_) return;
    char text[1024];
    std::va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    late_.push_back({phase, static_cast<int>(cur_), stepIndex_, s, loc, text});
}

void Assembler::Undefined(const Loc& loc, std::string_view name) {
    // A local label's own name means nothing to its writer: say its number.
    if (!name.empty() && name.front() == '\x01') {
        if (unit_ && linked_) return;  // said before the link
        linkUse_ = false;
        const std::string number(name.substr(1, name.find('.') - 1));
        Late(3, Severity::kError, loc, msg::kGnuUndefinedLocal, number.c_str());
        return;
    }
    if (!unit_) {
        Late(3, Severity::kError, loc, msg::kGnuUndefined, std::string(name).c_str());
        return;
    }
    // A unit leaves the name to the link, as GNU as leaves a relocation;
    // a name the link gave no value was reported there.
    linkUse_ = true;
    if (!linked_) Refer(loc, name);
    else Late(3, Severity::kError, loc, msg::kLinkUndefinedRef, std::string(name).c_str());
}

void Assembler::Refer(const Loc& loc, std::string_view name) {
    const auto [it, fresh] = refIndex_.try_emplace(std::string(name), refs_.size());
    if (fresh) refs_.emplace_back(it->first, loc);
}

int Assembler::SymIndex(std::string_view name) {
    const int found = symIndex_.Find(name, syms_);
    if (found >= 0) return found;
    const int i = static_cast<int>(syms_.size());
    syms_.emplace_back(name);
    symIndex_.Insert(i, syms_);
    return i;
}

// A name in a section /DISCARD/ drops points nowhere: bytes of the image
// that read it are an error, as ld's "defined in discarded section".
void Assembler::CheckDropped(const Sym& s) {
    if (final_ && s.dropped >= 0 && sections_[cur_].alloc && !sections_[cur_].dropped) {
        linkUse_ = true;  // what only the link decides
        Late(1, Severity::kError, items_[stepIndex_].loc, msg::kLinkDiscarded, s.name.c_str(),
             sections_[static_cast<std::size_t>(s.dropped)].name.c_str(), path_.c_str());
    }
}

bool Assembler::Lookup(std::string_view name, Value& out) {
    const int found = symIndex_.Find(name, syms_);
    if (found < 0) return false;
    const Sym* p = &syms_[static_cast<std::size_t>(found)];
    // An alias has the value of the name it stands for (a register's name
    // has none).
    for (int depth = 0; p->alias >= 0; ++depth) {
        if (depth == 8) return false;
        p = &syms_[static_cast<std::size_t>(p->alias)];
    }
    const Sym& s = *p;
    moved = moved || s.moves;
    if (s.moves) linkUse_ = true;  // a value made of addresses is the link's too
    if (linked_) CheckDropped(s);
    if (s.defined) {
        out = s.val;
        return true;
    }
    if (s.lastDefined) {
        out = s.last;
        usedLast_ = true;
        lastRegion_ = s.region;
        return true;
    }
    return false;
}

// "1b" and "1f" become the names of the local labels they mean here, so that
// a value read later still finds them.
std::string Assembler::Localize(std::string_view text) const {
    // Most texts name no local label: a digit before 'b' or 'f' is rare.
    if (!MayNameLocal(text)) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '"' || c == '\'') {
            std::size_t j = i + 1;
            if (c == '\'') {
                std::int64_t v = 0;
                j += CharConstant(text.substr(i + 1), v);
            } else {
                while (j < text.size() && text[j] != '"') j += text[j] == '\\' ? 2 : 1;
                j = std::min(j + 1, text.size());
            }
            out.append(text.substr(i, j - i));
            i = j;
            continue;
        }
        if (!IsNameChar(c)) {
            out += c;
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < text.size() && IsNameChar(text[j])) ++j;
        const std::string_view token = text.substr(i, j - i);
        i = j;
        const char last = token.back();
        bool local = token.size() >= 2 && (last == 'b' || last == 'f');
        for (std::size_t k = 0; local && k + 1 < token.size(); ++k) local = token[k] >= '0' && token[k] <= '9';
        if (!local) {
            out.append(token);
            continue;
        }
        const std::string digits(token.substr(0, token.size() - 1));
        auto it = localCount_.find(digits);
        const int n = (it == localCount_.end() ? 0 : it->second) + (last == 'f');
        out += '\x01';
        out += digits;
        out += '.';
        out += std::to_string(n);
    }
    return out;
}

// A value needed while reading (counts, conditions): absolute and known.
bool Assembler::Now(std::string_view text, const Loc& loc, std::int64_t& out, bool quiet) {
    const std::string local = Localize(text);
    Value v;
    std::string name;
    dot = {off_[cur_], static_cast<int>(cur_)};
    const ExprStatus st = Evaluate(local, *this, v, &name);
    if (st == ExprStatus::kOk && v.sec == kAbsolute) {
        out = v.v;
        return true;
    }
    if (quiet) return false;
    if (st == ExprStatus::kDivZero) Diag(Severity::kError, loc, msg::kGnuDivZero);
    else if (st == ExprStatus::kSyntax) Diag(Severity::kError, loc, msg::kGnuBadExpression, std::string(Trim(text)).c_str());
    else Diag(Severity::kError, loc, msg::kGnuNotConstant, std::string(Trim(text)).c_str());
    return false;
}

void Assembler::Add(Item item) {
    // Known bytes that follow known bytes extend their item: fewer items
    // for every walk. The listing and an editor need an item per statement,
    // so not then.
    if (item.kind == IK::kBytes && !keepLines_ && !items_.empty() && !sections_[cur_].nobits) {
        Item& last = items_.back();
        if (last.kind == IK::kBytes && last.a + last.b == item.a && last.b < (1u << 30)) {
            last.b += item.b;
            Emit(pool_.data() + item.a, item.b);
            return;
        }
    }
    items_.push_back(std::move(item));
    Step(items_.size() - 1);
}

void Assembler::Emit(const std::uint8_t* p, std::size_t n) {
    if (final_) {
        Section& s = sections_[cur_];
        const auto at = static_cast<std::size_t>(off_[cur_]);
        // A section of no bytes keeps none: GNU as refuses what would be lost.
        if (s.nobits && std::any_of(p, p + n, [](std::uint8_t b) { return b != 0; }))
            Late(1, Severity::kError, items_[stepIndex_].loc, msg::kGnuNoBits, s.name.c_str());
        if (!s.nobits) {
            // Sized from the last walk already; only an error path grows it.
            if (s.bytes.size() < at + n) s.bytes.resize(at + n);
            std::memcpy(s.bytes.data() + at, p, n);
        }
    }
    off_[cur_] += static_cast<std::int64_t>(n);
}

void Assembler::EmitFill(std::int64_t count, const std::uint8_t* pattern, std::size_t size) {
    Section& s = sections_[cur_];
    // No section may pass what an image can hold: an .org or .align far
    // out would otherwise take all memory.
    if (count > 0 && (count > kMaxImage || off_[cur_] + count * static_cast<std::int64_t>(size) > kMaxImage)) {
        if (final_ && !tooLarge_) Late(1, Severity::kError, items_[stepIndex_].loc, msg::kGnuTooLarge, "256 MiB");
        tooLarge_ = true;
        return;
    }
    if (final_ && s.nobits && count > 0 && std::any_of(pattern, pattern + size, [](std::uint8_t b) { return b != 0; }))
        Late(1, Severity::kWarning, items_[stepIndex_].loc, msg::kGnuNoBitsFill, s.name.c_str());
    if (final_ && !s.nobits && count > 0) {
        const auto at = static_cast<std::size_t>(off_[cur_]);
        const std::size_t total = static_cast<std::size_t>(count) * size;
        if (s.bytes.size() < at + total) s.bytes.resize(at + total);
        for (std::size_t k = 0; k < total; ++k) s.bytes[at + k] = pattern[k % size];
    }
    if (count > 0) off_[cur_] += count * static_cast<std::int64_t>(size);
}

void Assembler::Step(std::size_t index) {
    Item& it = items_[index];
    stepIndex_ = index;
    const std::int64_t before = off_[cur_];
    const std::size_t sec = cur_;
    switch (it.kind) {
        case IK::kBytes: Emit(pool_.data() + it.a, it.b); break;
        case IK::kSpace: EmitFill(it.n, pool_.data() + it.a, it.b); break;
        case IK::kInstr: {
            std::uint8_t bytes[8] = {};
            std::size_t length = it.width;
            if (final_) {
                const std::string_view text = Text(it);
                const std::size_t cut = std::min(text.find_first_of(" \t"), text.size());
                Encode(text.substr(0, cut), text.substr(cut), Mode::kFinal, it.loc, bytes, length);
            }
            Emit(bytes, it.width);
            break;
        }
        case IK::kBranch: {
            struct Branch& br = branches_[it.a];
            // Conditions (codes 0x40-0x4F) grow; jr and jal stay 4 bytes.
            if (walk_ > 0 && br.code >= 0x40 && br.size == 2) {
                usedLast_ = false;
                Value t;
                if (ItemValue(it, t, nullptr) == ExprStatus::kOk &&
                    (t.sec == static_cast<int>(cur_) || t.sec == kAbsolute)) {
                    // A target not reached yet in this walk moves as far as
                    // everything before the branch has moved (the stretch),
                    // as GNU as' relax_frag estimates it: unless an alignment
                    // or .org lies between, which may absorb a growth; then
                    // a target seeming behind the branch waits a walk.
                    const std::int64_t stretch = off_[cur_] - br.prevOff;
                    bool wait = false;
                    if (usedLast_ && t.sec == static_cast<int>(cur_) && stretch != 0) {
                        if (stretch < 0 || lastRegion_ == region_[cur_]) t.v = Plus(t.v, stretch);
                        else wait = t.v < off_[cur_];
                    }
                    const std::int64_t aim = Minus(t.v, off_[cur_]);
                    if (!wait && (aim < -256 || aim > 254)) {
                        br.size = br.code == 0x45 ? 4 : 6;
                        grew_ = true;
                    }
                }
            }
            br.prevOff = off_[cur_];
            std::uint8_t bytes[8] = {};
            if (final_) Branch(it, bytes);
            Emit(bytes, br.size);
            break;
        }
        case IK::kData: {
            std::uint8_t bytes[8] = {};
            if (final_) {
                Value v;
                std::string name;
                const ExprStatus st = ItemValue(it, v, &name);
                if (st == ExprStatus::kUndefined) {
                    Undefined(it.loc, name);
                    if (unit_) {
                        std::int64_t x = 0;
                        ApplyFn(static_cast<Fn>(it.b), x, Mode::kFinal, it.loc);
                    }
                } else if (st != ExprStatus::kOk) {
                    Late(2, Severity::kError, it.loc, msg::kGnuBadExpression, std::string(Text(it)).c_str());
                } else {
                    std::int64_t x = Address(v.sec, v.v);
                    const Fn fn = static_cast<Fn>(it.b);
                    ApplyFn(fn, x, Mode::kFinal, it.loc);
                    const int bits = it.width * 8;
                    if (AreaFunction(fn) && (x < -32768 || x > 32767)) {
                        Late(3, Severity::kError, it.loc, msg::kGnuAreaRange, FunctionName(fn), static_cast<long long>(x));
                    } else if (bits < 64) {
                        const std::int64_t low = -(std::int64_t{1} << (bits - 1)), high = (std::int64_t{1} << bits) - 1;
                        if (x < low || x > high)
                            Late(2, ctx_.set.strict ? Severity::kError : Severity::kWarning, it.loc, msg::kGnuCut,
                                 static_cast<long long>(x), static_cast<long long>(low), static_cast<long long>(high),
                                 static_cast<unsigned long long>(x & high));
                    }
                    for (int k = 0; k < it.width; ++k) bytes[k] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(x) >> (8 * k));
                }
            }
            Emit(bytes, it.width);
            break;
        }
        case IK::kLabel: {
            Sym& s = syms_[it.a];
            s.val = {off_[cur_], static_cast<int>(cur_)};
            s.defined = true;
            s.region = region_[cur_];
            break;
        }
        case IK::kSet: {
            if (it.width == 1) {
                // An alias: the name stands for the name of symbol n.
                Sym& s = syms_[it.a];
                s.alias = static_cast<int>(it.n);
                s.val = {};
                s.defined = true;
                s.moves = false;
                break;
            }
            syms_[it.a].alias = -1;
            Value v;
            std::string name;
            dot = {off_[cur_], static_cast<int>(cur_)};
            const ExprStatus st = Evaluate(Text(it), *this, v, unit_ ? &name : nullptr);
            if (st == ExprStatus::kOk) {
                Sym& s = syms_[it.a];
                s.val = v;
                s.defined = true;
                s.moves = moved;
                s.region = region_[cur_];
            } else if (unit_ && final_ && st == ExprStatus::kUndefined && name.front() != '\x01') {
                // In a unit, a name set from one the link gives is the
                // link's to complete, as GNU as leaves it to a relocation.
                Undefined(it.loc, name);
            }
            break;
        }
        case IK::kAlign: {
            const std::int64_t pad = (it.n - off_[cur_] % it.n) % it.n;
            const std::uint8_t fill = static_cast<std::uint8_t>(it.a);
            if (it.b == 0 || pad <= it.b) EmitFill(pad, &fill, 1);
            ++region_[cur_];
            break;
        }
        case IK::kOrg: {
            Value v;
            std::string name;
            dot = {off_[cur_], static_cast<int>(cur_)};
            const ExprStatus st = Evaluate(Text(it), *this, v, &name);
            if (st != ExprStatus::kOk || (v.sec != kAbsolute && v.sec != static_cast<int>(cur_))) {
                if (final_) {
                    if (st == ExprStatus::kUndefined) Undefined(it.loc, name);
                    else Late(1, Severity::kError, it.loc, msg::kGnuNotConstant, std::string(Text(it)).c_str());
                }
                break;
            }
            ++region_[cur_];
            if (v.v < off_[cur_]) {
                if (final_) Late(1, Severity::kError, it.loc, msg::kGnuOrgBackwards);
                break;
            }
            // GNU as' first estimate of sizes takes an .org for nothing.
            const std::uint8_t fill = static_cast<std::uint8_t>(it.a);
            if (!estimate_) EmitFill(v.v - off_[cur_], &fill, 1);
            break;
        }
        case IK::kSection: cur_ = it.a; break;
    }
    if (final_ && keepLines_) {
        // A section switch is listed where it leads.
        itemPlace_[index] = it.kind == IK::kSection ? std::pair{static_cast<std::int64_t>(cur_) << 40 | off_[cur_], off_[cur_]}
                                                    : std::pair{static_cast<std::int64_t>(sec) << 40 | before, off_[sec]};
    }
}

void Assembler::WalkItems() {
    if (!unit_ || !final_ || linked_) {
        for (std::size_t i = 0; i < items_.size(); ++i) Step(i);
        return;
    }
    // A unit's walk before the link notes the items the link decides.
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const auto section = static_cast<std::uint32_t>(cur_);
        const std::int64_t offset = off_[cur_];
        linkUse_ = false;
        Step(i);
        if (linkUse_ || items_[i].kind == IK::kSet) replay_.push_back({static_cast<std::uint32_t>(i), section, offset});
    }
}

void Assembler::BeginWalk() {
    for (Sym& s : syms_) s.defined = s.linked;
    off_.assign(sections_.size(), 0);
    region_.assign(sections_.size(), 0);
    cur_ = 0;
    grew_ = false;
    tooLarge_ = false;
}

bool Assembler::EndWalk() {
    bool changed = false;
    for (Sym& s : syms_) {
        changed = changed || s.lastDefined != s.defined || s.last.v != s.val.v || s.last.sec != s.val.sec;
        s.lastDefined = s.defined;
        s.last = s.val;
    }
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        Section& s = sections_[i];
        s.size = (off_[i] + s.align - 1) / s.align * s.align;
    }
    return changed;
}

// Places the sections after a walk; true when a start moved.
bool Assembler::Place() {
    bool moved = false;
    bool first = true;
    std::int64_t end = kDefaultStart;
    std::vector<Section*> order;
    for (Section& s : sections_)
        if (s.appeared >= 0) order.push_back(&s);
    std::sort(order.begin(), order.end(), [](const Section* a, const Section* b) { return a->appeared < b->appeared; });
    for (Section* p : order) {
        Section& s = *p;
        if (!s.alloc) {
            s.start = 0;  // as a linker leaves a section that is not loaded
            continue;
        }
        std::int64_t start = s.start;
        if (s.placed) start = s.start;
        else if (first) start = (kDefaultStart + s.align - 1) / s.align * s.align;
        else start = (end + s.align - 1) / s.align * s.align;
        moved |= start != s.start;
        s.start = start;
        end = start + s.size;
        first = false;
    }
    return moved;
}

void Assembler::Read(std::string text, const std::string& path, const Defines& defines) {
    path_ = path;
    // In a unit, --section-start is the linker's.
    for (const auto& [name, value] : unit_ ? Defines{} : ctx_.set.sectionStarts) {
        std::int64_t v = 0;
        // The V810 addresses 4 GiB.
        if (!Now(value, Loc{}, v, true) || v < 0 || v > 0xFFFFFFFF) {
            ReportGnu(ctx_, Severity::kError, nullptr, 0, msg::kGnuBadOption, (name + "=" + value).c_str());
            continue;
        }
        Section& s = sections_[SectionNamed(name)];
        s.placed = true;
        s.start = v;
    }
    off_.assign(sections_.size(), 0);
    region_.assign(sections_.size(), 0);
    for (const auto& [name, value] : defines) {
        std::int64_t v = 0;
        if (!Now(value, Loc{}, v, true)) {
            ReportGnu(ctx_, Severity::kError, nullptr, 0, msg::kGnuBadOption, (name + "=" + value).c_str());
            continue;
        }
        Sym& s = syms_[static_cast<std::size_t>(SymIndex(name))];
        s.val = {v, kAbsolute};
        s.defined = true;
    }
    // --defsym values stand in every walk: they are items before the first line.
    for (std::size_t i = 0; i < syms_.size(); ++i) {
        if (!syms_[i].defined) continue;
        Item it{IK::kSet};
        it.a = static_cast<std::uint32_t>(i);
        SetText(it, std::to_string(syms_[i].val.v));
        items_.push_back(std::move(it));
    }
    if (!unit_) Place();

    // About an item for every dozen bytes of source: room at once spares the
    // copies of a growing vector (pages not used are never touched).
    items_.reserve(text.size() / 12);
    source_.PushFile(std::move(text), path);
    Stmt st;
    while (source_.Next(st)) {
        for (Loc open; source_.TakeOpenEnd(open);) Diag(Severity::kWarning, open, "%s", msg::kGnuNoLineEnd);
        // Bounded, so that a runaway macro cannot take all memory, and text
        // offsets fit 32 bits.
        if ((st.produced && ++statements_ > kMaxStatements) || texts_.size() > kMaxText) {
            Diag(Severity::kError, st.loc, "%s", msg::kGnuTooMany);
            source_.Stop();
            break;
        }
        Statement(st);
    }
    if (rec_) Diag(Severity::kError, rec_->loc, msg::kGnuNoEnd, rec_->kind == Recording::kMacro ? ".endm" : ".endr");
    for (Loc open; source_.TakeOpenEnd(open);) Diag(Severity::kWarning, open, "%s", msg::kGnuNoLineEnd);
    if (!conds_.empty()) {
        // For the file, then where the innermost one opened (and its .else).
        const Cond& c = conds_.back();
        Diag(Severity::kError, Loc{0, 0}, "%s", msg::kGnuCondAtEnd);
        Diag(Severity::kError, c.at, "%s", msg::kGnuCondOpener);
        if (c.sawElse) Diag(Severity::kError, c.elseAt, "%s", msg::kGnuCondElse);
    }
}

void Assembler::Relax() {
    EndWalk();
    // A unit's sections begin at 0, as in GNU as' object file: the link
    // places them.
    if (unit_)
        for (Section& s : sections_) s.start = 0;
    else
        Place();
    // GNU as relaxes from its first estimate of sizes, in which an .org
    // takes no room; where the program has one, a walk gives those values.
    if (hasOrg_) {
        BeginWalk();
        estimate_ = true;
        WalkItems();
        estimate_ = false;
        EndWalk();
    }

    // Relax: branch sizes only grow, until nothing moves. Every walk writes
    // the bytes; those of the walk that changed nothing stand, for it read
    // every name ahead at the value it now has.
    final_ = true;
    for (walk_ = 1; walk_ < kMaxWalks; ++walk_) {
        BeginWalk();
        late_.clear();
        refs_.clear();
        refIndex_.clear();
        replay_.clear();
        for (Section& s : sections_)
            if (!s.nobits) s.bytes.assign(static_cast<std::size_t>(s.size), 0);
        if (keepLines_) itemPlace_.assign(items_.size(), {});
        WalkItems();
        const bool changed = EndWalk();
        const bool moved = !unit_ && Place();
        if (!grew_ && !moved && !changed) break;
    }
}

void Assembler::ReportLate() {
    // GNU as writes its sections in the order it made them: .text, .data
    // and .bss first, then as they appear.
    std::vector<int> order(sections_.size());
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        const std::string& name = sections_[i].name;
        order[i] = name == ".text" ? 0 : name == ".data" ? 1 : name == ".bss" ? 2 : 3 + sections_[i].appeared;
    }
    std::stable_sort(late_.begin(), late_.end(), [&order](const LateDiag& a, const LateDiag& b) {
        if (a.phase != b.phase) return a.phase < b.phase;
        return a.phase != 3 && order[static_cast<std::size_t>(a.section)] < order[static_cast<std::size_t>(b.section)];
    });
    // A name never defined: one message, at its first use.
    std::unordered_set<std::string> undefinedSeen;
    for (const LateDiag& d : late_) {
        if (d.phase == 3 && !undefinedSeen.insert(d.text).second) continue;
        Report(d.severity, d.loc, d.text);
    }
    late_.clear();
}

void Assembler::Labels(std::vector<std::pair<std::uint32_t, std::string>>& out) {
    for (const Sym& s : syms_) {
        // Local labels and .L names stay out, as they stay out of GNU as'
        // symbol table; so does a weak definition another unit's overrides.
        if (!s.label || !s.defined || s.linked || s.name[0] == '\x01' || s.name.starts_with(".L")) continue;
        out.emplace_back(static_cast<std::uint32_t>(Address(s.val.sec, s.val.v)), s.name);
    }
}

void Assembler::Run(std::string text, const std::string& path, const Defines& defines, Image& image) {
    Read(std::move(text), path, defines);
    Relax();
    ReportLate();

    // The image: from the lowest section with bytes to the highest end.
    std::int64_t low = INT64_MAX, high = INT64_MIN;
    for (Section& s : sections_) {
        if (!s.alloc || s.nobits || s.size == 0) continue;
        low = std::min(low, s.start);
        high = std::max(high, s.start + s.size);
    }
    if (low < high) {
        if (high - low > kMaxImage) {
            ReportGnu(ctx_, Severity::kError, nullptr, 0, msg::kGnuTooLarge, "256 MiB");
        } else {
            image.start = static_cast<std::uint32_t>(low);
            image.bytes.assign(static_cast<std::size_t>(high - low), 0xFF);
            for (Section& s : sections_) {
                if (!s.alloc || s.nobits || s.size == 0) continue;
                std::uint8_t* at = image.bytes.data() + (s.start - low);
                std::fill(at, at + s.size, 0);
                std::copy_n(s.bytes.begin(), std::min<std::size_t>(s.bytes.size(), static_cast<std::size_t>(s.size)), at);
            }
        }
    }
    Labels(image.labels);
    image_ = &image;
    if (listing_ != nullptr) Listing();
    if (image.record) Record(image);
}

// One line per statement: the address in its section, the first bytes it
// put in the image, its line and text; then where the sections lie.
void Assembler::Listing() {
    ListStatements();
    std::fprintf(listing_, "; sections\n");
    std::vector<const Section*> order;
    for (const Section& s : sections_)
        if (s.appeared >= 0) order.push_back(&s);
    std::sort(order.begin(), order.end(), [](const Section* a, const Section* b) { return a->appeared < b->appeared; });
    for (const Section* p : order) {
        const Section& s = *p;
        std::fprintf(listing_, "; %-20s %08llx %8llx %s\n", s.name.c_str(), static_cast<unsigned long long>(s.start),
                     static_cast<unsigned long long>(s.size),
                     !s.alloc ? "not loaded" : s.nobits ? "no bytes" : "loaded");
    }
    std::fprintf(listing_, "; image %08x, %zu bytes\n", image_->start, image_->bytes.size());
}

template <class Visit>
void Assembler::EachStatement(std::size_t max, Visit&& visit) const {
    std::int64_t address = sections_[0].start;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const ListLine& l = lines_[i];
        const std::size_t end = i + 1 < lines_.size() ? lines_[i + 1].firstItem : items_.size();
        bytes.clear();
        bool placed = false;
        for (std::size_t k = l.firstItem; k < end; ++k) {
            const auto [packed, stop] = itemPlace_[k];
            const Section& s = sections_[static_cast<std::size_t>(packed >> 40)];
            const std::int64_t from = packed & ((std::int64_t{1} << 40) - 1);
            if (!placed || (bytes.empty() && stop > from)) address = s.start + from;
            placed = true;
            if (!s.alloc || s.nobits || s.dropped) continue;
            for (std::int64_t b = from; b < stop && bytes.size() < max; ++b)
                bytes.push_back(static_cast<std::size_t>(b) < s.bytes.size() ? s.bytes[static_cast<std::size_t>(b)] : 0);
        }
        visit(l.loc, address, bytes, std::string_view(lineTexts_).substr(l.textAt, l.textLen));
    }
}

void Assembler::ListStatements() {
    EachStatement(8, [this](const Loc& loc, std::int64_t address, const std::vector<std::uint8_t>& bytes,
                            std::string_view text) {
        std::string hex;
        for (std::size_t b = 0; b < bytes.size(); ++b) {
            char two[4];
            std::snprintf(two, sizeof two, b == 0 ? "%02x" : " %02x", bytes[b]);
            hex += two;
        }
        std::fprintf(listing_, "%08llx  %-23s  %5d  %.*s\n", static_cast<unsigned long long>(address), hex.c_str(),
                     loc.line, static_cast<int>(text.size()), text.data());
    });
}

void Assembler::Record(Image& image) const {
    for (const Sym& s : syms_) {
        // Local labels are the editor's to find; a weak definition another
        // unit overrides is not this unit's.
        if (!s.defined || s.linked || s.name[0] == '\x01' || s.at.line == 0) continue;
        image.names.push_back({s.label ? Image::Named::kLabel : Image::Named::kSet, s.name,
                               s.label ? Address(s.val.sec, s.val.v) : s.val.sec < 0 ? s.val.v : Address(s.val.sec, s.val.v),
                               names_[s.at.file], s.at.line});
    }
    for (const auto& [key, m] : macros_) image.names.push_back({Image::Named::kMacro, m->name, 0, names_[m->at.file], m->at.line});
    for (const Section& s : sections_)
        if (s.appeared >= 0) image.names.push_back({Image::Named::kSection, s.name, s.start, {}, 0});
    EachStatement(16, [&](const Loc& loc, std::int64_t address, const std::vector<std::uint8_t>& bytes, std::string_view) {
        if (!bytes.empty()) image.statements.push_back({names_[loc.file], loc.line, static_cast<std::uint64_t>(address), bytes});
    });
}

void Assemble(Context& ctx, std::FILE* src, const std::string& path, const Defines& defines, Image& image,
              std::FILE* listing) {
    Assembler a(ctx, listing);
    a.KeepLines(image.record);
    a.Run(ReadRest(src), path, defines, image);
}

}  // namespace tarvo::gnu
