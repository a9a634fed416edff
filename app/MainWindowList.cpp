// The audio list of the main window: adding, removing and ordering rows, the
// three list modes and the stored list.

#include "app/MainWindow.h"
#include "base/FileIo.h"
#include "base/ReplacedFile.h"

#include "controls/BitmapButton.h"
#include "controls/PlayListView.h"
#include "engine/WaveStream.h"
#include "engine/WmaStream.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "player/PlayRow.h"
#include "playlist/AudioItem.h"

#include <QByteArrayView>
#include <QEventLoop>
#include <QProgressDialog>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>

namespace {

constexpr const char* kAudioFilter =
    "Audio Files (*.wav,*.mp3,*.wma)|*.wav;*.mp3;*.wma|Wave Files (*.wav)|*.wav|"
    "Mp3 Files(*.mp3)|*.mp3|Windows Media Files (*.wma)|*.wma||";

// A stored list larger than this is not a list Velumo wrote; reading stops
// there, as at any other damage.
constexpr size_t kStoredListLimit = 64 * 1024 * 1024;

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

// The form of a text under which sameText finds its equals: valid UTF-8
// case-folded, anything else byte for byte (marked apart from the first).
std::string foldedText(const std::string& text) {
    const QByteArrayView bytes(text.data(), static_cast<qsizetype>(text.size()));
    if (!bytes.isValidUtf8()) {
        return '\x02' + text;
    }
    return '\x01' + QString::fromUtf8(bytes).toCaseFolded().toStdString();
}

// The key of a row for the duplicate check: its path and its name.
std::string duplicateKey(const std::string& name, const std::string& path) {
    return foldedText(path) + '\0' + foldedText(name);
}

// What Add Audio Files learns of one file; any thread.
struct ProbedFile {
    bool usable = false;
    int64_t length = 0;
    int64_t seconds = 0;
};

ProbedFile probeFile(const std::string& path) {
    ProbedFile probed;
    const FileKind kind = audioFileKind(path);
    if (kind != FileKind::Wave && !readByMediaReader(kind)) {
        return probed;
    }
    const int64_t length = readableFileLength(path);
    if (length < 0) {
        return probed;
    }
    double duration = 0.0;
    if (kind == FileKind::Wave) {
        WaveStream stream;
        stream.LoadWave(path.c_str());
        duration = stream.GetDuration();
    } else {
        WmaStream stream;
        stream.Open(path.c_str());
        duration = stream.GetDuration();
    }
    probed.usable = true;
    probed.length = length;
    if (duration > 0.0 && duration < 1e12) {
        probed.seconds = static_cast<int64_t>(duration);
    }
    return probed;
}

// From this many files on, Add Audio Files reads them on a worker thread
// while the window goes on answering and shows how far it has come.
constexpr size_t kProbeInBackgroundFrom = 64;

} // namespace

std::string MainWindow::rowText(int row, int column) const {
    return listView ? listView->GetItemText(row, column) : std::string();
}

bool MainWindow::addRow(const std::string& name, int64_t seconds, int64_t sizeBytes,
                        const std::string& path) {
    return addRow(PlayRow::namedFile(name, path, seconds, sizeBytes));
}

bool MainWindow::addRow(const PlayRow& added) {
    if (!listView) {
        return false;
    }
    const int count = listView->GetItemCount();
    for (int row = 0; row < count; ++row) {
        if (sameText(listView->GetItemText(row, 4), added.path) &&
            sameText(listView->GetItemText(row, 1), added.name)) {
            return false;
        }
    }
    const StoredRow texts = added.storedColumns();
    const int row = listView->InsertItem(count, std::string());
    for (int column = 1; column < kStoredColumns; ++column) {
        listView->SetItemText(row, column, texts[static_cast<size_t>(column)]);
    }
    return true;
}

