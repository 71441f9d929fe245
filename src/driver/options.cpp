#include "driver/options.h"

#include <cstdio>
#include <string_view>

#include "messages.h"

namespace tarvo {

const char* const kOptionHelp =
    "\nLong options (anywhere after the command name; -- ends them):\n"
    "  --help                 this text\n"
    "  --version              the program's version\n"
    "  --classic              the classic language and include rules only\n"
    "  --strict               values cut to fit, odd displacements and the like are errors;\n"
    "                         the object file is removed when errors were reported\n"
    "  --quiet                no Define:, Label: and include progress lines\n"
    "  --gnu-errors           every error and warning also as FILE:LINE: on standard error\n"
    "  --include-dir=DIR      look for inc. files in DIR too (repeatable)\n"
    "  --define=NAME=VALUE    as df. NAME VALUE before the first line (repeatable)\n"
    "  --nec-encoding         reti and halt as 0x6400 and 0x6800\n"
    "  --listing=FILE         an assembly listing: location, bytes, line, text\n"
    "  --symbols=FILE         the labels as address-and-name lines, for debuggers\n"
    "  --deps=FILE            Make rules: the object file depends on every source read\n"
    "  --deps-target=NAME     the target of those rules (default: the object file)\n"
    "  --output=FILE          -d: the listing goes to FILE instead of output.asm\n"
    "  --source               -d: list as a source that assembles back to the same bytes\n"
    "  --entry=ADDR           -d --source: code is what is reachable from ADDR (repeatable)\n"
    "  --symbols=FILE         -d: name the labels of the listing from this symbol file\n"
    "  --syntax=gnu           read GNU as syntax (the default is --syntax=tarvo)\n"
    "  --section-start=NAME=ADDR  GNU syntax: place section NAME at ADDR (repeatable)\n"
    "  --defsym=NAME=VALUE    as --define; GNU syntax: NAME is absolute\n"
    "  --lsp                  a language server for editors on standard input and output\n";

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
    {"defsym", Takes::kValue},       {"lsp", Takes::kNothing},
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

bool Apply(std::string_view name, const std::string& value, Options& o, std::string& error) {
    Settings& s = o.settings;
    if (name == "help") o.help = true;
    else if (name == "version") o.version = true;
    else if (name == "lsp") o.lsp = true;
    else if (name == "classic") s.classic = true;
    else if (name == "strict") s.strict = true;
    else if (name == "quiet") s.quiet = true;
    else if (name == "gnu-errors") s.gnuErrors = true;
    else if (name == "nec-encoding") s.necEncoding = true;
    else if (name == "include-dir") s.includeDirs.push_back(value);
    else if (name == "listing") o.listing = value;
    else if (name == "symbols") o.symbols = value;
    else if (name == "deps") o.deps = value;
    else if (name == "deps-target") o.depsTarget = value;
    else if (name == "output") o.output = value;
    else if (name == "source") o.source = true;
    else if (name == "entry") o.entries.push_back(value);
    else if (name == "syntax") {
        if (value != "gnu" && value != "tarvo") {
            error = Format(msg::kUnknownOption, "--syntax=" + value);
            return false;
        }
        s.gnuSyntax = value == "gnu";
    } else if (name == "define" || name == "defsym" || name == "section-start") {
        const std::size_t eq = value.find('=');
        if (eq == std::string::npos || eq == 0) {
            error = Format(msg::kNeedsValue, "--" + std::string(name) + "=" + value);
            return false;
        }
        if (name == "section-start") s.sectionStarts.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        else o.defines.emplace_back(value.substr(0, eq), value.substr(eq + 1));
    }
    return true;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options& o, std::string& error) {
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!options || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            o.args.push_back(arg);
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
    return true;
}

}  // namespace tarvo
