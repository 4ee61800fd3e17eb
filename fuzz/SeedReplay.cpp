// Replays every file of a fuzz target's seed folder (CALVORO_FUZZ_SEEDS) through the target's
// LLVMFuzzerTestOneInput, so that the ordinary sanitized test run checks each corpus without
// libFuzzer: an input that crashes, trips a sanitizer or breaks one of the target's invariants
// (they abort) fails the test, and the output names the seed it was replaying.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

TEST(FuzzSeeds, EveryFileReplays) {
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(CALVORO_FUZZ_SEEDS))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty()) << "no seeds in " << CALVORO_FUZZ_SEEDS;
    for (const fs::path& file : files) {
        std::fprintf(stderr, "replaying %s\n", file.filename().c_str());
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        ASSERT_FALSE(in.bad()) << file;
        // A heap copy of exactly the input's size, as libFuzzer hands it over.
        std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), copy.get());
        EXPECT_EQ(LLVMFuzzerTestOneInput(copy.get(), bytes.size()), 0) << file;
    }
}
