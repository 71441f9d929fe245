#include "driver/options.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "messages.h"

namespace tarvo {

const char* const kOptionHelp =
    "\nLong options (anywhere after the command name; -- ends them):\n"
    "  --help                 this text\n"
    "  --version              the program's version\n"
    "  --classic              the classic language and include rules only\n"
    "  --strict               values cut to fit, odd displacements and the like are errors,\n"
    "                         not warnings\n"
    "  --quiet                no Define:, Label: and include progress lines\n"
    "  --gnu-errors           every error and warning also as FILE:LINE: on standard error\n"
    "  --include-dir=DIR      look for inc. files in DIR too (repeatable; also -I DIR, -IDIR)\n"
    "  --define=NAME[=VALUE]  as df. NAME VALUE (default 1) before the first line (repeatable;\n"
    "                         also -D NAME[=VALUE], -DNAME[=VALUE])\n"
    "  --keep-object          an object file even after errors (also -Z)\n"
    "  --nec-encoding         reti and halt as 0x6400 and 0x6800\n"
    "  --listing=FILE         an assembly listing: location, bytes, line, text\n"
    "  --symbols=FILE         the labels as address-and-name lines, for debuggers\n"
    "  --deps=FILE            Make rules: the object file depends on every source read\n"
    "  --deps-target=NAME     the target of those rules (default: the object file)\n"
    "  --output=FILE          -d: the listing goes to FILE instead of output.asm\n"
    "  --source               -d: list as a source that assembles back to the same bytes\n"
    "  --entry=ADDR           -d --source: code is what is reachable from ADDR (repeatable)\n"
    "  --symbols=FILE         -d: name the labels of the listing from this symbol file\n"
    "  --base=ADDR            -d: the address of the image's first byte (default 0x07000000)\n"
    "  --patch=IMAGE          the object starts as a copy of IMAGE; the source writes over it\n"
    "  --table=FILE           -d --source: list text that decodes through this table as str.\n"
    "  --relocatable          -d --source: pointers and address pairs as label expressions,\n"
    "                         padding before fixed places as org., so that code can move\n"
    "  --syntax=gnu           read GNU as syntax (the default is --syntax=tarvo)\n"
    "  --section-start=NAME=ADDR  GNU syntax: place section NAME at ADDR (repeatable)\n"
    "  --defsym=NAME=VALUE    as --define; GNU syntax: NAME is absolute; link mode: GNU ld's\n"
    "                         --defsym, a value the linker script sees (not .ifdef)\n"
    "  --lsp                  a language server for editors on standard input and output\n"
    "GNU syntax link mode (two or more sources, -T or --link), as GNU as, ld and objcopy:\n"
    "  -T FILE, --script=FILE the linker script (default: GNU ld's own V810 layout)\n"
    "  --link                 link one source too\n"
    "  --gap-fill=BYTE        objcopy's: the bytes between loaded sections (default 0)\n"
    "  --section-start=NAME=ADDR  ld's: output section NAME at ADDR (hex, as ld reads it)\n"
    "  --define=NAME=VALUE    GNU as' --defsym: every source sees NAME\n";

namespace {

enum class Takes { kNothing, kValue };

struct LongOption {
    std::string_view name;
    Takes takes;
};

constexpr LongOption kLongOptions[] = {
    {"help", Takes::kNothing},       {"version", Takes::kNothing},    {"classic", Takes::kNothing},
    {"strict", Takes::kNothing},     {"quiet", Takes::kNothing},      {"gnu-errors", Takes::kNothing},
    {"nec-encoding", Takes::kNothing}, {"include-dir", Takes::kValue}, {"define", Takes::kValue},
    {"listing", Takes::kValue},      {"symbols", Takes::kValue},      {"deps", Takes::kValue},
    {"deps-target", Takes::kValue},  {"output", Takes::kValue},       {"source", Takes::kNothing},
    {"entry", Takes::kValue},        {"syntax", Takes::kValue},       {"section-start", Takes::kValue},
    {"defsym", Takes::kValue},       {"keep-object", Takes::kNothing}, {"base", Takes::kValue},
    {"patch", Takes::kValue},        {"table", Takes::kValue},        {"relocatable", Takes::kNothing},
    {"link", Takes::kNothing},       {"script", Takes::kValue},       {"gap-fill", Takes::kValue},
    {"lsp", Takes::kNothing},
};

std::string Format(const char* fmt, const std::string& arg) {
    char text[64];
    int n = std::snprintf(text, sizeof text, fmt, arg.c_str());
    if (n < static_cast<int>(sizeof text)) return text;
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), fmt, arg.c_str());
    big.pop_back();
    return big;
}

