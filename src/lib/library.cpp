// The public library over the core: a run with its output kept as data.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <cstdlib>
#include <map>
#include <string>

#include "tarvo/tarvo.h"

#include "diagnostics.h"
#include "driver/assemble.h"
#include "driver/job.h"
#include "driver/options.h"
#include "driver/outputs.h"
#include "globals.h"
#include "gnu/gnu_assembler.h"
#include "directives/compiler_line.h"
#include "disasm/decode.h"
#include "disasm/dissasm.h"
#include "disasm/gnu_print.h"
#include "disasm/source.h"
#include "isa/optable.h"
#include "lib/places.h"
#include "messages.h"
#include "text.h"

#ifndef TARVO_VERSION
#error "the build defines TARVO_VERSION"
#endif

namespace tarvo {
namespace {

// A stream that collects what is written to it.
class MemoryStream {
public:
    MemoryStream() : f_(open_memstream(&data_, &size_)) {}
    ~MemoryStream() {
        if (f_ != nullptr) std::fclose(f_);
        std::free(data_);
    }
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;
    std::FILE* get() const { return f_; }
    std::string str() {
        std::fflush(f_);
        return std::string(data_, size_);
    }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* f_;
};

std::string Trimmed(std::string_view text) {
    while (!text.empty() && text.front() == '\n') text.remove_prefix(1);
    while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    return std::string(text);
}

// Keeps every diagnostic as a message, and the program's form of it.
class Collector final : public RunOutput {
public:
    Collector(AssembleResult& result, bool gnuErrors) : result_(result), gnuErrors_(gnuErrors) {}

    void Report(const Diagnostic& d) override {
        Message m;
        m.severity = d.severity == Severity::kWarning ? Message::Severity::kWarning
                     : d.severity == Severity::kNote  ? Message::Severity::kNote
                                                      : Message::Severity::kError;
        m.text = Trimmed(d.text);
        m.place.file = std::string(d.bodyFile.empty() ? d.file : d.bodyFile);
        m.place.line = d.bodyFile.empty() ? d.line : d.bodyLine;
        for (const CallNote& call : d.calls) {
            Message note;
            note.severity = Message::Severity::kNote;
            note.text = "in expansion of " + std::string(call.name);
            note.place.file = std::string(call.file);
            note.place.line = call.line;
            m.notes.push_back(std::move(note));
        }
        // The program's own lines for it.
        MemoryStream out, err;
        ConsoleOutput console(out.get(), err.get(), gnuErrors_);
        console.Report(d);
        const std::string said = out.str();
        m.printed = Trimmed(said.empty() ? err.str() : said);
        result_.output += said;
        result_.messages.push_back(std::move(m));
        tokens.emplace_back(d.token);
    }
    std::vector<std::string> tokens;  // by message: the token it is about, when the pass said
    void Say(std::string_view text) override { result_.output.append(text); }

private:
    AssembleResult& result_;
    bool gnuErrors_;
};

// The directives of each language, for completion.
std::span<const std::string_view> TarvoDirectives() {
    static constexpr std::string_view kWords[] = {
        "org.", "inc.", "ds.", "dw.", "dh.", "db.", "df.", "lb.", ".jump", ".call", ".mov32", "base.", "align.",
        "fill.", "incbin.", "assert.", "error.", "warning.", "str.", "strz.", "macro.", "endm.", "rept.", "irp.",
        "endr.", "if.", "ifdef.", "ifndef.", "elif.", "else.", "endif."};
    return kWords;
}
std::span<const std::string_view> GnuDirectives() {
    static constexpr std::string_view kWords[] = {
        ".text", ".data", ".bss", ".section", ".previous", ".pushsection", ".popsection", ".byte", ".hword",
        ".short", ".word", ".long", ".int", ".ascii", ".asciz", ".string", ".space", ".skip", ".zero", ".fill",
        ".align", ".balign", ".p2align", ".org", ".set", ".equ", ".equiv", ".global", ".globl", ".extern",
        ".local", ".weak", ".type", ".size", ".ident", ".hidden", ".include", ".incbin", ".macro", ".endm",
        ".exitm", ".purgem", ".rept", ".irp", ".irpc", ".endr", ".if", ".ifdef", ".ifndef", ".ifnotdef", ".ifc",
        ".ifnc", ".ifeq", ".ifne", ".iflt", ".ifle", ".ifgt", ".ifge", ".ifb", ".ifnb", ".else", ".elseif",
        ".endif", ".err", ".error", ".warning", ".print", ".end", ".file"};
    return kWords;
}

// Files served from memory: each path read once through the reader (or
// from the disk) into a memory file, so that every open of one path is the
// same file (an include cycle is found as on the disk) and every reader
// gets its own position.
class MemoryFiles final : public InputFiles {
public:
    explicit MemoryFiles(const FileReader& read) : read_(read) {}
    ~MemoryFiles() override {
        for (const auto& [path, fd] : fds_)
            if (fd >= 0) ::close(fd);
    }
    MemoryFiles(const MemoryFiles&) = delete;
    MemoryFiles& operator=(const MemoryFiles&) = delete;

