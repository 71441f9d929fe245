// The command line, read once before any file is opened.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "globals.h"

namespace tarvo {

struct Options {
    std::vector<std::string> args;  // what the classic rules read, from argv[1] on
    Settings settings;
    std::vector<std::pair<std::string, std::string>> defines;  // --define, in order
    std::string listing, symbols, deps, depsTarget;  // output files; empty: none
    std::string output;                 // -d: the listing instead of output.asm
    bool source = false;                // -d: a source that assembles back
    std::vector<std::string> entries;   // -d --source: where code begins
    bool help = false;
    bool version = false;
    bool lsp = false;                   // speak the Language Server Protocol on stdin/stdout
};

// Takes the long options out of argv and leaves the rest in args. False
// when an option is unknown or lacks its value; error is then its message.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

// One line of help per long option.
extern const char* const kOptionHelp;

}  // namespace tarvo
