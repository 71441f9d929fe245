#include "driver/line_supply.h"

#include <algorithm>
#include <array>

#include "directives/compiler_line.h"
#include "isa/optable.h"
#include "messages.h"
#include "symbols/symbols.h"
#include "text.h"

namespace tarvo {
namespace {

constexpr BlockWord kTarvoWords[] = {
    {"macro.", Block::kMacro}, {"endm.", Block::kEndm},   {"rept.", Block::kRept},   {"irp.", Block::kIrp},
    {"endr.", Block::kEndr},   {"if.", Block::kIf},       {"ifdef.", Block::kIfdef}, {"ifndef.", Block::kIfndef},
    {"elif.", Block::kElif},   {"else.", Block::kElse},   {"endif.", Block::kEndif},
};

constexpr int kMaxMacroDepth = 256;
constexpr std::size_t kMaxConditions = 256;
constexpr std::uint64_t kMaxRepeatedLines = 1000000;
// All that expansions may produce in one run, and one produced line at
// most: far beyond any real program, yet reached in seconds by one that
// doubles itself, or its arguments, at every level.
constexpr std::uint64_t kMaxProducedLines = 20000000;
constexpr std::uint64_t kMaxProducedBytes = std::uint64_t{1} << 30;
constexpr std::uint64_t kMaxProducedLine = std::uint64_t{1} << 20;

// Puts the values in for escape+NAME (the longest name that matches,
// letter case ignored), escape+'@' (number) and escape+"()" (nothing).
// False when out would pass limit bytes.
bool Substitute(std::string_view text, char escape, const std::vector<std::string_view>& names,
                const std::vector<std::string_view>& values, std::string_view number, std::string& out,
                std::uint64_t limit) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (out.size() > limit) return false;
        if (text[i] != escape || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const std::string_view after = text.substr(i + 1);
        if (!number.empty() && after.front() == '@') {
            out += number;
            ++i;
            continue;
        }
        if (after.starts_with("()")) {
            i += 2;
            continue;
        }
        std::size_t best = names.size(), bestLength = 0;
        for (std::size_t k = 0; k < names.size(); ++k) {
            const std::string_view n = names[k];
            if (n.size() > bestLength && n.size() <= after.size() && stricmp(after.substr(0, n.size()), n) == 0) {
                best = k;
                bestLength = n.size();
            }
        }
        if (best == names.size()) {
            out += text[i];
            continue;
        }
        out += values[best];
        i += bestLength;
    }
    return out.size() <= limit;
}

// The next macro argument or irp. item: an operand, or a text that begins
// with a quote and runs to the matching one (a \" inside does not end it),
// quotes kept, with whatever follows it up to a separator.
std::string_view NextArgument(std::string_view& rest) {
    std::size_t i = 0;
    while (i < rest.size() && IsSeparator(rest[i])) ++i;
    if (i == rest.size() || rest[i] != '"') return NextOperand(rest, true);
    std::size_t j = i + 1;
    while (j < rest.size() && rest[j] != '"') j += rest[j] == '\\' && j + 1 < rest.size() ? 2 : 1;
    while (j < rest.size() && !IsSeparator(rest[j])) ++j;
    const std::string_view argument = rest.substr(i, j - i);
    rest.remove_prefix(j < rest.size() ? j + 1 : j);
    return argument;
}

// Products of line counts, held below overflow: a count beyond any bound is enough.
std::uint64_t Times(std::uint64_t a, std::uint64_t b) {
    constexpr std::uint64_t kHuge = std::uint64_t{1} << 40;
    return a == 0 || b == 0 ? 0 : a >= kHuge || b >= kHuge || a > kHuge / b ? kHuge : a * b;
}

}  // namespace

constexpr auto kTarvoKeys = [] {
    std::array<std::uint64_t, std::size(kTarvoWords)> keys{};
    for (std::size_t i = 0; i < keys.size(); ++i) keys[i] = PackName(kTarvoWords[i].word);
    return keys;
}();