    void Add(const std::string& path, std::string_view text) { fds_[Key(path)] = Store(text); }

    std::FILE* Open(const std::string& path) override {
        const std::string key = Key(path);
        auto found = fds_.find(key);
        if (found == fds_.end() && !read_) return std::fopen(path.c_str(), "r");
        if (found == fds_.end()) {
            std::optional<std::string> text = read_(path);
            found = fds_.emplace(key, text ? Store(*text) : -1).first;
        }
        if (found->second < 0) return nullptr;
        const std::string self = "/proc/self/fd/" + std::to_string(found->second);
        const int fd = ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return nullptr;
        std::FILE* f = fdopen(fd, "r");
        if (f == nullptr) ::close(fd);
        return f;
    }

    // The text of a file the run read, for the places of names.
    std::string Text(const std::string& path) {
        FilePtr f(Open(path));
        return f ? ReadRest(f.get()) : std::string();
    }

private:
    // One spelling per file: "./a.s" and "a.s" are the same.
    static std::string Key(const std::string& path) {
        return std::filesystem::path(path).lexically_normal().string();
    }
    static int Store(std::string_view text) {
        const int fd = memfd_create("tarvo", MFD_CLOEXEC);
        if (fd < 0) return -1;
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n <= 0) {
                ::close(fd);
                return -1;
            }
            done += static_cast<std::size_t>(n);
        }
        return fd;
    }

    const FileReader& read_;
    std::map<std::string, int> fds_;
};

// Where each line of the default language starts; its bytes are the
// object's from there to the next line's start.
class LineRecorder final : public LineObserver {
public:
    explicit LineRecorder(const Context& ctx) : ctx_(ctx) {}
    void Line(std::uint32_t location, int line, bool, std::string_view) override {
        starts_.push_back({ctx_.file, line, location, ctx_.lineAddress});
    }
    void Message(std::string_view) override {}
    void End(std::uint32_t location) override { end_ = location; }

    void Take(AssembleResult& result, std::string_view image) const {
        for (std::size_t i = 0; i < starts_.size(); ++i) {
            const Start& s = starts_[i];
            const std::uint32_t end = i + 1 < starts_.size() ? starts_[i + 1].location : end_;
            if (end <= s.location || s.file >= ctx_.files.size()) continue;
            LineBytes l;
            l.file = ctx_.files[s.file];
            l.line = s.line;
            l.address = s.address;
            for (std::uint32_t at = s.location; at < end && at < image.size(); ++at)
                l.bytes.push_back(static_cast<std::uint8_t>(image[at]));
            result.lines.push_back(std::move(l));
        }
    }

private:
    struct Start {
        std::uint32_t file;
        int line;
        std::uint32_t location, address;
    };
    const Context& ctx_;
    std::vector<Start> starts_;
    std::uint32_t end_ = 0;
};

