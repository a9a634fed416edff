#pragma once
// The folders the file dialogs open in, remembered between runs.
//
// Each kind of dialog keeps its own folder: the folder music is added from
// and the folder converted files are saved to are seldom the same, and a
// conversion saved elsewhere should not move the next Add Audio Files away
// from the music. A dialog opens in the folder of the last file chosen in
// it; the first time, or when that folder has gone, it opens in the user's
// music folder (XDG_MUSIC_DIR of user-dirs.dirs, as xdg-user-dir reports
// it) when that is an existing folder other than the home folder, and
// otherwise in the home folder.
//
// The folders are kept in "dialog-folders" in $XDG_CONFIG_HOME/velumo/
// (~/.config/velumo/ when that variable is unset or not an absolute path),
// a file of their own: one "kind=folder" line a kind, the folder as the file
// system's bytes. The stored list is never touched.
//
// Any thread; the file is read on each question and rewritten (through a
// temporary file renamed over it) on each change.

#include <string>

enum class DialogKind {
    AddFiles,     // the open dialog of Add Audio Files
    SaveConverted // the save dialog of Convert
};

class DialogFolders {
  public:
    // configHome: the user's configuration folder ($XDG_CONFIG_HOME);
    // home: the home folder. Both absolute.
    DialogFolders(std::string configHome, std::string home);
    // From $XDG_CONFIG_HOME and $HOME (the password database when HOME is
    // unset).
    static DialogFolders fromEnvironment();

    // The folder a dialog of kind opens in: the remembered one while it
    // exists, else the default.
    std::string folder(DialogKind kind) const;
    // Remembers folder for kind. False when it could not be written (the
    // reason goes to standard error) or folder is not an absolute path
    // that a line can hold.
    bool remember(DialogKind kind, const std::string& folder) const;

    // The user's music folder when it exists and is not home, else home.
    std::string defaultFolder() const;
    // $XDG_CONFIG_HOME/velumo/dialog-folders
    std::string settingsPath() const;

  private:
    std::string rememberedFolder(DialogKind kind) const;

    std::string configHome;
    std::string home;
};
