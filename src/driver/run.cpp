#include "driver/run.h"

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "directives/compiler_line.h"
#include "disasm/dissasm.h"
#include "disasm/source.h"
#include "driver/assemble.h"
#include "driver/options.h"
#include "driver/outputs.h"
#include "messages.h"
#include "text.h"

#ifndef TARVO_VERSION
#error "the build defines TARVO_VERSION"
#endif

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
    if (failed) Report(ctx, Severity::kError, Nowhere(), msg::kCannotWrite, name);
    return failed;
}

// An output named on the command line; one that cannot be opened is
// reported like a write error and left out.
FilePtr OpenOutput(Context& ctx, const std::string& path) {
    if (path.empty()) return nullptr;
    FilePtr f(std::fopen(path.c_str(), "w"));
    if (!f) Report(ctx, Severity::kError, Nowhere(), msg::kCannotWrite, path.c_str());
    return f;
}

int Assemble(Context& ctx, const Options& o, FilePtr src, const std::string& srcPath, FilePtr obj,
             const std::string& objName) {
    std::vector<char> objBuffer;
    if (obj.get() != stdout) {
        objBuffer.resize(1 << 20);
        std::setvbuf(obj.get(), objBuffer.data(), _IOFBF, objBuffer.size());
    }
    // An include must never read the object file while it is being written.
    ctx.hasObjId = GetFileId(obj.get(), ctx.objId) && ctx.objId.regular;
    FileId srcId;
    if (GetFileId(src.get(), srcId)) ctx.includeChain.push_back(srcId);
    ctx.runPass = GenerateObj;
    ctx.obj.Open(obj.get());
    ctx.files.push_back(srcPath);
    FilePtr listingFile = OpenOutput(ctx, o.listing);
    FilePtr symbolFile = OpenOutput(ctx, o.symbols);
    FilePtr depsFile = OpenOutput(ctx, o.deps);
    std::unique_ptr<Listing> listing;
    if (listingFile) {
        listing = std::make_unique<Listing>(listingFile.get());
        ctx.observer = listing.get();
        ctx.obj.SetSink(listing.get());
    }
    for (const auto& [name, value] : o.defines) CompilerLine(ctx, "df. " + name + " " + value);

    int result = GenerateObj(ctx, src.get(), srcPath.c_str());
    WriteFailed(ctx, obj.get(), objName.c_str());
    if (listing) {
        listing->Finish(ctx.lstHead);
        ctx.observer = nullptr;
        WriteFailed(ctx, listingFile.get(), o.listing.c_str());
    }
    if (symbolFile) {
        WriteSymbolFile(ctx.lstHead, symbolFile.get());
        WriteFailed(ctx, symbolFile.get(), o.symbols.c_str());
    }
    if (depsFile) {
        const std::string& target = !o.depsTarget.empty() ? o.depsTarget : obj.get() != stdout ? objName : srcPath;
        WriteDependencies(ctx.files, target, depsFile.get());
        WriteFailed(ctx, depsFile.get(), o.deps.c_str());
    }
    Say(ctx, "%s", result ? msg::kPassObj : msg::kPassFail);
    if (ctx.nErrors == 0) Say(ctx, "%s", msg::kPassClean);
    Say(ctx, msg::kReport, srcPath.c_str(), ctx.nErrors, std::ftell(obj.get()));
    // A strict run leaves no object file behind that holds known errors.
    const bool removeObj = o.settings.strict && ctx.nErrors > 0 && obj.get() != stdout && ctx.hasObjId;
    obj.reset();
    if (removeObj) std::remove(objName.c_str());
    return ctx.nErrors == 0 ? kExitOk : kExitError;
}

// A number argument of -d: the default stays when the argument holds no
// text to convert; false when it does not begin with a number.
bool NumberArgument(const std::string& arg, std::int32_t& value) {
    std::int32_t v = 0;
    switch (ScanNumber(arg, v)) {
        case Scan::kNumber: value = v; return true;
        case Scan::kEmpty: return true;
        case Scan::kNoNumber: return false;
    }
    return false;
}

