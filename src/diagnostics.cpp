#include "diagnostics.h"

#include <cstring>
#include <string>

#include "messages.h"
#include "text.h"

namespace tarvo {
namespace {

// A message prefix with its one conversion ("%d" or "%08x") put in by
// hand: warnings can come by the hundred thousand, and printf is slow.
std::size_t Prefix(char (&out)[48], std::string_view fmt, std::uint32_t value) {
    std::size_t at = 0;
    for (; at < fmt.size() && fmt[at] != '%'; ++at) out[at] = fmt[at];
    if (at == fmt.size()) return at;
    char* p = out + at;
    std::size_t after = at + 2;
    if (fmt.substr(at, 4) == "%08x") {
        p = PutHex(p, value, 8);
        after = at + 4;
    } else {
        // Line numbers are never negative; print them as %d would all the same.
        const auto v = static_cast<std::int32_t>(value);
        if (v < 0) *p++ = '-';
        char digits[12];
        char* end = digits + sizeof digits;
        char* begin = PutDecimalBack(end, v < 0 ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(v)) : value);
        std::memcpy(p, begin, static_cast<std::size_t>(end - begin));
        p += end - begin;
    }
    const std::string_view rest = fmt.substr(after);
    std::memcpy(p, rest.data(), rest.size());
    return static_cast<std::size_t>(p - out) + rest.size();
}

std::string_view Body(std::string_view text) {
    while (!text.empty() && text.front() == '\n') text.remove_prefix(1);
    while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    return text;
}

// "FILE:LINE: LABEL: TEXT"; "FILE: LABEL: TEXT" for line 0 unless always;
// "tarvo: LABEL: TEXT" without a file.
void Line(std::FILE* f, std::string_view file, int line, const char* label, std::string_view text,
          bool always = false) {
    std::string s;
    s.reserve(file.size() + text.size() + 32);
    if (file.empty()) s = "tarvo";
    else s = file;
    if (!file.empty() && (line > 0 || always)) s += ':' + std::to_string(line);
    s += ": ";
    s += label;
    s += ": ";
    s += text;
    s += '\n';
    fwrite_unlocked(s.data(), 1, s.size(), f);
}

}  // namespace

std::size_t ClassicPrefix(const Diagnostic& d, char (&out)[48]) {
    const bool warning = d.severity != Severity::kError;
    if (d.kind == Where::kLine)
        return Prefix(out, warning ? msg::kWarningLinePrefix : msg::kLinePrefix, static_cast<std::uint32_t>(d.line));
    if (d.kind == Where::kLocation) return Prefix(out, warning ? msg::kWarningPrefix : msg::kErrorPrefix, d.location);
    return 0;
}

void ConsoleOutput::Say(std::string_view text) { fwrite_unlocked(text.data(), 1, text.size(), out_); }

void ConsoleOutput::Report(const Diagnostic& d) {
    if (d.gnu) {
        // GNU as' form, on standard error only.
        const char* label = d.severity == Severity::kWarning ? "Warning" : d.severity == Severity::kNote ? "Info" : "Error";
        Line(err_, d.file, d.line, label, Body(d.text));
        for (const CallNote& call : d.calls) Line(err_, call.file, call.line, "Info", call.name);
        return;
    }
    const bool warning = d.severity != Severity::kError;
    char prefix[48];
    const std::size_t length = ClassicPrefix(d, prefix);
    fwrite_unlocked(prefix, 1, length, out_);
    fwrite_unlocked(d.text.data(), 1, d.text.size(), out_);
    if (!gnuErrors_) return;
    const std::string_view body = Body(d.text);
    const char* label = warning ? "warning" : "error";
    if (d.kind == Where::kNone || d.file.empty()) {
        Line(err_, {}, 0, label, body);
        return;
    }
    // A line a macro call produced: its place in the body, then the calls.
    Line(err_, d.bodyFile, d.bodyLine, label, body, true);
    for (const CallNote& call : d.calls)
        Line(err_, call.file, call.line, "note", "in expansion of " + std::string(call.name), true);
}

}  // namespace tarvo
