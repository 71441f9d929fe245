// The state of one run. Everything that the passes share lives here and is
// passed by reference; there are no program-wide variables.
#pragma once
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "diagnostics.h"
#include "object_writer.h"
#include "symbols/forward.h"
#include "symbols/symbols.h"

namespace tarvo {

// Identity of an open file (device and inode), however its path was spelled.
struct FileId {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    bool regular = false;  // a plain file, not a device, pipe or directory
    bool operator==(const FileId& o) const { return dev == o.dev && ino == o.ino; }
};
bool GetFileId(std::FILE* f, FileId& id);
bool GetFileId(const char* path, FileId& id);

// Closes what it holds on every path out of a function.
struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != nullptr && f != stdout && f != stdin) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// What is left to read of f, whole.
std::string ReadRest(std::FILE* f);

// The switches of the command line that the passes need.
struct Settings {
    bool classic = false;      // the classic language and include rules only
    bool strict = false;       // silent cut-downs are errors
    bool quiet = false;        // no Define:, Label: and include progress lines
    bool gnuErrors = false;    // every diagnostic also as FILE:LINE on standard error
    bool necEncoding = false;  // reti and halt without bit 0
    bool gnuSyntax = false;    // --syntax=gnu
    std::vector<std::pair<std::string, std::string>> sectionStarts;  // --section-start NAME, ADDR
    std::vector<std::string> includeDirs;
};

// Hears each source line and each message as the pass meets them (the
// listing; the driver provides it).
class LineObserver {
public:
    virtual ~LineObserver() = default;
    virtual void Line(std::uint32_t location, int line, bool included, std::string_view text) = 0;
    virtual void Message(std::string_view text) = 0;
    // The top file has ended at location; messages after it belong to no line.
    virtual void End(std::uint32_t location) = 0;
};

// A line kept for later: a macro body's or a repeat block's, with the line
// number its messages name.
struct StoredLine {
    std::string text;
    int line = 0;
    // Recorded from a macro body: where it stands there (else 0).
    int bodyLine = 0;
    std::uint32_t bodyFile = 0;
};

// "macro. NAME PARAM[=DEFAULT]..." ... "endm.": stored once, expanded on demand.
struct Macro {
    std::string name;  // as written
    std::vector<std::pair<std::string, std::string>> params;  // name, default
    std::vector<StoredLine> body;
    std::uint32_t file = 0;  // where the body stands, for FILE:LINE messages
};

class TextTable;

// An area. waiting for its endarea.
struct OpenArea {
    std::uint32_t start = 0;  // the location of area.
    std::uint32_t size = 0;
    int fill = -1;            // the byte for the rest; -1: none
    int pass = 0;             // the serial of the pass (file) that opened it
    std::uint32_t file = 0;   // where it stands, for a message at the end of the file
    int line = 0;
    Trace trace;
};

// Where a run reads the files it needs (includes, incbin, tables), when not
// from the disk: the library serves an editor's unsaved buffers this way.
class InputFiles {
public:
    virtual ~InputFiles() = default;
    // The file at path, open for reading; null when there is none.
    virtual std::FILE* Open(const std::string& path) = 0;
};

struct Context;
// Runs one assembly pass over an open source; "inc." nests through it, so
// the directives need not know the driver.
using PassFn = int (*)(Context&, std::FILE* src, const char* name);

struct Context {
    std::int32_t nPC = 0;      // listing: the start address
    std::int32_t nBytes = 0;   // byte count of a listing
    std::int32_t nErrors = 0;  // every reported error adds one
    SymbolList lstHead;
    LocalLabels locals;        // "N:" labels, beside the names
    std::string szBuffer;      // the current line when it spans the reader's blocks
    // Where messages go, in production order: output when set (the
    // library's), else the program's console form on out and err.
    RunOutput* output = nullptr;
    InputFiles* inputs = nullptr;  // null: files are read from the disk
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    Settings set;
    ObjectWriter obj;          // owns the location counter
    Forwards forwards;         // fields waiting for later definitions
    LineObserver* observer = nullptr;
    PassFn runPass = nullptr;
    std::vector<FileId> includeChain;  // sources being assembled, outermost first
    FileId objId;                      // standard output as the object stream, never read as a source
    bool hasObjId = false;
    // Files that outputs of the run will replace: reading one as an input
    // refuses that output.
    struct Guarded {
        std::string name;  // as given
        FileId id;
        bool refused = false;
    };
    std::vector<Guarded> outputs;

    // Where the pass stands, for file:line diagnostics.
    std::deque<std::string> files;  // every path that opened a source
    std::uint32_t file = 0;         // index in files of the current one
    int line = 0;                   // its current line
    std::uint32_t lineAddress = 0;  // '.': the address where the current line starts
    // One entry per running pass: a late error of a forward field marks it.
    struct Pass {
        int serial;
        bool failed;
    };
    std::vector<Pass> passes;
    int nextPass = 0;

