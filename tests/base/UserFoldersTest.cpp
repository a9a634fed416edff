// The home and XDG folders: an absolute value is taken, a relative one is
// ignored as the base-directory rules say.

#include "base/UserFolders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

// Sets (or with nothing, unsets) a variable for the life of the object.
class ScopedVariable {
  public:
    ScopedVariable(const char* variable, std::optional<std::string> value) : name(variable) {
        if (const char* old = std::getenv(name)) {
            saved = old;
        }
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedVariable() {
        if (saved) {
            ::setenv(name, saved->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const char* name;
    std::optional<std::string> saved;
};

} // namespace

TEST(UserFolders, AbsoluteValuesAreTakenAndRelativeOnesIgnored) {
    const ScopedVariable home("HOME", "/home/someone");
    struct Case {
        std::optional<std::string> value;
        std::string folder;
    } const cases[] = {
        {"/elsewhere/config", "/elsewhere/config"},
        {"relative/config", "/home/someone/.config"},
        {"", "/home/someone/.config"},
        {std::nullopt, "/home/someone/.config"},
    };
    for (const Case& c : cases) {
        const ScopedVariable config("XDG_CONFIG_HOME", c.value);
        EXPECT_EQ(xdgFolder("XDG_CONFIG_HOME", ".config"), c.folder) << c.value.value_or("unset");
    }
    EXPECT_EQ(homeFolder(), "/home/someone");
    const ScopedVariable relativeHome("HOME", "relative");
    EXPECT_FALSE(homeFolder().starts_with("relative")); // the password database's instead
}
