#include "lsp/server.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "lsp/features.h"
#include "lsp/framing.h"

namespace tarvo::lsp {
namespace {

// JSON-RPC's and LSP's error codes.
enum : int {
    kParseError = -32700,
    kInvalidRequest = -32600,
    kMethodNotFound = -32601,
    kInvalidParams = -32602,
    kInternalError = -32603,
    kServerNotInitialized = -32002,
};

// A request that gets an error answer.
struct RpcError {
    int code;
    std::string message;
};

// The open documents together hold at most this much text; one at most a
// message's size.
constexpr std::size_t kMaxOpenText = std::size_t{256} << 20;

std::string Dump(const Json& j) {
    // A document's bytes need not be UTF-8: they are replaced, never thrown at.
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

const Json& Field(const Json& object, const char* key) { return object.at(key); }

// The member at a path of keys, when each step is an object that has it.
const Json* Find(const Json& j, std::initializer_list<const char*> keys) {
    const Json* at = &j;
    for (const char* key : keys) {
        if (!at->is_object()) return nullptr;
        const auto it = at->find(key);
        if (it == at->end()) return nullptr;
        at = &*it;
    }
    return at;
}

const std::string& String(const Json& j) { return j.get_ref<const std::string&>(); }

int Integer(const Json& j) {
    if (!j.is_number_integer()) throw RpcError{kInvalidParams, "a number is not an integer"};
    if (j.is_number_unsigned()) return static_cast<int>(std::min<std::uint64_t>(j.get<std::uint64_t>(), INT_MAX));
    return static_cast<int>(std::clamp<std::int64_t>(j.get<std::int64_t>(), 0, INT_MAX));
}

struct Document {
    std::string uri, path, languageId;
    int version = 0;
    Text text;
};

// Reads the "tarvo" settings over s; keys of a wrong type are passed over.
void ReadSettings(const Json& from, Settings& s, const std::string& root) {
    const Json* t = &from;
    if (from.is_object()) {
        const auto inner = from.find("tarvo");
        if (inner != from.end() && inner->is_object()) t = &*inner;
    }
    if (!t->is_object()) return;
    if (const auto it = t->find("syntax"); it != t->end() && it->is_string()) {
        if (String(*it) == "gnu") s.syntax = Syntax::kGnu;
        else if (String(*it) == "default" || String(*it) == "tarvo") s.syntax = Syntax::kDefault;
    }
    if (const auto it = t->find("includeDirs"); it != t->end() && it->is_array()) {
        s.includeDirs.clear();
        for (const Json& dir : *it) {
            if (!dir.is_string()) continue;
            std::filesystem::path p{String(dir)};
            // Relative folders are the workspace's.
            if (p.is_relative() && !root.empty()) p = std::filesystem::path(root) / p;
            s.includeDirs.push_back(NormalPath(p.string()));
        }
    }
    if (const auto it = t->find("defines"); it != t->end() && it->is_object()) {
        s.defines.clear();
        for (const auto& [name, value] : it->items()) {
            if (value.is_string()) s.defines.emplace_back(name, String(value));
            else if (value.is_number_integer()) s.defines.emplace_back(name, Dump(value));
            else if (value.is_boolean()) s.defines.emplace_back(name, value.get<bool>() ? "1" : "0");
        }
    }
    if (const auto it = t->find("strict"); it != t->end() && it->is_boolean()) s.strict = it->get<bool>();
    if (const auto it = t->find("classic"); it != t->end() && it->is_boolean()) s.classic = it->get<bool>();
}

}  // namespace

struct Server::Impl {
    using Handler = Json (Impl::*)(const Json& params);
    struct Method {
        std::string_view name;
        Handler handler;
        bool request;  // else a notification
    };
    static const Method kMethods[];
    static const Method* FindMethod(std::string_view name);

    enum class Phase { kNew, kRunning, kShutDown, kExited };

