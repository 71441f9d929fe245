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

// An output named on the command line. A regular file, or a name not taken
// yet, is written to a new file beside it and moved over the name only when
// the run ends well, so that a failed or refused run leaves the old file as
// it was; standard output, devices and pipes are written directly. A name
// that is a symbolic link is written through the link.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { Close(false); }

    // False when the file cannot be opened for writing.
    bool Open(const std::string& name, std::FILE* direct = nullptr);
    std::FILE* get() const { return f_; }
    const std::string& name() const { return name_; }
    // Written beside its name (a regular file, or none yet).
    bool Replaces() const { return !temp_.empty(); }
    // The same file however spelled: the same device and inode, or for a
    // name not taken yet, the same folder and last name.
    bool SameAs(const OutputFile& other) const;
    bool SameAs(const FileId& input) const { return exists_ && id_ == input; }
    // What stands at the name now, for the inputs to be compared with.
    bool Existing(FileId& id) const {
        id = id_;
        return exists_;
    }
    // Closes the file and, when keep, moves the new file over the name;
    // else removes it.
    void Close(bool keep);
    // Closes it and removes what stands at the name (through a link).
    void Remove();

private:
    std::string name_, temp_, target_;
    std::FILE* f_ = nullptr;
    bool owned_ = false;  // f_ is ours to close
    bool exists_ = false;
    FileId id_, dir_;
    std::string last_;  // the last name of the target, when it does not exist
};

// One line per source line with the final bytes it put in the image, the
// line's messages, and at the end the symbol table. Lines wait only while
// bytes before their end are still held for forward references. Bytes are
// matched to lines by the order written, which a patch's org. does not
// turn back (the writer counts it), and shown at the line's location.
class Listing final : public ByteSink, public LineObserver {
public:
    Listing(std::FILE* f, const ObjectWriter& writer) : out_(f), writer_(writer) {}

    void Line(std::uint32_t location, int line, bool included, std::string_view text) override;
    void Message(std::string_view text) override;
    void Final(std::uint32_t emitted, const std::uint8_t* p, std::size_t n) override;
    void End(std::uint32_t location) override;
    // Prints what is left (all bytes are final by now) and the symbol table.
    void Finish(const SymbolList& names);

private:
    static constexpr std::size_t kShown = 64;
    struct Record {
        std::uint32_t start = 0, end = 0;  // in the order written
        std::uint32_t location = 0;        // shown
        int line = 0;
        bool included = false;
        std::string text;
        std::uint8_t bytes[kShown] = {};
        std::uint64_t count = 0;  // bytes of the line, shown or not
        std::vector<std::string> messages;
    };
    void Close(std::uint32_t emitted);
    void Give(Record& r, const std::uint8_t* p, std::size_t n);
    void PrintReady();
    void Print(const Record& r);
    void Note(std::string_view text);  // "; TEXT", a message line

    TextOut out_;  // formed by hand: printf per line would cost more than assembling it
    const ObjectWriter& writer_;
    Record current_;                 // the line being assembled
    bool open_ = false;              // current_ holds a line
    bool ended_ = false;
    std::deque<Record> waiting_;     // closed lines whose bytes are still held
    std::uint32_t released_ = 0;     // every byte written before this is final
    std::vector<std::string> trailing_;  // messages after the last line
};

// "%08X %s" per label, sorted by value, equal values in definition order.
void WriteSymbolFile(const SymbolList& names, std::FILE* f);

// "TARGET: SOURCE INC1 ...", then "INCk:" per included file.
void WriteDependencies(const std::deque<std::string>& files, const std::string& target, std::FILE* f);

}  // namespace tarvo
