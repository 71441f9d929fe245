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

namespace tarvo {

// The block keywords; a language spells them in a table of its own.
enum class Block : std::uint8_t { kNone, kMacro, kEndm, kRept, kIrp, kEndr, kIf, kIfdef, kIfndef, kElif, kElse, kEndif };

struct BlockWord {
    std::string_view word;
    Block block;
};

struct Spelling {
    std::span<const BlockWord> words;
    char escape;  // before a parameter's name, '@' and "()" in a body
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

    // The next line to assemble, valid until the next call. Sets ctx.line
    // (the line messages name), ctx.lineAddress and, for a line of a macro
    // body, where it stands; every line read is shown to the listing.
    bool Next(std::string_view& line);

    // A first token that names a macro: its body follows from the next
    // line on. False when name is no macro.
    bool Call(std::string_view name, std::string_view rest);

    // At the end of the file: blocks and conditions left open.
    void Finish();

private:
    struct Frame;
    struct Recording;
    struct Condition {
        bool active;        // its lines are assembled
        bool taken;         // a branch of it was taken, or none may be
        bool sawElse;
        std::string opener;  // as written, for a message at the end of the file
    };

    bool Pull(std::string_view& line);
    void Show(std::string_view line);
    Block Find(std::string_view token) const;
    bool Skipping() const { return !conditions_.empty() && !conditions_.back().active; }
    bool Record(std::string_view line, Block block);
    void Open(Block block, std::string_view first, std::string_view rest);
    void Condition(Block block, std::string_view first, std::string_view rest);
    // A value the line needs now; a message when it is not known or bad.
    std::optional<std::int32_t> ValueAt(std::string_view expr);
    void Close();
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
