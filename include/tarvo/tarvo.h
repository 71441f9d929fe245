// libtarvo: the V810 assembler and disassembler as a library.
//
// Assembles a text in either of tarvo's languages with any option of the
// command line into an image, its messages and its names; decodes bytes
// into instructions. It never prints, never exits and never writes a file:
// files it needs (includes, incbin, tables, a patch image, linker scripts)
// are read through a callback the caller may give.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvo {

enum class Syntax : std::uint8_t {
    kDefault,  // tarvo's own language (the command line's default)
    kGnu,      // GNU as V810 (--syntax=gnu)
};

// The options of the command line that assembling takes, as data; each
// member names its option.
struct AssembleOptions {
    Syntax syntax = Syntax::kDefault;
    bool classic = false;      // --classic
    bool strict = false;       // --strict
    bool necEncoding = false;  // --nec-encoding
    bool keepObject = false;   // -Z, --keep-object: the image even after errors
    bool quiet = false;        // --quiet: no Define:, Label: and include lines in output
    std::vector<std::string> includeDirs;                       // --include-dir, -I
    std::vector<std::pair<std::string, std::string>> defines;   // --define, -D (NAME, VALUE)
    // GNU syntax mode.
    std::vector<std::pair<std::string, std::string>> defsyms;        // --defsym
    std::vector<std::pair<std::string, std::string>> sectionStarts;  // --section-start
    // Link mode (GNU syntax): the sources after the first, a linker script
    // (-T), --link without one, objcopy's --gap-fill.
    std::vector<std::string> moreSources;
    std::string script;
    bool link = false;
    std::optional<std::uint8_t> gapFill;
    // Changing a ROM: --patch=IMAGE, the image the object starts from.
    std::string patch;
    // The outputs for builds and debuggers, made as texts when asked:
    // --listing, --symbols, --deps (with --deps-target).
    bool listing = false;
    bool symbols = false;
    bool deps = false;
    std::string depsTarget;
};

// Reads the file a run needs by the path it tries (as written, beside the
// including file, in each include folder): its bytes, or nothing when there
// is no such file. Without one, files are read from the disk.
using FileReader = std::function<std::optional<std::string>(const std::string& path)>;

// A place in a source: lines count from 1 (0: no line); columns count
// from 0 and the end is exclusive, as in the Language Server Protocol
// (-1: not known, the message is about the whole line).
struct Place {
    std::string file;
    int line = 0;
    int column = -1;
    int columnEnd = -1;
};

struct Message {
    enum class Severity : std::uint8_t { kError, kWarning, kNote };
    Severity severity = Severity::kError;
    std::string text;  // tarvo's words, without the prefix and the line end
    Place place;       // where the text stands (for a macro's line: the body line)
    // The line of the top source that leads to it: the include or macro
    // call there (the same as place when the text stands in the top source).
    Place top;
    std::vector<Message> notes;  // the macro calls that produced the line, innermost first
    std::string printed;         // the program's own form of it (its classic or GNU line)
};

// A name and every place that refers to it. Local labels ("1:") are one
// Name per definition, with the uses that reach it ("1b", "1f"); an
// included file is a kFile Name, defined at its first line, used where it
// is included.
struct Name {
    enum class Kind : std::uint8_t { kLabel, kName, kMacro, kSection, kFile };
    std::string name;
    Kind kind = Kind::kLabel;
    std::int64_t value = 0;  // labels and numbers; a section's address
    std::string text;        // the value as written (a df. value text; a macro's parameters)
    Place defined;
    std::vector<Place> uses;
};

// What one source line put in the image.
struct LineBytes {
    std::string file;
    int line = 0;
    std::uint32_t address = 0;  // the CPU address of its first byte
    std::vector<std::uint8_t> bytes;
};

struct AssembleResult {
    std::vector<std::uint8_t> image;  // the object file's bytes (empty after errors, unless keepObject)
    std::uint32_t base = 0;           // the CPU address of image[0]
    int errors = 0;
    std::vector<Message> messages;
    std::vector<Name> names;
    std::vector<LineBytes> lines;
    std::vector<std::string> files;   // every file read, in first-read order
    std::string output;               // what the program prints on standard output
    std::string listing, symbolFile, depsFile;  // when asked
    bool ok() const { return errors == 0; }
};

// The lower-case word for a kind or a severity ("label", "name", "macro",
// "section", "file"; "error", "warning", "note").
std::string_view Word(Name::Kind kind);
std::string_view Word(Message::Severity severity);

// Assembles text as the source named path (which messages and includes
// relative to it use).
AssembleResult Assemble(std::string_view text, const std::string& path = "input.s",
                        const AssembleOptions& options = {}, const FileReader& read = {});

enum class Form : std::uint8_t {
    kSource,   // the default language, as -d --source writes it (assembles back)
    kListing,  // the classic listing's mnemonics and operands
    kGnu,      // GNU as V810 syntax
};

struct Instruction {
    std::uint32_t address = 0;
    std::uint8_t size = 0;  // 2 or 4; 2 for a word no instruction has
    std::vector<std::uint8_t> bytes;
    std::string mnemonic;   // empty for a word no instruction has
    std::vector<std::string> operands;
    std::string text;       // mnemonic and operands as the form writes them (data for a word without one)
};

// Decodes data as instructions, the first at address; a tail too short for
// its instruction is one item of its bytes.
std::vector<Instruction> Disassemble(std::span<const std::uint8_t> data, std::uint32_t address = 0x07000000,
                                     Form form = Form::kSource);

// The words of a language that an editor completes.
struct Words {
    std::vector<std::string> mnemonics, registers, systemRegisters, conditions, directives;
};
Words Vocabulary(Syntax syntax);

// The program's version.
std::string_view Version();

}  // namespace tarvo
