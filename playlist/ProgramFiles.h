#pragma once
// Where Velumo keeps its files: the stored play list and the recorded take.
//
// A program run from its build folder keeps both next to itself: the list is
// the executable's path with ".ini" appended (velumo.ini), the take is
// "_temp.wav" in the same directory. An installed copy (its directory is the
// directory it was built to be installed in, or cannot be written) keeps
// both in the user's data directory instead: the first of
// $XDG_DATA_HOME/velumo (when XDG_DATA_HOME is an absolute path) and
// <home>/.local/share/velumo that can hold files, where the home is $HOME,
// or the password database's entry when HOME is unset or relative. When
// neither can, the first of them (writing then fails and says so); an
// installed copy with neither has no data directory at all (empty), never
// its own folder. The file names stay the same. Checking the install directory, not only
// whether it is writable, keeps root running /usr/local/bin/velumo from
// writing its list into /usr/local/bin.

#include <string>

class ProgramFiles {
  public:
    // Paths of the running program (its executable from /proc/self/exe and
    // the environment of the process).
    static ProgramFiles current();

    // The same rule for a given executable path and environment values
    // (empty for unset). The program is installed when its directory is
    // installBinDir (empty: none) or cannot be written.
    static ProgramFiles locate(const std::string& programPath, const std::string& xdgDataHome,
                               const std::string& home, const std::string& installBinDir = {});

    // The user's home: $HOME when it is an absolute path, else the password
    // database's entry for the user; empty when neither names one.
    static std::string homeDirectory();

    // The directory the build installs the programs in (the full bindir);
    // empty when the build names none.
    static std::string installDirectory();

    // Every file in dataDirectory (no fallback); for tests and tools.
    static ProgramFiles inDirectory(const std::string& directory,
                                    const std::string& programName = "velumo");
    // The program at programPath with its files in dataDirectory, as locate
    // decides for a program whose directory cannot be written.
    static ProgramFiles elsewhere(const std::string& programPath, const std::string& dataDirectory);

    const std::string& programPath() const { return program; }
    // The directory that holds the stored list and the take; empty when
    // there is none (storedListPath and recordedTakePath are then empty).
    const std::string& dataDirectory() const { return dataDir; }
    // dataDirectory + "/" + the executable's file name + ".ini".
    std::string storedListPath() const;
    // dataDirectory + "/_temp.wav".
    std::string recordedTakePath() const;
    // The list an older run kept next to the program, when the data
    // directory is elsewhere (the program's directory became read-only):
    // read when the data directory holds no list yet. Empty when the data
    // directory is the program's own.
    std::string programDirectoryListPath() const;

    // Creates dataDirectory (and its parents) when missing; true when it
    // exists afterwards. Called before a file is written there.
    bool ensureDataDirectory() const;

  private:
    std::string program;
    std::string dataDir;
};

// The executable's full path from /proc/self/exe; empty when it cannot be read.
std::string executablePath();