const Spelling kTarvoSpelling{kTarvoWords, kTarvoKeys, '\\', '.'};

// A macro call or a repeat block being read out.
struct LineSupply::Frame {
    bool macro = false;
    std::shared_ptr<const Macro> body;           // a macro's, or the block's (name and params unused)
    std::vector<std::string_view> names;         // parameters
    std::vector<std::string> args;               // their values (irp: all items, one per round)
    std::vector<std::string_view> values;        // what names stand for now
    std::string number;                          // \@
    std::size_t next = 0;                        // the next body line
    std::uint64_t round = 0, rounds = 1;
    int callLine = 0;
    std::size_t conditions = 0;                  // conditions open when it began
    std::string buffer;                          // the line as substituted
};

// A macro body or repeat block whose end has not been read yet.
struct LineSupply::Recording {
    Block block;                 // kMacro, kRept or kIrp
    int depth = 1;               // openers of its family not closed yet
    bool rejected = false;       // a macro that will not be defined
    std::uint64_t count = 0;     // rept.
    std::vector<std::string> items;  // irp.
    std::shared_ptr<Macro> macro = std::make_shared<Macro>();
    Opener opener;
};

LineSupply::LineSupply(Context& ctx, LineReader& reader, bool top, const Spelling& spelling)
    : ctx_(ctx), reader_(reader), top_(top), spelling_(spelling) {}

LineSupply::~LineSupply() {
    for (const auto& f : frames_)
        if (f->macro) PopCall(ctx_);
}

Block LineSupply::FindWord(std::string_view token) const {
    if (token.size() > 8) return Block::kNone;
    const std::uint64_t key = PackName(token);
    for (std::size_t i = 0; i < spelling_.words.size(); ++i)
        if (key == spelling_.keys[i]) return spelling_.words[i].block;
    return Block::kNone;
}

bool LineSupply::PullExpanded(std::string_view& line) {
    while (!frames_.empty()) {
        Frame& f = *frames_.back();
        if (f.next == f.body->body.size() && ++f.round < f.rounds) f.next = 0;
        if (f.next == f.body->body.size()) {
            if (f.macro) PopCall(ctx_);
            frames_.pop_back();
            continue;
        }
        const StoredLine& stored = f.body->body[f.next++];
        const std::uint64_t room =
            std::min(kMaxProducedLine, kMaxProducedBytes - std::min(kMaxProducedBytes, ctx_.producedBytes));
        if (f.names.empty() && f.number.empty()) {
            line = stored.text;
        } else {
            if (!f.macro) f.values[0] = f.args[f.round];
            if (!Substitute(stored.text, spelling_.escape, f.names, f.values, f.number, f.buffer, room)) f.buffer.clear();
            line = f.buffer;
        }
        if (++ctx_.producedLines > kMaxProducedLines || line.size() > room ||
            (line.empty() && !stored.text.empty())) {
            Cut();
            continue;
        }
        ctx_.producedBytes += line.size();
        ctx_.line = f.macro ? f.callLine : stored.line;
        // A line recorded from a macro body keeps its place there.
        ctx_.bodyLine = stored.bodyLine != 0 ? stored.bodyLine : f.macro ? stored.line : 0;
        ctx_.bodyFile = stored.bodyLine != 0 ? stored.bodyFile : f.body->file;
        return true;
    }
    return Pull(line);
}

// The bound of the run is passed: every expansion open ends here.
void LineSupply::Cut() {
    Report(ctx_, Severity::kError, AtLocation(ctx_), msg::kTooManyRepetitions);
    ctx_.expansionCut = true;
    Abandon();
}

void LineSupply::Abandon() {
    if (frames_.empty()) return;
    // What they opened goes with them, without a word.
    conditions_.resize(std::min(conditions_.size(), frames_.front()->conditions));
    for (const auto& f : frames_)
        if (f->macro) PopCall(ctx_);
    frames_.clear();
}

