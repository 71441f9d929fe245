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
#include "text_out.h"

namespace tarvo {

// One line per source line with the final bytes it put in the image, the
// line's messages, and at the end the symbol table. Lines wait only while
// bytes before their end are still held for forward references.
class Listing final : public ByteSink, public LineObserver {
public:
    explicit Listing(std::FILE* f) : out_(f) {}

    void Line(std::uint32_t location, int line, bool included, std::string_view text) override;
    void Message(std::string_view text) override;
    void Final(std::uint32_t location, const std::uint8_t* p, std::size_t n) override;
    void End(std::uint32_t location) override;
    // Prints what is left (all bytes are final by now) and the symbol table.
    void Finish(const SymbolList& names);

private:
    static constexpr std::size_t kShown = 64;
    struct Record {
        std::uint32_t start = 0, end = 0;
        int line = 0;
        bool included = false;
        std::string text;
        std::uint8_t bytes[kShown] = {};
        std::uint64_t count = 0;  // bytes of the line, shown or not
        std::vector<std::string> messages;
    };
    void Close(std::uint32_t location);
    void Give(Record& r, const std::uint8_t* p, std::size_t n);
    void PrintReady();
    void Print(const Record& r);
    void Note(std::string_view text);  // "; TEXT", a message line

    TextOut out_;  // formed by hand: printf per line would cost more than assembling it
    Record current_;                 // the line being assembled
    bool open_ = false;              // current_ holds a line
    bool ended_ = false;
    std::deque<Record> waiting_;     // closed lines whose bytes are still held
    std::uint32_t released_ = 0;     // every byte below this is final
    std::vector<std::string> trailing_;  // messages after the last line
};

// "%08X %s" per label, sorted by value, equal values in definition order.
void WriteSymbolFile(const SymbolList& names, std::FILE* f);

// "TARGET: SOURCE INC1 ...", then "INCk:" per included file.
void WriteDependencies(const std::deque<std::string>& files, const std::string& target, std::FILE* f);

}  // namespace tarvo