// The text of each file a run read, read again for the places of names.
class Texts {
public:
    explicit Texts(MemoryFiles& files) : files_(files) {}
    std::string_view Of(const std::string& path) { return Get(path).text; }
    // Line n (from 1) without its line end; empty past the end.
    std::string_view Line(const std::string& path, int n) {
        const File& f = Get(path);
        if (n < 1 || static_cast<std::size_t>(n) > f.starts.size()) return {};
        const std::size_t start = f.starts[static_cast<std::size_t>(n) - 1];
        return lib::LineOf(std::string_view(f.text).substr(start), 1);
    }

private:
    struct File {
        std::string text;
        std::vector<std::size_t> starts;  // where each line begins: messages by the thousand look them up
    };
    const File& Get(const std::string& path) {
        auto found = files_by_path_.find(path);
        if (found != files_by_path_.end()) return found->second;
        File f;
        f.text = files_.Text(path);
        for (std::size_t at = 0; at != std::string::npos; at = lib::NextLine(f.text, at)) f.starts.push_back(at);
        return files_by_path_.emplace(path, std::move(f)).first->second;
    }
    MemoryFiles& files_;
    std::map<std::string, File> files_by_path_;
};

// Columns of messages, their places in the top source, and the places
// where each name is defined and used.
void Locate(AssembleResult& result, const std::vector<std::string>& tokens, const std::string& top, Syntax syntax,
            Texts& texts) {
    for (const std::string& f : result.files) lib::IndexFile(f, texts.Of(f), syntax, result.files, result.names);
    // The line that includes a file, for a message in it.
    auto includedAt = [&](const std::string& file) -> const Place* {
        for (const Name& n : result.names)
            if (n.kind == Name::Kind::kFile && n.name == file && !n.uses.empty()) return &n.uses.front();
        return nullptr;
    };
    for (std::size_t i = 0; i < result.messages.size(); ++i) {
        Message& m = result.messages[i];
        auto place = [&](Place& p, std::string_view token) {
            if (p.file.empty() || p.line <= 0) return;
            lib::FindColumns(texts.Line(p.file, p.line), token, m.text, p);
        };
        place(m.place, i < tokens.size() ? tokens[i] : std::string());
        m.top = m.place;
        for (auto note = m.notes.rbegin(); note != m.notes.rend(); ++note)
            if (note->place.file == top) {
                m.top = note->place;
                break;
            }
        // Up the chain of includes to the top source.
        for (int depth = 0; depth < 1000 && !m.top.file.empty() && m.top.file != top; ++depth) {
            const Place* at = includedAt(m.top.file);
            if (at == nullptr) break;
            m.top = *at;
        }
    }
}

}  // namespace

std::string_view Version() { return TARVO_VERSION; }

std::string_view Word(Name::Kind kind) {
    switch (kind) {
        case Name::Kind::kLabel: return "label";
        case Name::Kind::kName: return "name";
        case Name::Kind::kMacro: return "macro";
        case Name::Kind::kSection: return "section";
        case Name::Kind::kFile: return "file";
    }
    return "name";
}

std::string_view Word(Message::Severity severity) {
    switch (severity) {
        case Message::Severity::kError: return "error";
        case Message::Severity::kWarning: return "warning";
        case Message::Severity::kNote: return "note";
    }
    return "error";
}

