// tarvo's language server: JSON-RPC messages in, answers and diagnostics
// out. The stream's reader and writer are the caller's, so that tests and
// the fuzzer drive the same server as `tarvo --lsp`.
#pragma once
#include <functional>
#include <memory>
#include <string_view>

namespace tarvo::lsp {

struct ServerConfig {
    // Assemble on a worker thread (the program); false: at once, on the
    // caller's thread (the fuzzer).
    bool worker = true;
    // Files that are not open are read from the disk; false: never.
    bool readDisk = true;
};

class Server {
public:
    // send gets each framed message for the client, one call at a time.
    explicit Server(std::function<void(std::string_view)> send, ServerConfig config = {});
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Takes bytes from the client; false once it said exit.
    bool Feed(std::string_view bytes);
    // The status to exit with: 0 after shutdown, else 1.
    int ExitStatus() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Speaks the protocol on standard input and output until exit or the end
// of input; the program's status.
int Serve();

}  // namespace tarvo::lsp
