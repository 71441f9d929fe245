// Sources made of labels, forward and backward @ branches, jumps and
// pointer tables, driven by the input bytes. The oracle reads the listing:
// every branch that assembled reaches its label, every table entry holds it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "disasm/decode.h"
#include "driver/assemble.h"
#include "driver/outputs.h"
#include "sinks.h"

namespace {

struct Use {
    int label;    // the label it names
    char kind;    // 'b' branch, 'j' jr/jal, 'w' dw. (label)
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One line per input byte: the low bits choose the line, the rest a label.
    std::string source;
    std::map<int, Use> uses;  // source line: what it names
    for (std::size_t i = 0; i < size && i < 2000; ++i) {
        const int label = data[i] >> 4 & 7;
        const std::string name = "L" + std::to_string(label) + "_" + std::to_string(data[i] >> 7);
        const int line = static_cast<int>(i) + 1;
        switch (data[i] & 15) {
            case 0: case 1: source += name + ":\n"; break;
            case 2: case 3: source += "bne @" + name + "\n"; uses[line] = {label, 'b'}; break;
            case 4: source += "jal @" + name + "\n"; uses[line] = {label, 'j'}; break;
            case 5: source += "jr @(" + name + ")\n"; uses[line] = {label, 'j'}; break;
            case 6: source += "dw. (" + name + ")\n"; uses[line] = {label, 'w'}; break;
            case 7: source += "movea 0x1234, r0, r5\n"; break;
            case 8: source += "ds. \"abc\"\n"; break;
            case 9: source += "org. " + std::to_string((i * 37) & 0x3FF) + "\n"; break;
            case 10: source += "fill. " + std::to_string(data[i] >> 4) + ", 0x9A\n"; break;
            case 11: source += ".call (" + name + ")\n"; break;
            default: source += "nop\n"; break;
        }
    }

    tarvo::Context ctx;
    tarvo::fuzz::Counter messages, object;
    tarvo::fuzz::Collector listing;
    ctx.out = tarvo::fuzz::OpenCounter(messages);
    ctx.runPass = tarvo::GenerateObj;
    ctx.files.push_back("in.s");
    std::FILE* obj = tarvo::fuzz::OpenCounter(object);
    std::FILE* lst = tarvo::fuzz::OpenCollector(listing);
    ctx.obj.Open(obj);
    {
        tarvo::Listing listener(lst, ctx.obj);
        ctx.observer = &listener;
        ctx.obj.SetSink(&listener);
        std::FILE* src = fmemopen(source.data(), source.size(), "r");
        if (src == nullptr) src = std::fopen("/dev/null", "r");
        tarvo::GenerateObj(ctx, src, "in.s");
        std::fclose(src);
        listener.Finish(ctx.lstHead);
    }
    std::fclose(lst);
    std::fclose(obj);
    std::fclose(ctx.out);

    // The symbol table at the end gives each label's value (the newest wins,
    // so only names defined once are checked).
    std::istringstream in(listing.text);
    std::string text;
    std::map<int, std::pair<std::uint32_t, std::string>> lines;  // line: location, bytes
    std::map<std::string, std::uint32_t> values;
    std::map<std::string, int> definitions;
    std::map<int, bool> failed;  // lines that a message reports (range, alignment, undefined)
    bool symbols = false;
    for (std::string row; std::getline(in, row);) {
        if (row.rfind("; Error in line ", 0) == 0) {
            failed[std::stoi(row.substr(16))] = true;
            continue;
        }
        if (row == "; symbols") {
            symbols = true;
            continue;
        }
        if (symbols) {
            const std::size_t eq = row.find(" = ");
            const std::string name = row.substr(0, eq);
            values[name] = static_cast<std::uint32_t>(std::stoul(row.substr(eq + 3), nullptr, 16));
            ++definitions[name];
            continue;
        }
        if (row.size() < 42 || row[0] == ';' || row[40] == '+') continue;
        const std::uint32_t location = static_cast<std::uint32_t>(std::stoul(row.substr(0, 8), nullptr, 16));
        std::string bytes;
        std::istringstream hex(row.substr(10, 23));
        for (std::string b; hex >> b;) bytes.push_back(static_cast<char>(std::stoul(b, nullptr, 16)));
        lines[std::stoi(row.substr(35, 5))] = {location, bytes};
    }
    for (const auto& [line, use] : uses) {
        auto it = lines.find(line);
        if (it == lines.end() || it->second.second.empty() || failed.count(line)) continue;


        // The name on that source line.
        std::istringstream src(source);
        std::string lineText;
        for (int k = 0; k < line; ++k) std::getline(src, lineText);
        const std::size_t at = lineText.find('L');
        std::size_t end = at;
        while (end < lineText.size() && lineText[end] != ')' && lineText[end] != '\n') ++end;
        const std::string label = lineText.substr(at, end - at);
        if (definitions[label] != 1) continue;
        const std::uint32_t target = values[label];
        const auto& [location, bytes] = it->second;
        unsigned char b[4] = {0, 0, 0, 0};
        for (std::size_t k = 0; k < bytes.size() && k < 4; ++k) b[k] = static_cast<unsigned char>(bytes[k]);
        const tarvo::Decoded d = tarvo::Decode(b);
        std::uint32_t reached = 0;
        if (use.kind == 'w') reached = static_cast<std::uint32_t>(b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24);
        else if (use.kind == 'b') reached = (location | 0x07000000u) + static_cast<std::uint32_t>(tarvo::SignExtend(d.hw1 & 0x1FFu, 9));
        else reached = (location | 0x07000000u) + static_cast<std::uint32_t>(tarvo::SignExtend((d.hw1 & 0x3FFu) << 16 | d.hw2, 26));
        if (reached != target) {
            std::fprintf(stderr, "line %d (%s) at %08x reaches %08x, not %08x\n%s", line, lineText.c_str(), location,
                         reached, target, listing.text.c_str());
            std::abort();
        }
    }
    return 0;
}
