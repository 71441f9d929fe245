// Texts as the protocol sees them: lines and characters in the client's
// encoding, document URIs, edits.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::lsp {

// The unit of an LSP character: UTF-16 code units (the protocol's default)
// or bytes when the client offers "utf-8".
enum class Encoding { kUtf16, kUtf8 };

// A text's lines, split at '\n' as the assembler counts them; a line's '\r'
// before its '\n' is no part of it.
class Lines {
public:
    explicit Lines(std::string_view text);
    int Count() const { return static_cast<int>(starts_.size()); }
    std::string_view Line(int n) const;  // 0-based; empty past the end

private:
    std::string_view text_;
    std::vector<std::size_t> starts_;
};

// A byte column of line in the client's unit, and back (clamped to the line).
int ToClient(std::string_view line, int byteColumn, Encoding encoding);
int ToBytes(std::string_view line, int character, Encoding encoding);

// The byte offset of an LSP position in text (clamped to the text).
std::size_t OffsetOf(std::string_view text, int line, int character, Encoding encoding);

// A document URI as a path: file URIs decoded, any other URI as it is (so
// that an unsaved buffer still has a name of its own), made absolute and
// lexically normal.
std::string UriToPath(std::string_view uri);
std::string PathToUri(std::string_view path);
// A path made absolute against the server's working folder, lexically normal.
std::string NormalPath(std::string_view path);

}  // namespace tarvo::lsp
