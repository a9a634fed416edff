#pragma once
// The user's folders as the XDG base-directory rules find them. Read from
// the environment at each call; start-up code only (getenv).

#include <string>

// $HOME when it is an absolute path, else the password database's home
// folder when that is one; "" when neither is.
std::string homeFolder();

// An XDG base folder: the variable's value when it is an absolute path (a
// relative one is invalid by the rules and ignored), else underHome below
// homeFolder() (".config" gives "$HOME/.config").
std::string xdgFolder(const char* variable, const char* underHome);
