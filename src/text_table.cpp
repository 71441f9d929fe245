#include "text_table.h"

#include <algorithm>
#include <cstring>

namespace tarvo {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The bytes that HEX spells (2, 4, 6 or 8 digits); false for anything else.
bool HexBytes(std::string_view hex, std::string& bytes) {
    if (hex.empty() || hex.size() > 8 || hex.size() % 2 != 0) return false;
    bytes.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes += static_cast<char>(high << 4 | low);
    }
    return true;
}

}  // namespace

std::uint64_t TextTable::Key(const std::uint8_t* p, std::size_t n) {
    std::uint64_t key = n;
    for (std::size_t i = 0; i < n; ++i) key |= std::uint64_t{p[i]} << (8 * (i + 1));
    return key;
}

int TextTable::Read(std::FILE* f) {
    std::string all;
    char block[1 << 14];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, f)) > 0;) all.append(block, got);
    std::string_view rest = all;
    // A byte order mark, as editors on Windows write one.
    if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);
    std::string bytes, text;
    for (int number = 1; !rest.empty(); ++number) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos || line.front() == ';') continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || eq + 1 == line.size() || !HexBytes(line.substr(0, eq), bytes))
            return number;
        text.clear();
        for (std::size_t i = eq + 1; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'n') {
                text += '\n';
                ++i;
            } else {
                text += line[i];
            }
        }
        bytesOf_.emplace(text, bytes);
        textOf_.emplace(Key(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), text);
        longestText_ = std::max(longestText_, text.size());
        longestBytes_ = std::max(longestBytes_, bytes.size());
    }
    return 0;
}

const std::string* TextTable::Longest(std::string_view text, std::size_t& length) const {
    for (std::size_t n = std::min(longestText_, text.size()); n > 0; --n) {
        const auto it = bytesOf_.find(text.substr(0, n));
        if (it == bytesOf_.end()) continue;
        length = n;
        return &it->second;
    }
    return nullptr;
}

std::size_t TextTable::Encode(std::string_view text, std::string& out) const {
    for (std::size_t at = 0, n = 0; at < text.size(); at += n) {
        const std::string* bytes = Longest(text.substr(at), n);
        if (bytes == nullptr) return at;
        out += *bytes;
    }
    return text.size();
}

const std::string* TextTable::Decode(const std::uint8_t* p, std::size_t avail, std::size_t& length) const {
    for (std::size_t n = std::min(longestBytes_, avail); n > 0; --n) {
        const auto it = textOf_.find(Key(p, n));
        if (it == textOf_.end()) continue;
        length = n;
        return &it->second;
    }
    return nullptr;
}

std::size_t TextTable::Run(const std::uint8_t* p, std::size_t avail, std::size_t fewest, std::size_t most,
                           std::string& text) const {
    std::vector<std::size_t> bytes, chars;  // where each entry ends
    text.clear();
    for (std::size_t at = 0, length = 0; bytes.size() < most && at < avail; at += length) {
        const std::string* entry = Decode(p + at, std::min<std::size_t>(avail - at, 4), length);
        if (entry == nullptr) break;
        text += *entry;
        bytes.push_back(at + length);
        chars.push_back(text.size());
    }
    // Encoding takes the longest text at every place, which need not be how
    // the bytes were made: the run is the longest part that comes back, up
    // to where encoding and decoding meet last. Encoding a part takes what
    // encoding the whole takes up to there.
    const std::size_t total = bytes.empty() ? 0 : bytes.back();
    std::size_t t = 0, b = 0, k = 0, best = 0;
    for (std::size_t n = 0; t < text.size(); t += n) {
        const std::string* code = Longest(std::string_view(text).substr(t), n);
        if (code == nullptr || code->size() > total - b || std::memcmp(code->data(), p + b, code->size()) != 0) break;
        b += code->size();
        while (k < chars.size() && chars[k] < t + n) ++k;
        if (k < chars.size() && chars[k] == t + n && bytes[k] == b) best = k + 1;
    }
    if (best < fewest || best == 0) return 0;
    text.resize(chars[best - 1]);
    return bytes[best - 1];
}

}  // namespace tarvo
