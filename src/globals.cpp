#include "globals.h"

#include <sys/stat.h>

#include <cstdarg>
#include <cstring>
#include <string_view>

#include "messages.h"

namespace tarvo {
namespace {

FileId IdOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), S_ISREG(st.st_mode)};
}

unsigned LocationOf(const Context& ctx, const Where& where) {
    return static_cast<unsigned>(where.location >= 0 ? where.location : ctx.obj.Location());
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

    const bool warning = severity != Severity::kError;
    switch (where.kind) {
        case Where::kLine: std::fprintf(ctx.out, warning ? msg::kWarningLinePrefix : msg::kLinePrefix, where.line); break;
        case Where::kLocation:
            std::fprintf(ctx.out, warning ? msg::kWarningPrefix : msg::kErrorPrefix, LocationOf(ctx, where));
            break;
        case Where::kNone: break;
    }
    std::fputs(text, ctx.out);
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
