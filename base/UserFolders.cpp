#include "base/UserFolders.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

std::string homeFolder() {
    if (const char* value = std::getenv("HOME"); value != nullptr && value[0] == '/') {
        return value;
    }
    const passwd* entry = ::getpwuid(::getuid());
    if (entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/') {
        return entry->pw_dir;
    }
    return {};
}

std::string xdgFolder(const char* variable, const char* underHome) {
    if (const char* value = std::getenv(variable); value != nullptr && value[0] == '/') {
        return value;
    }
    return homeFolder() + "/" + underHome;
}
