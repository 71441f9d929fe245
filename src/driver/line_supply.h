// Where the lines of a pass come from: the file, and the bodies of macro
// calls and repeat blocks, expanded on demand. Macro bodies and repeat
// blocks are recorded here and lines that conditions rule out are skipped
// here, so the line reader after it sees only lines to assemble, each read
// exactly as a written line is.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "driver/line_reader.h"
#include "globals.h"
#include "text.h"

namespace tarvo {

// The block keywords; a language spells them in a table of its own.
enum class Block : std::uint8_t { kNone, kMacro, kEndm, kRept, kIrp, kEndr, kIf, kIfdef, kIfndef, kElif, kElse, kEndif };

struct BlockWord {
    std::string_view word;
    Block block;
};

struct Spelling {
    std::span<const BlockWord> words;
    std::span<const std::uint64_t> keys;  // the words packed, as PackName packs them
    char escape;  // before a parameter's name, '@' and "()" in a body
    char last;    // every word ends with it
};

// The default language's spelling.
extern const Spelling kTarvoSpelling;

class LineSupply {
public:
    // top: the top file, whose lines are not marked as included.
    LineSupply(Context& ctx, LineReader& reader, bool top, const Spelling& spelling = kTarvoSpelling);
    ~LineSupply();
    LineSupply(const LineSupply&) = delete;
    LineSupply& operator=(const LineSupply&) = delete;

    // The next line to assemble, valid until the next call, split into its
    // first token and the rest. Sets ctx.line (the line messages name),
    // ctx.lineAddress and, for a line of a macro body, where it stands;
    // every line read is shown to the listing.
    bool Next(std::string_view& line, std::string_view& first, std::string_view& rest) {
        // Most lines come from the file and are neither keywords nor inside
        // a block or condition: they pass here without a call.
        if (frames_.empty() && recording_ == nullptr && conditions_.empty()) {
            if (!reader_.ExtractLine(ctx_.szBuffer, line)) return false;
            ctx_.line = ++fileLine_;
            ctx_.bodyLine = 0;
            ctx_.lineAddress = ctx_.obj.Address();
            rest = line;
            first = NextToken(rest);
            const Block block = ctx_.set.classic ? Block::kNone : Find(first);
            if (block == Block::kNone) {
                Show(line);
                return true;
            }
            if (Consume(line, first, rest, block)) return true;
        }
        return NextSlow(line, first, rest);
    }

    // A first token that names a macro: its body follows from the next
    // line on. False when name is no macro.
    bool Call(std::string_view name, std::string_view rest) { return !ctx_.macros.empty() && Expand(name, rest); }

    // At the end of the file: blocks and conditions left open.
    void Finish();

private:
    struct Frame;
    struct Recording;
    // Where an opener stands, for a message at the end of the file.
    struct Opener {
        std::string word;  // as written (a macro: its name)
        std::uint32_t file = 0;
        int line = 0;
        Trace trace;
    };
    struct Condition {
        bool active;        // its lines are assembled
        bool taken;         // a branch of it was taken, or none may be
        bool sawElse;
        Opener opener;
    };

    bool Expand(std::string_view name, std::string_view rest);
    bool Pull(std::string_view& line) {
        if (!frames_.empty()) return PullExpanded(line);
        if (!reader_.ExtractLine(ctx_.szBuffer, line)) return false;
        ctx_.line = ++fileLine_;
        ctx_.bodyLine = 0;
        return true;
    }
    bool PullExpanded(std::string_view& line);
    [[gnu::noinline]] bool NextSlow(std::string_view& line, std::string_view& first, std::string_view& rest);
    void Show(std::string_view line) {
        if (ctx_.observer != nullptr)
            ctx_.observer->Line(static_cast<std::uint32_t>(ctx_.obj.Location()), ctx_.line, !top_, line);
    }
    // Every block keyword ends with its spelling's last character: one test
    // turns away instruction lines.
    Block Find(std::string_view token) const {
        return token.size() < 3 || token.back() != spelling_.last ? Block::kNone : FindWord(token);
    }
    Block FindWord(std::string_view token) const;
    bool Skipping() const { return !conditions_.empty() && !conditions_.back().active; }
    // A line that is a block keyword or stands in a block or condition;
    // true when it is to be assembled.
    [[gnu::noinline]] bool Consume(std::string_view line, std::string_view first, std::string_view rest, Block block);
    bool Record(std::string_view line, Block block);
    void Open(Block block, std::string_view first, std::string_view rest);
    void Condition(Block block, std::string_view first, std::string_view rest);
    // A value the line needs now; a message when it is not known or bad.
    std::optional<std::int32_t> ValueAt(std::string_view expr);

    void Close();
    Opener OpenerHere(std::string_view word);
    // The lines one round of a block body produces, nested blocks included
    // as far as their counts are known now.
    std::uint64_t RoundLines(const std::vector<StoredLine>& body);
    void Cut();
    // Drops every expansion under way in this file.
    void Abandon();
    std::uint64_t Rounds() const;

    Context& ctx_;
    LineReader& reader_;
    bool top_;
    const Spelling& spelling_;
    int fileLine_ = 0;
    std::vector<std::unique_ptr<Frame>> frames_;
    std::unique_ptr<Recording> recording_;
    std::vector<struct Condition> conditions_;
};

}  // namespace tarvo
