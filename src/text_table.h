// Text tables: a game's own character encoding, one "HEX=TEXT" entry a
// line (the format ROM translators share with armips). str., strz. and ds.
// write through one; the source lister reads text back through it.
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarvo {

class TextTable {
public:
    // Reads the entries of f. Returns 0, or the number of the first line
    // that is no entry, blank or comment (the table is then unusable).
    int Read(std::FILE* f);

    // Appends the bytes of text to out, taking at every position the
    // longest text that has an entry. Returns text.size(), or the offset of
    // the first character no entry begins with (out is then undefined).
    std::size_t Encode(std::string_view text, std::string& out) const;

    // The entry whose text is the longest that begins text: its bytes, and
    // in length how many characters it takes; null when no entry begins it.
    const std::string* Longest(std::string_view text, std::size_t& length) const;

    // The entry whose bytes are the longest that begin p (avail bytes
    // there): its text, and in length how many bytes it takes; null when no
    // entry begins p.
    const std::string* Decode(const std::uint8_t* p, std::size_t avail, std::size_t& length) const;

    // The longest run of entries from p (avail bytes there), at least
    // fewest and at most most of them, that decodes to a text the table
    // writes back to the same bytes: its length in bytes (0: none) and
    // its text.
    std::size_t Run(const std::uint8_t* p, std::size_t avail, std::size_t fewest, std::size_t most,
                    std::string& text) const;

private:
    static std::uint64_t Key(const std::uint8_t* p, std::size_t n);
    // Texts are looked up by view: no string is made per try.
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };

    // The first entry of a text or of a byte sequence counts.
    std::unordered_map<std::string, std::string, Hash, std::equal_to<>> bytesOf_;
    std::unordered_map<std::uint64_t, std::string> textOf_;  // Key(bytes) -> text
    std::size_t longestText_ = 0, longestBytes_ = 0;
};

}  // namespace tarvo