// NAME=VALUE, or NAME alone for 1 (as -D and GNU as' --defsym users
// expect); false for an empty name. written is the option as given.
bool AddDefine(const std::string& value, const std::string& written, bool valueNeeded, Options& o,
               std::string& error) {
    const std::size_t eq = value.find('=');
    if (value.empty() || eq == 0 || (valueNeeded && eq == std::string::npos)) {
        error = Format(msg::kNeedsValue, written);
        return false;
    }
    if (eq == std::string::npos) o.defines.emplace_back(value, "1");
    else o.defines.emplace_back(value.substr(0, eq), value.substr(eq + 1));
    return true;
}

bool Apply(std::string_view name, const std::string& value, Options& o, std::string& error) {
    Settings& s = o.settings;
    const std::string written = "--" + std::string(name) + "=" + value;
    if (name == "help") o.help = true;
    else if (name == "version") o.version = true;
    else if (name == "lsp") o.lsp = true;
    else if (name == "classic") s.classic = true;
    else if (name == "strict") s.strict = true;
    else if (name == "quiet") s.quiet = true;
    else if (name == "gnu-errors") s.gnuErrors = true;
    else if (name == "nec-encoding") s.necEncoding = true;
    else if (name == "keep-object") o.keepObject = true;
    else if (name == "include-dir") s.includeDirs.push_back(value);
    else if (name == "listing") o.listing = value;
    else if (name == "symbols") o.symbols = value;
    else if (name == "deps") o.deps = value;
    else if (name == "deps-target") o.depsTarget = value;
    else if (name == "output") o.output = value;
    else if (name == "source") o.source = true;
    else if (name == "entry") o.entries.push_back(value);
    else if (name == "base") o.base = value;
    else if (name == "patch") o.patch = value;
    else if (name == "table") o.table = value;
    else if (name == "relocatable") o.relocatable = true;
    else if (name == "link") o.link = true;
    else if (name == "script") o.script = value;
    else if (name == "gap-fill") {
        // A number as objcopy reads one: decimal, 0x hex or 0 octal.
        char* end = nullptr;
        const unsigned long byte = std::strtoul(value.c_str(), &end, 0);
        if (value.empty() || value[0] == '-' || *end != '\0' || byte > 0xFF) {
            error = Format(msg::kBadByte, written);
            return false;
        }
        o.gapFill = static_cast<std::uint8_t>(byte);
    }
    else if (name == "syntax") {
        if (value != "gnu" && value != "tarvo") {
            error = Format(msg::kUnknownOption, written);
            return false;
        }
        s.gnuSyntax = value == "gnu";
    } else if (name == "define" || name == "defsym") {
        if (!AddDefine(value, written, name == "defsym", o, error)) return false;
        if (name == "defsym") o.defsyms.push_back(o.defines.back());
    } else if (name == "section-start") {
        const std::size_t eq = value.find('=');
        if (eq == std::string::npos || eq == 0) {
            error = Format(msg::kNeedsValue, written);
            return false;
        }
        s.sectionStarts.emplace_back(value.substr(0, eq), value.substr(eq + 1));
    }
    return true;
}

// The classic positions, fed one argument at a time: the source, the option
// (its second character), the file of -o or the numbers of -d. Outside the
// classic language the short options of other assemblers may stand
// anywhere after the source (not as -o's file), and whatever else follows
// the classic positions is an error.
class Positions {
public:
    Positions(Options& o, bool gnu) : o_(o), gnu_(gnu) {}

    // next is the argument after arg (null: none), which a short option
    // may take; taken tells whether it did. False on an error.
    bool Take(const std::string& arg, bool literal, const char* next, bool& taken, std::string& error) {
        taken = false;
        if (count_++ == 0) {
            o_.sourcePath = arg;
            o_.mode = Options::Mode::kObjectFile;
            o_.objectName = "output.obj";
            return true;
        }
        if (done_) return true;
        const bool fileNext = option_ == 'o' && !fileTaken_;
        if (!o_.settings.classic && !fileNext && !literal && Short(arg, next, taken, error)) return error.empty();
        // GNU syntax: more sources and -T make a link.
        if (gnu_ && !fileNext && option_ != 'd' && Link(arg, literal, next, taken, error)) return error.empty();
        if (option_ == 0) {
            // Only the second character counts: -s, /s and xs alike.
            option_ = arg.size() >= 2 ? arg[1] : '?';
            if (option_ == 's') o_.mode = Options::Mode::kStdout;
            else if (option_ == 'd') o_.mode = Options::Mode::kDisassemble;
            else if (option_ != 'o') o_.mode = Options::Mode::kUsage;
            done_ = o_.mode == Options::Mode::kUsage;  // the classic usage text, nothing more
            return true;
        }
        if (fileNext) {
            o_.objectName = arg;
            o_.objectNamed = fileTaken_ = true;
            return true;
        }
        if (option_ == 'd' && o_.numbers.size() < 2) {
            o_.numbers.push_back(arg);
            return true;
        }
        if (o_.settings.classic) return true;  // the classic reading ignores the rest
        error = Format(!arg.empty() && arg[0] == '-' ? msg::kUnknownOption : msg::kUnknownArgument, arg);
        return false;
    }

