#pragma once
// A file in the temporary folder holding the given bytes, removed with the object.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace calvoro::test {

struct TTempFile {
    explicit TTempFile(const std::string& contents, const std::string& stem = "calvoro-infile") {
        Path = (std::filesystem::temp_directory_path() / (stem + "-" + std::to_string(::getpid()) + ".csv")).string();
        std::ofstream(Path, std::ios::binary) << contents;
    }
    ~TTempFile() { std::filesystem::remove(Path); }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    std::string Path;
};

}  // namespace calvoro::test
