#pragma once
// The one way the program asks the user for files to open or a file to save.
//
// Shaped like platform/MessageBox.h: whoever runs the program installs how the
// question is shown (the main window installs Qt file dialogs, tests install
// hooks that return chosen paths). With nothing installed every request is
// answered as cancelled.
//
// Filters are written as "description|patterns|description|patterns||", the
// patterns of one entry separated by ';' (for example
// "Wave Files (*.wav)|*.wav|Mp3 Files(*.mp3)|*.mp3||"); filter indexes count
// from 1.

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct OpenFilesRequest {
    std::string title; // "" for the dialog's default
    std::string filter;
    int filterIndex = 1;
    std::string initialDirectory; // "" for the dialog's default
    bool multipleSelection = true;
    bool fileMustExist = true;
};

struct SaveFileRequest {
    std::string title;
    std::string filter;
    int filterIndex = 1;
    std::string initialDirectory;
    std::string proposedName;     // file name offered in the dialog
    std::string defaultExtension; // appended when the typed name has none ("" for none)
    bool overwritePrompt = true;  // ask before replacing an existing file
};

// Full paths in the order chosen; empty when cancelled.
using OpenFilesHandler = std::function<std::vector<std::string>(const OpenFilesRequest&)>;
// The full path chosen, or nothing when cancelled.
using SaveFileHandler = std::function<std::optional<std::string>(const SaveFileRequest&)>;

// Install a handler and return the one it replaces (empty for the default).
OpenFilesHandler setOpenFilesHandler(OpenFilesHandler handler);
SaveFileHandler setSaveFileHandler(SaveFileHandler handler);

// Ask through the installed handler. The handler runs on the caller's thread.
std::vector<std::string> openFiles(const OpenFilesRequest& request);
std::optional<std::string> saveFile(const SaveFileRequest& request);

// The entries of a filter text as (description, patterns) pairs, patterns
// still separated by ';'. An entry without patterns is dropped.
std::vector<std::pair<std::string, std::string>> parseFileFilter(const std::string& filter);
