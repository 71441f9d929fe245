#include "driver/options.h"

#include <cstdio>
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
    "  --syntax=gnu           read GNU as syntax (the default is --syntax=tarvo)\n"
    "  --section-start=NAME=ADDR  GNU syntax: place section NAME at ADDR (repeatable)\n"
    "  --defsym=NAME=VALUE    as --define; GNU syntax: NAME is absolute\n";

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
    else if (name == "syntax") {
        if (value != "gnu" && value != "tarvo") {
            error = Format(msg::kUnknownOption, written);
            return false;
        }
        s.gnuSyntax = value == "gnu";
    } else if (name == "define" || name == "defsym") {
        return AddDefine(value, written, name == "defsym", o, error);
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

// An argument that is not a long option; after "--" none is an option at all.
struct Positional {
    std::string text;
    bool literal;
};

// -D NAME[=VALUE], -DNAME[=VALUE], -I DIR, -IDIR and -Z, the short options
// of other assemblers; at returns past what they take. False when arg is
// none of them; error is set when one lacks its value.
bool ShortOption(const std::vector<Positional>& args, std::size_t& at, Options& o, std::string& error) {
    const std::string& arg = args[at].text;
    if (args[at].literal || arg.size() < 2 || arg[0] != '-') return false;
    if (arg == "-Z") {
        o.keepObject = true;
        ++at;
        return true;
    }
    if (arg[1] != 'D' && arg[1] != 'I') return false;
    std::string value = arg.substr(2);
    if (arg.size() == 2) {
        if (at + 1 == args.size()) {
            error = Format(msg::kNeedsValue, arg);
            return true;
        }
        value = args[++at].text;
    }
    ++at;
    if (arg[1] == 'I') {
        if (value.empty()) error = Format(msg::kNeedsValue, arg);
        else o.settings.includeDirs.push_back(value);
        return true;
    }
    AddDefine(value, arg, false, o, error);
    return true;
}

// The classic positions: the source, the option (its second character),
// the file of -o or the numbers of -d. Outside the classic language the
// short options may stand anywhere after the source (not as -o's file),
// and whatever else follows is an error.
bool ReadPositions(const std::vector<Positional>& args, Options& o, std::string& error) {
    if (args.empty()) return true;
    const bool classic = o.settings.classic;
    o.sourcePath = args[0].text;
    o.mode = Options::Mode::kObjectFile;
    o.objectName = "output.obj";
    std::string option;
    bool haveOption = false, fileTaken = false;
    for (std::size_t at = 1; at < args.size();) {
        const std::string& arg = args[at].text;
        const bool fileNext = haveOption && option == "o" && !fileTaken;
        if (!classic && !fileNext) {
            if (ShortOption(args, at, o, error)) {
                if (!error.empty()) return false;
                continue;
            }
        }
        ++at;
        if (!haveOption) {
            haveOption = true;
            // Only the second character counts: -s, /s and xs alike.
            option = arg.size() >= 2 ? arg.substr(1, 1) : "";
            if (option == "s") o.mode = Options::Mode::kStdout;
            else if (option == "d") o.mode = Options::Mode::kDisassemble;
            else if (option != "o") o.mode = Options::Mode::kUsage;
            if (o.mode == Options::Mode::kUsage) return true;  // the classic usage text, nothing more
            continue;
        }
        if (fileNext) {
            o.objectName = arg;
            o.objectNamed = fileTaken = true;
            continue;
        }
        if (option == "d" && o.numbers.size() < 2) {
            o.numbers.push_back(arg);
            continue;
        }
        if (classic) continue;  // the classic reading ignores the rest
        error = Format(!arg.empty() && arg[0] == '-' ? msg::kUnknownOption : msg::kUnknownArgument, arg);
        return false;
    }
    if (haveOption && option == "o" && !fileTaken) o.mode = Options::Mode::kUsage;
    return true;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options& o, std::string& error) {
    bool options = true;
    std::vector<Positional> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!options || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            positional.push_back({arg, !options});
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
    if (!ReadPositions(positional, o, error)) return false;
    // The source is no target: a rule "src.s: src.s ..." would rebuild nothing.
    if (o.mode == Options::Mode::kStdout && !o.deps.empty() && o.depsTarget.empty()) {
        error = msg::kDepsNeedTarget;
        return false;
    }
    return true;
}

}  // namespace tarvo