    // Macros by name folded to lower case, and the count of calls (\@).
    std::unordered_map<std::string, std::shared_ptr<const Macro>> macros;
    std::uint64_t macroCalls = 0;
    // The macro calls the current line comes from, outermost first, and
    // where the line stands in its body: --gnu-errors names them. The
    // calls are shared with every trace taken while they stand.
    std::vector<MacroCall> expansions;
    std::shared_ptr<const std::vector<MacroCall>> sharedCalls;  // a copy of expansions, or null
    int bodyLine = 0;
    std::uint32_t bodyFile = 0;
    // What macro calls and repeat blocks have produced in the run: bounded,
    // so that a macro that calls itself twice cannot run for ever.
    std::uint64_t producedLines = 0, producedBytes = 0;
    bool expansionCut = false;  // the bound was passed: nothing more is expanded

    // Changing ROMs: the area. open now, and the table. that str., strz.
    // and ds. write through (null: plain bytes).
    std::optional<OpenArea> area;
    std::shared_ptr<const TextTable> table;
};

// Hands one diagnostic to the run's output (whose console form is
// "Error in line %d: ", "Error at %08x: ", "Warning at %08x: " or no prefix,
// then the text, with its FILE:LINE form on standard error under
// --gnu-errors) and counts it; the listing hears it too.
[[gnu::format(printf, 4, 5)]] void Report(Context& ctx, Severity severity, const Where& where,
                                          const char* fmt, ...);
// The same about a token of the current line (a view into it), which an
// editor finds the column by.
[[gnu::format(printf, 5, 6)]] void ReportToken(Context& ctx, Severity severity, const Where& where,
                                               std::string_view token, const char* fmt, ...);

// The reports that --strict makes: counted errors under --strict, uncounted
// warnings in the default language, nothing under --classic.
inline bool Checking(const Context& ctx) { return ctx.set.strict || !ctx.set.classic; }
inline Severity CheckSeverity(const Context& ctx) { return ctx.set.strict ? Severity::kError : Severity::kWarning; }
// Such a report whose format's every "%s" is token; where the report has
// no token of the line (a field filled later), token is empty and text
// stands in the message. A warning can come by the hundred thousand, so
// this one is made without printf.
void ReportCheck(Context& ctx, const Where& where, const char* fmt, std::string_view token,
                 std::string_view text = {});

// GNU syntax mode's diagnostic ("FILE:LINE: Error: TEXT" or
// "FILE:LINE: Warning: TEXT"; without a file, "tarvo: Error: TEXT"),
// counted unless a warning or a note. calls: the macro calls of the line.
[[gnu::format(printf, 5, 6)]] void ReportGnu(Context& ctx, Severity severity, const char* file, int line,
                                             const char* fmt, ...);
void ReportGnu(Context& ctx, Severity severity, std::string_view file, int line, std::string_view text,
               std::span<const CallNote> calls);

// Opens an input file for reading, through ctx.inputs when it is set.
std::FILE* OpenInput(const Context& ctx, const std::string& path);

// An input is about to be read: any output that would replace it is
// refused, once, with a counted message.
void CheckInput(Context& ctx, const FileId& input);

// Says text that is no diagnostic (progress lines, the report, .print).
[[gnu::format(printf, 2, 3)]] void Say(Context& ctx, const char* fmt, ...);
void SayText(Context& ctx, std::string_view text);
// Say for a format whose only conversions are two "%s", without printf's
// cost: the lines printed at every definition.
void SayStrings(Context& ctx, std::string_view fmt, std::string_view a, std::string_view b);

// The trace of the current line; empty outside macro bodies.
Trace ExpansionTrace(Context& ctx);
inline Trace CurrentTrace(Context& ctx) {
    return ctx.bodyLine == 0 && ctx.expansions.empty() ? Trace{} : ExpansionTrace(ctx);
}
// A macro call begins or ends: the shared copy of the calls is stale.
inline void PushCall(Context& ctx, MacroCall call) {
    ctx.expansions.push_back(std::move(call));
    ctx.sharedCalls.reset();
}
inline void PopCall(Context& ctx) {
    ctx.expansions.pop_back();
    ctx.sharedCalls.reset();
}

inline Where AtLocation(const Context& ctx) { return {Where::kLocation, ctx.file, ctx.line}; }
inline Where InLine(const Context& ctx, int nLine) { return {Where::kLine, ctx.file, nLine}; }
inline Where Nowhere() { return {Where::kNone}; }

}  // namespace tarvo