bool LineSupply::NextSlow(std::string_view& line, std::string_view& first, std::string_view& rest) {
    for (;;) {
        if (!Pull(line)) return false;
        ctx_.lineAddress = ctx_.obj.Address();
        rest = line;
        first = NextToken(rest);
        const Block block = ctx_.set.classic ? Block::kNone : Find(first);
        // Most lines are neither keywords nor inside a block or condition.
        if (block == Block::kNone && recording_ == nullptr && conditions_.empty()) {
            Show(line);
            return true;
        }
        if (Consume(line, first, rest, block)) return true;
    }
}

bool LineSupply::Consume(std::string_view line, std::string_view first, std::string_view rest, Block block) {
    if (recording_ != nullptr) {
        if (Record(line, block)) Show(line);
        return false;
    }
    Show(line);
    if (block >= Block::kIf) {
        Condition(block, first, rest);
        return false;
    }
    if (Skipping()) return false;
    if (block == Block::kNone) return true;
    Open(block, first, rest);
    return false;
}

// One line inside a body being recorded; false for its last line, whose
// listing comes after the block has been handled.
bool LineSupply::Record(std::string_view line, Block block) {
    Recording& r = *recording_;
    const bool macro = r.block == Block::kMacro;
    if (macro ? block == Block::kMacro : block == Block::kRept || block == Block::kIrp) ++r.depth;
    if ((macro ? block == Block::kEndm : block == Block::kEndr) && --r.depth == 0) {
        Show(line);
        Close();
        return false;
    }
    r.macro->body.push_back({std::string(line), ctx_.line, ctx_.bodyLine, ctx_.bodyFile});
    return true;
}

void LineSupply::Open(Block block, std::string_view first, std::string_view rest) {
    const Where here = AtLocation(ctx_);
    switch (block) {
        case Block::kEndm:
        case Block::kEndr:
            // A closer with no opener: the classic reading's word for it.
            Report(ctx_, Severity::kError, here, msg::kUnbalanced, std::string(first).c_str());
            return;
        default: break;
    }
    auto r = std::make_unique<Recording>();
    r->block = block;
    r->macro->file = ctx_.file;
    r->opener = OpenerHere(first);
    if (block == Block::kMacro) {
        const std::string_view name = NextOperand(rest, true);
        r->macro->name = name;
        r->opener.word = name;
        for (std::string_view p; !(p = NextOperand(rest, true)).empty();) {
            const std::size_t eq = p.find('=');
            r->macro->params.emplace_back(p.substr(0, eq), eq == std::string_view::npos ? "" : p.substr(eq + 1));
        }
        if (ReservedName(name) || Find(name) != Block::kNone) {
            Report(ctx_, Severity::kError, here, msg::kInvalidMacroName, std::string(name).c_str());
            r->rejected = true;
        } else if (ctx_.macros.count(Folded(name)) != 0) {
            Report(ctx_, Severity::kError, here, msg::kMacroTwice, std::string(name).c_str());
            r->rejected = true;
        }
    } else if (block == Block::kRept) {
        const std::optional<std::int32_t> count = ValueAt(NextOperand(rest, true));
        r->count = count.value_or(0) > 0 ? static_cast<std::uint64_t>(*count) : 0;
        if (count) ReportUnread(ctx_, rest);
    } else {  // irp. PARAM, A, B, C
        r->macro->params.emplace_back(NextOperand(rest, true), "");
        for (std::string_view item; !(item = NextArgument(rest)).empty();) r->items.emplace_back(item);
    }
    recording_ = std::move(r);
}

