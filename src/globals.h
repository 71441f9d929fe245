// The state of one run. Everything that the passes share lives here and is
// passed by reference; there are no program-wide variables.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

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

struct Context;
// Runs one assembly pass over an open source; "inc." nests through it, so
// the directives need not know the driver.
using PassFn = int (*)(Context&, std::FILE* src, const char* name, std::FILE* obj);

struct Context {
    std::int32_t nPC = 0;      // next image offset to be written (listing: start)
    std::int32_t nBytes = 0;   // byte count of a listing
    std::int32_t nErrors = 0;  // every reported error adds one
    SymbolList lstHead;
    std::string szBuffer;      // the current line when it spans the reader's blocks
    std::FILE* out = stdout;   // every message goes here, in production order
    PassFn runPass = nullptr;
    std::vector<FileId> includeChain;  // sources being assembled, outermost first
    FileId objId;                      // the object file, never read as a source
    bool hasObjId = false;
};

// nPC counts written bytes; it wraps rather than overflow on huge images.
inline void AdvancePC(Context& ctx, std::uint32_t n) {
    ctx.nPC = static_cast<std::int32_t>(static_cast<std::uint32_t>(ctx.nPC) + n);
}

[[gnu::format(printf, 2, 3)]] void Say(Context& ctx, const char* fmt, ...);
// "Error at %08x: " with nPC, then the text; counted in nErrors.
[[gnu::format(printf, 2, 3)]] void ErrorAt(Context& ctx, const char* fmt, ...);
// "Warning at %08x: " with nPC, then the text; counted only when asked.
[[gnu::format(printf, 3, 4)]] void WarningAt(Context& ctx, bool counted, const char* fmt, ...);
// "Error in line %d: " then the text; counted in nErrors.
[[gnu::format(printf, 3, 4)]] void ErrorInLine(Context& ctx, int nLine, const char* fmt, ...);

}  // namespace tarvo
