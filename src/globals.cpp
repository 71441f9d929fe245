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

// Text put together in a small buffer, or on the heap when it grows, so
// that it reaches the stream in one write; the lines printed at every
// definition and every warning are made without printf's cost.
class Gathered {
public:
    void Put(std::string_view part) {
        if (large_.empty() && n_ + part.size() <= sizeof small_) {
            std::memcpy(small_ + n_, part.data(), part.size());
        } else {
            if (large_.empty()) large_.assign(small_, n_);
            large_ += part;
        }
        n_ += part.size();
    }
    // fmt with its "%s" replaced by args in turn, the last one for all
    // that follow.
    void PutFormat(std::string_view fmt, std::initializer_list<std::string_view> args) {
        std::size_t i = 0;
        for (std::size_t at; (at = fmt.find("%s")) != std::string_view::npos; fmt.remove_prefix(at + 2)) {
            Put(fmt.substr(0, at));
            Put(args.begin()[std::min(i++, args.size() - 1)]);
        }
        Put(fmt);
    }
    std::string_view view() const { return {large_.empty() ? small_ : large_.data(), n_}; }

private:
    char small_[256];
    std::string large_;
    std::size_t n_ = 0;
};

// Hands use the text of fmt, formatted on the stack when it fits.
template <class Use>
void WithFormatted(const char* fmt, std::va_list args, Use use) {
    char small[512];
    std::string large;
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
    use(std::string_view(text, n < 0 ? 0 : static_cast<std::size_t>(n)));
}

}  // namespace

std::string ReadRest(std::FILE* f) {
    std::string text;
    char block[1 << 16];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) text.append(block, n);
    return text;
}

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

Trace ExpansionTrace(Context& ctx) {
    Trace t;
    t.bodyFile = ctx.bodyFile;
    t.bodyLine = ctx.bodyLine;
    if (!ctx.expansions.empty()) {
        if (!ctx.sharedCalls) ctx.sharedCalls = std::make_shared<const std::vector<MacroCall>>(ctx.expansions);
        t.calls = ctx.sharedCalls;
    }
    return t;
}

std::FILE* OpenInput(const Context& ctx, const std::string& path) {
    return ctx.inputs != nullptr ? ctx.inputs->Open(path) : std::fopen(path.c_str(), "r");
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
    std::va_list args;
    va_start(args, fmt);
    WithFormatted(fmt, args, [&](std::string_view text) {
        if (!text.empty()) SayText(ctx, text);
    });
    va_end(args);
}

void SayStrings(Context& ctx, std::string_view fmt, std::string_view a, std::string_view b) {
    Gathered text;
    text.PutFormat(fmt, {a, b});
    SayText(ctx, text.view());
}

namespace {

void Deliver(Context& ctx, Severity severity, const Where& where, std::string_view text, std::string_view token) {
    if (ctx.set.gnuSyntax) {
        // GNU syntax mode speaks as GNU as does.
        ReportGnu(ctx, severity, std::string_view(), 0, text, {});
        return;
    }
    Diagnostic d;
    d.severity = severity;
    d.kind = where.kind;
    d.location = LocationOf(ctx, where);
    d.text = text;
    d.token = token;
    std::vector<CallNote> calls;
    if (where.kind != Where::kNone && where.file < ctx.files.size()) {
        d.file = ctx.files[where.file];
        d.line = where.line;
        // A line a macro call produced: its place in the body, then the
        // calls. A report made later (a forward field) brings its own.
        const Trace* trace = where.trace;
        const bool current = trace == nullptr && where.file == ctx.file && where.line == ctx.line;
        const std::uint32_t bodyFile = trace != nullptr ? trace->bodyFile : current ? ctx.bodyFile : where.file;
        const int bodyLine = trace != nullptr ? trace->bodyLine : current ? ctx.bodyLine : 0;
        d.bodyFile = ctx.files[bodyLine != 0 ? bodyFile : where.file];
        d.bodyLine = bodyLine != 0 ? bodyLine : where.line;
        const std::vector<MacroCall>* stack =
            trace != nullptr ? trace->calls.get() : current ? &ctx.expansions : nullptr;
        if (stack != nullptr && !stack->empty()) {
            for (auto call = stack->rbegin(); call != stack->rend(); ++call)
                calls.push_back({ctx.files[call->file], call->line, call->name});
            d.calls = calls;
        }
    }
    if (severity != Severity::kWarning) ++ctx.nErrors;
    WithOutput(ctx, [&](RunOutput& o) { o.Report(d); });
    if (ctx.observer != nullptr) {
        // The classic line without its line end, gathered on the stack when it fits.
        Gathered line;
        char prefix[48];
        line.Put({prefix, ClassicPrefix(d, prefix)});
        while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
        line.Put(text);
        ctx.observer->Message(line.view());
    }
}

void DeliverFormatted(Context& ctx, Severity severity, const Where& where, std::string_view token, const char* fmt,
                      std::va_list args) {
    WithFormatted(fmt, args, [&](std::string_view text) { Deliver(ctx, severity, where, text, token); });
}

}  // namespace

void Report(Context& ctx, Severity severity, const Where& where, const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    DeliverFormatted(ctx, severity, where, {}, fmt, args);
    va_end(args);
}

void ReportToken(Context& ctx, Severity severity, const Where& where, std::string_view token, const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    DeliverFormatted(ctx, severity, where, token, fmt, args);
    va_end(args);
}

void ReportCheck(Context& ctx, const Where& where, const char* fmt, std::string_view token, std::string_view text) {
    if (!Checking(ctx)) return;
    Gathered message;
    message.PutFormat(fmt, {token.empty() ? text : token});
    Deliver(ctx, CheckSeverity(ctx), where, message.view(), token);
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
