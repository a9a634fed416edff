// The audio list of the main window: adding, removing and ordering rows, the
// three list modes and the stored list.

#include "app/MainWindow.h"
#include "base/ReplacedFile.h"

#include "controls/BitmapButton.h"
#include "controls/PlayListView.h"
#include "engine/WaveStream.h"
#include "engine/WmaStream.h"
#include "platform/FileDialog.h"
#include "playlist/AudioItem.h"

#include <QByteArrayView>
#include <QString>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kAudioFilter =
    "Audio Files (*.wav,*.mp3,*.wma)|*.wav;*.mp3;*.wma|Wave Files (*.wav)|*.wav|"
    "Mp3 Files(*.mp3)|*.mp3|Windows Media Files (*.wma)|*.wma||";

// A stored list larger than this is not a list Velumo wrote; reading stops
// there, as at any other damage.
constexpr off_t kStoredListLimit = 64 * 1024 * 1024;

// Equal without regard to case. Texts that are not valid UTF-8 (file names
// are bytes) are equal only byte for byte: decoded, two different names
// would both read as replacement characters.
bool sameText(const std::string& a, const std::string& b) {
    if (a == b) {
        return true;
    }
    const QByteArrayView bytesA(a.data(), static_cast<qsizetype>(a.size()));
    const QByteArrayView bytesB(b.data(), static_cast<qsizetype>(b.size()));
    if (!bytesA.isValidUtf8() || !bytesB.isValidUtf8()) {
        return false;
    }
    return QString::fromUtf8(bytesA).compare(QString::fromUtf8(bytesB), Qt::CaseInsensitive) == 0;
}

// The length of a regular file that can be opened for reading, or -1.
// Opened without blocking: a pipe named like an audio file would otherwise
// hold the window until something writes to it.
int64_t readableFileLength(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return regular ? static_cast<int64_t>(info.st_size) : -1;
}

} // namespace

std::string MainWindow::rowText(int row, int column) const {
    return listView ? listView->GetItemText(row, column) : std::string();
}

