// The audio list of the main window: adding, removing and ordering rows, the
// three list modes and the stored list.

#include "app/MainWindow.h"

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
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>

namespace {

constexpr const char* kAudioFilter =
    "Audio Files (*.wav,*.mp3,*.wma,*.flac,*.ogg,*.oga,*.opus,*.m4a)|"
    "*.wav;*.mp3;*.wma;*.flac;*.ogg;*.oga;*.opus;*.m4a|Wave Files (*.wav)|*.wav|"
    "Mp3 Files(*.mp3)|*.mp3|Windows Media Files (*.wma)|*.wma|FLAC Files (*.flac)|*.flac|"
    "Ogg Files (*.ogg,*.oga,*.opus)|*.ogg;*.oga;*.opus|M4A Files (*.m4a)|*.m4a||";

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

// Why a file of a known kind was not added; the texts are shown after the
// file's path.
constexpr const char* kNotWaveProblem = "not a WAVE file that can be read";
constexpr const char* kUnknownFormatProblem = "not in a known format, or damaged";
constexpr const char* kNoDecoderProblem = "its audio is in a form that cannot be decoded";
constexpr const char* kNoAudioProblem = "it holds no audio";
constexpr const char* kUnreadableProblem = "it cannot be read";

constexpr const char* kNotAddedMessage = "These files were not added to the list:\n";
// More files than this are counted rather than named.
constexpr size_t kNotAddedNamed = 10;

// What Add Audio Files learns of one file; any thread.
struct ProbedFile {
    bool usable = false;
    // Why a file that was read is not usable; null when it is, or when it
    // is skipped without a word (not a regular readable file, an unknown
    // extension).
    const char* problem = nullptr;
    int64_t length = 0;
    int64_t seconds = 0;
};

const char* mediaProblem(int32_t result) {
    switch (result) {
    case kMediaInvalidFormat:
        return kUnknownFormatProblem;
    case kMediaNoDecoder:
        return kNoDecoderProblem;
    case kMediaUnexpected:
        return kNoAudioProblem;
    default:
        return kUnreadableProblem;
    }
}

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
    // A file that does not decode would be a silent row of 00:00: it is
    // left out and named instead.
    double duration = 0.0;
    if (kind == FileKind::Wave) {
        WaveStream stream;
        if (!stream.LoadWave(path.c_str())) {
            probed.problem = kNotWaveProblem;
            return probed;
        }
        duration = stream.GetDuration();
    } else {
        WmaStream stream;
        const int32_t result = stream.Open(path.c_str());
        if (result < 0) {
            probed.problem = mediaProblem(result);
            return probed;
        }
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
    return model.rows().text(row, column);
}

bool MainWindow::addRow(const std::string& name, int64_t seconds, int64_t sizeBytes,
                        const std::string& path) {
    return addRow(PlayRow::namedFile(name, path, seconds, sizeBytes));
}

bool MainWindow::addRow(const PlayRow& added) {
    for (const PlayRow& row : model.rows().all()) {
        if (sameText(row.path, added.path) && sameText(row.name, added.name)) {
            return false;
        }
    }
    PlayRow row = added;
    row.mark.clear();
    model.rows().append({std::move(row)});
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
            probed[i] = {file.usable, file.problem, file.length, file.seconds};
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
    std::vector<NotAddedFile> notAdded;
    const int added = addFilesQuietly(paths, notAdded);
    if (!notAdded.empty()) {
        showMessage(notAddedMessage(notAdded));
    }
    return added;
}

int MainWindow::addFilesQuietly(const std::vector<std::string>& paths,
                                std::vector<NotAddedFile>& notAdded) {
    std::vector<ProbedFileInfo> probed(paths.size());
    size_t count = paths.size();
    if (paths.size() < kProbeInBackgroundFrom) {
        for (size_t i = 0; i < paths.size(); ++i) {
            const ProbedFile file = probeFile(paths[i]);
            probed[i] = {file.usable, file.problem, file.length, file.seconds};
        }
    } else {
        count = probeWhileAnswering(paths, probed);
    }

    // One pass over the rows there are, then one look per file: the check
    // stays linear however many files come at once.
    std::unordered_set<std::string> seen;
    seen.reserve(static_cast<size_t>(model.rows().count()) + count);
    for (const PlayRow& row : model.rows().all()) {
        seen.insert(duplicateKey(row.name, row.path));
    }
    std::vector<PlayRow> rows;
    for (size_t i = 0; i < count; ++i) {
        if (!probed[i].usable) {
            if (probed[i].problem != nullptr) {
                notAdded.push_back({paths[i], probed[i].problem});
            }
            continue;
        }
        PlayRow row = PlayRow::file(paths[i], probed[i].seconds, probed[i].length);
        if (seen.insert(duplicateKey(row.name, row.path)).second) {
            rows.push_back(std::move(row));
        }
    }
    const int added = static_cast<int>(rows.size());
    model.rows().append(std::move(rows));
    return added;
}

std::string notAddedMessage(const std::vector<NotAddedFile>& notAdded) {
    if (notAdded.empty()) {
        return {};
    }
    std::string text = kNotAddedMessage;
    const size_t named = std::min(notAdded.size(), kNotAddedNamed);
    for (size_t i = 0; i < named; ++i) {
        text += notAdded[i].path + ": " + notAdded[i].reason + "\n";
    }
    if (notAdded.size() > named) {
        text += "and " + std::to_string(notAdded.size() - named) + " more\n";
    }
    text.pop_back();
    return text;
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

int MainWindow::selectedRow() const {
    return listView ? listView->GetSelectedRow() : -1;
}

void MainWindow::onRemove() {
    model.rows().remove(selectedRow());
}

void MainWindow::onMoveUp() {
    model.rows().move(selectedRow(), -1);
}

void MainWindow::onMoveDown() {
    model.rows().move(selectedRow(), +1);
}

void MainWindow::removeAllRows() {
    model.rows().clear();
}

int MainWindow::rowCount() const {
    return model.rows().count();
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
    const PlayRow* selected = model.rows().at(selectedRow());
    if (selected == nullptr) {
        return std::nullopt;
    }
    return selected->item();
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
    if (actions.restoreRows) {
        model.rows().restore();
    }
    if (actions.saveRows) {
        model.rows().save();
    }
    if (actions.disableList) {
        if (listView) {
            listView->DeselectAll();
        }
        setListEnabled(false);
    }
    updateDisplay();
}

bool MainWindow::loadStoredList() {
    return listFile.load(files, model.rows());
}

bool MainWindow::storeList() {
    const bool ok = listFile.store(files, model.storedList());
    // Another window's list kept aside: the user learns where it went.
    if (const std::string notice = listFile.takeNotice(); !notice.empty()) {
        showMessage(notice);
    }
    return ok;
}
