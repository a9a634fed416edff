#include "playlist/ProgramFiles.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

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
    return locate(program, envValue("XDG_DATA_HOME"), envValue("HOME"), installDirectory());
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
    // An installed copy: the user's data directory instead. A relative
    // XDG_DATA_HOME is invalid by the base-directory rules and is ignored.
    if (!xdgDataHome.empty() && xdgDataHome.front() == '/') {
        files.dataDir = joinPath(xdgDataHome, "velumo");
    } else if (!home.empty() && home.front() == '/') {
        files.dataDir = joinPath(home, ".local/share/velumo");
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
    return joinPath(dataDir, fileNameOf(program) + ".ini");
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
    return joinPath(dataDir, "_temp.wav");
}

bool ProgramFiles::ensureDataDirectory() const {
    std::error_code error;
    std::filesystem::create_directories(dataDir, error);
    return std::filesystem::is_directory(dataDir, error);
}
