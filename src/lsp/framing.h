// The base protocol's framing: "Content-Length: N\r\n\r\n" and N bytes of
// JSON. A push reader, so that the stream, the tests and the fuzzer feed it
// alike, with its memory bounded whatever arrives.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace tarvo::lsp {

// The largest message body taken; a longer one is skipped unread.
inline constexpr std::size_t kMaxMessage = std::size_t{64} << 20;
// The largest header block; past it the bytes are junk until a header.
inline constexpr std::size_t kMaxHeader = 8192;

class Framer {
public:
    struct Event {
        enum class Kind { kNone, kMessage, kBadHeader, kTooLong } kind = Kind::kNone;
        std::string body;  // kMessage: the body; else what went wrong
    };

    // Takes bytes that arrived; call Next until it gives kNone.
    void Feed(std::string_view bytes) { in_.append(bytes); }
    Event Next();

private:
    bool ParseHeader(std::string_view block, std::size_t& length, std::string& error) const;

    std::string in_;        // bytes not yet consumed
    std::size_t pos_ = 0;   // consumed bytes at the front of in_
    std::size_t body_ = 0;  // reading a body of this length
    bool inBody_ = false;
    std::size_t skip_ = 0;  // bytes of an over-long body still to drop
};

// Frames a body for sending.
std::string Frame(std::string_view body);

}  // namespace tarvo::lsp
