// The outputs for builds and debuggers: the assembly listing, the symbol
// file and the Make dependency rules. The pass driver and the object writer
// feed them; the encoder and the directives know nothing of them.
#pragma once
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "globals.h"

namespace tarvo {

// One line per source line with the final bytes it put in the image, the
// line's messages, and at the end the symbol table. Lines wait only while
// bytes before their end are still held for forward references.
class Listing final : public ByteSink, public LineObserver {
public:
    explicit Listing(std::FILE* f) : f_(f) {}

    void Line(std::uint32_t location, int line, bool included, std::string_view text) override;
    void Message(std::string_view text) override;
    void Final(std::uint32_t location, const std::uint8_t* p, std::size_t n) override;

    // The last line ends at location; later messages are the run's own.
    void End(std::uint32_t location) override;
    // Prints what is left (all bytes are final by now) and the symbol table.
    void Finish(const SymbolList& names);

private:
    static constexpr std::size_t kShown = 64;
    struct Record {
        std::uint32_t start = 0, end = 0;
        bool closed = false;  // the next line has begun: end is known
        int line = 0;
        bool included = false;
        std::string text;
        std::uint8_t bytes[kShown] = {};
        std::uint64_t count = 0;  // bytes of the line, shown or not
        std::vector<std::string> messages;
    };
    void Print();
    void PrintRecord(const Record& r);

    std::FILE* f_;
    std::deque<Record> lines_;
    std::size_t cursor_ = 0;         // the record the next final byte belongs to
    std::uint32_t released_ = 0;     // every byte below this is final
    std::vector<std::string> trailing_;  // messages after the last line
    bool ended_ = false;
};

// "%08X %s" per label, sorted by value, equal values in definition order.
void WriteSymbolFile(const SymbolList& names, std::FILE* f);

// "TARGET: SOURCE INC1 ...", then "INCk:" per included file.
void WriteDependencies(const std::deque<std::string>& files, const std::string& target, std::FILE* f);

}  // namespace tarvo
