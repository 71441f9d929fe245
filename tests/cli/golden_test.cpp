// Each folder under tests/cases is one run of tarvo:
//   args          the arguments (default: in.s)
//   expected.out  standard output, byte for byte
//   expected.hex  the bytes of output.obj (or of the file named in objfile)
//   expected.asm  output.asm, byte for byte
//   status        the exit status (default 0)
// Every other file is copied into the scratch directory; NAME.hex files are
// written there as the binary file NAME.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "run_tool.h"

namespace tarvo::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> CaseNames() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(TARVO_CASES))
        if (entry.is_directory()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

class GoldenTest : public testing::TestWithParam<std::string> {};

TEST_P(GoldenTest, MatchesExpectedFiles) {
    const fs::path dir = fs::path(TARVO_CASES) / GetParam();
    ScratchDir scratch;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        const std::string rel = fs::relative(entry.path(), dir).string();
        const std::string name = entry.path().filename().string();
        if (name == "args" || name == "status" || name == "objfile" || name.starts_with("expected."))
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
    const int status = fs::exists(dir / "status") ? std::stoi(ReadFile(dir / "status")) : 0;

    ToolResult r = RunTool(scratch.path(), args);
    EXPECT_EQ(r.out, ReadFile(dir / "expected.out"));
    EXPECT_EQ(r.status, status);
    if (fs::exists(dir / "expected.hex")) {
        const std::string obj = fs::exists(dir / "objfile") ? Trimmed(ReadFile(dir / "objfile")) : "output.obj";
        EXPECT_EQ(scratch.Read(obj), HexToBytes(ReadFile(dir / "expected.hex")));
    }
    if (fs::exists(dir / "expected.asm")) EXPECT_EQ(scratch.Read("output.asm"), ReadFile(dir / "expected.asm"));
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenTest, testing::ValuesIn(CaseNames()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
}  // namespace tarvo::test