int Disassemble(Context& ctx, const Options& o, FilePtr src) {
    const std::vector<std::string>& args = o.args;
    const std::string listingPath = o.output.empty() ? "output.asm" : o.output;
    if (SameFile(src.get(), listingPath.c_str())) {
        Report(ctx, Severity::kError, Nowhere(), msg::kOverSource, listingPath.c_str());
        return kExitError;
    }
    SourceOptions source;
    if (o.source) {
        for (const std::string& e : o.entries) {
            std::int32_t v = 0;
            if (!ReadNumber(e, v)) {
                Report(ctx, Severity::kError, Nowhere(), msg::kBadStart);
                return kExitError;
            }
            // An entry may be written with the image base or without.
            source.entries.push_back(ImageLocation(static_cast<std::uint32_t>(v)));
        }
        if (!o.symbols.empty()) {
            FilePtr names(std::fopen(o.symbols.c_str(), "r"));
            if (!names) {
                Report(ctx, Severity::kError, Nowhere(), msg::kCannotOpenRead, o.symbols.c_str());
                return kExitError;
            }
            ReadSymbolNames(names.get(), source.names);
        }
    }
    FilePtr listing(std::fopen(listingPath.c_str(), "wb"));
    if (!listing) {
        if (o.output.empty()) Report(ctx, Severity::kError, Nowhere(), msg::kCannotOpenAsm);
        else Report(ctx, Severity::kError, Nowhere(), msg::kCannotOpenWrite, listingPath.c_str());
        return kExitError;
    }
    ctx.nPC = 0;
    ctx.nBytes = 8192;
    if (args.size() > 2 && !NumberArgument(args[2], ctx.nPC)) {
        Report(ctx, Severity::kError, Nowhere(), msg::kBadStart);
        return kExitError;
    }
    if (args.size() > 3 && !NumberArgument(args[3], ctx.nBytes)) {
        Report(ctx, Severity::kError, Nowhere(), msg::kBadCount);
        return kExitError;
    }
    Say(ctx, msg::kDisasmInfo, static_cast<unsigned>(ctx.nPC), ctx.nBytes);
    int result = o.source ? ListSource(ctx, src.get(), listing.get(), source)
                          : Dissasm(ctx, src.get(), listing.get(), args[0].c_str());
    if (WriteFailed(ctx, listing.get(), listingPath.c_str())) result = 0;
    Say(ctx, "%s", result && ctx.nErrors == 0 ? msg::kDisasmOk : msg::kDisasmFail);
    return result && ctx.nErrors == 0 ? kExitOk : kExitError;
}

// Opens an object file unless it is the source itself.
FilePtr OpenObject(Context& ctx, std::FILE* src, const std::string& path, bool& refused) {
    refused = SameFile(src, path.c_str());
    if (refused) {
        Report(ctx, Severity::kError, Nowhere(), msg::kOverSource, path.c_str());
        return nullptr;
    }
    return FilePtr(std::fopen(path.c_str(), "wb"));
}

}  // namespace

void About(Context& ctx) { Say(ctx, "%s", msg::kBanner); }

void PrintUsage(Context& ctx) {
    Say(ctx, "%s%s%s%s", msg::kUsage1, msg::kUsage2, msg::kUsage3, msg::kUsage4);
}

int RunMain(int argc, char** argv) {
    Context ctx;
    Options o;
    std::string error;
    const bool parsed = ParseOptions(argc, argv, o, error);
    if (parsed && o.version) {
        Say(ctx, msg::kVersion, TARVO_VERSION);
        return kExitOk;
    }
    ctx.set = o.settings;
    About(ctx);
    if (!parsed) {
        Report(ctx, Severity::kError, Nowhere(), "%s", error.c_str());
        PrintUsage(ctx);
        return kExitUsage;
    }
    if (o.help) {
        PrintUsage(ctx);
        Say(ctx, "%s", kOptionHelp);
        return kExitOk;
    }
    const std::vector<std::string>& args = o.args;
    if (args.empty()) {
        PrintUsage(ctx);
        return kExitUsage;
    }
    const std::string& srcPath = args[0];
    FilePtr src(std::fopen(srcPath.c_str(), "r"));
    if (!src) {
        Report(ctx, Severity::kError, Nowhere(), msg::kCannotOpenRead, srcPath.c_str());
        return kExitError;
    }
    bool refused = false;
    if (args.size() < 2) {
        FilePtr obj = OpenObject(ctx, src.get(), "output.obj", refused);
        if (!obj) {
            if (!refused) Report(ctx, Severity::kError, Nowhere(), msg::kCannotOpenObj);
            return kExitError;
        }
        return Assemble(ctx, o, std::move(src), srcPath, std::move(obj), "output.obj");
    }
    // Only the second character of the option counts: -s, /s and xs alike.
    std::string_view option = args[1];
    switch (option.size() >= 2 ? option[1] : '\0') {
        case 's':
            return Assemble(ctx, o, std::move(src), srcPath, FilePtr(stdout), "stdout");
        case 'o': {
            if (args.size() < 3) break;
            FilePtr obj = OpenObject(ctx, src.get(), args[2], refused);
            if (!obj) {
                if (!refused) Report(ctx, Severity::kError, Nowhere(), msg::kCannotOpenWrite, args[2].c_str());
                return kExitError;
            }
            return Assemble(ctx, o, std::move(src), srcPath, std::move(obj), args[2]);
        }
        case 'd':
            return Disassemble(ctx, o, std::move(src));
        default:
            break;
    }
    PrintUsage(ctx);
    return kExitUsage;
}

}  // namespace tarvo
