#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/line_reader.h"
#include "harness.h"

namespace tarvo {
namespace {

std::vector<std::string> Lines(const std::string& text, std::size_t block) {
    std::FILE* f = test::MemIn(text);
    LineReader reader(f, block);
    std::string spill;
    std::string_view line;
    std::vector<std::string> lines;
    while (reader.ExtractLine(spill, line)) lines.emplace_back(line);
    EXPECT_FALSE(reader.Failed());
    std::fclose(f);
    return lines;
}

struct ReaderRow {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
    friend void PrintTo(const ReaderRow& r, std::ostream* os) { *os << r.name; }
};

class LineReaderTest : public testing::TestWithParam<std::tuple<ReaderRow, std::size_t>> {};

TEST_P(LineReaderTest, DeliversLines) {
    const auto& [row, block] = GetParam();
    EXPECT_EQ(Lines(row.text, block), row.lines) << row.name << " with blocks of " << block;
}

const ReaderRow kRows[] = {
    {"empty", "", {}},
    {"last line without line end", "nop", {"nop"}},
    {"two lines, last without end", "a\nb", {"a", "b"}},
    {"line end at file end gives no extra line", "a\n", {"a"}},
    {"empty lines count", "\n\na\n", {"", "", "a"}},
    {"CR LF is one line end", "a\r\nb\r\n", {"a", "b"}},
    {"lone CR ends a line", "a\rb\r", {"a", "b"}},
    {"CR CR LF is two line ends", "a\r\r\nb", {"a", "", "b"}},
    {"LF CR is two line ends", "a\n\rb", {"a", "", "b"}},
    {"zero byte ends the text", std::string("ab\0cd\nef", 8), {"ab", "ef"}},
    {"zero byte first", std::string("\0x\ny", 4), {"", "y"}},
    {"zero byte in the last line", std::string("ab\0", 3), {"ab"}},
    {"byte 255 is text", "\xff\xfe\n", {"\xff\xfe"}},
};

INSTANTIATE_TEST_SUITE_P(Rows, LineReaderTest,
                         testing::Combine(testing::ValuesIn(kRows), testing::Values(1, 2, 3, 5, 4096)));

TEST(LineReaderLongTest, LinesOfAnyLengthArriveWhole) {
    std::string longLine(1027, 'x');
    std::string huge(3'000'000, 'y');
    for (std::size_t block : {7u, 1024u, 65536u}) {
        EXPECT_EQ(Lines(longLine + "\n" + huge + "\r\nz", block),
                  (std::vector<std::string>{longLine, huge, "z"}));
    }
}

TEST(LineReaderErrorTest, ReadErrorEndsTheFileWithoutLooping) {
    std::FILE* dir = std::fopen(".", "r");  // a directory opens, but cannot be read
    ASSERT_NE(dir, nullptr);
    LineReader reader(dir, 64);
    std::string spill;
    std::string_view line;
    EXPECT_FALSE(reader.ExtractLine(spill, line));
    EXPECT_TRUE(reader.Failed());
    EXPECT_FALSE(reader.ExtractLine(spill, line));
    std::fclose(dir);
}

}  // namespace
}  // namespace tarvo
