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
#include "driver/job.h"
#include "driver/options.h"
#include "driver/outputs.h"
#include "gnu/gnu_assembler.h"
#include "messages.h"
#include "text.h"
#include "text_table.h"

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

// The outputs of an assembly run, in the order in which one of two with
// the same name gives way: object, listing, symbols, dependencies.
enum OutputKind { kObject, kListing, kSymbols, kDeps, kOutputKinds };

struct Outputs {
    OutputFile file[kOutputKinds];
    bool open[kOutputKinds] = {};
    // Its entry in ctx.outputs, when it replaces a file.
    std::size_t guard[kOutputKinds] = {std::string::npos, std::string::npos, std::string::npos, std::string::npos};

    bool Refused(const Context& ctx, int k) const {
        return guard[k] != std::string::npos && ctx.outputs[guard[k]].refused;
    }
    // Moves each output that is whole into place.
    void Close(const Context& ctx, const bool failed[kOutputKinds], bool dropObject) {
        for (int k = 0; k < kOutputKinds; ++k)
            if (open[k]) file[k].Close(!failed[k] && !Refused(ctx, k) && !(k == kObject && dropObject));
    }
};

// Opens the outputs that are named; one that has the name of an earlier one
// is refused, and one that cannot be opened is reported like a write error.
void OpenOutputs(Context& ctx, const std::string (&names)[kOutputKinds], Outputs& out) {
    for (int k = kListing; k < kOutputKinds; ++k) {
        if (names[k].empty()) continue;
        if (!out.file[k].Open(names[k])) {
            Report(ctx, Severity::kError, Nowhere(), msg::kCannotWrite, names[k].c_str());
            continue;
        }
        out.open[k] = true;
        for (int e = kObject; e < k; ++e) {
            if (!out.open[e] || !out.file[e].SameAs(out.file[k])) continue;
            Report(ctx, Severity::kError, Nowhere(), msg::kOverSource, names[k].c_str());
            out.file[k].Close(false);
            out.open[k] = false;
            break;
        }
    }
    for (int k = kObject; k < kOutputKinds; ++k) {
        FileId id;
        if (!out.open[k] || !out.file[k].Replaces() || !out.file[k].Existing(id)) continue;
        out.guard[k] = ctx.outputs.size();
        ctx.outputs.push_back({names[k], id});
    }
}


// The streams of the outputs that opened.
Streams StreamsOf(const Outputs& out) {
    Streams s;
    s.object = out.file[kObject].get();
    s.objectName = s.object != stdout ? out.file[kObject].name() : std::string();
    if (out.open[kListing]) s.listing = out.file[kListing].get();
    if (out.open[kSymbols]) s.symbols = out.file[kSymbols].get();
    if (out.open[kDeps]) s.deps = out.file[kDeps].get();
    return s;
}

