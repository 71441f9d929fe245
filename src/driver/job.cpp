#include "driver/job.h"

#include <algorithm>
#include <memory>

#include "directives/compiler_line.h"
#include "driver/assemble.h"
#include "driver/outputs.h"
#include "messages.h"

namespace tarvo {
namespace {

// Two hearers of the lines, in turn.
class Tee final : public LineObserver {
public:
    Tee(LineObserver& a, LineObserver& b) : a_(a), b_(b) {}
    void Line(std::uint32_t location, int line, bool included, std::string_view text) override {
        a_.Line(location, line, included, text);
        b_.Line(location, line, included, text);
    }
    void Message(std::string_view text) override {
        a_.Message(text);
        b_.Message(text);
    }
    void End(std::uint32_t location) override {
        a_.End(location);
        b_.End(location);
    }

private:
    LineObserver& a_;
    LineObserver& b_;
};

}  // namespace

Job::Job(Context& ctx, const Options& o, const Streams& s) : ctx_(ctx), o_(o), s_(s) {}
Job::~Job() = default;

int Job::Pass(std::FILE* src, const std::string& srcPath) {
    if (o_.settings.gnuSyntax) {
        gnu::Assemble(ctx_, src, srcPath, o_.defines, image, s_.listing);
        // The one object writer takes the image, as it takes the default language's bytes.
        ctx_.obj.Open(s_.object);
        if (ctx_.nErrors == 0 || o_.keepObject) ctx_.obj.Emit(image.bytes.data(), image.bytes.size());
        return 1;
    }
    FileId srcId;
    if (GetFileId(src, srcId)) ctx_.includeChain.push_back(srcId);
    ctx_.runPass = GenerateObj;
    ctx_.obj.Open(s_.object);
    if (s_.listing != nullptr) {
        listing_ = std::make_unique<Listing>(s_.listing, ctx_.obj);
        ctx_.observer = listing_.get();
        ctx_.obj.SetSink(listing_.get());
    }
    if (extra_ != nullptr && listing_) {
        tee_ = std::make_unique<Tee>(*listing_, *extra_);
        ctx_.observer = tee_.get();
    } else if (extra_ != nullptr) {
        ctx_.observer = extra_;
    }
    for (const auto& [name, value] : o_.defines) DefineOption(ctx_, name, value);
    return GenerateObj(ctx_, src, srcPath.c_str());
}

int Job::Link() {
    gnu::LinkOptions link;
    link.script = o_.script;
    link.defsyms = o_.defsyms;
    link.sectionStarts = o_.settings.sectionStarts;
    link.gapFill = o_.gapFill;
    gnu::AssembleProject(ctx_, o_.sources, UnitDefines(o_), link, image, s_.listing);
    ctx_.obj.Open(s_.object);
    if (ctx_.nErrors == 0 || o_.keepObject) ctx_.obj.Emit(image.bytes.data(), image.bytes.size());
    return 1;
}

void Job::Finish() {
    if (listing_) {
        listing_->Finish(ctx_.lstHead);
        ctx_.obj.SetSink(nullptr);
    }
    ctx_.observer = nullptr;
    if (s_.symbols != nullptr) {
        if (o_.settings.gnuSyntax) {
            std::stable_sort(image.labels.begin(), image.labels.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
            for (const auto& [value, name] : image.labels)
                std::fprintf(s_.symbols, "%08X %s\n", static_cast<unsigned>(value), name.c_str());
        } else {
            WriteSymbolFile(ctx_.lstHead, s_.symbols);
        }
    }
    if (s_.deps != nullptr)
        WriteDependencies(ctx_.files, !o_.depsTarget.empty() ? o_.depsTarget : s_.objectName, s_.deps);
}

void StartPatch(Context& ctx, std::FILE* image, const std::string& path) {
    ctx.files.push_back(path);
    std::vector<std::uint8_t> bytes;
    std::uint8_t block[1 << 16];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, image)) > 0;)
        bytes.insert(bytes.end(), block, block + got);
    ctx.obj.StartFrom(std::move(bytes));
    if (std::ferror(image)) Report(ctx, Severity::kError, Nowhere(), msg::kCannotRead, path.c_str());
}

void SayPasses(Context& ctx, int result, const std::string& srcPath, std::FILE* object) {
    Say(ctx, "%s", result ? msg::kPassObj : msg::kPassFail);
    if (ctx.nErrors == 0) Say(ctx, "%s", msg::kPassClean);
    // Read after the pass lines: with -s they are part of the stream.
    const long bytes = std::ftell(object);
    Say(ctx, msg::kReport, srcPath.c_str(), ctx.nErrors, bytes);
}

}  // namespace tarvo
