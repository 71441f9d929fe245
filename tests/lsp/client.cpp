#include "client.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace tarvo::test {
namespace {

// Long enough for a sanitizer build on a busy machine.
constexpr int kTimeoutMs = 30000;

}  // namespace

Client::Client(const std::filesystem::path& dir) {
    int toServer[2], fromServer[2];
    if (pipe(toServer) != 0 || pipe(fromServer) != 0) throw std::runtime_error("pipe failed");
    signal(SIGPIPE, SIG_IGN);
    pid_ = fork();
    if (pid_ == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        dup2(toServer[0], STDIN_FILENO);
        dup2(fromServer[1], STDOUT_FILENO);
        for (int fd : {toServer[0], toServer[1], fromServer[0], fromServer[1]}) close(fd);
        execl(TARVO_BIN, TARVO_BIN, "--lsp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toServer[0]);
    close(fromServer[1]);
    in_ = toServer[1];
    out_ = fromServer[0];
    fcntl(in_, F_SETFL, O_NONBLOCK);
}

Client::~Client() {
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

// Reads what the server sent within timeoutMs.
void Client::Pump(int timeoutMs) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return;
    char buffer[65536];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n > 0) received_.append(buffer, static_cast<std::size_t>(n));
}

void Client::SendRaw(std::string_view bytes) {
    // Reads while writing: a server that answers while we write must not
    // stop us both.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
    while (!bytes.empty() && std::chrono::steady_clock::now() < deadline) {
        pollfd p[2] = {{in_, POLLOUT, 0}, {out_, POLLIN, 0}};
        if (poll(p, 2, 1000) <= 0) continue;
        if (p[1].revents & POLLIN) Pump(0);
        if (p[0].revents & (POLLERR | POLLHUP)) return;
        if (p[0].revents & POLLOUT) {
            const ssize_t n = write(in_, bytes.data(), bytes.size());
            if (n > 0) bytes.remove_prefix(static_cast<std::size_t>(n));
            else if (n < 0 && errno != EAGAIN && errno != EINTR) return;
        }
    }
}

void Client::Send(const Json& message) {
    const std::string body = message.dump();
    SendRaw("Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

void Client::Notify(const std::string& method, Json params) {
    Send(Json{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
}

int Client::Request(const std::string& method, Json params) {
    const int id = nextId_++;
    Send(Json{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}});
    return id;
}

std::optional<Json> Client::Read() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
    while (true) {
        const std::size_t end = received_.find("\r\n\r\n");
        if (end != std::string::npos) {
            const std::string header = received_.substr(0, end);
            const std::string name = "Content-Length: ";
            if (header.compare(0, name.size(), name) != 0) throw std::runtime_error("bad header from the server: " + header);
            const std::size_t length = std::stoul(header.substr(name.size()));
            if (received_.size() >= end + 4 + length) {
                Json message = Json::parse(received_.substr(end + 4, length));
                received_.erase(0, end + 4 + length);
                return message;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        const std::size_t before = received_.size();
        Pump(static_cast<int>(left.count()));
        if (received_.size() == before) {
            pollfd p{out_, POLLIN, 0};
            // The server is gone: nothing more comes.
            if (poll(&p, 1, 0) > 0 && (p.revents & POLLHUP) && !(p.revents & POLLIN)) return std::nullopt;
        }
    }
}

Json Client::Answer(int id) {
    for (auto it = kept_.begin(); it != kept_.end(); ++it)
        if (it->contains("id") && (*it)["id"] == id && !it->contains("method")) {
            Json found = std::move(*it);
            kept_.erase(it);
            return found;
        }
    while (std::optional<Json> m = Read()) {
        if (m->contains("id") && (*m)["id"] == id && !m->contains("method")) return *m;
        kept_.push_back(std::move(*m));
    }
    return nullptr;
}

Json Client::NextAnswer() {
    for (auto it = kept_.begin(); it != kept_.end(); ++it)
        if (!it->contains("method")) {
            Json found = std::move(*it);
            kept_.erase(it);
            return found;
        }
    while (std::optional<Json> m = Read()) {
        if (!m->contains("method")) return *m;
        kept_.push_back(std::move(*m));
    }
    return nullptr;
}

Json Client::Diagnostics(const std::string& uri, std::optional<int> version) {
    auto wanted = [&](const Json& m) {
        if (m.value("method", "") != "textDocument/publishDiagnostics") return false;
        const Json& p = m.at("params");
        return p.at("uri") == uri && (!version || p.value("version", -1) == *version);
    };
    for (auto it = kept_.begin(); it != kept_.end(); ++it)
        if (wanted(*it)) {
            Json found = std::move((*it)["params"]);
            kept_.erase(it);
            return found;
        }
    while (std::optional<Json> m = Read()) {
        if (wanted(*m)) return (*m)["params"];
        kept_.push_back(std::move(*m));
    }
    return nullptr;
}

int Client::Finish() {
    close(in_);
    in_ = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) return -1;
        Pump(10);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tarvo::test
