#include "lsp/text.h"

#include <algorithm>
#include <filesystem>

#include "lib/places.h"

namespace tarvo::lsp {
namespace {

// The length of the UTF-8 sequence starting at s[i] and its UTF-16 units;
// a byte that starts no valid sequence is one unit of its own.
std::size_t Sequence(std::string_view s, std::size_t i, int& units) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    units = n == 4 ? 2 : 1;
    if (n <= 1 || i + n > s.size()) return 1;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
            units = 1;
            return 1;
        }
    return n;
}

const std::filesystem::path& WorkingFolder() {
    static const std::filesystem::path cwd = [] {
        std::error_code ec;
        std::filesystem::path p = std::filesystem::current_path(ec);
        return ec ? std::filesystem::path("/") : p;
    }();
    return cwd;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

// Lines end at \n, \r\n or a lone \r, as the protocol counts them.
Lines::Lines(std::string_view text) : text_(text) {
    for (std::size_t at = 0; at != std::string_view::npos; at = lib::NextLine(text, at)) starts_.push_back(at);
}

std::string_view Lines::Line(int n) const {
    if (n < 0 || n >= Count()) return {};
    const std::string_view rest = text_.substr(starts_[static_cast<std::size_t>(n)]);
    return rest.substr(0, rest.find_first_of("\r\n"));
}

int ToClient(std::string_view line, int byteColumn, Encoding encoding) {
    const std::size_t limit = std::min(line.size(), static_cast<std::size_t>(std::max(byteColumn, 0)));
    if (encoding == Encoding::kUtf8) return static_cast<int>(limit);
    int out = 0;
    for (std::size_t i = 0; i < limit;) {
        int units = 1;
        i += Sequence(line, i, units);
        out += units;
    }
    return out;
}

int ToBytes(std::string_view line, int character, Encoding encoding) {
    if (character <= 0) return 0;
    if (encoding == Encoding::kUtf8) return static_cast<int>(std::min(line.size(), static_cast<std::size_t>(character)));
    std::size_t i = 0;
    for (int seen = 0; i < line.size() && seen < character;) {
        int units = 1;
        i += Sequence(line, i, units);
        seen += units;
    }
    return static_cast<int>(i);
}

std::size_t OffsetOf(std::string_view text, int line, int character, Encoding encoding) {
    std::size_t start = 0;
    for (int n = 0; n < line; ++n) {
        start = lib::NextLine(text, start);
        if (start == std::string_view::npos) return text.size();
    }
    const std::string_view rest = text.substr(start);
    return start + static_cast<std::size_t>(ToBytes(rest.substr(0, rest.find_first_of("\r\n")), character, encoding));
}

std::string NormalPath(std::string_view path) {
    if (path.empty()) return {};
    std::filesystem::path p{std::string(path)};
    if (p.is_relative()) p = WorkingFolder() / p;
    return p.lexically_normal().string();
}

std::string UriToPath(std::string_view uri) {
    constexpr std::string_view kFile = "file://";
    if (uri.substr(0, kFile.size()) != kFile) return NormalPath(uri);
    std::string_view rest = uri.substr(kFile.size());
    // file://host/path: only the local host is ours.
    rest.remove_prefix(std::min(rest.find('/'), rest.size()));
    std::string path;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size() && HexDigit(rest[i + 1]) >= 0 && HexDigit(rest[i + 2]) >= 0) {
            path.push_back(static_cast<char>(HexDigit(rest[i + 1]) * 16 + HexDigit(rest[i + 2])));
            i += 2;
        } else if (rest[i] == '?' || rest[i] == '#') {
            break;
        } else {
            path.push_back(rest[i]);
        }
    }
    return NormalPath(path.empty() ? "/" : path);
}

std::string PathToUri(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (char c : NormalPath(path)) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
            std::string_view("-._~/").find(c) != std::string_view::npos) {
            uri.push_back(c);
        } else {
            uri.push_back('%');
            uri.push_back(kHex[u >> 4]);
            uri.push_back(kHex[u & 15]);
        }
    }
    return uri;
}

}  // namespace tarvo::lsp
