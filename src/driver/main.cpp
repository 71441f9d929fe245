#include "driver/run.h"
#ifdef TARVO_LSP
#include "lsp/server.h"
#endif

int main(int argc, char** argv) {
#ifdef TARVO_LSP
    return tarvo::RunMain(argc, argv, tarvo::lsp::Serve);
#else
    return tarvo::RunMain(argc, argv);
#endif
}