size_t MainWindow::probeWhileAnswering(const std::vector<std::string>& paths,
                                       std::vector<ProbedFileInfo>& probed) {
    std::atomic<size_t> done{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        for (size_t i = 0; i < paths.size() && !stop.load(std::memory_order_relaxed); ++i) {
            const ProbedFile file = probeFile(paths[i]);
            probed[i] = {file.usable, file.length, file.seconds};
            done.store(i + 1, std::memory_order_release);
        }
        finished.store(true, std::memory_order_release);
    });

    const int total = static_cast<int>(std::min<size_t>(paths.size(), INT_MAX));
    QProgressDialog progress(QStringLiteral("Adding audio files..."), QStringLiteral("Cancel"), 0,
                             total, this);
    progress.setWindowTitle(QStringLiteral("Add Audio Files"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    // Cancel, Escape and a stop request (which ends the modal dialogs above
    // the window) all end the reading; the files read so far are added.
    connect(&progress, &QProgressDialog::canceled, this, [&stop] { stop = true; });
    connect(&progress, &QDialog::finished, this, [&stop] { stop = true; });

    QEventLoop loop;
    QTimer tick;
    tick.setInterval(50);
    connect(&tick, &QTimer::timeout, this, [&] {
        if (finished.load(std::memory_order_acquire)) {
            loop.quit();
            return;
        }
        if (progress.wasCanceled()) {
            stop = true;
        }
        progress.setValue(static_cast<int>(done.load(std::memory_order_acquire)));
    });
    tick.start();
    if (!finished.load(std::memory_order_acquire)) {
        loop.exec();
    }
    tick.stop();
    stop = true;
    worker.join();
    return done.load(std::memory_order_acquire);
}

int MainWindow::addFiles(const std::vector<std::string>& paths) {
    if (!listView) {
        return 0;
    }
    std::vector<ProbedFileInfo> probed(paths.size());
    size_t count = paths.size();
    if (paths.size() < kProbeInBackgroundFrom) {
        for (size_t i = 0; i < paths.size(); ++i) {
            const ProbedFile file = probeFile(paths[i]);
            probed[i] = {file.usable, file.length, file.seconds};
        }
    } else {
        count = probeWhileAnswering(paths, probed);
    }

    // One pass over the rows there are, then one look per file: the check
    // stays linear however many files come at once.
    std::unordered_set<std::string> seen;
    const int existing = listView->GetItemCount();
    seen.reserve(static_cast<size_t>(existing) + count);
    for (int row = 0; row < existing; ++row) {
        seen.insert(duplicateKey(listView->GetItemText(row, 1), listView->GetItemText(row, 4)));
    }
    std::vector<StoredRow> rows;
    for (size_t i = 0; i < count; ++i) {
        if (!probed[i].usable) {
            continue;
        }
        const PlayRow row = PlayRow::file(paths[i], probed[i].seconds, probed[i].length);
        if (seen.insert(duplicateKey(row.name, row.path)).second) {
            rows.push_back(row.storedColumns());
        }
    }
    listView->AppendRows(rows);
    return static_cast<int>(rows.size());
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

int MainWindow::rowCount() const {
    return listView ? listView->GetItemCount() : 0;
}

int MainWindow::rowOfPath(const std::string& path) const {
    const int count = rowCount();
    for (int row = 0; row < count; ++row) {
        if (rowText(row, 4) == path) {
            return row;
        }
    }
    return -1;
}

void MainWindow::selectRow(int row) {
    model.setCurrentRow(row);
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
    const PlayerModel::ModeSwitch actions = model.setListMode(mode);
    if (actions.resetPlayer) {
        resetPlayer();
    }
    if (listView && actions.restoreRows) {
        listView->RestoreRows();
    }
    if (listView && actions.saveRows) {
        listView->SaveRows();
    }
    if (actions.disableList) {
        if (listView) {
            listView->DeselectAll();
        }
        setListEnabled(false);
    }
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
    // What this window read: a later store by another window shows as a
    // change of it.
    listStamp = FileStamp::of(path);
    RegularFileContents contents = readRegularFile(path.c_str(), kStoredListLimit);
    if (contents.missing && !files.programDirectoryListPath().empty()) {
        // The list of a run from before the program's directory became
        // read-only; the next store writes it to the data directory.
        path = files.programDirectoryListPath();
        contents = readRegularFile(path.c_str(), kStoredListLimit);
    }
    if (contents.missing) {
        return false;
    }
    if (!contents.ok) {
        // A list that is there but cannot be read (another owner, a FIFO, a
        // folder) may hold the user's rows: it is never stored over.
        if (path == files.storedListPath()) {
            unreadableListPath = path;
        }
        std::fprintf(stderr,
                     "velumo: cannot read the stored list %s: %s; it is left as it is and this "
                     "session's list is stored as %s\n",
                     path.c_str(), contents.problem.c_str(), sessionListPath().c_str());
        return false;
    }
    const int before = listView->GetItemCount();
    const bool complete = listView->Serialize(contents.bytes) && !contents.truncated;
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

std::string MainWindow::sessionListPath() const {
    return files.storedListPath() + ".session";
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
    // A list that could not be read at start is left as it is.
    const std::string path =
        unreadableListPath.empty() ? files.storedListPath() : sessionListPath();
    if (!files.ensureDataDirectory()) {
        storeProblem = files.dataDirectory().empty()
                           ? std::string("there is no folder for it (neither HOME nor "
                                         "XDG_DATA_HOME names one)")
                           : "the folder " + files.dataDirectory() + " cannot be created";
        std::fprintf(stderr, "velumo: cannot store the list: %s\n", storeProblem.c_str());
        return false;
    }
    if (path == files.storedListPath()) {
        keepListOfAnotherWindow();
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
        storeProblem = path + ": " + replacement.problem();
        std::fprintf(stderr, "velumo: cannot write the stored list %s\n", storeProblem.c_str());
    }
    if (ok && path == files.storedListPath()) {
        listStamp = FileStamp::of(path);
    }
    return ok;
}

MainWindow::FileStamp MainWindow::FileStamp::of(const std::string& path) {
    FileStamp stamp;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        stamp.exists = true;
        stamp.device = static_cast<uint64_t>(info.st_dev);
        stamp.inode = static_cast<uint64_t>(info.st_ino);
        stamp.size = static_cast<int64_t>(info.st_size);
        stamp.modified = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 +
                         static_cast<int64_t>(info.st_mtim.tv_nsec);
    }
    return stamp;
}

void MainWindow::keepListOfAnotherWindow() {
    const std::string path = files.storedListPath();
    const FileStamp now = FileStamp::of(path);
    if (!now.exists || now == listStamp) {
        return;
    }
    // Another window (or another program) stored the list after this one
    // read it: its rows are not this window's to throw away.
    const std::string copy = otherWindowListPath();
    std::error_code error;
    std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing,
                               error);
    if (error) {
        std::fprintf(stderr, "velumo: cannot keep the list stored by another window %s as %s: %s\n",
                     path.c_str(), copy.c_str(), error.message().c_str());
        return;
    }
    listStamp = now;
    showMessage("The play list " + path +
                " was changed by another Velumo window after this one read it.\nThat list is "
                "kept as " +
                copy + "; this window's list is stored as " + path + ".");
}

std::string MainWindow::otherWindowListPath() const {
    return files.storedListPath() + ".other";
}