// Either language: the default language's pass lines and report, or GNU
// as' silence on success; no object file after errors (an older one is
// removed) unless -Z or, in the default language, --classic keeps it.
int Assemble(Context& ctx, const Options& o, FilePtr src, const std::string& srcPath, Outputs& out, FilePtr image) {
    // Link mode reads every source itself (src is null).
    const bool gnu = o.settings.gnuSyntax;
    std::FILE* obj = out.file[kObject].get();
    const std::string& objName = out.file[kObject].name();
    std::vector<char> objBuffer;
    if (obj != stdout && !gnu) {
        objBuffer.resize(1 << 20);
        std::setvbuf(obj, objBuffer.data(), _IOFBF, objBuffer.size());
    }
    // An include must never read standard output while it is being written.
    ctx.hasObjId = obj == stdout && GetFileId(obj, ctx.objId) && ctx.objId.regular;
    if (!o.link) ctx.files.push_back(srcPath);
    if (image) StartPatch(ctx, image.get(), o.patch);
    const std::string names[kOutputKinds] = {objName, o.listing, o.symbols, o.deps};
    OpenOutputs(ctx, names, out);
    Streams streams = StreamsOf(out);
    if (streams.objectName.empty()) streams.objectName = srcPath;
    Job job(ctx, o, streams);
    const int result = o.link ? job.Link() : job.Pass(src.get(), srcPath);
    bool failed[kOutputKinds] = {};
    failed[kObject] = WriteFailed(ctx, obj, objName.c_str());
    job.Finish();
    const std::string* outputNames[kOutputKinds] = {&objName, &o.listing, &o.symbols, &o.deps};
    for (int k = kListing; k < kOutputKinds; ++k)
        if (out.open[k]) failed[k] = WriteFailed(ctx, out.file[k].get(), outputNames[k]->c_str());
    if (!gnu) SayPasses(ctx, result, srcPath, obj);
    const bool regular = out.file[kObject].Replaces() && !out.Refused(ctx, kObject);
    const bool removeObj =
        ctx.nErrors > 0 && regular && !o.keepObject && (gnu || o.settings.strict || !o.settings.classic);
    out.Close(ctx, failed, removeObj);
    if (removeObj) {
        out.file[kObject].Remove();
        if (!gnu) Say(ctx, "%s", msg::kObjectRemoved);
    }
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
    const std::string listingPath = o.output.empty() ? "output.asm" : o.output;
    if (SameFile(src.get(), listingPath.c_str())) {
        Report(ctx, Severity::kError, Nowhere(), msg::kOverSource, listingPath.c_str());
        return kExitError;
    }
    SourceOptions source;
    std::int32_t v = 0;
    if (!o.base.empty() && !ReadNumber(o.base, v)) {
        Report(ctx, Severity::kError, Nowhere(), msg::kBadStart);
        return kExitError;
    }
    if (!o.base.empty()) source.base = static_cast<std::uint32_t>(v);
    if (o.source) {
        for (const std::string& e : o.entries) {
            if (!ReadNumber(e, v)) {
                Report(ctx, Severity::kError, Nowhere(), msg::kBadStart);
                return kExitError;
            }
            // An entry may be written with the image base or without.
            source.entries.push_back(LocationOf(static_cast<std::uint32_t>(v), source.base));
        }
    }
    OutputFile listing;
    if (!listing.Open(listingPath)) {
        if (o.output.empty()) Report(ctx, Severity::kError, Nowhere(), msg::kCannotOpenAsm);
        else Report(ctx, Severity::kError, Nowhere(), msg::kCannotOpenWrite, listingPath.c_str());
        return kExitError;
    }
    // The symbol file is an input of every -d run: the listing never
    // replaces it, even where it does not name the labels.
    bool refused = false;
    if (!o.symbols.empty()) {
        FilePtr names(std::fopen(o.symbols.c_str(), "r"));
        if (!names) {
            Report(ctx, Severity::kError, Nowhere(), msg::kCannotOpenRead, o.symbols.c_str());
            return kExitError;
        }
        FileId id;
        refused = GetFileId(names.get(), id) && listing.SameAs(id);
        if (refused) Report(ctx, Severity::kError, Nowhere(), msg::kOverSource, listingPath.c_str());
        if (o.source) ReadSymbolNames(names.get(), source.base, source.names);
    }
    // So is a text table.
    TextTable table;
    if (o.source && !o.table.empty()) {
        FilePtr f(std::fopen(o.table.c_str(), "r"));
        if (!f) {
            Report(ctx, Severity::kError, Nowhere(), msg::kCannotOpenRead, o.table.c_str());
            return kExitError;
        }
        FileId id;
        if (GetFileId(f.get(), id) && listing.SameAs(id)) {
            Report(ctx, Severity::kError, Nowhere(), msg::kOverSource, listingPath.c_str());
            refused = true;
        }
        if (const int bad = table.Read(f.get()); bad != 0) {
            Report(ctx, Severity::kError, Nowhere(), msg::kInvalidTableLine, o.table.c_str(), bad);
            return kExitError;
        }
        source.table = &table;
        source.tableName = o.table;
    }
    source.relocatable = o.relocatable;
    ctx.nPC = 0;
    ctx.nBytes = 8192;
    if (o.numbers.size() > 0 && !NumberArgument(o.numbers[0], ctx.nPC)) {
        Report(ctx, Severity::kError, Nowhere(), msg::kBadStart);
        return kExitError;
    }
    if (o.numbers.size() > 1 && !NumberArgument(o.numbers[1], ctx.nBytes)) {
        Report(ctx, Severity::kError, Nowhere(), msg::kBadCount);
        return kExitError;
    }
    Say(ctx, msg::kDisasmInfo, static_cast<unsigned>(ctx.nPC), ctx.nBytes);
    int result = o.source ? ListSource(ctx, src.get(), listing.get(), source)
                          : Dissasm(ctx, src.get(), listing.get(), o.sourcePath.c_str());
    if (WriteFailed(ctx, listing.get(), listingPath.c_str())) result = 0;
    listing.Close(result && !refused);
    Say(ctx, "%s", result && ctx.nErrors == 0 ? msg::kDisasmOk : msg::kDisasmFail);
    return result && ctx.nErrors == 0 ? kExitOk : kExitError;
}

