// The statements of a GNU syntax source: files cut into statements (block
// and line comments, ';', line markers), and the frames of macro calls and
// repeat blocks. Conditions and recording are the reader's business; this
// only hands out statements with the place that messages name.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::gnu {

struct Loc {
    std::uint32_t file = 0;  // index into the names messages use
    int line = 0;
    std::uint32_t calls = 0;  // the macro calls and repeats it came from (Source::Call), 0: none
};

// A statement as handed out: valid until the next one is asked for.
struct Stmt {
    std::string_view text;
    Loc loc;
    bool produced = false;  // by a macro call or a repeat block
};

// A statement kept: in a macro or repeat body, or waiting on its line.
struct Line {
    std::string text;
    Loc loc;
};

// A macro or a repeat block as recorded: statements, stored once.
struct Body {
    std::vector<Line> lines;
};

struct Macro {
    std::string name;
    struct Param {
        std::string name, value;
        bool required = false, vararg = false;
    };
    std::vector<Param> params;
    std::shared_ptr<const Body> body;
    Loc at;  // the .macro statement
};

class Source {
public:
    // names: the list that Loc.file indexes; markers and .file add to it.
    explicit Source(std::vector<std::string>& names);
    ~Source();
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    void PushFile(std::string text, const std::string& path);
    // A body read out rounds times; in round r, names[k] stands for values[r][k].
    struct Expansion {
        std::shared_ptr<const Body> body;
        std::vector<std::string> names;
        std::vector<std::vector<std::string>> values;  // per round, or one set for every round
        std::uint64_t rounds = 1;
        std::string number;                            // \@ of a macro call
        bool macro = false;
        std::size_t conditions = 0;                    // depth of the conditions at the call
        Loc call;                                      // the statement that expands it
        std::string_view name;                         // what it expands: a macro's name, .rept, .irp
    };
    void PushBody(Expansion e);

    // An expansion under way or done, for the notes of a message: where it
    // was called, what it expands, and the expansion the call came from.
    struct Call {
        Loc at;
        std::uint32_t name;  // index into names
    };
    const Call& CallOf(std::uint32_t id) const { return calls_[id]; }
    // The name messages give the file being read (a line marker's or
    // .file's): lines recorded into a body keep it.
    std::uint32_t NameInForce() const;

    // The next statement; false at the end of the input.
    bool Next(Stmt& out);
    // .exitm: drops frames up to the innermost macro call; the depth of
    // conditions at that call, or npos outside any.
    std::size_t ExitMacro();
    // .end: nothing more is read.
    void Stop();
    std::size_t FileDepth() const;
    std::size_t MacroDepth() const;
    // The path of the file being read, for includes relative to it.
    std::string CurrentPath() const;
    // .file "NAME": messages name it once a line marker has given a line.
    void SetFileName(std::string_view name);
    // Where a file's last line has no line end (the place of the line
    // before it), found since the last call.
    bool TakeOpenEnd(Loc& loc) { return !openEnds_.empty() && TakeOpenEndSlow(loc); }

private:
    struct Frame;
    bool FromFile(Frame& f, Stmt& out);
    std::uint32_t NameIndex(std::string_view name);
    bool TakeOpenEndSlow(Loc& loc);

    std::vector<std::string>& names_;
    std::vector<std::unique_ptr<Frame>> frames_;
    std::string buffer_;  // the statement handed out, when it is not in a file's text
    std::vector<Loc> openEnds_;
    std::vector<Call> calls_{Call{}};  // 0 stands for none
};

// Puts values in for \NAME, \@ and \() in text.
void Substitute(std::string_view text, const std::vector<std::string>& names, const std::vector<std::string>& values,
                std::string_view number, bool macro, std::string& out);

}  // namespace tarvo::gnu