AssembleResult Assemble(std::string_view text, const std::string& path, const AssembleOptions& options,
                        const FileReader& read) {
    AssembleResult result;
    Context ctx;
    Collector collector(result, false);
    ctx.output = &collector;
    MemoryFiles files(read);
    files.Add(path, text);
    ctx.inputs = &files;

    Options o;
    Settings& set = o.settings;
    set.classic = options.classic;
    set.strict = options.strict;
    set.necEncoding = options.necEncoding;
    set.gnuSyntax = options.syntax == Syntax::kGnu;
    set.includeDirs = options.includeDirs;
    set.sectionStarts = options.sectionStarts;
    set.quiet = options.quiet;
    o.defines = options.defines;
    // Single-source GNU syntax mode reads --defsym as --define; link mode
    // gives it to the linker (and takes it back out of the units' defines).
    o.defines.insert(o.defines.end(), options.defsyms.begin(), options.defsyms.end());
    o.defsyms = options.defsyms;
    o.link = set.gnuSyntax && (options.link || !options.script.empty() || !options.moreSources.empty());
    if (o.link) {
        o.sources.push_back(path);
        o.sources.insert(o.sources.end(), options.moreSources.begin(), options.moreSources.end());
        o.script = options.script;
        o.gapFill = options.gapFill;
    }
    o.keepObject = options.keepObject;
    o.depsTarget = options.depsTarget;
    ctx.set = set;

    MemoryStream object, listing, symbols, deps;
    Streams streams;
    streams.object = object.get();
    streams.objectName = "output.obj";
    if (options.listing) streams.listing = listing.get();
    if (options.symbols) streams.symbols = symbols.get();
    if (options.deps) streams.deps = deps.get();
    LineRecorder lines(ctx);
    Job job(ctx, o, streams);
    job.Observe(&lines);
    job.image.record = true;
    // The image a patch starts from comes through the reader too; as on the
    // command line, a run that cannot start reports why and stops.
    if (!options.patch.empty()) {
        FilePtr image(set.gnuSyntax ? nullptr : files.Open(options.patch));
        if (!image) {
            if (set.gnuSyntax) Report(ctx, Severity::kError, Nowhere(), msg::kNotForGnu, "--patch");
            else Report(ctx, Severity::kError, Nowhere(), msg::kCannotOpenRead, options.patch.c_str());
            result.errors = ctx.nErrors;
            return result;
        }
        StartPatch(ctx, image.get(), options.patch);
    }
    int pass = 1;
    if (o.link) {
        job.Link();
    } else {
        FilePtr src(files.Open(path));
        ctx.files.push_back(path);
        pass = job.Pass(src.get(), path);
    }
    job.Finish();
    if (!set.gnuSyntax) SayPasses(ctx, pass, path, object.get());

    const std::string bytes = object.str();
    const bool keep = ctx.nErrors == 0 || options.keepObject || (set.classic && !set.strict);
    if (keep) result.image.assign(bytes.begin(), bytes.end());
    result.base = set.gnuSyntax ? job.image.start : kImageBase;
    result.listing = listing.str();
    result.symbolFile = symbols.str();
    result.depsFile = deps.str();
    if (set.gnuSyntax) {
        static constexpr Name::Kind kKinds[] = {Name::Kind::kLabel, Name::Kind::kName, Name::Kind::kMacro,
                                                Name::Kind::kSection};
        for (const gnu::Image::Named& named : job.image.names) {
            Name n;
            n.name = named.name;
            n.kind = kKinds[named.kind];
            n.value = named.value;
            n.defined.file = named.file;
            n.defined.line = named.line;
            result.names.push_back(std::move(n));
        }
        for (gnu::Image::Statement& st : job.image.statements)
            result.lines.push_back({std::move(st.file), st.line, static_cast<std::uint32_t>(st.address), std::move(st.bytes)});
    } else {
        lines.Take(result, bytes);
        for (std::size_t i = 0; i < ctx.lstHead.size(); ++i) {
            const Constant& c = ctx.lstHead[i];
            Name n;
            n.name = c.szName;
            n.kind = c.IsLabel() ? Name::Kind::kLabel : Name::Kind::kName;
            n.text = c.szValue;
            std::int32_t v = 0;
            if (ReadNumber(c.szValue, v)) n.value = v;
            result.names.push_back(std::move(n));
        }
        for (const auto& [key, macro] : ctx.macros) {
            Name n;
            n.name = macro->name;
            n.kind = Name::Kind::kMacro;
            for (const auto& [param, value] : macro->params) n.text += (n.text.empty() ? "" : " ") + param;
            result.names.push_back(std::move(n));
        }
    }
    result.errors = ctx.nErrors;
    for (const std::string& f : ctx.files)
        if (std::find(result.files.begin(), result.files.end(), f) == result.files.end()) result.files.push_back(f);
    Texts texts(files);
    Locate(result, collector.tokens, path, options.syntax, texts);
    return result;
}