// An output over the source is refused before anything is read, and
// nothing is created.
bool OverSource(Context& ctx, std::FILE* src, const std::string (&names)[kOutputKinds]) {
    for (const std::string& name : names) {
        if (name.empty() || !SameFile(src, name.c_str())) continue;
        Report(ctx, Severity::kError, Nowhere(), msg::kOverSource, name.c_str());
        return true;
    }
    return false;
}

// Link mode: the same for every source and the script.
bool OverInputs(Context& ctx, const Options& o, const std::string (&names)[kOutputKinds]) {
    std::vector<std::string> inputs = o.sources;
    if (!o.script.empty()) inputs.push_back(o.script);
    for (const std::string& input : inputs) {
        FileId in, id;
        if (!GetFileId(input.c_str(), in)) continue;
        for (const std::string& name : names) {
            if (name.empty() || !GetFileId(name.c_str(), id) || !(id == in)) continue;
            Report(ctx, Severity::kError, Nowhere(), msg::kOverSource, name.c_str());
            return true;
        }
    }
    return false;
}

}  // namespace

void About(Context& ctx) { Say(ctx, "%s", msg::kBanner); }

void PrintUsage(Context& ctx) {
    Say(ctx, "%s%s%s%s", msg::kUsage1, msg::kUsage2, msg::kUsage3, msg::kUsage4);
}

int RunMain(int argc, char** argv, int (*serve)()) {
    Context ctx;
    Options o;
    std::string error;
    const bool parsed = ParseOptions(argc, argv, o, error);
    if (parsed && o.version) {
        Say(ctx, msg::kVersion, TARVO_VERSION);
        return kExitOk;
    }
    if (parsed && o.lsp) {
        if (serve != nullptr) return serve();
        Report(ctx, Severity::kError, Nowhere(), msg::kNoServer);
        return kExitUsage;
    }
    // GNU syntax assembly prints nothing on success, as GNU as; listing
    // an image (-d) is the same in either language.
    const bool gnu = parsed && o.settings.gnuSyntax && o.mode != Options::Mode::kDisassemble && !o.help;
    if (parsed && !gnu && !o.settings.sectionStarts.empty()) {
        About(ctx);
        Report(ctx, Severity::kError, Nowhere(), msg::kGnuNeedsGnu, "--section-start");
        PrintUsage(ctx);
        return kExitUsage;
    }
    o.settings.gnuSyntax = gnu;
    ctx.set = o.settings;
    if (!gnu) About(ctx);
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
    if (o.mode == Options::Mode::kNone) {
        PrintUsage(ctx);
        return kExitUsage;
    }
    if (gnu && !o.patch.empty()) {
        Report(ctx, Severity::kError, Nowhere(), msg::kNotForGnu, "--patch");
        return kExitUsage;
    }
    const std::string& srcPath = o.sourcePath;
    FilePtr src(o.link ? nullptr : std::fopen(srcPath.c_str(), "r"));
    if (!src && !o.link) {
        Report(ctx, Severity::kError, Nowhere(), msg::kCannotOpenRead, srcPath.c_str());
        return kExitError;
    }
    if (o.mode == Options::Mode::kDisassemble) return Disassemble(ctx, o, std::move(src));
    if (o.mode == Options::Mode::kUsage) {
        PrintUsage(ctx);
        return kExitUsage;
    }
    const bool toStdout = o.mode == Options::Mode::kStdout;
    const std::string objName = toStdout ? "stdout" : o.objectName;
    const std::string names[kOutputKinds] = {toStdout ? "" : objName, o.listing, o.symbols, o.deps};
    if (o.link ? OverInputs(ctx, o, names) : OverSource(ctx, src.get(), names)) return kExitError;
    // The image a patch starts from is an input as the source is.
    FilePtr image;
    if (!o.patch.empty()) {
        image.reset(std::fopen(o.patch.c_str(), "rb"));
        if (!image) {
            Report(ctx, Severity::kError, Nowhere(), msg::kCannotOpenRead, o.patch.c_str());
            return kExitError;
        }
        if (OverSource(ctx, image.get(), names)) return kExitError;
    }
    Outputs out;
    if (!out.file[kObject].Open(objName, toStdout ? stdout : nullptr)) {
        if (!o.objectNamed) Report(ctx, Severity::kError, Nowhere(), msg::kCannotOpenObj);
        else Report(ctx, Severity::kError, Nowhere(), msg::kCannotOpenWrite, objName.c_str());
        return kExitError;
    }
    out.open[kObject] = true;
    return Assemble(ctx, o, std::move(src), srcPath, out, std::move(image));
}

}  // namespace tarvo
