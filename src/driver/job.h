// One assembly run in either language, made the same way by the program
// and by the library: the source in; the object and the outputs for builds
// out, to streams the caller opened (files, standard output, memory).
#pragma once
#include <cstdio>
#include <memory>
#include <string>

#include "driver/options.h"
#include "globals.h"
#include "gnu/gnu_assembler.h"

namespace tarvo {

struct Streams {
    std::FILE* object = nullptr;
    std::string objectName;  // the dependency rules' target unless --deps-target
    std::FILE* listing = nullptr;  // each null when not asked for
    std::FILE* symbols = nullptr;
    std::FILE* deps = nullptr;
};

class Listing;

// The pass, then the outputs that read what it made; between the two the
// program checks the object stream, so that a failed write is reported
// before the listing closes, as it always was.
class Job {
public:
    Job(Context& ctx, const Options& o, const Streams& s);
    ~Job();
    // Assembles the open source; returns the pass's result (1 when every
    // instruction line encoded).
    int Pass(std::FILE* src, const std::string& srcPath);
    // GNU syntax link mode: assembles every source of the options as its
    // own unit, links the units (the options' script, or GNU ld's own
    // layout) and writes the image objcopy -O binary makes; returns 1.
    int Link();
    // Writes the listing, the symbol file and the dependency rules.
    void Finish();
    // Another hearer of the default language's lines, beside the listing
    // (the library's record of what each line wrote); before Pass.
    void Observe(LineObserver* lines) { extra_ = lines; }
    // GNU syntax mode's image and names.
    gnu::Image image;

private:
    Context& ctx_;
    const Options& o_;
    Streams s_;
    std::unique_ptr<Listing> listing_;
    LineObserver* extra_ = nullptr;
    std::unique_ptr<LineObserver> tee_;
};

// The default language's closing lines: the pass lines and the report,
// whose byte count is the object stream's position after the pass lines.
void SayPasses(Context& ctx, int result, const std::string& srcPath, std::FILE* object);

// A patch: the object starts as the image (an input of the run), and the
// source's bytes go over it.
void StartPatch(Context& ctx, std::FILE* image, const std::string& path);

}  // namespace tarvo