// The last line of a body: a macro is defined, a block is read out.
void LineSupply::Close() {
    std::unique_ptr<Recording> r = std::move(recording_);
    if (r->block == Block::kMacro) {
        if (!r->rejected) ctx_.macros[Folded(r->macro->name)] = r->macro;
        return;
    }
    auto f = std::make_unique<Frame>();
    if (r->block == Block::kIrp) {
        f->args = std::move(r->items);
        if (f->args.empty()) f->args.emplace_back();  // once, with the empty text
        f->rounds = f->args.size();
        f->names.push_back(r->macro->params.front().first);
        f->values.resize(1);
    } else {
        f->rounds = r->count;
    }
    if (f->rounds == 0 || r->macro->body.empty()) return;
    // Blocks nested in it count here, so that the outermost block gets the
    // one report. One inside a running block that passes the bound all the
    // same (its count was not known before) ends the blocks around it.
    if (Times(Times(f->rounds, RoundLines(r->macro->body)), Rounds()) > kMaxRepeatedLines || ctx_.expansionCut) {
        Report(ctx_, Severity::kError, AtLocation(ctx_), msg::kTooManyRepetitions);
        Abandon();
        return;
    }
    f->body = std::move(r->macro);
    f->conditions = conditions_.size();
    frames_.push_back(std::move(f));
}

std::uint64_t LineSupply::RoundLines(const std::vector<StoredLine>& body) {
    // Iterative: a body may hold blocks nested thousands deep.
    struct Level {
        std::uint64_t rounds, lines;
        std::size_t start;  // the first line of its body
    };
    std::vector<Level> levels{{1, 0, 0}};
    for (std::size_t at = 0; at < body.size(); ++at) {
        std::string_view rest = body[at].text;
        const Block block = Find(NextToken(rest));
        if (block == Block::kEndr && levels.size() > 1) {
            const Level inner = levels.back();
            levels.pop_back();
            // Its lines are read once as lines of this body, then its rounds.
            levels.back().lines += (at + 1 - inner.start) + Times(inner.rounds, inner.lines);
            continue;
        }
        ++levels.back().lines;
        if (block != Block::kRept && block != Block::kIrp) continue;
        std::uint64_t rounds = 0;
        std::int32_t v = 0;
        if (block == Block::kRept) {
            if (ValueNow(ctx_, NextOperand(rest, true), v) == ExprStatus::kOk && v > 0) rounds = static_cast<std::uint64_t>(v);
        } else {
            NextOperand(rest, true);
            while (!NextArgument(rest).empty()) ++rounds;
            rounds = std::max<std::uint64_t>(rounds, 1);
        }
        levels.push_back({rounds, 0, at + 1});
    }
    return levels.front().lines;
}

// How many times a line of a block read now is read in all, through the
// repeat blocks it stands in.
std::uint64_t LineSupply::Rounds() const {
    std::uint64_t n = 1;
    for (const auto& f : frames_)
        if (!f->macro) n *= f->rounds;
    return n;
}

bool LineSupply::Expand(std::string_view name, std::string_view rest) {
    const auto it = ctx_.macros.find(Folded(name));
    if (it == ctx_.macros.end()) return false;
    const std::shared_ptr<const Macro>& m = it->second;
    std::vector<std::string> args;
    for (std::string_view a; !(a = NextArgument(rest)).empty();) args.emplace_back(a);
    const std::string shown(name);
    if (args.size() > m->params.size()) {
        Report(ctx_, Severity::kError, AtLocation(ctx_), msg::kTooManyArguments, shown.c_str());
        return true;
    }
    if (ctx_.expansions.size() >= kMaxMacroDepth) {
        // Almost always a macro that calls itself: what is left of the
        // calls is dropped too, or one that calls itself twice would repeat
        // this message 2^256 times.
        Report(ctx_, Severity::kError, AtLocation(ctx_), msg::kMacroTooDeep, shown.c_str());
        Abandon();
        return true;
    }
    if (m->body.empty()) return true;
    if (ctx_.expansionCut) {
        Report(ctx_, Severity::kError, AtLocation(ctx_), msg::kTooManyRepetitions);
        return true;
    }
    auto f = std::make_unique<Frame>();
    f->macro = true;
    f->body = m;
    for (std::size_t i = 0; i < m->params.size(); ++i) {
        f->names.push_back(m->params[i].first);
        f->args.push_back(i < args.size() ? args[i] : m->params[i].second);
    }
    f->values.assign(f->args.begin(), f->args.end());
    f->number = std::to_string(ctx_.macroCalls++);
    f->callLine = ctx_.line;
    f->conditions = conditions_.size();
    // Where the call is written: a body line when a macro calls it.
    PushCall(ctx_, ctx_.bodyLine != 0 ? MacroCall{shown, ctx_.bodyFile, ctx_.bodyLine}
                                      : MacroCall{shown, ctx_.file, ctx_.line});
    frames_.push_back(std::move(f));
    return true;
}

