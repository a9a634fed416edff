#pragma once
// The stored play list on disk (velumo.ini in the data directory): reading
// it into the rows at start and storing the rows over it when the window
// closes, without ever losing a list.
//  - A list that ends early or is malformed keeps the rows read in full;
//    the next store first keeps the damaged file as "<list>.damaged".
//  - A list that exists but cannot be read as a regular file (no
//    permission, a FIFO, a folder) is never stored over: the rows go to
//    "<list>.session" instead.
//  - A store writes a temporary file beside the list and renames it over
//    the list only once complete; temporaries of a store that never
//    finished are removed at the next read.
//  - When another window stored the list after this one read it, that
//    list is kept as "<list>.other" first, and notice() says so.
//  - With no list in the data directory, a list an older run kept next to
//    the program is read instead.
// Problems are also written to standard error.
//
// Usage:
//   StoredListFile list;
//   list.load(files, rows);
//   if (!list.store(files, rows.encoded())) { show(list.problem()); }
//
// User-interface thread only (the owner's thread).

#include "player/PlayRows.h"
#include "playlist/ProgramFiles.h"

#include <cstdint>
#include <string>
#include <vector>

class StoredListFile {
  public:
    // Reads the stored list into rows (ahead of the rows there are). False
    // when it is missing, unreadable, or damaged.
    bool load(const ProgramFiles& files, PlayRows& rows);
    // Writes bytes (a stored list) as described above; false when they
    // could not be written, and problem() says which file and why.
    bool store(const ProgramFiles& files, const std::vector<uint8_t>& bytes);

    // Why the last store failed.
    const std::string& problem() const { return storeProblem; }
    // What the user should be told of the last store (another window's
    // list kept aside); empty when nothing. Taken once.
    std::string takeNotice();

    static std::string sessionPath(const ProgramFiles& files);
    static std::string otherWindowPath(const ProgramFiles& files);

  private:
    // Which file the stored list was, to notice a store by another window.
    struct FileStamp {
        bool exists = false;
        uint64_t device = 0;
        uint64_t inode = 0;
        int64_t size = 0;
        int64_t modified = 0; // nanoseconds
        static FileStamp of(const std::string& path);
        bool operator==(const FileStamp&) const = default;
    };

    bool readInto(const std::string& path, const ProgramFiles& files, PlayRows& rows);
    void keepDamagedList(const ProgramFiles& files);
    void keepListOfAnotherWindow(const ProgramFiles& files);
    bool noDataDirectory(const ProgramFiles& files);

    // The stored list that exists but could not be read at start; never
    // stored over.
    std::string unreadablePath;
    // The stored list read at start when it was damaged, until kept.
    std::string damagedPath;
    // The stored list as last read or stored.
    FileStamp stamp;
    std::string storeProblem;
    std::string pendingNotice;
};
