// The command line, read once before any file is opened.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "globals.h"

namespace tarvo {

struct Options {
    // What the classic positions say: the source, the one option (only its
    // second character counts) and the option's arguments.
    enum class Mode {
        kNone,         // no argument at all
        kObjectFile,   // no option (output.obj), or -o FILE
        kStdout,       // -s
        kDisassemble,  // -d [Adr [bytes]]
        kUsage,        // any other option, or -o without its file
    };
    Mode mode = Mode::kNone;
    std::string sourcePath;
    std::string objectName;            // kObjectFile: output.obj or the file after -o
    bool objectNamed = false;          // -o gave it
    std::vector<std::string> numbers;  // kDisassemble: the start and count as written
    Settings settings;
    std::vector<std::pair<std::string, std::string>> defines;  // --define, -D and --defsym, in order
    // GNU syntax link mode: two or more sources, -T FILE or --link.
    bool link = false;
    std::vector<std::string> sources;  // link mode: every source, sourcePath first
    std::string script;                // -T FILE, --script=FILE: GNU ld's linker script
    // --defsym again, alone: in link mode GNU ld's (the units see --define only).
    std::vector<std::pair<std::string, std::string>> defsyms;
    std::optional<std::uint8_t> gapFill;  // --gap-fill=BYTE: objcopy's
    std::string listing, symbols, deps, depsTarget;  // output files; empty: none
    bool keepObject = false;            // -Z: an object file even after errors
    std::string output;                 // -d: the listing instead of output.asm
    bool source = false;                // -d: a source that assembles back
    std::vector<std::string> entries;   // -d --source: where code begins
    std::string base;                   // -d: the image base; empty: 0x07000000
    std::string patch;                  // the image the object starts from; empty: none
    std::string table;                  // -d --source: text through this table
    bool relocatable = false;           // -d --source: references as label expressions
    bool help = false;
    bool version = false;
    bool lsp = false;                   // speak the Language Server Protocol on stdin/stdout
};

// Link mode: the --define values, which every unit sees (--defsym is the
// linker's there).
std::vector<std::pair<std::string, std::string>> UnitDefines(const Options& o);

// Reads argv into options. False when the command line is wrong (an
// unknown option or argument, a missing value); error is then its message,
// after which the usage text is shown.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

// One line of help per long option.
extern const char* const kOptionHelp;

}  // namespace tarvo