std::optional<std::int32_t> LineSupply::ValueAt(std::string_view expr) { return ValueHere(ctx_, expr); }


LineSupply::Opener LineSupply::OpenerHere(std::string_view word) {
    return {std::string(word), ctx_.file, ctx_.line, CurrentTrace(ctx_)};
}

void LineSupply::Condition(Block block, std::string_view first, std::string_view rest) {
    const std::string_view operand = NextOperand(rest, true);
    auto unbalanced = [&] {
        Report(ctx_, Severity::kError, AtLocation(ctx_), msg::kUnbalanced, std::string(first).c_str());
    };
    switch (block) {
        case Block::kIf:
        case Block::kIfdef:
        case Block::kIfndef: {
            if (conditions_.size() >= kMaxConditions) {
                Report(ctx_, Severity::kError, AtLocation(ctx_), msg::kConditionTooDeep);
                conditions_.push_back({false, true, false, OpenerHere(first)});
                return;
            }
            if (Skipping()) {
                conditions_.push_back({false, true, false, OpenerHere(first)});
                return;
            }
            // A value that could not be read was reported: once is enough.
            bool truth = false;
            if (block == Block::kIf) {
                const std::optional<std::int32_t> v = ValueAt(operand);
                truth = v.value_or(0) != 0;
                if (v) ReportUnread(ctx_, rest);
            } else {
                truth = ctx_.lstHead.CheckConstant(operand).has_value() == (block == Block::kIfdef);
                ReportUnread(ctx_, rest);
            }
            conditions_.push_back({truth, truth, false, OpenerHere(first)});
            return;
        }
        case Block::kElif:
        case Block::kElse: {
            if (conditions_.empty() || conditions_.back().sawElse) return unbalanced();
            const bool outer = conditions_.size() < 2 || conditions_[conditions_.size() - 2].active;
            struct Condition& c = conditions_.back();
            if (block == Block::kElse) {
                c.sawElse = true;
                c.active = outer && !c.taken;
                if (outer) ReportUnread(ctx_, operand);
            } else {
                const std::optional<std::int32_t> v = outer && !c.taken ? ValueAt(operand) : std::nullopt;
                c.active = v.value_or(0) != 0;
                if (v) ReportUnread(ctx_, rest);
            }
            c.taken = c.taken || c.active;
            return;
        }
        case Block::kEndif:
            if (conditions_.empty()) return unbalanced();
            conditions_.pop_back();
            if (!Skipping()) ReportUnread(ctx_, operand);
            return;
        default: return;
    }
}

void LineSupply::Finish() {
    // Each opener left open is reported at its own line, with what it opens.
    auto at = [](const Opener& o) { return Where{Where::kLine, o.file, o.line, -1, &o.trace}; };
    if (recording_ != nullptr) {
        const Opener& o = recording_->opener;
        Report(ctx_, Severity::kError, at(o), recording_->block == Block::kMacro ? msg::kMissingEndm : msg::kMissingEndr,
               o.word.c_str());
        recording_.reset();
    }
    for (const struct Condition& c : conditions_) Report(ctx_, Severity::kError, at(c.opener), msg::kUnbalanced, c.opener.word.c_str());
    conditions_.clear();
}

}  // namespace tarvo
