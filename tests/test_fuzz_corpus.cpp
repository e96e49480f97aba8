#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

// Every input the fuzzer saved, crash reproducers included, goes through the fuzz target again:
// a broken rule aborts this test as it would the fuzzer.
TEST(FuzzCorpus, SavedInputsReplayCleanly)
{
    const std::filesystem::path folder = std::filesystem::path(VB_SOURCE_DIR) / "fuzz" / "corpus";
    int replayed = 0;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file())
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
        ++replayed;
    }
    EXPECT_GT(replayed, 20) << "the saved corpus is missing";
}