Words Vocabulary(Syntax syntax) {
    Words w;
    const bool gnu = syntax == Syntax::kGnu;
    auto add = [](std::vector<std::string>& to, std::string_view word) {
        if (std::find(to.begin(), to.end(), word) == to.end()) to.emplace_back(word);
    };
    for (const OpEntry& e : optable)
        if (e.format != FMT_BSTR && e.format != FMT_FPP && !(gnu && (e.name == "ei" || e.name == "di"))) add(w.mnemonics, e.name);
    for (const OpEntry& e : fptable) add(w.mnemonics, e.name);
    for (const OpEntry& e : bstable) add(w.mnemonics, e.name);
    for (std::string_view alias : {"bz", "bnz", "bc", "bnc", "cli", "sei", "notbsu"}) add(w.mnemonics, alias);
    if (gnu)
        for (std::string_view extra : {"brkret", "stby", "breakpoint"}) add(w.mnemonics, extra);
    for (int r = 0; r < 32; ++r) {
        const std::string number = std::to_string(r);
        if (!gnu) add(w.registers, std::string(1, '$').append(number));
        add(w.registers, std::string(1, 'r').append(number));
    }
    for (const NamedNumber& n : kRegisterNames) add(w.registers, n.name);
    for (const NamedNumber& n : kSystemRegisters) add(w.systemRegisters, n.name);
    for (const NamedNumber& n : kConditions) add(w.conditions, n.name);
    for (std::string_view d : gnu ? GnuDirectives() : TarvoDirectives()) add(w.directives, d);
    return w;
}

std::vector<Instruction> Disassemble(std::span<const std::uint8_t> data, std::uint32_t address, Form form) {
    std::vector<Instruction> out;
    for (std::size_t at = 0; at < data.size();) {
        std::uint8_t word[4] = {};
        for (std::size_t k = 0; k < 4 && at + k < data.size(); ++k) word[k] = data[at + k];
        const Decoded d = Decode(word);
        Instruction in;
        in.address = address + static_cast<std::uint32_t>(at);
        std::size_t size = std::min<std::size_t>(d.length, data.size() - at);
        std::string text;
        if (size < d.length) {
            // A cut-off tail: its bytes, as data.
        } else if (form == Form::kGnu) {
            SpellGnu(d, in.address, in.mnemonic, in.operands);
        } else {
            {
                TextOut t(&text);
                if (form == Form::kListing) ListInstruction(t, in.address, d);
                // A word no source line gives back is data, a halfword at a time, as -d --source lists it.
                else if (SourceLine(t, &data[at], data.size() - at) == 0) size = std::min<std::size_t>(2, size);
            }
            // "[\n0xADDRESS]\tMNEMONIC[\tOPERAND, OPERAND]"
            std::string_view rest = text;
            const std::size_t tab = rest.find('\t');
            rest = tab == std::string_view::npos ? std::string_view() : rest.substr(tab + 1);
            const std::size_t tab2 = rest.find('\t');
            in.mnemonic = std::string(rest.substr(0, tab2));
            for (std::string_view ops = tab2 == std::string_view::npos ? std::string_view() : rest.substr(tab2 + 1);
                 !ops.empty();) {
                const std::size_t comma = ops.find(", ");
                in.operands.emplace_back(ops.substr(0, comma));
                ops = comma == std::string_view::npos ? std::string_view() : ops.substr(comma + 2);
            }
        }
        in.size = static_cast<std::uint8_t>(size);
        in.bytes.assign(data.begin() + static_cast<std::ptrdiff_t>(at),
                        data.begin() + static_cast<std::ptrdiff_t>(at + in.size));
        if (in.mnemonic.empty()) {
            in.operands.clear();
            std::string data;
            for (std::uint8_t b : in.bytes) {
                if (!data.empty()) data += ", ";
                data += std::to_string(b);
            }
            in.text = (form == Form::kGnu ? ".byte " : "db. ") + data;
        } else {
            in.text = in.mnemonic;
            for (std::size_t k = 0; k < in.operands.size(); ++k) {
                in.text += k == 0 ? " " : ", ";
                in.text += in.operands[k];
            }
        }
        out.push_back(std::move(in));
        at += out.back().size;
    }
    return out;
}

}  // namespace tarvo
