#include "driver/run.h"

#include <cstdio>
#include <string_view>
#include <vector>

#include "disasm/dissasm.h"
#include "driver/assemble.h"
#include "messages.h"
#include "text.h"

namespace tarvo {
namespace {

// True when path names the file already open as src: writing it would
// destroy the input.
bool SameFile(std::FILE* src, const char* path) {
    FileId a, b;
    return GetFileId(src, a) && GetFileId(path, b) && a == b;
}

// Flushes an output and reports it once when any write to it failed.
bool WriteFailed(Context& ctx, std::FILE* f, const char* name) {
    bool failed = std::fflush(f) != 0 || std::ferror(f);
    if (failed) {
        Say(ctx, msg::kCannotWrite, name);
        ++ctx.nErrors;
    }
    return failed;
}

int Assemble(Context& ctx, std::FILE* src, const char* srcPath, std::FILE* obj, const char* objName) {
    std::vector<char> objBuffer;
    if (obj != stdout) {
        objBuffer.resize(1 << 20);
        std::setvbuf(obj, objBuffer.data(), _IOFBF, objBuffer.size());
    }
    // An include must never read the object file while it is being written.
    ctx.hasObjId = GetFileId(obj, ctx.objId) && ctx.objId.regular;
    FileId srcId;
    if (GetFileId(src, srcId)) ctx.includeChain.push_back(srcId);
    ctx.runPass = GenerateObj;

    int result = GenerateObj(ctx, src, srcPath, obj);
    WriteFailed(ctx, obj, objName);
    Say(ctx, "%s", result ? msg::kPassObj : msg::kPassFail);
    if (ctx.nErrors == 0) Say(ctx, "%s", msg::kPassClean);
    Say(ctx, msg::kReport, srcPath, ctx.nErrors, std::ftell(obj));
    std::fclose(src);
    if (obj != stdout) std::fclose(obj);
    ctx.lstHead.ClearConstant();
    return ctx.nErrors == 0 ? kExitOk : kExitError;
}

// A number argument of -d: the default stays when the argument holds no
// text to convert; false when it does not begin with a number.
bool NumberArgument(const char* arg, std::int32_t& value) {
    std::int32_t v = 0;
    switch (ScanNumber(arg, v)) {
        case Scan::kNumber: value = v; return true;
        case Scan::kEmpty: return true;
        case Scan::kNoNumber: return false;
    }
    return false;
}

int Disassemble(Context& ctx, int argc, char** argv, std::FILE* src) {
    const char* kListing = "output.asm";
    if (SameFile(src, kListing)) {
        Say(ctx, msg::kOverSource, kListing);
        return kExitError;
    }
    std::FILE* listing = std::fopen(kListing, "wb");
    if (listing == nullptr) {
        Say(ctx, msg::kCannotOpenAsm);
        return kExitError;
    }
    ctx.nPC = 0;
    ctx.nBytes = 8192;
    if (argc > 3 && !NumberArgument(argv[3], ctx.nPC)) {
        Say(ctx, msg::kBadStart);
        return kExitError;
    }
    if (argc > 4 && !NumberArgument(argv[4], ctx.nBytes)) {
        Say(ctx, msg::kBadCount);
        return kExitError;
    }
    Say(ctx, msg::kDisasmInfo, static_cast<unsigned>(ctx.nPC), ctx.nBytes);
    int result = Dissasm(ctx, src, listing, argv[1]);
    if (WriteFailed(ctx, listing, kListing)) result = 0;
    Say(ctx, "%s", result && ctx.nErrors == 0 ? msg::kDisasmOk : msg::kDisasmFail);
    std::fclose(src);
    std::fclose(listing);
    ctx.lstHead.ClearConstant();
    return result && ctx.nErrors == 0 ? kExitOk : kExitError;
}

// Opens an object file unless it is the source itself.
std::FILE* OpenObject(Context& ctx, std::FILE* src, const char* path, bool& refused) {
    refused = SameFile(src, path);
    if (refused) {
        Say(ctx, msg::kOverSource, path);
        return nullptr;
    }
    return std::fopen(path, "wb");
}

}  // namespace

void About(Context& ctx) { Say(ctx, "%s", msg::kBanner); }

void PrintUsage(Context& ctx) {
    Say(ctx, "%s%s%s%s", msg::kUsage1, msg::kUsage2, msg::kUsage3, msg::kUsage4);
}

int RunMain(int argc, char** argv) {
    Context ctx;
    About(ctx);
    if (argc < 2) {
        PrintUsage(ctx);
        return kExitUsage;
    }
    const char* srcPath = argv[1];
    std::FILE* src = std::fopen(srcPath, "r");
    if (src == nullptr) {
        Say(ctx, msg::kCannotOpenRead, srcPath);
        return kExitError;
    }
    bool refused = false;
    if (argc < 3) {
        std::FILE* obj = OpenObject(ctx, src, "output.obj", refused);
        if (obj == nullptr) {
            if (!refused) Say(ctx, msg::kCannotOpenObj);
            return kExitError;
        }
        return Assemble(ctx, src, srcPath, obj, "output.obj");
    }
    // Only the second character of the option counts: -s, /s and xs alike.
    std::string_view option = argv[2];
    switch (option.size() >= 2 ? option[1] : '\0') {
        case 's':
            return Assemble(ctx, src, srcPath, stdout, "stdout");
        case 'o': {
            if (argc < 4) break;
            std::FILE* obj = OpenObject(ctx, src, argv[3], refused);
            if (obj == nullptr) {
                if (!refused) Say(ctx, msg::kCannotOpenWrite, argv[3]);
                return kExitError;
            }
            return Assemble(ctx, src, srcPath, obj, argv[3]);
        }
        case 'd':
            return Disassemble(ctx, argc, argv, src);
        default:
            break;
    }
    PrintUsage(ctx);
    return kExitUsage;
}

}  // namespace tarvo
