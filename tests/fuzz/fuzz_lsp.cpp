// The language server fed arbitrary bytes. The first byte chooses how: with
// its low bit clear the rest is the raw stream (the framing); set, the rest
// is messages separated by 0xFF bytes, each framed here (the dispatch and
// the handlers), after an initialize when bit 1 is set too. Beyond not
// crashing: everything the server sends is framed JSON.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "lsp/framing.h"
#include "lsp/server.h"

namespace {

// Reads back what the server sent, frame by frame.
void CheckSent(const std::string& sent) {
    tarvo::lsp::Framer framer;
    framer.Feed(sent);
    while (true) {
        tarvo::lsp::Framer::Event e = framer.Next();
        if (e.kind == tarvo::lsp::Framer::Event::Kind::kNone) break;
        if (e.kind != tarvo::lsp::Framer::Event::Kind::kMessage) std::abort();
        const nlohmann::json message = nlohmann::json::parse(e.body, nullptr, false);
        if (!message.is_object() || message.value("jsonrpc", "") != "2.0") std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string sent;
    {
        tarvo::lsp::Server server([&sent](std::string_view bytes) { sent.append(bytes); },
                                  {.worker = false, .readDisk = false});
        std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
        if ((data[0] & 1) == 0) {
            // Chunks of a size the first byte gives, as reads would cut them.
            const std::size_t chunk = 1 + (data[0] >> 1) * 37u;
            while (!rest.empty() && server.Feed(rest.substr(0, chunk)))
                rest.remove_prefix(std::min(chunk, rest.size()));
        } else {
            bool open = true;
            if (data[0] & 2)
                open = server.Feed(tarvo::lsp::Frame(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{}})"));
            while (open && !rest.empty()) {
                const std::size_t cut = rest.find('\xff');
                open = server.Feed(tarvo::lsp::Frame(rest.substr(0, cut)));
                rest.remove_prefix(cut == std::string_view::npos ? rest.size() : cut + 1);
            }
        }
    }
    CheckSent(sent);
    return 0;
}
