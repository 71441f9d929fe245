// A language client for tests: runs `tarvo --lsp` with pipes and speaks
// the protocol's framing by itself, so that the server's reader is tested,
// not reused.
#pragma once
#include <sys/types.h>

#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace tarvo::test {

using Json = nlohmann::json;

class Client {
public:
    explicit Client(const std::filesystem::path& dir);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void SendRaw(std::string_view bytes);
    void Send(const Json& message);
    void Notify(const std::string& method, Json params);
    int Request(const std::string& method, Json params);
    // The whole answer to request id (result or error); null on a timeout.
    Json Answer(int id);
    Json Call(const std::string& method, Json params) { return Answer(Request(method, std::move(params))); }
    // The next publishDiagnostics for uri (of that version, when given).
    Json Diagnostics(const std::string& uri, std::optional<int> version = std::nullopt);
    // The next message that is not a publishDiagnostics; null on a timeout.
    Json NextAnswer();
    // Closes the server's input and waits: its exit status, or -1.
    int Finish();

private:
    std::optional<Json> Read();
    void Pump(int timeoutMs);

    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;  // the server's standard input and output
    std::string received_;
    std::deque<Json> kept_;  // read, not yet asked for
    int nextId_ = 1;
};

}  // namespace tarvo::test