bool MainWindow::addRow(const std::string& name, int64_t seconds, int64_t sizeBytes,
                        const std::string& path) {
    if (!listView) {
        return false;
    }
    const int count = listView->GetItemCount();
    for (int row = 0; row < count; ++row) {
        if (sameText(listView->GetItemText(row, 4), path) &&
            sameText(listView->GetItemText(row, 1), name)) {
            return false;
        }
    }
    if (seconds < 0) {
        seconds = 0;
    }
    if (sizeBytes < 0) {
        sizeBytes = 0;
    }
    char time[32];
    std::snprintf(time, sizeof time, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    char size[32];
    std::snprintf(size, sizeof size, "%lld KB", static_cast<long long>(sizeBytes / 1024));

    const int row = listView->InsertItem(count, std::string());
    listView->SetItemText(row, 1, name);
    listView->SetItemText(row, 2, time);
    listView->SetItemText(row, 3, size);
    listView->SetItemText(row, 4, path);
    return true;
}

int MainWindow::addFiles(const std::vector<std::string>& paths) {
    int added = 0;
    for (const std::string& path : paths) {
        const auto slash = path.rfind('/');
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        const FileKind kind = fileKind(path, ExtensionRule::AfterLastDot);

        const int64_t length = readableFileLength(path);
        if (length < 0) {
            continue;
        }
        double duration = 0.0;
        if (kind == FileKind::Wave) {
            WaveStream stream;
            stream.LoadWave(path.c_str());
            duration = stream.GetDuration();
        } else if (readByMediaReader(kind)) {
            WmaStream stream;
            stream.Open(path.c_str());
            duration = stream.GetDuration();
        } else {
            continue;
        }
        int64_t seconds = 0;
        if (duration > 0.0 && duration < 1e12) {
            seconds = static_cast<int64_t>(duration);
        }
        if (addRow(name, seconds, length, path)) {
            ++added;
        }
    }
    return added;
}

void MainWindow::onAddFiles() {
    setListMode(kListFiles);
    OpenFilesRequest request;
    request.filter = kAudioFilter;
    request.multipleSelection = true;
    request.fileMustExist = true;
    const std::vector<std::string> paths = openFiles(request);
    if (!paths.empty()) {
        addFiles(paths);
    }
}

void MainWindow::onRemove() {
    if (!listView) {
        return;
    }
    const int row = listView->GetSelectedRow();
    if (row >= 0) {
        listView->DeleteItem(row);
    }
}

void MainWindow::onMoveUp() {
    if (listView) {
        const int row = listView->GetSelectedRow();
        if (row >= 0) {
            listView->SwapRows(row, row - 1);
        }
    }
}

void MainWindow::onMoveDown() {
    if (listView) {
        const int row = listView->GetSelectedRow();
        if (row >= 0) {
            listView->SwapRows(row, row + 1);
        }
    }
}

void MainWindow::removeAllRows() {
    if (listView) {
        listView->DeleteAllItems();
    }
}

void MainWindow::selectRow(int row) {
    currentIndex = row;
    if (listView) {
        listView->SelectRow(row);
    }
}

std::optional<std::string> MainWindow::selectedItem() const {
    const int selected = listView ? listView->GetSelectedRow() : -1;
    if (selected < 0) {
        return std::nullopt;
    }
    return rowItem(rowText(selected, 1), rowText(selected, 4));
}

void MainWindow::onClearAll() {
    removeAllRows();
    updateDisplay();
}

void MainWindow::setListEnabled(bool enabled) {
    if (listView) {
        listView->setEnabled(enabled);
    }
    for (BitmapButton* button :
         {moveDownButton, moveUpButton, removeButton, clearAllButton, repeatButton}) {
        if (button) {
            button->setEnabled(enabled);
        }
    }
}

void MainWindow::setListMode(int mode) {
    if (mode == kListFiles && listMode != kListFiles) {
        resetPlayer();
        currentIndex = -1;
        if (listView) {
            listView->RestoreRows();
        }
        fileRowsShown = true;
    } else if (mode == kListCdTracks && listMode != kListCdTracks) {
        resetPlayer();
        currentIndex = -1;
        // Only file rows are saved: recording that began in the CD mode
        // shows CD rows, and saving those would lose the file rows for good.
        if (listView && fileRowsShown) {
            listView->SaveRows();
        }
        fileRowsShown = false;
    } else if (mode == kListRecording) {
        if (listMode == kListFiles) {
            currentIndex = -1;
            if (listView) {
                listView->SaveRows();
            }
        }
        if (listView) {
            listView->DeselectAll();
        }
        setListEnabled(false);
    }
    listMode = mode;
    updateDisplay();
}

void MainWindow::removeLeftoverListFiles() const {
    // A store that was killed leaves its temporary file, under a name no
    // user would choose; files the user keeps beside the list stay.
    ReplacedFile::removeLeftoverTemporaries(files.dataDirectory());
}

bool MainWindow::loadStoredList() {
    if (!listView) {
        return false;
    }
    removeLeftoverListFiles();
    std::string path = files.storedListPath();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && !files.programDirectoryListPath().empty()) {
        // The list of a run from before the program's directory became
        // read-only; the next store writes it to the data directory.
        path = files.programDirectoryListPath();
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) {
        return false;
    }
    std::vector<uint8_t> bytes;
    struct stat info {};
    bool readFailed = ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode);
    if (!readFailed) {
        const off_t wanted = info.st_size < kStoredListLimit ? info.st_size : kStoredListLimit;
        bytes.resize(static_cast<size_t>(wanted));
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                readFailed = n < 0;
                break;
            }
            done += static_cast<size_t>(n);
        }
        bytes.resize(done);
    }
    ::close(fd);
    if (readFailed) {
        std::fprintf(stderr, "velumo: cannot read the stored list %s\n", path.c_str());
        return false;
    }
    const int before = listView->GetItemCount();
    const bool complete = listView->Serialize(bytes);
    // The rows past the damage are not lost without a trace: the next store
    // keeps the file it read.
    damagedListPath = complete ? std::string() : path;
    if (!complete) {
        std::fprintf(stderr,
                     "velumo: the stored list %s is damaged; kept the %d rows before the damage\n",
                     path.c_str(), listView->GetItemCount() - before);
    }
    return complete;
}

void MainWindow::keepDamagedList() {
    // One copy, beside the list being stored; an older copy is replaced.
    const std::string copy = files.storedListPath() + ".damaged";
    std::error_code error;
    std::filesystem::copy_file(damagedListPath, copy,
                               std::filesystem::copy_options::overwrite_existing, error);
    if (error) {
        std::fprintf(stderr, "velumo: cannot keep the damaged list %s as %s: %s\n",
                     damagedListPath.c_str(), copy.c_str(), error.message().c_str());
        return; // tried once; the store goes on
    }
    std::fprintf(stderr, "velumo: the damaged list %s was kept as %s\n", damagedListPath.c_str(),
                 copy.c_str());
    damagedListPath.clear();
}

bool MainWindow::storeList() {
    if (!listView) {
        return false;
    }
    // While CD tracks or the recording are shown, the user's list is the
    // saved copy of the file rows: that is what the next start must find.
    std::optional<std::vector<uint8_t>> saved;
    if (listMode != kListFiles) {
        saved = listView->SerializeSavedRows();
    }
    const std::vector<uint8_t> bytes = saved ? std::move(*saved) : listView->Serialize();
    const std::string path = files.storedListPath();
    if (!files.ensureDataDirectory()) {
        std::fprintf(stderr, "velumo: cannot create %s\n", files.dataDirectory().c_str());
        return false;
    }
    // Written beside the list and renamed over it only once complete, so a
    // crash or a full disk leaves the previous list intact.
    ReplacedFile replacement;
    bool ok = replacement.open(path) && replacement.writeAll(bytes);
    if (ok && !damagedListPath.empty()) {
        keepDamagedList();
    }
    ok = ok && replacement.commit();
    if (!ok) {
        std::fprintf(stderr, "velumo: cannot write the stored list %s: %s\n", path.c_str(),
                     replacement.problem().c_str());
    }
    return ok;
}
