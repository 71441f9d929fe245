// The promise of "-d --source --relocatable": the listing assembles back to
// the span, and a nop inserted before any label moves what lies from there
// up to the next fixed place (org.) by 2, while every label expression,
// @ target and dw. follows its label and no other byte changes. The model
// of the new image is built here from the old bytes and the references the
// listing names (branches by their bytes alone), with the encoder's field
// layout written out again.
#pragma once
#include <stdlib.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "source_roundtrip.h"
#include "text_table.h"

namespace tarvo::fuzz {

namespace relocate {

inline std::uint32_t Hex(std::string_view text) { return static_cast<std::uint32_t>(std::stoul(std::string(text), nullptr, 16)); }

inline void Put16(std::string& bytes, std::size_t at, std::uint32_t v) {
    bytes[at] = static_cast<char>(v & 0xFF);
    bytes[at + 1] = static_cast<char>(v >> 8 & 0xFF);
}
inline std::uint32_t Get16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint8_t>(bytes[at]) | static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 1])) << 8;
}

}  // namespace relocate

// A text table whose texts and byte sequences overlap, so that decoding
// and encoding again can disagree; written once to a file the listings name.
struct FuzzTable {
    TextTable table;
    std::string path;
    FuzzTable() {
        static constexpr char kEntries[] =
            "; overlapping entries\r\n20= \n41=A\n42=B\n43=C\n61=a\n62=b\n0A=\\n\n0102=AB\n01=A\n"
            "\n8001=the\n8002=them\n800341=\xC3\xA9\n";
        char name[] = "/tmp/tarvo-fuzz-XXXXXX";
        const int fd = mkstemp(name);
        path = name;
        std::FILE* f = fdopen(fd, "w+");
        std::fputs(kEntries, f);
        std::rewind(f);
        table.Read(f);
        std::fclose(f);
    }
    ~FuzzTable() { std::remove(path.c_str()); }
    FuzzTable(const FuzzTable&) = delete;
    FuzzTable& operator=(const FuzzTable&) = delete;
};

