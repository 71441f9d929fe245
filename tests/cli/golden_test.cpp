// Each folder under tests/cases is one run of tarvo:
//   args          the arguments (default: in.s)
//   expected.out  standard output, byte for byte
//   expected.ext.out, expected.ext.err, expected.ext.status, expected.ext.absent
//                 standard output and error, exit status and files that must not exist
//                 with extensions on, where they add a warning or a message
//                 to a classic case, or remove its object file after errors
//                 (expected.out, status and expected.hex then hold the
//                 --classic run's)
//   expected.hex  the bytes of output.obj (or of the file named in objfile)
//   expected.asm  output.asm, byte for byte
//   expected.lst, expected.sym, expected.d
//                 the files out.lst, out.sym and out.d (--listing, --symbols, --deps)
//   expected.err  standard error, byte for byte (default: empty)
//   absent        names of files that must not exist after the run
//   status        the exit status (default 0)
//   extension     present when the case uses extensions of the language: it
//                 is not run again with --classic
// Every other case runs twice: as written, and with --classic first, which
// must change nothing.
// Every other file is copied into the scratch directory; NAME.hex files are
// written there as the binary file NAME.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "run_tool.h"

namespace tarvo::test {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kClassicSuffix = "__classic";

std::vector<std::string> CaseNames() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(TARVO_CASES)) {
        if (!entry.is_directory()) continue;
        const std::string name = entry.path().filename().string();
        names.push_back(name);
        if (!fs::exists(entry.path() / "extension")) names.push_back(name + std::string(kClassicSuffix));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

class GoldenTest : public testing::TestWithParam<std::string> {};

TEST_P(GoldenTest, MatchesExpectedFiles) {
    std::string caseName = GetParam();
    const bool classic = caseName.ends_with(kClassicSuffix);
    if (classic) caseName.resize(caseName.size() - kClassicSuffix.size());
    const fs::path dir = fs::path(TARVO_CASES) / caseName;
    ScratchDir scratch;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        const std::string rel = fs::relative(entry.path(), dir).string();
        const std::string name = entry.path().filename().string();
        if (name == "args" || name == "status" || name == "objfile" || name == "extension" || name == "absent" ||
            name.starts_with("expected."))
            continue;
        if (rel.ends_with(".hex")) scratch.Write(rel.substr(0, rel.size() - 4), HexToBytes(ReadFile(entry.path())));
        else scratch.Write(rel, ReadFile(entry.path()));
    }
    std::vector<std::string> args{"in.s"};
    if (fs::exists(dir / "args")) {
        args.clear();
        std::istringstream in(ReadFile(dir / "args"));
        for (std::string a; in >> a;) args.push_back(a == "''" ? "" : a);
    }
    if (classic) args.insert(args.begin(), "--classic");
    // The file of the default run where the case has one, else the shared one.
    auto pick = [&](const char* shared, const char* ext) {
        return !classic && fs::exists(dir / ext) ? dir / ext : dir / shared;
    };
    const int status = fs::exists(pick("status", "expected.ext.status")) ? std::stoi(ReadFile(pick("status", "expected.ext.status"))) : 0;

    ToolResult r = RunTool(scratch.path(), args);
    EXPECT_EQ(r.out, ReadFile(pick("expected.out", "expected.ext.out")));
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.err, fs::exists(pick("expected.err", "expected.ext.err")) ? ReadFile(pick("expected.err", "expected.ext.err")) : "");
    // Files that must not exist; the expected bytes of one of them belong to the --classic run.
    std::vector<std::string> absent;
    for (const char* list : {"absent", "expected.ext.absent"}) {
        if (!fs::exists(dir / list) || (classic && list != std::string("absent"))) continue;
        std::istringstream names(ReadFile(dir / list));
        for (std::string f; names >> f;) absent.push_back(f);
    }
    for (const std::string& f : absent) EXPECT_FALSE(scratch.Exists(f)) << f;
    auto check = [&](const std::string& name, const fs::path& expected) {
        if (fs::exists(expected) && std::find(absent.begin(), absent.end(), name) == absent.end())
            EXPECT_EQ(scratch.Read(name), expected.extension() == ".hex" ? HexToBytes(ReadFile(expected)) : ReadFile(expected));
    };
    check(fs::exists(dir / "objfile") ? Trimmed(ReadFile(dir / "objfile")) : "output.obj", dir / "expected.hex");
    check("output.asm", dir / "expected.asm");
    for (const char* ext : {"lst", "sym", "d"}) {
        const fs::path expected = dir / (std::string("expected.") + ext);
        if (fs::exists(expected)) EXPECT_EQ(scratch.Read(std::string("out.") + ext), ReadFile(expected)) << ext;
    }
}

// Every assembly case again with a listing: each byte the listing shows is
// the object file's byte at that location.
TEST(ListingTest, BytesEqualTheObjectFileInEveryCase) {
    int checked = 0;
    for (const std::string& name : CaseNames()) {
        if (name.ends_with(kClassicSuffix)) continue;
        const fs::path dir = fs::path(TARVO_CASES) / name;
        std::vector<std::string> args{"in.s"};
        if (fs::exists(dir / "args")) {
            args.clear();
            std::istringstream in(ReadFile(dir / "args"));
            for (std::string a; in >> a;) args.push_back(a);
        }
        const bool disasmOrStdout = std::any_of(args.begin(), args.end(), [](const std::string& a) {
            return a.size() == 2 && (a[1] == 'd' || a[1] == 's');
        });
        if (disasmOrStdout || fs::exists(dir / "absent")) continue;
        ScratchDir scratch;
        for (const auto& entry : fs::recursive_directory_iterator(dir)) {
            if (!entry.is_regular_file()) continue;
            const std::string rel = fs::relative(entry.path(), dir).string();
            if (rel.ends_with(".hex")) scratch.Write(rel.substr(0, rel.size() - 4), HexToBytes(ReadFile(entry.path())));
            else scratch.Write(rel, ReadFile(entry.path()));
        }
        // -Z keeps the object file of a run with errors.
        args.push_back("--listing=check.lst");
        args.push_back("-Z");
        RunTool(scratch.path(), args);
        const std::string obj = scratch.Read(fs::exists(dir / "objfile") ? Trimmed(ReadFile(dir / "objfile")) : "output.obj");
        const std::string text = scratch.Read("check.lst");
        // GNU syntax lists addresses, and says where the image begins.
        if (text.rfind("; image ") != std::string::npos) {
            EXPECT_EQ(ListingMismatch(text, obj, checked), "") << name;
            continue;
        }
        std::istringstream listing(text);
        for (std::string line; std::getline(listing, line) && line != "; symbols";) {
            if (line.empty() || line[0] == ';' || line.find(" more bytes") != std::string::npos) continue;
            std::size_t at = std::stoul(line.substr(0, 8), nullptr, 16);
            // The bytes stand between the location and the line number: pairs of hex digits.
            std::istringstream bytes(line.substr(10, 23));
            for (std::string b; bytes >> b; ++at, ++checked) {
                ASSERT_LT(at, obj.size()) << name << ": " << line;
                EXPECT_EQ(static_cast<unsigned char>(obj[at]), std::stoul(b, nullptr, 16)) << name << ": " << line;
            }
        }
    }
    EXPECT_GT(checked, 500);
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenTest, testing::ValuesIn(CaseNames()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
}  // namespace tarvo::test
