// Links fixed units with arbitrary bytes as the linker script (INCLUDE a.ld
// reads the same bytes again). Beyond not crashing: every input section that
// a successful link places lies inside its output section, in order, and the
// image is made or refused with a message.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/link.h"

namespace {

using tarvo::link::InputSection;
using tarvo::link::InputSymbol;
using tarvo::link::Unit;

std::vector<Unit> Units() {
    Unit a{"src/a.s",
           {{".text", 0x10, 2, true, true, false, true}, {".data", 8, 4, true, true, true, false},
            {".bss", 0x20, 4, true, false, true, false}, {".comment", 5, 1, false, true, false, false}},
           {{"main", 0, 0, InputSymbol::kGlobal, {}}, {"weak", 1, 4, InputSymbol::kWeak, {}}},
           {{"helper", {"src/a.s", 3}, false}, {"maybe", {"src/a.s", 4}, true}}};
    Unit b{"b.s",
           {{".text.x", 6, 8, true, true, false, true}, {".rodata", 3, 1, true, true, false, false},
            {".vectors", 0x20, 2, true, true, false, true}, {".sdata", 4, 4, true, true, true, false}},
           {{"helper", 0, 2, InputSymbol::kGlobal, {}}, {"weak", 3, 0, InputSymbol::kGlobal, {}}},
           {{"main", {"b.s", 9}, false}, {"__gp", {"b.s", 10}, false}}};
    return {a, b};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string script(reinterpret_cast<const char*>(data), size);
    static const std::vector<Unit> units = Units();
    tarvo::link::Options options;
    options.script = true;
    options.scriptPath = "in.ld";
    options.readFile = [&script](const std::string& path, std::string& text) {
        if (path != "in.ld" && path != "a.ld") return false;
        text = script;
        return true;
    };
    tarvo::link::Layout layout;
    std::vector<tarvo::link::Diagnostic> diags;
    if (!tarvo::link::Link(units, options, layout, diags)) return 0;
    for (const auto& s : layout.sections) {
        std::uint64_t end = 0;
        for (const auto& p : s.pieces) {
            if (p.offset < end || p.offset + p.size > s.size) std::abort();
            end = p.offset + p.size;
        }
    }
    const tarvo::link::Contents contents = [](int, int) { return std::span<const std::uint8_t>(); };
    tarvo::link::Image image;
    diags.clear();
    if (!tarvo::link::MakeImage(layout, contents, 0xFF, image, diags) && diags.empty()) std::abort();
    return 0;
}