// Empty when the promise holds for the label line that pick chooses, else
// what broke it.
inline std::string InsertionProperty(const std::string& image, std::int32_t start, std::int32_t count,
                                     const SourceOptions& options, unsigned pick) {
    using namespace relocate;
    std::string listing;
    if (std::string problem = SourceRoundTrip(image, start, count, options, &listing); !problem.empty()) return problem;
    if (start < 0 || static_cast<std::size_t>(start) >= image.size() || count <= 0) return {};
    const auto first = static_cast<std::uint32_t>(start);
    const auto end = first + static_cast<std::uint32_t>(std::min<std::size_t>(static_cast<std::size_t>(count), image.size() - first));
    const std::uint32_t base = options.base;

    std::vector<std::string> lines;
    std::vector<std::size_t> labels;
    for (std::size_t at = 0; at < listing.size();) {
        const std::size_t nl = listing.find('\n', at);
        lines.push_back(listing.substr(at, nl - at));
        if (lines.back().starts_with("lb. L_")) labels.push_back(lines.size() - 1);
        at = nl + 1;
    }
    if (labels.empty()) return {};
    const std::size_t chosen = labels[pick % labels.size()];
    const std::uint32_t insert = Hex(lines[chosen].substr(6)) - base;
    std::uint32_t fixed = end;  // the first org. after the insert
    for (std::size_t i = chosen; i < lines.size(); ++i) {
        if (!lines[i].starts_with("\torg.\t")) continue;
        fixed = Hex(lines[i].substr(6));
        break;
    }
    std::string edited;
    for (std::size_t i = 0; i < lines.size(); ++i) edited += (i == chosen ? "\tnop\n" : "") + lines[i] + "\n";
    int errors = 0;
    std::string messages;
    const std::string bytes = AssembleText(edited, errors, &messages);
    if (errors != 0) {
        // A branch the insert puts beyond its reach is the one error it may bring.
        int range = 0;
        for (std::size_t at = 0; (at = messages.find("Target out of range", at)) != std::string::npos; ++at) ++range;
        return range == errors ? std::string() : "the insert brings errors:\n" + messages + edited;
    }

    // The old image, then what moves.
    const std::string old = std::string(first, '\xFF') + image.substr(first, end - first);
    auto moved = [&](std::uint32_t x) { return x >= insert && x < fixed ? x + 2 : x; };
    std::string want = old.substr(0, insert) + std::string("\x00\x9A", 2);
    // The last two bytes before a fixed place are padding the insert takes.
    want += old.substr(insert, fixed - insert - (fixed == end ? 0 : 2)) + old.substr(fixed);
    for (const std::string& line : lines) {
        const std::size_t comment = line.find("\t; 0x");
        if (line.starts_with("lb.") || line.starts_with("\torg.") || comment == std::string::npos) continue;
        const std::string_view code = std::string_view(line).substr(0, comment);
        const std::uint32_t site = Hex(line.substr(comment + 5, 8)) - base;
        // The target a label expression names, after the insert.
        auto target = [&](std::size_t at) {
            while (code[at] == '(') ++at;
            if (code.substr(at, 2) == "0x") return Hex(code.substr(at + 2, 8));
            std::uint32_t offset = 0;
            if (code.substr(at + 10, 3) == " + ") offset = static_cast<std::uint32_t>(std::stoul(std::string(code.substr(at + 13))));
            return base + moved(Hex(code.substr(at + 2, 8)) - base) + offset;
        };
        const std::uint32_t now = moved(site);
        const std::string_view mnemonic = code.substr(1, code.find('\t', 1) - 1);
        if (mnemonic.ends_with('.') && mnemonic != "dw.") continue;  // data: text may hold anything
        if (const std::size_t at = code.find("hi("); at != std::string_view::npos) {
            const std::uint32_t v = target(at + 3);
            Put16(want, now + 2, (v >> 16) + (v >> 15 & 1));  // hi() takes the carry of lo()
        } else if (const std::size_t lo = code.find("lo("); lo != std::string_view::npos) {
            Put16(want, now + 2, target(lo + 3));
        } else if (code.starts_with("\tdw.\t")) {
            const std::uint32_t v = target(5);
            Put16(want, now, v);
            Put16(want, now + 2, v >> 16);
        } else if (mnemonic != "dw.") {
            // Every branch, jr and jal listed as an instruction keeps its
            // target, whatever form the listing chose: one in the span
            // moves with it, one outside stays; an odd one cannot be named.
            const std::uint32_t hw1 = Get16(old, site);
            const bool branch = hw1 >> 13 == 4 && hw1 >> 9 != 0x4D;  // not nop
            if (!branch && hw1 >> 10 != 0x2A && hw1 >> 10 != 0x2B) continue;
            const std::uint32_t disp = branch ? static_cast<std::uint32_t>(static_cast<std::int32_t>(hw1 << 23) >> 23)
                                              : static_cast<std::uint32_t>(static_cast<std::int32_t>((hw1 & 0x3FF) << 22 | Get16(old, site + 2) << 6) >> 6);
            if (disp & 1) continue;
            const std::uint32_t to = site + disp;
            const std::uint32_t moves = (to >= first && to < end ? moved(to) : to) - now;
            if (branch) {  // the conditional branches: 9 bits
                Put16(want, now, (hw1 & 0xFE00) | (moves & 0x1FF));
            } else {  // jr and jal: 26 bits across both halfwords
                Put16(want, now, (hw1 & 0xFC00) | (moves >> 16 & 0x3FF));
                Put16(want, now + 2, moves);
            }
        }
    }
    if (bytes != want) return "after an insert before line " + std::to_string(chosen + 1) + ":\n" + edited;
    return {};
}

// The fuzz target's input: bytes 0-1 give the start, 2-3 the count, 4
// whether an entry is given (bit 0), whether text is listed through a
// table (bit 1), whether the image's base is PC-FX's 0x8000 (bit 6), 5-6
// the entry, 7 the label to insert before; the image follows.
inline std::string RelocateInput(const std::uint8_t* data, std::size_t size) {
    static const FuzzTable table;
    if (size < 8) return {};
    SourceOptions options;
    options.relocatable = true;
    if (data[4] & 1) options.entries.push_back(static_cast<std::uint32_t>(data[5] | data[6] << 8));
    if (data[4] & 2) {
        options.table = &table.table;
        options.tableName = table.path;
    }
    options.base = data[4] & 0x40 ? 0x8000 : kImageBase;
    const std::string image(reinterpret_cast<const char*>(data + 8), size - 8);
    return InsertionProperty(image, data[0] | data[1] << 8, data[2] | data[3] << 8, options, data[7]);
}

}  // namespace tarvo::fuzz
