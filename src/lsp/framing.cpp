#include "lsp/framing.h"

#include <algorithm>
#include <cctype>

namespace tarvo::lsp {
namespace {

constexpr std::string_view kLengthName = "content-length";

bool SameWord(std::string_view a, std::string_view lower) {
    return a.size() == lower.size() && std::equal(a.begin(), a.end(), lower.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == y;
           });
}

// Where the last "Content-Length" of text starts after its first byte
// (npos when none): a header that follows junk.
std::size_t LastLengthName(std::string_view text) {
    for (std::size_t at = text.size(); at-- > 1;)
        if (text.size() - at >= kLengthName.size() && SameWord(text.substr(at, kLengthName.size()), kLengthName))
            return at;
    return std::string_view::npos;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

}  // namespace

bool Framer::ParseHeader(std::string_view block, std::size_t& length, std::string& error) const {
    bool found = false;
    while (true) {
        const std::size_t eol = block.find("\r\n");
        const std::string_view line = block.substr(0, eol);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            error = "a header line without a name and a colon";
            return false;
        }
        if (SameWord(Trim(line.substr(0, colon)), kLengthName)) {
            const std::string_view digits = Trim(line.substr(colon + 1));
            // Lengths past 18 digits cannot be skipped honestly: junk.
            if (digits.empty() || digits.size() > 18 ||
                !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
                error = "Content-Length is not a number";
                return false;
            }
            std::size_t n = 0;
            for (char c : digits) n = n * 10 + static_cast<std::size_t>(c - '0');
            if (found && n != length) {
                error = "two different Content-Length headers";
                return false;
            }
            found = true;
            length = n;
        }
        // Other headers (Content-Type) change nothing: UTF-8 JSON either way.
        if (eol == std::string_view::npos) break;
        block.remove_prefix(eol + 2);
    }
    if (!found) error = "no Content-Length header";
    return found;
}

Framer::Event Framer::Next() {
    Event event;
    while (event.kind == Event::Kind::kNone) {
        std::string_view rest(in_.data() + pos_, in_.size() - pos_);
        if (skip_ > 0) {
            const std::size_t n = std::min(skip_, rest.size());
            pos_ += n;
            skip_ -= n;
            if (skip_ > 0 || rest.size() == n) break;
            continue;
        }
        if (inBody_) {
            if (rest.size() < body_) break;
            event.kind = Event::Kind::kMessage;
            event.body.assign(rest.substr(0, body_));
            pos_ += body_;
            inBody_ = false;
            break;
        }
        const std::size_t end = rest.find("\r\n\r\n");
        if (end == std::string_view::npos) {
            if (rest.size() <= kMaxHeader) break;
            // Junk: keep a header that may start in it, or the tail that
            // may begin one.
            const std::size_t at = LastLengthName(rest);
            pos_ += at != std::string_view::npos ? at : rest.size() - (kLengthName.size() + 1);
            event.kind = Event::Kind::kBadHeader;
            event.body = "no header in the bytes received";
            break;
        }
        const std::string_view block = rest.substr(0, end);
        std::size_t length = 0;
        if (!ParseHeader(block, length, event.body)) {
            const std::size_t at = LastLengthName(block);
            // Start again at a header after the junk, else after the block.
            pos_ += at != std::string_view::npos ? at : end + 4;
            event.kind = Event::Kind::kBadHeader;
            break;
        }
        pos_ += end + 4;
        if (length > kMaxMessage) {
            skip_ = length;
            event.kind = Event::Kind::kTooLong;
            event.body = "a message over 64 MiB";
            break;
        }
        body_ = length;
        inBody_ = true;
    }
    // Drop what is consumed once it is most of the buffer.
    if (pos_ > 0 && pos_ * 2 >= in_.size()) {
        in_.erase(0, pos_);
        pos_ = 0;
    }
    return event;
}

std::string Frame(std::string_view body) {
    std::string out = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    out.append(body);
    return out;
}

}  // namespace tarvo::lsp
