#include "app/DroppedFiles.h"

#include "app/MainWindow.h"
#include "platform/MessageBox.h"
#include "player/PlayRow.h"

#include <QAbstractItemView>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QSysInfo>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <utility>

namespace {

constexpr const char* kUriListType = "text/uri-list";
constexpr const char* kRefusedMessage =
    "Only files on this computer can be added to the list. Not added:\n";
// More refused URLs than this are counted rather than named.
constexpr size_t kRefusedNamed = 10;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char folded(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// Negative, 0 or positive as a sorts before, with or after b: letters
// without regard to (ASCII) case, runs of digits by their value.
int compareNames(const std::string& a, const std::string& b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            while (i < a.size() && a[i] == '0') {
                ++i;
            }
            while (j < b.size() && b[j] == '0') {
                ++j;
            }
            size_t endA = i;
            size_t endB = j;
            while (endA < a.size() && isDigit(a[endA])) {
                ++endA;
            }
            while (endB < b.size() && isDigit(b[endB])) {
                ++endB;
            }
            if (endA - i != endB - j) {
                return endA - i < endB - j ? -1 : 1;
            }
            if (const int c = a.compare(i, endA - i, b, j, endB - j); c != 0) {
                return c;
            }
            i = endA;
            j = endB;
            continue;
        }
        const char ca = folded(a[i]);
        const char cb = folded(b[j]);
        if (ca != cb) {
            return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
        }
        ++i;
        ++j;
    }
    return (i < a.size()) - (j < b.size());
}

bool nameBefore(const std::string& a, const std::string& b) {
    const int c = compareNames(a, b);
    return c != 0 ? c < 0 : a < b; // equal names ("01" and "1") in byte order
}

bool isSupportedAudio(const std::string& name) {
    return audioFileKind(name) != FileKind::Other;
}

using FolderId = std::pair<dev_t, ino_t>;

// Appends the supported files of folder and of its subfolders down to
// kDropFolderDepth levels below the dropped one (depth 0).
void addFolder(const std::string& folder, int depth, std::set<FolderId>& seen,
               std::vector<std::string>& paths) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        !seen.insert({info.st_dev, info.st_ino}).second) {
        return;
    }
    std::vector<std::string> names;
    {
        const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
        if (!dir) {
            return;
        }
        while (const dirent* entry = ::readdir(dir.get())) {
            if (entry->d_name[0] != '.') {
                names.emplace_back(entry->d_name);
            }
        }
    }
    std::sort(names.begin(), names.end(), nameBefore);
    const std::string prefix = folder == "/" ? folder : folder + "/";
    for (const std::string& name : names) {
        const std::string path = prefix + name;
        // stat follows symbolic links: a linked folder is read like any
        // other, and the set of folders seen stops a loop.
        if (::stat(path.c_str(), &info) != 0) {
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            if (depth < kDropFolderDepth) {
                addFolder(path, depth + 1, seen, paths);
            }
        } else if (S_ISREG(info.st_mode) && isSupportedAudio(name)) {
            paths.push_back(path);
        }
    }
}

// The URL of one line of a uri-list. Bytes that a URL may not hold (a file
// manager may leave UTF-8 or other bytes unencoded) are percent-encoded
// first, so that decoding the path gives back the very bytes.
QUrl urlOf(const QByteArray& line) {
    QByteArray encoded;
    encoded.reserve(line.size());
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) {
            encoded += '%';
            encoded += QByteArray::number(byte, 16).rightJustified(2, '0').toUpper();
        } else {
            encoded += c;
        }
    }
    return QUrl::fromEncoded(encoded);
}

bool onThisHost(const QUrl& url) {
    const QString host = url.host();
    return host.isEmpty() || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
           host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0;
}

// The drag and drop events of a view's viewport, which is where a list view
// receives them.
class FileDropFilter : public QObject {
  public:
    FileDropFilter(QAbstractItemView* view, std::function<void(const DroppedFiles&)> onDrop)
        : QObject(view), list(view), handler(std::move(onDrop)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(event);
            if (takes(drag)) {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
            } else {
                drag->ignore();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            if (!takes(drop)) {
                drop->ignore();
                return true;
            }
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            const DroppedFiles dropped = droppedFiles(drop->mimeData()->data(kUriListType));
            if (handler) {
                handler(dropped);
            }
            return true;
        }
        default:
            return QObject::eventFilter(watched, event);
        }
    }

  private:
    bool takes(const QDropEvent* event) const {
        // A disabled list (while the recorded take is loaded) takes no drop.
        // The list's own rows are not dragged, so any drag comes from outside.
        return list->isEnabled() && event->mimeData() != nullptr &&
               event->mimeData()->hasFormat(kUriListType) &&
               (event->possibleActions() & Qt::CopyAction) != 0;
    }

    QAbstractItemView* list;
    std::function<void(const DroppedFiles&)> handler;
};

} // namespace

DroppedFiles droppedFiles(const QByteArray& uriList) {
    DroppedFiles result;
    std::set<FolderId> seen;
    for (QByteArray line : uriList.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#')) {
            continue;
        }
        const QUrl url = urlOf(line);
        if (!url.isValid()) {
            result.refused.push_back(line.toStdString());
            continue;
        }
        if (!url.isLocalFile() || !onThisHost(url)) {
            result.refused.push_back(url.toDisplayString().toStdString());
            continue;
        }
        std::string path =
            QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
        if (path.empty() || path[0] != '/') {
            result.refused.push_back(line.toStdString());
            continue;
        }
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        struct stat info {};
        const bool exists = ::stat(path.c_str(), &info) == 0;
        if (exists && S_ISDIR(info.st_mode)) {
            addFolder(path, 0, seen, result.paths);
        } else if (!exists || S_ISREG(info.st_mode)) {
            // A file that has gone is passed on too: Add Audio Files skips
            // what it cannot open, as it does for a dialog's choice.
            result.paths.push_back(path);
        }
    }
    return result;
}

void addDroppedFiles(MainWindow& window, const DroppedFiles& dropped) {
    std::vector<NotAddedFile> notAdded;
    if (!dropped.paths.empty()) {
        window.setListMode(kListFiles);
        window.addFilesQuietly(dropped.paths, notAdded);
    }
    // One message for the whole drop: the refused addresses, then the files
    // that did not decode.
    std::string text;
    if (!dropped.refused.empty()) {
        text = kRefusedMessage;
        const size_t named = std::min(dropped.refused.size(), kRefusedNamed);
        for (size_t i = 0; i < named; ++i) {
            text += dropped.refused[i] + "\n";
        }
        if (dropped.refused.size() > named) {
            text += "and " + std::to_string(dropped.refused.size() - named) + " more\n";
        }
        text.pop_back();
    }
    if (const std::string broken = notAddedMessage(notAdded); !broken.empty()) {
        text += text.empty() ? broken : "\n\n" + broken;
    }
    if (!text.empty()) {
        showMessage(text);
    }
}

void acceptFileDrops(QAbstractItemView* view, std::function<void(const DroppedFiles&)> onDrop) {
    view->setAcceptDrops(true);
    view->viewport()->setAcceptDrops(true);
    view->viewport()->installEventFilter(new FileDropFilter(view, std::move(onDrop)));
}
