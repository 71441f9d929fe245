#include "globals.h"

#include <sys/stat.h>

#include <cstdarg>
#include <cstring>
#include <string_view>

#include "messages.h"
#include "text.h"

namespace tarvo {
namespace {

FileId IdOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), S_ISREG(st.st_mode)};
}

unsigned LocationOf(const Context& ctx, const Where& where) {
    return static_cast<unsigned>(where.location >= 0 ? where.location : ctx.obj.Location());
}

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

}  // namespace

bool GetFileId(std::FILE* f, FileId& id) {
    struct stat st;
    if (fstat(fileno(f), &st) != 0) return false;
    id = IdOf(st);
    return true;
}

bool GetFileId(const char* path, FileId& id) {
    struct stat st;
    if (stat(path, &st) != 0) return false;
    id = IdOf(st);
    return true;
}

void CheckInput(Context& ctx, const FileId& input) {
    for (Context::Guarded& g : ctx.outputs) {
        if (g.refused || !(g.id == input)) continue;
        g.refused = true;
        Report(ctx, Severity::kError, Nowhere(), msg::kOverSource, g.name.c_str());
    }
}

void Say(Context& ctx, const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    std::vfprintf(ctx.out, fmt, args);
    va_end(args);
}

void SayStrings(Context& ctx, std::string_view fmt, std::string_view a, std::string_view b) {
    // Gathered first: one write to the stream, whose every call takes time.
    char small[256];
    std::string large;
    std::size_t n = 0;
    auto put = [&](std::string_view text) {
        if (large.empty() && n + text.size() <= sizeof small) {
            std::memcpy(small + n, text.data(), text.size());
        } else {
            if (large.empty()) large.assign(small, n);
            large += text;
        }
        n += text.size();
    };
    for (std::string_view arg : {a, b}) {
        const std::size_t at = fmt.find("%s");
        if (at == std::string_view::npos) break;
        put(fmt.substr(0, at));
        put(arg);
        fmt.remove_prefix(at + 2);
    }
    put(fmt);
    fwrite_unlocked(large.empty() ? small : large.data(), 1, n, ctx.out);
}

void Report(Context& ctx, Severity severity, const Where& where, const char* fmt, ...) {
    char small[512];
    std::string large;
    const char* text = small;
    std::va_list args;
    va_start(args, fmt);
    std::va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(small, sizeof small, fmt, args);
    if (n >= static_cast<int>(sizeof small)) {
        large.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(large.data(), large.size(), fmt, again);
        text = large.c_str();
    }
    va_end(again);
    va_end(args);

    if (ctx.set.gnuSyntax) {
        // GNU syntax mode speaks as GNU as does, on standard error only.
        std::string_view body = text;
        while (!body.empty() && body.back() == '\n') body.remove_suffix(1);
        ReportGnu(ctx, severity, nullptr, 0, "%.*s", static_cast<int>(body.size()), body.data());
        return;
    }
    const bool warning = severity != Severity::kError;
    char prefix[48];
    std::size_t length = 0;
    switch (where.kind) {
        case Where::kLine:
            length = Prefix(prefix, warning ? msg::kWarningLinePrefix : msg::kLinePrefix, static_cast<std::uint32_t>(where.line));
            break;
        case Where::kLocation:
            length = Prefix(prefix, warning ? msg::kWarningPrefix : msg::kErrorPrefix, LocationOf(ctx, where));
            break;
        case Where::kNone: break;
    }
    fwrite_unlocked(prefix, 1, length, ctx.out);
    fwrite_unlocked(text, 1, static_cast<std::size_t>(n), ctx.out);
    if (severity != Severity::kWarning) ++ctx.nErrors;
    if (ctx.observer != nullptr) {
        char prefix[32] = "";
        if (where.kind == Where::kLine)
            std::snprintf(prefix, sizeof prefix, warning ? msg::kWarningLinePrefix : msg::kLinePrefix, where.line);
        if (where.kind == Where::kLocation)
            std::snprintf(prefix, sizeof prefix, warning ? msg::kWarningPrefix : msg::kErrorPrefix,
                          LocationOf(ctx, where));
        std::string line = prefix;
        line += text;
        while (!line.empty() && line.back() == '\n') line.pop_back();
        ctx.observer->Message(line);
    }

    if (!ctx.set.gnuErrors) return;
    std::string_view body = text;
    while (!body.empty() && body.front() == '\n') body.remove_prefix(1);
    while (!body.empty() && body.back() == '\n') body.remove_suffix(1);
    const int len = static_cast<int>(body.size());
    const char* label = warning ? "warning" : "error";
    if (where.kind == Where::kNone || where.file >= ctx.files.size()) {
        std::fprintf(ctx.err, "tarvo: %s: %.*s\n", label, len, body.data());
        return;
    }
    // A line a macro call produced: its place in the body, then the calls.
    const bool expanded = !ctx.expansions.empty() && where.file == ctx.file && where.line == ctx.line;
    const std::uint32_t file = expanded ? ctx.bodyFile : where.file;
    std::fprintf(ctx.err, "%s:%d: %s: %.*s\n", ctx.files[file].c_str(), expanded ? ctx.bodyLine : where.line, label,
                 len, body.data());
    if (!expanded) return;
    for (auto call = ctx.expansions.rbegin(); call != ctx.expansions.rend(); ++call)
        std::fprintf(ctx.err, "%s:%d: note: in expansion of %s\n", ctx.files[call->file].c_str(), call->line,
                     call->name.c_str());
}

}  // namespace tarvo

namespace tarvo {

void ReportGnu(Context& ctx, Severity severity, const char* file, int line, const char* fmt, ...) {
    char text[1024];
    std::va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    const char* label = severity == Severity::kWarning ? "Warning" : "Error";
    if (file == nullptr) std::fprintf(ctx.err, "tarvo: %s: %s\n", label, text);
    else std::fprintf(ctx.err, "%s:%d: %s: %s\n", file, line, label, text);
    if (severity != Severity::kWarning) ++ctx.nErrors;
}

}  // namespace tarvo
