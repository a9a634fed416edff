#pragma once
// Files dropped on the audio list from a file manager.
//
// The drop's text/uri-list becomes the paths that Add Audio Files is given:
//  - only local files are taken: file: URLs without a host or on this host;
//    every other URL is refused and named back to the user;
//  - a dropped folder gives the supported audio files (playlist/AudioItem.h) inside
//    it and inside its subfolders down to kDropFolderDepth levels below it,
//    each folder's entries in name order (case-insensitive, numbers by
//    value, so "2 b.wav" comes before "10 a.wav"), a subfolder's files in
//    its place in that order. Hidden entries (names beginning with a dot)
//    are skipped, as the file manager hides them; a folder reached a second
//    time (a symbolic link back up the tree) is read only once;
//  - a dropped file is passed on whatever its extension (Add Audio Files
//    skips the ones it does not take); anything that is neither a regular
//    file nor a folder (a pipe, a device) is left out, for opening it could
//    block the window.
// Paths are the file system's bytes: percent-encoded bytes that are not
// UTF-8 stay as they are.
//
// User-interface thread only.

#include <QByteArray>

#include <functional>
#include <string>
#include <vector>

class MainWindow;
class QAbstractItemView;

inline constexpr int kDropFolderDepth = 3;

struct DroppedFiles {
    std::vector<std::string> paths;   // in the order dropped, folders expanded
    std::vector<std::string> refused; // the URLs that are not local files, as dropped
};

// The files of a text/uri-list ("#" lines are comments, lines end in CR LF
// or LF).
DroppedFiles droppedFiles(const QByteArray& uriList);

// The drop handler of the window's list: a drop that brings files switches
// to the file rows and adds the files as Add Audio Files does; refused URLs
// and files that do not decode are named together in one message. A drop
// with no local file changes nothing.
void addDroppedFiles(MainWindow& window, const DroppedFiles& dropped);

// Lets view take drops of URL lists while it is enabled and hands each drop
// to onDrop. Drags of anything else are refused.
void acceptFileDrops(QAbstractItemView* view, std::function<void(const DroppedFiles&)> onDrop);
