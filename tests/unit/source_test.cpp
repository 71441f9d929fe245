// The source listing's promise over the fuzz target's seed corpus, so that
// every test run checks it, not only fuzzing runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "relocate_property.h"
#include "source_roundtrip.h"

namespace tarvo {
namespace {

std::string ReadSeed(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

TEST(SourceListingTest, SeedCorpusAssemblesBackToTheSpan) {
    int seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TARVO_SOURCE_CORPUS)) {
        const std::string data = ReadSeed(entry.path());
        if (data.size() < 7) continue;
        auto byte = [&data](std::size_t i) { return static_cast<std::uint8_t>(data[i]); };
        std::vector<std::uint32_t> entries;
        if (byte(4) & 1) entries.push_back(static_cast<std::uint32_t>(byte(5) | byte(6) << 8));
        EXPECT_EQ(fuzz::SourceRoundTrip(data.substr(7), byte(0) | byte(1) << 8, byte(2) | byte(3) << 8, entries), "")
            << entry.path();
        ++seeds;
    }
    EXPECT_GE(seeds, 5);
}

// The same for --relocatable, with a nop inserted before every label in turn.
TEST(SourceListingTest, RelocatableSeedsFollowEveryInsert) {
    int seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TARVO_RELOCATE_CORPUS)) {
        std::string data = ReadSeed(entry.path());
        if (data.size() < 8) continue;
        for (int pick = 0; pick < 64; ++pick) {
            data[7] = static_cast<char>(pick);
            EXPECT_EQ(fuzz::RelocateInput(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()), "")
                << entry.path() << " label " << pick;
        }
        ++seeds;
    }
    EXPECT_GE(seeds, 5);
}

}  // namespace
}  // namespace tarvo
