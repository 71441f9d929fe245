#include "globals.h"

#include <sys/stat.h>

#include <algorithm>
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

// The run's output, or the program's console form when none is set.
template <class Use>
void WithOutput(Context& ctx, Use&& use) {
    if (ctx.output != nullptr) {
        use(*ctx.output);
        return;
    }
    ConsoleOutput console(ctx.out, ctx.err, ctx.set.gnuErrors);
    use(console);
}

void SayText(Context& ctx, std::string_view text) {
    WithOutput(ctx, [&](RunOutput& o) { o.Say(text); });
}

void Say(Context& ctx, const char* fmt, ...) {
    char small[512];
    std::string large;
    std::va_list args;
    va_start(args, fmt);
    std::va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(small, sizeof small, fmt, args);
    const char* text = small;
    if (n >= static_cast<int>(sizeof small)) {
        large.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(large.data(), large.size(), fmt, again);
        text = large.c_str();
    }
    va_end(again);
    va_end(args);
    if (n > 0) SayText(ctx, {text, static_cast<std::size_t>(n)});
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
    SayText(ctx, {large.empty() ? small : large.data(), n});
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
        // GNU syntax mode speaks as GNU as does.
        ReportGnu(ctx, severity, std::string_view(), 0, std::string_view(text, static_cast<std::size_t>(n)), {});
        return;
    }
    Diagnostic d;
    d.severity = severity;
    d.kind = where.kind;
    d.location = LocationOf(ctx, where);
    d.text = std::string_view(text, static_cast<std::size_t>(n));
    std::vector<CallNote> calls;
    if (where.kind != Where::kNone && where.file < ctx.files.size()) {
        d.file = ctx.files[where.file];
        d.line = where.line;
        // A line a macro call produced: its place in the body, then the calls.
        const bool expanded = !ctx.expansions.empty() && where.file == ctx.file && where.line == ctx.line;
        d.bodyFile = ctx.files[expanded ? ctx.bodyFile : where.file];
        d.bodyLine = expanded ? ctx.bodyLine : where.line;
        if (expanded) {
            for (auto call = ctx.expansions.rbegin(); call != ctx.expansions.rend(); ++call)
                calls.push_back({ctx.files[call->file], call->line, call->name});
            d.calls = calls;
        }
    }
    if (severity != Severity::kWarning) ++ctx.nErrors;
    WithOutput(ctx, [&](RunOutput& o) { o.Report(d); });
    if (ctx.observer != nullptr) {
        const bool warning = severity != Severity::kError;
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
}

void ReportGnu(Context& ctx, Severity severity, std::string_view file, int line, std::string_view text,
               std::span<const CallNote> calls) {
    Diagnostic d;
    d.severity = severity;
    d.gnu = true;
    d.file = d.bodyFile = file;
    d.line = d.bodyLine = line;
    d.text = text;
    d.calls = calls;
    if (severity == Severity::kError || severity == Severity::kCountedWarning) ++ctx.nErrors;
    WithOutput(ctx, [&](RunOutput& o) { o.Report(d); });
}

}  // namespace tarvo

namespace tarvo {

void ReportGnu(Context& ctx, Severity severity, const char* file, int line, const char* fmt, ...) {
    char text[1024];
    std::va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    const std::size_t length = n < 0 ? 0 : std::min(static_cast<std::size_t>(n), sizeof text - 1);
    ReportGnu(ctx, severity, file == nullptr ? std::string_view() : std::string_view(file), line,
              std::string_view(text, length), {});
}

}  // namespace tarvo
