#include "playlist/ProgramFiles.h"

#include "base/UserFolders.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

std::string fileNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joinPath(const std::string& dir, const std::string& name) {
    if (!dir.empty() && dir.back() == '/') {
        return dir + name;
    }
    return dir + "/" + name;
}

std::string envValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

} // namespace

std::string ProgramFiles::homeDirectory() {
    return homeFolder();
}

namespace {

// Whether files can be written in dir, creating it (and its parents) if
// needed: the nearest existing folder on its path can be written.
bool canHoldFiles(const std::string& dir) {
    std::filesystem::path path(dir);
    std::error_code error;
    while (!path.empty() && !std::filesystem::exists(path, error)) {
        if (path == path.parent_path()) {
            return false;
        }
        path = path.parent_path();
    }
    return !path.empty() && std::filesystem::is_directory(path, error) &&
           ::access(path.c_str(), W_OK | X_OK) == 0;
}

} // namespace

std::string executablePath() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

ProgramFiles ProgramFiles::current() {
    std::string program = executablePath();
    if (program.empty()) {
        program = "velumo";
    }
    return locate(program, envValue("XDG_DATA_HOME"), homeDirectory(), installDirectory());
}

std::string ProgramFiles::installDirectory() {
#ifdef VELUMO_INSTALL_BINDIR
    return VELUMO_INSTALL_BINDIR;
#else
    return {};
#endif
}

ProgramFiles ProgramFiles::locate(const std::string& programPath, const std::string& xdgDataHome,
                                  const std::string& home, const std::string& installBinDir) {
    ProgramFiles files;
    files.program = programPath;
    files.dataDir = directoryOf(programPath);
    std::error_code error;
    const bool installed = !installBinDir.empty() &&
                           (files.dataDir == installBinDir ||
                            std::filesystem::equivalent(files.dataDir, installBinDir, error));
    if (!installed && ::access(files.dataDir.c_str(), W_OK) == 0) {
        return files;
    }
    // An installed copy, or a folder that cannot be written: the user's
    // data directory instead, the first place in order that can hold the
    // files. A relative XDG_DATA_HOME is invalid by the base-directory rules
    // and is ignored.
    std::vector<std::string> places;
    if (!xdgDataHome.empty() && xdgDataHome.front() == '/') {
        places.push_back(joinPath(xdgDataHome, "velumo"));
    }
    if (!home.empty() && home.front() == '/') {
        places.push_back(joinPath(home, ".local/share/velumo"));
    }
    for (const std::string& place : places) {
        if (canHoldFiles(place)) {
            files.dataDir = place;
            return files;
        }
    }
    // No place can hold them: the first place, where writing then fails and
    // says so. An installed program never gets its files beside it; a
    // program run from a folder of its own keeps that folder as the last
    // resort.
    if (!places.empty()) {
        files.dataDir = places.front();
    } else if (installed) {
        files.dataDir.clear();
    }
    return files;
}

ProgramFiles ProgramFiles::elsewhere(const std::string& programPath,
                                     const std::string& dataDirectory) {
    ProgramFiles files;
    files.program = programPath;
    files.dataDir = dataDirectory;
    return files;
}

ProgramFiles ProgramFiles::inDirectory(const std::string& directory,
                                       const std::string& programName) {
    ProgramFiles files;
    files.program = joinPath(directory, programName);
    files.dataDir = directory;
    return files;
}

std::string ProgramFiles::storedListPath() const {
    return dataDir.empty() ? std::string() : joinPath(dataDir, fileNameOf(program) + ".ini");
}

std::string ProgramFiles::programDirectoryListPath() const {
    const std::string programDir = directoryOf(program);
    std::error_code error;
    if (programDir == dataDir || std::filesystem::equivalent(programDir, dataDir, error)) {
        return {};
    }
    return joinPath(programDir, fileNameOf(program) + ".ini");
}

std::string ProgramFiles::recordedTakePath() const {
    return dataDir.empty() ? std::string() : joinPath(dataDir, "_temp.wav");
}

bool ProgramFiles::ensureDataDirectory() const {
    if (dataDir.empty()) {
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(dataDir, error);
    return std::filesystem::is_directory(dataDir, error);
}
