// Reads a source in large blocks and hands out one line at a time.
#pragma once
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace tarvo {

class LineReader {
public:
    LineReader(std::FILE* f, std::size_t blockSize);

    // The next line without its line end: a view into the block, or into
    // spill when the line spans blocks. LF, CR and CR LF each end one line;
    // a last line without a line end is delivered too, and a zero byte ends
    // the text of its line. False at the end of the file or on a read error.
    bool ExtractLine(std::string& spill, std::string_view& line);

    // True once a read failed for another reason than the end of the file.
    bool Failed() const { return failed_; }

private:
    bool Fill();
    // Any line: across blocks, with CR or a zero byte.
    bool ExtractAny(std::string& spill, std::string_view& line);

    std::FILE* f_;
    std::size_t capacity_;
    std::unique_ptr<char[]> block_;
    std::size_t pos_ = 0, end_ = 0;
    bool eof_ = false, failed_ = false;
    bool skipLF_ = false;  // a CR ended the last block: an LF after it is the same line end
};

}  // namespace tarvo