    Impl(std::function<void(std::string_view)> send, ServerConfig config)
        : send_(std::move(send)), config_(config) {
        if (config_.worker) worker_ = std::thread([this] { Work(); });
    }
    ~Impl() {
        {
            std::lock_guard<std::mutex> lock(m_);
            stop_ = true;
        }
        cv_.notify_all();
        if (worker_.joinable()) worker_.join();
    }

    bool Feed(std::string_view bytes) {
        framer_.Feed(bytes);
        while (phase_ != Phase::kExited) {
            Framer::Event e = framer_.Next();
            if (e.kind == Framer::Event::Kind::kNone) break;
            if (e.kind == Framer::Event::Kind::kMessage) Handle(e.body);
            else Fail(nullptr, e.kind == Framer::Event::Kind::kTooLong ? kInvalidRequest : kParseError, e.body);
        }
        return phase_ != Phase::kExited;
    }

    int ExitStatus() const { return shutDown_ ? 0 : 1; }

private:
    // The wire.
    void Send(const Json& message) {
        const std::string framed = Frame(Dump(message));
        std::lock_guard<std::mutex> lock(out_);
        send_(framed);
    }
    void Reply(const Json& id, Json result) {
        Send(Json{{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
    }
    void Fail(const Json& id, int code, const std::string& message) {
        Send(Json{{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}});
    }
    void Notify(const char* method, Json params) {
        Send(Json{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
    }

    void Handle(std::string_view body) {
        const Json message = Json::parse(body, nullptr, false);
        if (message.is_discarded()) return Fail(nullptr, kParseError, "the message is not JSON");
        if (!message.is_object()) return Fail(nullptr, kInvalidRequest, "the message is not an object");
        const auto id = message.find("id");
        const bool request = id != message.end();
        if (request && !id->is_string() && !id->is_number_integer())
            return Fail(nullptr, kInvalidRequest, "an id is a number or a string");
        const auto name = message.find("method");
        // Answers to requests of ours: the server sends none.
        if (name == message.end()) return;
        if (!name->is_string()) {
            if (request) Fail(*id, kInvalidRequest, "the method is not a string");
            return;
        }
        const std::string& method = String(*name);
        const Method* found = FindMethod(method);
        if (request) {
            if (phase_ == Phase::kNew && method != "initialize")
                return Fail(*id, kServerNotInitialized, "the server is not initialized");
            if (phase_ == Phase::kShutDown) return Fail(*id, kInvalidRequest, "the server is shut down");
            if (found == nullptr) return Fail(*id, kMethodNotFound, "no method " + method);
            if (!found->request) return Fail(*id, kInvalidRequest, method + " is a notification");
            if (phase_ != Phase::kNew && method == "initialize")
                return Fail(*id, kInvalidRequest, "the server is initialized already");
        } else {
            // Unknown notifications ("$/..." among them) are dropped, as are
            // those that come before initialize or after shutdown.
            if (found == nullptr || found->request) return;
            if (method != "exit" && (phase_ == Phase::kNew || phase_ == Phase::kShutDown)) return;
        }
        static const Json kNoParams = Json::object();
        const auto params = message.find("params");
        const Json& p = params == message.end() ? kNoParams : *params;
        try {
            Json result = (this->*found->handler)(p);
            if (request) Reply(*id, std::move(result));
        } catch (const RpcError& e) {
            if (request) Fail(*id, e.code, e.message);
        } catch (const Json::exception& e) {
            if (request) Fail(*id, kInvalidParams, e.what());
        } catch (const std::exception& e) {
            if (request) Fail(*id, kInternalError, e.what());
        }
        if (!config_.worker) {
            std::unique_lock<std::mutex> lock(m_);
            while (!pending_.empty()) RunOne(lock);
        }
    }

    // Lifecycle.
    Json Initialize(const Json& params) {
        if (!params.is_object()) throw RpcError{kInvalidParams, "initialize takes an object"};
        std::lock_guard<std::mutex> lock(m_);
        const Json* offered = Find(params, {"capabilities", "general", "positionEncodings"});
        if (offered != nullptr && offered->is_array() &&
            std::find(offered->begin(), offered->end(), Json("utf-8")) != offered->end())
            encoding_ = Encoding::kUtf8;
        if (const auto it = params.find("rootUri"); it != params.end() && it->is_string()) root_ = UriToPath(String(*it));
        else if (const auto path = params.find("rootPath"); path != params.end() && path->is_string())
            root_ = NormalPath(String(*path));
        if (const auto it = params.find("initializationOptions"); it != params.end())
            ReadSettings(*it, settings_, root_);
        phase_ = Phase::kRunning;
        const Json capabilities{
            {"positionEncoding", encoding_ == Encoding::kUtf8 ? "utf-8" : "utf-16"},
            {"textDocumentSync", {{"openClose", true}, {"change", 2}, {"save", {{"includeText", false}}}}},
            {"definitionProvider", true},
            {"referencesProvider", true},
            {"hoverProvider", true},
            {"completionProvider", {{"triggerCharacters", {"."}}, {"resolveProvider", false}}},
            {"documentSymbolProvider", true},
        };
        return Json{{"capabilities", capabilities}, {"serverInfo", {{"name", "tarvo"}, {"version", std::string(Version())}}}};
    }
    Json Initialized(const Json&) { return nullptr; }
    Json Shutdown(const Json&) {
        phase_ = Phase::kShutDown;
        shutDown_ = true;
        return nullptr;
    }
    Json Exit(const Json&) {
        phase_ = Phase::kExited;
        return nullptr;
    }

    // Documents.
    Json DidOpen(const Json& params) {
        const Json& item = Field(params, "textDocument");
        Document d;
        d.uri = String(Field(item, "uri"));
        d.path = UriToPath(d.uri);
        if (const auto it = item.find("languageId"); it != item.end() && it->is_string()) d.languageId = String(*it);
        if (const auto it = item.find("version"); it != item.end() && it->is_number_integer()) d.version = Integer(*it);
        const std::string& text = String(Field(item, "text"));
        std::lock_guard<std::mutex> lock(m_);
        if (docs_.count(d.uri) != 0) Forget(d.uri);
        if (text.size() > kMaxMessage || openText_ + text.size() > kMaxOpenText) return TooLarge(d.uri);
        d.text = std::make_shared<const std::string>(text);
        openText_ += text.size();
        const std::string uri = d.uri;
        docs_[uri] = std::move(d);
        MarkDirty(uri);
        return nullptr;
    }

    Json DidChange(const Json& params) {
        const Json& item = Field(params, "textDocument");
        const std::string& uri = String(Field(item, "uri"));
        const Json& changes = Field(params, "contentChanges");
        if (!changes.is_array()) throw RpcError{kInvalidParams, "contentChanges is not an array"};
        std::unique_lock<std::mutex> lock(m_);
        const auto d = docs_.find(uri);
        if (d == docs_.end()) return nullptr;
        const Text old = d->second.text;
        const Encoding encoding = encoding_;
        lock.unlock();
        // Applied to a copy: the worker may be reading the old text.
        std::string text = *old;
        for (const Json& change : changes) {
            const std::string& replacement = String(Field(change, "text"));
            const auto range = change.find("range");
            if (range == change.end() || range->is_null()) {
                text = replacement;
            } else {
                const Json& start = Field(*range, "start");
                const Json& end = Field(*range, "end");
                std::size_t from = OffsetOf(text, Integer(Field(start, "line")), Integer(Field(start, "character")), encoding);
                std::size_t to = OffsetOf(text, Integer(Field(end, "line")), Integer(Field(end, "character")), encoding);
                if (to < from) std::swap(from, to);
                text.replace(from, to - from, replacement);
            }
            if (text.size() > kMaxMessage) break;
        }
        lock.lock();
        const auto now = docs_.find(uri);
        if (now == docs_.end() || now->second.text != old) return nullptr;
        if (text.size() > kMaxMessage || openText_ - old->size() + text.size() > kMaxOpenText) {
            Forget(uri);
            return TooLarge(uri);
        }
        openText_ = openText_ - old->size() + text.size();
        now->second.text = std::make_shared<const std::string>(std::move(text));
        if (const auto it = item.find("version"); it != item.end() && it->is_number_integer())
            now->second.version = Integer(*it);
        MarkDirty(uri);
        return nullptr;
    }

    Json DidSave(const Json& params) {
        const std::string& uri = String(Field(Field(params, "textDocument"), "uri"));
        std::lock_guard<std::mutex> lock(m_);
        if (docs_.count(uri) != 0) MarkDirty(uri);
        return nullptr;
    }

    Json DidClose(const Json& params) {
        const std::string& uri = String(Field(Field(params, "textDocument"), "uri"));
        std::lock_guard<std::mutex> lock(m_);
        if (docs_.count(uri) != 0) Forget(uri);
        return nullptr;
    }

    Json DidChangeConfiguration(const Json& params) {
        const auto settings = params.find("settings");
        if (settings == params.end() || !settings->is_object()) return nullptr;
        std::lock_guard<std::mutex> lock(m_);
        Settings fresh;
        ReadSettings(*settings, fresh, root_);
        settings_ = std::move(fresh);
        for (const auto& [uri, d] : docs_) Queue(uri);
        cv_.notify_all();
        return nullptr;
    }

    // Requests at a position.
    struct At {
        std::string uri;
        int line = 0, character = 0;
    };
    static At Position(const Json& params) {
        const Json& pos = Field(params, "position");
        return {String(Field(Field(params, "textDocument"), "uri")), Integer(Field(pos, "line")),
                Integer(Field(pos, "character"))};
    }
    Json Definition(const Json& params) {
        const At at = Position(params);
        const auto a = Await(at.uri);
        return a ? lsp::Definition(*a, at.line, at.character, encoding_) : Json(nullptr);
    }
    Json References(const Json& params) {
        const At at = Position(params);
        bool withDefinition = false;
        if (const auto context = params.find("context"); context != params.end() && context->is_object())
            withDefinition = context->value("includeDeclaration", false);
        const auto a = Await(at.uri);
        return a ? lsp::References(*a, at.line, at.character, withDefinition, encoding_) : Json::array();
    }
    Json Hover(const Json& params) {
        const At at = Position(params);
        const auto a = Await(at.uri);
        return a ? lsp::Hover(*a, at.line, at.character, encoding_) : Json(nullptr);
    }
    Json Completion(const Json& params) {
        const At at = Position(params);
        const auto a = Await(at.uri);
        Syntax syntax;
        {
            std::lock_guard<std::mutex> lock(m_);
            const auto d = docs_.find(at.uri);
            syntax = d != docs_.end() ? SyntaxOf(d->second) : settings_.syntax;
        }
        return lsp::Completion(a.get(), syntax);
    }
    Json DocumentSymbol(const Json& params) {
        const std::string& uri = String(Field(Field(params, "textDocument"), "uri"));
        const auto a = Await(uri);
        return a ? lsp::Symbols(*a, encoding_) : Json::array();
    }

    // The assemblies; everything below runs with m_ held.
    Syntax SyntaxOf(const Document& d) const {
        if (d.languageId == "v810") return Syntax::kDefault;
        if (d.languageId == "v810-gnu") return Syntax::kGnu;
        return settings_.syntax;
    }

    bool Pending(const std::string& uri) const {
        return std::find(pending_.begin(), pending_.end(), uri) != pending_.end();
    }
    void Queue(const std::string& uri) {
        if (!Pending(uri)) pending_.push_back(uri);
    }
    // The document and every open one whose last assembly read it, or
    // looked for it and did not find it.
    void MarkDirty(const std::string& uri) {
        Queue(uri);
        const std::string& path = docs_.at(uri).path;
        for (const auto& [other, a] : results_)
            if (other != uri && (a->texts.count(path) != 0 || a->missing.count(path) != 0) && docs_.count(other) != 0)
                Queue(other);
        cv_.notify_all();
    }

    void Work() {
        std::unique_lock<std::mutex> lock(m_);
        while (true) {
            cv_.wait(lock, [this] { return stop_ || !pending_.empty(); });
            if (stop_) return;
            RunOne(lock);
        }
    }

    void RunOne(std::unique_lock<std::mutex>& lock) {
        const std::string uri = pending_.front();
        pending_.pop_front();
        const auto d = docs_.find(uri);
        if (d == docs_.end()) return;
        Job job;
        job.uri = uri;
        job.path = d->second.path;
        job.version = d->second.version;
        job.text = d->second.text;
        job.syntax = SyntaxOf(d->second);
        job.settings = settings_;
        job.readDisk = config_.readDisk;
        for (const auto& [u, doc] : docs_) {
            job.open.emplace(doc.path, doc.text);
            job.uris.emplace(doc.path, u);
        }
        const Encoding encoding = encoding_;
        busy_ = uri;
        lock.unlock();
        std::shared_ptr<const Analysis> a;
        std::map<std::string, std::vector<Json>> diagnostics;
        try {
            a = Analyze(job);
            diagnostics = Diagnostics(*a, encoding);
        } catch (const std::exception& e) {
            diagnostics[uri].push_back({{"range", {{"start", {{"line", 0}, {"character", 0}}}, {"end", {{"line", 0}, {"character", 0}}}}},
                                        {"severity", 1}, {"source", "tarvo"},
                                        {"message", std::string("tarvo could not assemble the document: ") + e.what()}});
        }
        lock.lock();
        busy_.clear();
        cv_.notify_all();
        const auto now = docs_.find(uri);
        // Closed, or changed again: the next run publishes.
        if (now == docs_.end()) return;
        if (a) results_[uri] = a;
        if (now->second.text != job.text || Pending(uri)) return;
        Contribute(uri, std::move(diagnostics));
    }

    // An assembly's diagnostics replace those it gave before, for each
    // open document they concern.
    void Contribute(const std::string& from, std::map<std::string, std::vector<Json>> diagnostics) {
        std::set<std::string> targets;
        for (const auto& [target, byFrom] : contributions_)
            if (byFrom.count(from) != 0) targets.insert(target);
        for (const auto& [target, list] : diagnostics) targets.insert(target);
        for (const std::string& target : targets) {
            if (docs_.count(target) == 0) continue;
            auto it = diagnostics.find(target);
            if (it == diagnostics.end() || it->second.empty()) contributions_[target].erase(from);
            else contributions_[target][from] = std::move(it->second);
            Publish(target);
        }
    }

    void Publish(const std::string& uri) {
        Json list = Json::array();
        const auto& byFrom = contributions_[uri];
        if (byFrom.size() == 1) {
            list = byFrom.begin()->second;
        } else {
            // The same message from two assemblies (a file open on its own and
            // included by another) shows once.
            std::set<std::string> seen;
            auto add = [&](const std::vector<Json>& from) {
                for (const Json& d : from)
                    if (seen.insert(Dump(d)).second) list.push_back(d);
            };
            if (const auto own = byFrom.find(uri); own != byFrom.end()) add(own->second);
            for (const auto& [from, diagnostics] : byFrom)
                if (from != uri) add(diagnostics);
        }
        Json params{{"uri", uri}, {"diagnostics", std::move(list)}};
        if (const auto d = docs_.find(uri); d != docs_.end()) params["version"] = d->second.version;
        Notify("textDocument/publishDiagnostics", std::move(params));
    }

    // A document is no longer open: its diagnostics go, and those it gave
    // to others.
    void Forget(const std::string& uri) {
        const auto d = docs_.find(uri);
        const std::string path = d->second.path;
        openText_ -= d->second.text->size();
        docs_.erase(d);
        results_.erase(uri);
        pending_.erase(std::remove(pending_.begin(), pending_.end(), uri), pending_.end());
        contributions_.erase(uri);
        Notify("textDocument/publishDiagnostics", Json{{"uri", uri}, {"diagnostics", Json::array()}});
        for (auto& [target, byFrom] : contributions_)
            if (byFrom.erase(uri) != 0 && docs_.count(target) != 0) Publish(target);
        // Those that included it read the disk now.
        for (const auto& [other, a] : results_)
            if (a->texts.count(path) != 0) Queue(other);
        cv_.notify_all();
    }

    Json TooLarge(const std::string& uri) {
        const Json range{{"start", {{"line", 0}, {"character", 0}}}, {"end", {{"line", 0}, {"character", 0}}}};
        Notify("textDocument/publishDiagnostics",
               Json{{"uri", uri},
                    {"diagnostics",
                     {{{"range", range}, {"severity", 1}, {"source", "tarvo"},
                       {"message", "tarvo takes documents of up to 64 MiB, and 256 MiB of open documents together: "
                                   "this one is not assembled"}}}}});
        return nullptr;
    }

    // The document's latest assembly, once it has run.
    std::shared_ptr<const Analysis> Await(const std::string& uri) {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [&] { return busy_ != uri && !Pending(uri); });
        const auto it = results_.find(uri);
        return it == results_.end() ? nullptr : it->second;
    }

    std::function<void(std::string_view)> send_;
    ServerConfig config_;
    Framer framer_;
    Phase phase_ = Phase::kNew;
    bool shutDown_ = false;
    std::mutex out_;  // one message on the wire at a time

    // Shared with the worker.
    std::mutex m_;
    std::condition_variable cv_;
    Encoding encoding_ = Encoding::kUtf16;
    std::string root_;
    Settings settings_;
    std::map<std::string, Document> docs_;  // by URI
    std::size_t openText_ = 0;
    std::deque<std::string> pending_;       // each document at most once: its latest text wins
    std::string busy_;                      // the document being assembled
    bool stop_ = false;
    std::map<std::string, std::shared_ptr<const Analysis>> results_;
    // Diagnostics by the document they are shown in, then by the document
    // whose assembly gave them.
    std::map<std::string, std::map<std::string, std::vector<Json>>> contributions_;
    std::thread worker_;
};

const Server::Impl::Method Server::Impl::kMethods[] = {
    {"initialize", &Impl::Initialize, true},
    {"initialized", &Impl::Initialized, false},
    {"shutdown", &Impl::Shutdown, true},
    {"exit", &Impl::Exit, false},
    {"textDocument/didOpen", &Impl::DidOpen, false},
    {"textDocument/didChange", &Impl::DidChange, false},
    {"textDocument/didSave", &Impl::DidSave, false},
    {"textDocument/didClose", &Impl::DidClose, false},
    {"workspace/didChangeConfiguration", &Impl::DidChangeConfiguration, false},
    {"textDocument/definition", &Impl::Definition, true},
    {"textDocument/references", &Impl::References, true},
    {"textDocument/hover", &Impl::Hover, true},
    {"textDocument/completion", &Impl::Completion, true},
    {"textDocument/documentSymbol", &Impl::DocumentSymbol, true},
};

const Server::Impl::Method* Server::Impl::FindMethod(std::string_view name) {
    for (const Method& m : kMethods)
        if (m.name == name) return &m;
    return nullptr;
}

Server::Server(std::function<void(std::string_view)> send, ServerConfig config)
    : impl_(std::make_unique<Impl>(std::move(send), config)) {}
Server::~Server() = default;
bool Server::Feed(std::string_view bytes) { return impl_->Feed(bytes); }
int Server::ExitStatus() const { return impl_->ExitStatus(); }

int Serve() {
    // A client that went away is an end of input, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    std::atomic<bool> broken = false;
    Server server([&broken](std::string_view bytes) {
        while (!bytes.empty() && !broken) {
            const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) broken = true;
            else bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    });
    static char buffer[1 << 16];
    while (!broken) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (!server.Feed(std::string_view(buffer, static_cast<std::size_t>(n)))) break;
    }
    return server.ExitStatus();
}

}  // namespace tarvo::lsp
