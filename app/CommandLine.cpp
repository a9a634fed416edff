#include "app/CommandLine.h"

#include <cstring>
#include <filesystem>
#include <system_error>

const char* const kCommandLineUsage =
    "usage: velumo [--cd IMAGE-OR-DEVICE]... [FILE]...\n"
    "  FILE       an audio file to add to the list; the first one is played.\n"
    "             When Velumo is already running, the files go to its window\n"
    "  --cd PATH  a disc image (CUE sheet or cdrdao TOC) or a CD device that CD\n"
    "             Refresh reads before the machine's own drives; may be repeated\n";

namespace {

std::string absolutePath(const char* argument) {
    std::string path = argument;
    while (path.size() > 2 && path.compare(0, 2, "./") == 0) {
        path.erase(0, 2);
    }
    if (path.front() == '/') {
        return path;
    }
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    // Without a current directory (it was removed) the path stays as given:
    // opening it then fails as it would have anyway.
    return error ? path : absolute.string();
}

} // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (argument[0] == '\0') {
            continue; // an empty file name names nothing
        }
        if (optionsEnded || argument[0] != '-') {
            line.files.push_back(absolutePath(argument));
        } else if (std::strcmp(argument, "--") == 0) {
            optionsEnded = true;
        } else if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            line.help = true;
        } else if (std::strcmp(argument, "--cd") == 0 && i + 1 < argc) {
            line.discs.emplace_back(argv[++i]);
        } else if (std::strncmp(argument, "--cd=", 5) == 0 && argument[5] != '\0') {
            line.discs.emplace_back(argument + 5);
        } else if (line.unknown.empty()) {
            line.unknown = argument;
        }
    }
    return line;
}
