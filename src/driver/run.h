// The command line and the two run modes.
#pragma once
#include "globals.h"

namespace tarvo {

void About(Context& ctx);
void PrintUsage(Context& ctx);

// Exit statuses of a run.
enum : int { kExitOk = 0, kExitError = 1, kExitUsage = 2 };

// serve: the language server's entry (--lsp), when the build has one.
int RunMain(int argc, char** argv, int (*serve)() = nullptr);

}  // namespace tarvo
