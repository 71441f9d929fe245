#include "diagnostics.h"

#include <cstring>
#include <string>

#include "messages.h"
#include "text.h"

namespace tarvo {
namespace {

// The classic prefixes, split at their one conversion ("%d" or "%08x") once,
// so that a prefix is put together by hand: warnings can come by the
// hundred thousand, and printf is slow.
struct PrefixForm {
    std::string_view head, tail;
    bool hex;
};
constexpr PrefixForm Split(std::string_view fmt) {
    const std::size_t at = fmt.find('%');
    const bool hex = fmt.substr(at, 4) == "%08x";
    return {fmt.substr(0, at), fmt.substr(at + (hex ? 4 : 2)), hex};
}
constexpr PrefixForm kLineForm = Split(msg::kLinePrefix), kWarningLineForm = Split(msg::kWarningLinePrefix),
                     kErrorForm = Split(msg::kErrorPrefix), kWarningForm = Split(msg::kWarningPrefix);
static_assert(kWarningForm.hex && !kLineForm.hex && kLineForm.tail == ": ");

std::size_t Prefix(char* out, const PrefixForm& form, std::uint32_t value) {
    char* p = out;
    std::memcpy(p, form.head.data(), form.head.size());
    p += form.head.size();
    if (form.hex) {
        p = PutHex(p, value, 8);
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
    std::memcpy(p, form.tail.data(), form.tail.size());
    return static_cast<std::size_t>(p - out) + form.tail.size();
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

std::size_t ClassicPrefix(const Diagnostic& d, char* out) {
    const bool warning = d.severity != Severity::kError;
    if (d.kind == Where::kLine)
        return Prefix(out, warning ? kWarningLineForm : kLineForm, static_cast<std::uint32_t>(d.line));
    if (d.kind == Where::kLocation) return Prefix(out, warning ? kWarningForm : kErrorForm, d.location);
    return 0;
}

void ConsoleOutput::Say(std::string_view text) { fwrite_unlocked(text.data(), 1, text.size(), out_); }

void ConsoleOutput::Report(const Diagnostic& d) {
    if (d.gnu) {
        // GNU as' form, on standard error only.
        const char* label = d.severity == Severity::kWarning ? "Warning" : d.severity == Severity::kNote ? "Info" : "Error";
        Line(err_, d.file, d.line, label, Body(d.text));
        for (const CallNote& call : d.calls)
            Line(err_, call.file, call.line, "Info", msg::kGnuCallNote + std::string(call.name));
        return;
    }
    const bool warning = d.severity != Severity::kError;
    // One write for the line when it is short, as nearly every one is.
    char line[256];
    const std::size_t length = ClassicPrefix(d, line);
    if (length + d.text.size() <= sizeof line) {
        std::memcpy(line + length, d.text.data(), d.text.size());
        fwrite_unlocked(line, 1, length + d.text.size(), out_);
    } else {
        fwrite_unlocked(line, 1, length, out_);
        fwrite_unlocked(d.text.data(), 1, d.text.size(), out_);
    }
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
