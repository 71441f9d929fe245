#include "globals.h"

#include <sys/stat.h>

#include <cstdarg>

#include "messages.h"

namespace tarvo {
namespace {

FileId IdOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), S_ISREG(st.st_mode)};
}

void Prefixed(Context& ctx, const char* prefix, const char* fmt, std::va_list args) {
    std::fprintf(ctx.out, prefix, static_cast<unsigned>(ctx.nPC));
    std::vfprintf(ctx.out, fmt, args);
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

void Say(Context& ctx, const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    std::vfprintf(ctx.out, fmt, args);
    va_end(args);
}

void ErrorAt(Context& ctx, const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    Prefixed(ctx, msg::kErrorPrefix, fmt, args);
    va_end(args);
    ++ctx.nErrors;
}

void WarningAt(Context& ctx, bool counted, const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    Prefixed(ctx, msg::kWarningPrefix, fmt, args);
    va_end(args);
    if (counted) ++ctx.nErrors;
}

void ErrorInLine(Context& ctx, int nLine, const char* fmt, ...) {
    std::fprintf(ctx.out, msg::kLinePrefix, nLine);
    std::va_list args;
    va_start(args, fmt);
    std::vfprintf(ctx.out, fmt, args);
    va_end(args);
    ++ctx.nErrors;
}

}  // namespace tarvo
