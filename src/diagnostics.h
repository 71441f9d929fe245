// Diagnostics as data. The passes describe each message (severity, place,
// text) and hand it to the run's output; the program prints it in the
// classic or the GNU form, the library keeps it, the language server
// publishes it. Nothing below the driver prints on its own.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

enum class Severity {
    kError,           // counted
    kWarning,         // not counted
    kCountedWarning,  // worded as a warning, counted as an error
    kNote,            // GNU syntax mode's "Info:" line after a message; not counted
};

// A macro call a line comes from, where the call is written (an index in
// the run's list of files).
struct MacroCall {
    std::string name;
    std::uint32_t file;
    int line;
};

// Where a line that a macro call produced stands in the body, and the calls
// (outermost first), kept for a report made after the line was read.
struct Trace {
    std::uint32_t bodyFile = 0;
    int bodyLine = 0;
    std::shared_ptr<const std::vector<MacroCall>> calls;
};

// Where a diagnostic belongs; the classic prefix follows from it.
struct Where {
    enum Kind { kLine, kLocation, kNone } kind;
    std::uint32_t file = 0;
    int line = 0;
    std::int64_t location = -1;  // kLocation: this one, not the current location
    // A line a macro call produced, reported after it was read: where it
    // stands in the body and the calls. Null: the current line's, if the
    // report is about it.
    const Trace* trace = nullptr;
};

// A macro call a message's line comes from.
struct CallNote {
    std::string_view file;
    int line = 0;
    std::string_view name;
};

struct Diagnostic {
    Severity severity = Severity::kError;
    // The classic prefix: "Error in line %d: ", "Error at %08x: " or none.
    Where::Kind kind = Where::kNone;
    bool gnu = false;             // GNU syntax mode's "FILE:LINE: Error: TEXT"
    std::uint32_t location = 0;   // kLocation
    std::string_view file;        // the path that opened the file; empty: tied to no file
    int line = 0;                 // the line the prefix names; 0 with a file: the whole file
    // Where the text stands when a macro call produced the line (else the
    // same as file and line), and the calls, innermost first.
    std::string_view bodyFile;
    int bodyLine = 0;
    std::span<const CallNote> calls;
    // The token the message is about, when the pass knows it: a view into
    // the line as read, from which an editor finds the column.
    std::string_view token;
    std::string_view text;        // as formatted, its line end included
};

// The classic prefix of d ("Error in line %d: ", "Warning at %08x: " or
// none) in out, which has room for 48 characters; returns its length.
std::size_t ClassicPrefix(const Diagnostic& d, char* out);

// Where everything a run says goes, in the order it is said.
class RunOutput {
public:
    virtual ~RunOutput() = default;
    virtual void Report(const Diagnostic& d) = 0;
    // Anything else the run says: progress lines, the report, .print.
    virtual void Say(std::string_view text) = 0;
};

// The program's form: classic messages and texts on out exactly as the
// classic program prints them; under gnuErrors each error and warning also
// as "FILE:LINE: error: TEXT" on err; GNU syntax mode's lines on err.
class ConsoleOutput final : public RunOutput {
public:
    ConsoleOutput(std::FILE* out, std::FILE* err, bool gnuErrors) : out_(out), err_(err), gnuErrors_(gnuErrors) {}
    void Report(const Diagnostic& d) override;
    void Say(std::string_view text) override;

private:
    std::FILE* out_;
    std::FILE* err_;
    bool gnuErrors_;
};

}  // namespace tarvo
