// Each folder under tests/gnu-vectors is a GNU syntax program with what GNU
// as and a linker give for it: the image (expected.bin), or the FILE:LINE of
// the first error (expected.err); from folder 0120 on, the place and kind of
// every message GNU as printed (expected.places, absent when it printed
// none). The listing of every image must show the image's own bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "run_tool.h"

namespace tarvo::test {
namespace {

namespace fs = std::filesystem;

// "FILE:LINE: Error" or "FILE: Warning" for each error and warning on
// standard error, in order; the notes that name macro calls left out.
std::string Places(const std::string& err) {
    std::string places;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        for (const char* kind : {": Error:", ": Warning:"}) {
            const std::size_t at = line.find(kind);
            if (at == std::string::npos || line.substr(0, at).find(' ') != std::string::npos) continue;
            places += line.substr(0, at + std::string(kind).size() - 1) + "\n";
        }
    }
    return places;
}

// The place of the first error that names a line.
std::string FirstErrorLine(const std::string& err) {
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find(": Error:");
        const std::string place = line.substr(0, at);
        if (at != std::string::npos && place.find(' ') == std::string::npos && place.find(':') != std::string::npos)
            return place + "\n";
    }
    return "";
}

class GnuVectorTest : public testing::TestWithParam<std::string> {};

TEST_P(GnuVectorTest, GivesWhatGnuAsGives) {
    const fs::path dir = fs::path(TARVO_GNU_VECTORS) / GetParam();
    ScratchDir scratch;
    std::vector<std::string> args = Stage(dir, scratch);
    for (const char* a : {"main.s", "-o", "out.bin", "--listing=out.lst"}) args.push_back(a);
    const ToolResult r = RunTool(scratch.path(), args);
    const bool failing = fs::exists(dir / "expected.err");
    if (GetParam() >= "0120") {
        // GNU as' messages; a mistake it leaves to the linker (a name never
        // defined) is the one error after them.
        std::string places = fs::exists(dir / "expected.places") ? ReadFile(dir / "expected.places") : "";
        if (failing) {
            std::string error = ReadFile(dir / "expected.err");
            error.insert(error.size() - 1, ": Error");
            if (places.find(error) == std::string::npos) places += error;
        }
        EXPECT_EQ(Places(r.err), places) << r.err;
    }
    if (failing) {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(FirstErrorLine(r.err), ReadFile(dir / "expected.err")) << r.err;
        EXPECT_FALSE(scratch.Exists("out.bin"));
        return;
    }
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string image = scratch.Read("out.bin");
    ASSERT_TRUE(image == ReadFile(dir / "expected.bin")) << "the image differs";
    int checked = 0;
    EXPECT_EQ(ListingMismatch(scratch.Read("out.lst"), image, checked), "");
}

INSTANTIATE_TEST_SUITE_P(Vectors, GnuVectorTest, testing::ValuesIn(FolderNames(TARVO_GNU_VECTORS)),
                         [](const testing::TestParamInfo<std::string>& info) { return "v" + info.param; });

}  // namespace
}  // namespace tarvo::test
