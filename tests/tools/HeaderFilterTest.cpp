// clang-tidy checks a header only when its path, as the compile reaches it,
// matches .clang-tidy's HeaderFilterRegex: a header whose name the pattern
// misses would never be checked, and nothing would say so.

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string headerFilter() {
    const std::vector<uint8_t> bytes =
        testing_support::readFileBytes(VELUMO_SOURCE_DIR "/.clang-tidy");
    const std::string text(bytes.begin(), bytes.end());
    const std::string key = "HeaderFilterRegex: '";
    const size_t start = text.find(key);
    if (start == std::string::npos) {
        return {};
    }
    const size_t end = text.find('\'', start + key.size());
    return text.substr(start + key.size(), end - start - key.size());
}

// Every header as the compiler reaches it: each library's through its
// include root below the build's layers/ folder, the tests' in the tree.
std::vector<std::string> reachedHeaders() {
    std::vector<std::string> headers;
    auto collect = [&headers](const fs::path& root) {
        for (const auto& entry : fs::recursive_directory_iterator(
                 root, fs::directory_options::follow_directory_symlink)) {
            if (entry.path().extension() == ".h") {
                headers.push_back(entry.path().string());
            }
        }
    };
    for (const auto& layer : fs::directory_iterator(VELUMO_BINARY_DIR "/layers")) {
        collect(layer.path());
    }
    collect(VELUMO_SOURCE_DIR "/tests");
    return headers;
}

} // namespace

TEST(HeaderFilter, CoversEveryHeaderOfEveryLibraryAndTest) {
    const std::string pattern = headerFilter();
    ASSERT_FALSE(pattern.empty());
    const std::regex filter(pattern, std::regex::extended);
    const std::vector<std::string> headers = reachedHeaders();
    ASSERT_GT(headers.size(), 50u);
    for (const std::string& header : headers) {
        EXPECT_TRUE(std::regex_search(header, filter)) << header;
    }
    // And it still leaves out what is not Velumo's.
    EXPECT_FALSE(std::regex_search(std::string("/usr/include/SDL2/SDL.h"), filter));
    EXPECT_FALSE(std::regex_search(
        std::string(VELUMO_BINARY_DIR "/velumo_app_autogen/include/ui_Main.h"), filter));
}