    void Finish() {
        if (option_ == 'o' && !fileTaken_) o_.mode = Options::Mode::kUsage;
    }

private:
    // -D NAME[=VALUE], -DNAME[=VALUE], -I DIR, -IDIR and -Z; false when arg
    // is none of them.
    bool Short(const std::string& arg, const char* next, bool& taken, std::string& error) {
        if (arg == "-Z") {
            o_.keepObject = true;
            return true;
        }
        if (arg.size() < 2 || arg[0] != '-' || (arg[1] != 'D' && arg[1] != 'I')) return false;
        std::string value = arg.substr(2);
        if (arg.size() == 2) {
            if (next == nullptr) {
                error = Format(msg::kNeedsValue, arg);
                return true;
            }
            value = next;
            taken = true;
        }
        if (arg[1] == 'D') AddDefine(value, arg, false, o_, error);
        else if (value.empty()) error = Format(msg::kNeedsValue, arg);
        else o_.settings.includeDirs.push_back(value);
        return true;
    }

    // -T FILE, -TFILE, and another source; false when arg is neither.
    bool Link(const std::string& arg, bool literal, const char* next, bool& taken, std::string& error) {
        if (!literal && arg.starts_with("-T")) {
            if (arg.size() > 2) {
                o_.script = arg.substr(2);
            } else if (next == nullptr) {
                error = Format(msg::kNeedsValue, arg);
            } else {
                o_.script = next;
                taken = true;
            }
            return true;
        }
        if (!literal && !arg.empty() && arg[0] == '-') return false;
        o_.sources.push_back(arg);
        return true;
    }

    Options& o_;
    const bool gnu_;
    int count_ = 0;
    char option_ = 0;  // the second character of the classic option; 0: none yet
    bool fileTaken_ = false;
    bool done_ = false;
};

}  // namespace

std::vector<std::pair<std::string, std::string>> UnitDefines(const Options& o) {
    // defsyms is a part of defines, in the same order: what remains is --define's.
    std::vector<std::pair<std::string, std::string>> units;
    std::size_t next = 0;
    for (const auto& d : o.defines) {
        if (next < o.defsyms.size() && o.defsyms[next] == d) ++next;
        else units.push_back(d);
    }
    return units;
}

bool ParseOptions(int argc, char** argv, Options& o, std::string& error) {
    // --classic keeps the classic reading of every argument, wherever it
    // stands; GNU syntax reads more sources and -T, wherever --syntax stands.
    bool gnu = false;
    for (int i = 1; i < argc && std::string_view(argv[i]) != "--"; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--classic") o.settings.classic = true;
        if (arg.starts_with("--syntax=")) gnu = arg == "--syntax=gnu";
        if (arg == "--syntax" && i + 1 < argc) gnu = std::string_view(argv[i + 1]) == "gnu";
    }
    bool options = true;
    Positions positions(o, gnu && !o.settings.classic);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!options || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            bool taken = false;
            if (!positions.Take(arg, !options, i + 1 < argc ? argv[i + 1] : nullptr, taken, error)) return false;
            i += taken ? 1 : 0;
            continue;
        }
        if (arg == "--") {
            options = false;
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string_view name = std::string_view(arg).substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        const LongOption* found = nullptr;
        for (const LongOption& lo : kLongOptions)
            if (lo.name == name) found = &lo;
        if (found == nullptr || (found->takes == Takes::kNothing && eq != std::string::npos)) {
            error = Format(msg::kUnknownOption, arg);
            return false;
        }
        std::string value;
        if (found->takes == Takes::kValue) {
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                error = Format(msg::kNeedsValue, arg);
                return false;
            }
        }
        if (!Apply(name, value, o, error)) return false;
    }
    positions.Finish();
    if (o.settings.gnuSyntax && (o.link || !o.script.empty() || !o.sources.empty())) {
        if (o.mode == Options::Mode::kDisassemble) {
            error = msg::kLinkNoDisassembly;
            return false;
        }
        o.link = true;
        if (o.mode != Options::Mode::kNone) o.sources.insert(o.sources.begin(), o.sourcePath);
    }
    if (!o.settings.gnuSyntax && (o.link || !o.script.empty())) {
        error = Format(msg::kGnuNeedsGnu, o.link ? "--link" : "--script");
        return false;
    }
    if (o.gapFill && !o.link) {
        error = Format(o.settings.gnuSyntax ? msg::kNeedsLink : msg::kGnuNeedsGnu, "--gap-fill");
        return false;
    }
    // The source is no target: a rule "src.s: src.s ..." would rebuild nothing.
    if (o.mode == Options::Mode::kStdout && !o.deps.empty() && o.depsTarget.empty()) {
        error = msg::kDepsNeedTarget;
        return false;
    }
    return true;
}

}  // namespace tarvo
