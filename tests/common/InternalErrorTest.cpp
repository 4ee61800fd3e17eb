// InternalError: the assertion a broken invariant raises, and the rule that keeps its reports
// useful: every call names the unit (the source file) it is made in; so does every
// "Unit: what" label of the protocol layer's EInternalError.
#include "common/Exceptions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

TEST(InternalError, RaisesAnAssertionNamingTheUnit) {
    try {
        calvoro::InternalError("MemData", QStringLiteral("No current record"));
        FAIL() << "nothing raised";
    } catch (const calvoro::EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Assertion failure (MemData): No current record"));
    }
}

// A label copied from another file sends whoever reads the report to the wrong place.
TEST(InternalError, EveryCallNamesItsOwnUnit) {
    namespace fs = std::filesystem;
    const std::regex call(R"re(\bInternalError\(\s*"([^"]*)"|\bEInternalError\(\s*"(\w+): )re");
    std::vector<std::string> wrong;
    int calls = 0;
    for (const auto& entry : fs::recursive_directory_iterator(CALVORO_SOURCE_DIR)) {
        const fs::path& path = entry.path();
        if (!entry.is_regular_file() || (path.extension() != ".cpp" && path.extension() != ".h")) continue;
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        const std::string source = text.str();
        const std::string unit = path.stem().string();
        for (std::sregex_iterator m(source.begin(), source.end(), call), end; m != end; ++m) {
            ++calls;
            const std::string label = (*m)[1].matched ? (*m)[1].str() : (*m)[2].str();
            if (label != unit) wrong.push_back(path.filename().string() + " names " + label);
        }
    }
    EXPECT_GT(calls, 10) << "the sources were not found under " << CALVORO_SOURCE_DIR;
    EXPECT_TRUE(wrong.empty()) << ::testing::PrintToString(wrong);
}
