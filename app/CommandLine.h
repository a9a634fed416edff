#pragma once
// What `velumo` is asked to do by its arguments (after Qt has taken its own
// options out):
//   velumo [--cd IMAGE-OR-DEVICE]... [FILE]... [-- FILE...]
// Every argument that does not begin with '-' is a file to add and play,
// and so is every argument after "--". An unknown option is an error.
//
// Any thread; no Qt.

#include <string>
#include <vector>

struct CommandLine {
    bool help = false;
    std::vector<std::string> discs; // --cd, in the order given
    std::vector<std::string> files; // absolute paths, in the order given
    // The first argument that is not understood; empty when all were.
    std::string unknown;
};

extern const char* const kCommandLineUsage;

// Reads argv[1..argc). Relative file paths are made absolute against the
// current directory, so that they keep their meaning when handed to another
// process or stored in the list.
CommandLine parseCommandLine(int argc, const char* const* argv);
