// Each folder under tests/gnu-projects is a project built by GNU as, ld and
// objcopy: `tarvo $(cat args) -o out.bin` in the folder must give the file
// they made (expected.bin), and its listing must show that file's bytes.
#include <gtest/gtest.h>

#include <algorithm>

#include "run_tool.h"

namespace tarvo::test {
namespace {

namespace fs = std::filesystem;

class GnuProjectTest : public testing::TestWithParam<std::string> {};

TEST_P(GnuProjectTest, GivesWhatGnuToolsGive) {
    const fs::path dir = fs::path(TARVO_GNU_PROJECTS) / GetParam();
    ScratchDir scratch;
    std::vector<std::string> args = Stage(dir, scratch);
    for (const char* a : {"-o", "out.bin", "--listing=out.lst"}) args.push_back(a);
    const ToolResult r = RunTool(scratch.path(), args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string image = scratch.Read("out.bin");
    ASSERT_TRUE(image == ReadFile(dir / "expected.bin")) << "the image differs";
    int checked = 0;
    EXPECT_EQ(ListingMismatch(scratch.Read("out.lst"), image, checked), "");
    EXPECT_GT(checked, 100);
}

INSTANTIATE_TEST_SUITE_P(Projects, GnuProjectTest, testing::ValuesIn(FolderNames(TARVO_GNU_PROJECTS)),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
}  // namespace tarvo::test
