// Macros, repeat blocks and conditions against their own meaning: a program
// built from the input with macro. (parameters, defaults, \@ labels, calls
// of earlier macros, rept. inside bodies), rept., irp. and if. assembles to
// the same bytes, and as many errors, as the same program written out.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "source_roundtrip.h"

namespace {

struct Input {
    const std::uint8_t* p;
    std::size_t n;
    unsigned Take(unsigned range) {
        if (n == 0) return 0;
        --n;
        return *p++ % range;
    }
};

const char* const kArgs[] = {"r1", "$2", "r7", "5", "-3", "(1+2)", "0x10", "sp"};

// Body lines: %a and %b stand for the parameters, %@ for the call's number.
const char* const kBody[] = {
    "add %a, %b", "mov %a, r9", "movea %a, r0, r10", "l%@: nop", "bne @l%@", "dh. %a", "st.w r3, %a[r4]", "jr @l%@",
};

struct MacroDef {
    std::vector<std::string> body;  // with %a, %b, %@, or "call K"
};

std::string Fill(const std::string& line, const std::string& a, const std::string& b, const std::string& n) {
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '%' && i + 1 < line.size()) {
            const char c = line[++i];
            out += c == 'a' ? a : c == 'b' ? b : n;
        } else {
            out += line[i];
        }
    }
    return out;
}

struct Program {
    std::vector<MacroDef> macros;
    std::string source, written;
    unsigned calls = 0;

    // A call of macro k as tarvo reads it, and written out by hand.
    void Expand(std::size_t k, const std::string& a, const std::string& b, int depth) {
        const std::string n = std::to_string(calls++);
        for (const std::string& line : macros[k].body) {
            if (line.rfind("call ", 0) == 0) {
                if (depth < 4) Expand(std::stoul(line.substr(5)), b, a, depth + 1);
                continue;
            }
            if (line.rfind("rept ", 0) == 0) {
                for (int r = 0; r < line[5] - '0'; ++r) written += Fill(line.substr(7), a, b, n) + "\n";
                continue;
            }
            written += Fill(line, a, b, n) + "\n";
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in{data, size};
    Program p;
    const unsigned nMacros = 1 + in.Take(3);
    for (unsigned k = 0; k < nMacros; ++k) {
        MacroDef m;
        std::string text = "macro. m" + std::to_string(k) + " a, b=r8\n";
        for (unsigned i = 0, lines = 1 + in.Take(4); i < lines; ++i) {
            const unsigned what = in.Take(10);
            if (what == 8 && k > 0) {  // a call of an earlier macro, arguments swapped
                const unsigned callee = in.Take(k);
                m.body.push_back("call " + std::to_string(callee));
                text += "m" + std::to_string(callee) + " \\b, \\a\n";
            } else if (what == 9) {
                const unsigned r = in.Take(3);
                const std::string line = kBody[in.Take(3)];
                m.body.push_back("rept " + std::to_string(r) + " " + line);
                text += "rept. " + std::to_string(r) + "\n" + Fill(line, "\\a", "\\b", "\\@") + "\nendr.\n";
            } else {
                const std::string line = kBody[what % 8];
                m.body.push_back(line);
                text += Fill(line, "\\a", "\\b", "\\@") + "\n";
            }
        }
        p.macros.push_back(m);
        p.source += text + "endm.\n";
    }
    while (in.n > 0) {
        const unsigned what = in.Take(8);
        const std::string a = kArgs[in.Take(8)], b = kArgs[in.Take(8)];
        if (what < 5) {  // a call, perhaps without its second argument
            const unsigned k = in.Take(nMacros);
            const bool both = in.Take(2) != 0;
            p.source += "m" + std::to_string(k) + " " + a + (both ? ", " + b : "") + "\n";
            p.Expand(k, a, both ? b : "r8", 0);
        } else if (what == 5) {
            const unsigned r = in.Take(4);
            p.source += "rept. " + std::to_string(r) + "\nmov " + a + ", r6\nendr.\n";
            for (unsigned i = 0; i < r; ++i) p.written += "mov " + a + ", r6\n";
        } else if (what == 6) {
            p.source += "irp. x, " + a + ", " + b + "\nadd \\x, r5\nendr.\n";
            p.written += "add " + a + ", r5\nadd " + b + ", r5\n";
        } else {
            const bool on = in.Take(2) != 0;
            p.source += std::string("if. ") + (on ? "(2>1)" : "(1>2)") + "\nmov " + a + ", r4\nelse.\nmov " + b +
                        ", r4\nendif.\n";
            p.written += "mov " + (on ? a : b) + ", r4\n";
        }
    }
    int sourceErrors = 0, writtenErrors = 0;
    const std::string fromMacros = tarvo::fuzz::AssembleText(p.source, sourceErrors);
    const std::string fromText = tarvo::fuzz::AssembleText(p.written, writtenErrors);
    if (fromMacros != fromText || sourceErrors != writtenErrors) {
        std::fprintf(stderr, "expanded:\n%s\nwritten out:\n%s\n", p.source.c_str(), p.written.c_str());
        std::abort();
    }
    return 0;
}
