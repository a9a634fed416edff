#include "app/mpris/MprisService.h"

#include "app/MainWindow.h"
#include "app/SessionBus.h"
#include "app/StopRequests.h"
#include "app/mpris/MprisPlayerAdaptor.h"
#include "app/mpris/MprisRootAdaptor.h"
#include "platform/MessageBox.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>

namespace {

constexpr double kMicroseconds = 1e6;
constexpr double kVolumeSteps = 65535.0;
constexpr const char* kLoopTexts[] = {"None", "Track", "Playlist"};

// A local path as a file:// URL. Every byte outside the unreserved set and
// '/' is percent-encoded, so that a name that is not UTF-8 keeps its bytes.
QString fileUrl(const std::string& path) {
    std::error_code error;
    std::filesystem::path full = std::filesystem::absolute(path, error);
    if (error) {
        full = path;
    }
    const std::string& bytes = full.native();
    const QByteArray encoded =
        QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toPercentEncoding("/");
    return QStringLiteral("file://") + QString::fromLatin1(encoded);
}

} // namespace

MprisService::MprisService(MainWindow& target, const QDBusConnection& connection)
    : window(target), bus(connection) {
    if (!bus.isConnected()) {
        return;
    }
    player = new MprisPlayerAdaptor(this);
    new MprisRootAdaptor(this);
    // The object first: a client that sees the name finds it at once.
    if (!bus.registerObject(QString::fromLatin1(kObjectPath), this,
                            QDBusConnection::ExportAdaptors)) {
        return;
    }
    QString wanted = QString::fromLatin1(kServiceName);
    if (!bus.registerService(wanted)) {
        // Another Velumo has the name: a second player takes a name of its
        // own, told apart by the process id.
        wanted += QStringLiteral(".instance") + QString::number(QCoreApplication::applicationPid());
        if (!bus.registerService(wanted)) {
            bus.unregisterObject(QString::fromLatin1(kObjectPath));
            return;
        }
    }
    name = wanted;
    announced = current();
    window.setChangeListener([this] { windowChanged(); });
    modelListener = window.player().addListener([this](PlayerModel::Change) { windowChanged(); });
}

MprisService::~MprisService() {
    window.setChangeListener({});
    window.player().removeListener(modelListener);
    if (!name.isEmpty()) {
        bus.unregisterService(name);
        bus.unregisterObject(QString::fromLatin1(kObjectPath));
    }
}

std::unique_ptr<MprisService> MprisService::startOnSessionBus(MainWindow& target) {
    if (!sessionBusConfigured()) {
        return std::make_unique<MprisService>(target,
                                              QDBusConnection(QStringLiteral("velumo-no-bus")));
    }
    return std::make_unique<MprisService>(target, QDBusConnection::sessionBus());
}

bool MprisService::loaded() const {
    return window.playbackMixer().hasEntries();
}

int MprisService::rowCount() const {
    return window.rowCount();
}

QString MprisService::playbackStatus() const {
    return QString::fromLatin1(statusText(window.player().status()));
}

QVariantMap MprisService::metadata() const {
    QVariantMap data;
    if (!loaded()) {
        data.insert(QStringLiteral("mpris:trackid"),
                    QVariant::fromValue(QDBusObjectPath(QString::fromLatin1(kNoTrack))));
        return data;
    }
    const Announced now = current();
    data.insert(QStringLiteral("mpris:trackid"),
                QVariant::fromValue(QDBusObjectPath(QString::fromLatin1(kTrackPathPrefix) +
                                                    QString::number(now.load))));
    data.insert(QStringLiteral("xesam:title"), now.title);
    if (!now.artist.isEmpty()) {
        data.insert(QStringLiteral("xesam:artist"), QStringList{now.artist});
    }
    if (!now.album.isEmpty()) {
        data.insert(QStringLiteral("xesam:album"), now.album);
    }
    if (now.length > 0) {
        data.insert(QStringLiteral("mpris:length"), QVariant::fromValue(qlonglong{now.length}));
    }
    if (!now.url.isEmpty()) {
        data.insert(QStringLiteral("xesam:url"), now.url);
    }
    return data;
}

double MprisService::volume() const {
    return window.player().volume() / kVolumeSteps;
}

void MprisService::setVolume(double level) {
    if (std::isnan(level)) {
        return;
    }
    level = std::clamp(level, 0.0, 1.0);
    // The window follows the model: the slider moves and the device plays
    // at the new level.
    window.player().setVolume(static_cast<int>(std::lround(level * kVolumeSteps)));
}

QString MprisService::loopStatus() const {
    const int mode = window.player().repeatMode();
    return QString::fromLatin1(kLoopTexts[mode >= 0 && mode <= 2 ? mode : 0]);
}

void MprisService::setLoopStatus(const QString& status) {
    for (int mode = kGoStraight; mode <= kRepeatAll; ++mode) {
        if (status == QLatin1String(kLoopTexts[mode])) {
            window.player().setRepeatMode(mode);
        }
    }
    windowChanged();
}

int64_t MprisService::position() const {
    const double seconds = window.player().position();
    return std::isfinite(seconds) && seconds > 0.0
               ? static_cast<int64_t>(std::llround(seconds * kMicroseconds))
               : 0;
}

bool MprisService::canGoNext() const {
    return window.player().canGoNext(rowCount());
}

bool MprisService::canGoPrevious() const {
    return window.player().canGoPrevious(rowCount());
}

bool MprisService::canPlay() const {
    return loaded() || rowCount() > 0;
}

bool MprisService::canPause() const {
    return canPlay();
}

bool MprisService::busy() const {
    // The window itself runs modally (it is the program's dialog): only a
    // box or dialog above it counts.
    const QWidget* modal = QApplication::activeModalWidget();
    return commandPending || (modal != nullptr && modal != &window);
}

bool MprisService::refusedAsBusy() {
    if (!busy()) {
        return false;
    }
    if (calledFromDBus()) {
        sendErrorReply(QDBusError::Failed,
                       QStringLiteral("Velumo is showing a message; try again once it is closed"));
    }
    return true;
}

void MprisService::post(int commandId) {
    post([this, commandId] { window.onCommand(commandId); });
}

void MprisService::post(std::function<void()> command) {
    if (busy()) {
        return;
    }
    // One command at a time: the ones that arrive before it runs, or while
    // the box it may show is open, are refused, so that a held media key
    // cannot pile up message boxes, each inside the one before.
    commandPending = true;
    QMetaObject::invokeMethod(
        this,
        [this, command = std::move(command)] {
            commandPending = false;
            command();
        },
        Qt::QueuedConnection);
}

void MprisService::play() {
    post(kIdPlay);
}

void MprisService::pause() {
    post(kIdPause);
}

void MprisService::playPause() {
    post(playbackStatus() == QStringLiteral("Playing") ? kIdPause : kIdPlay);
}

void MprisService::stop() {
    post(kIdStop);
}

void MprisService::next() {
    post(kIdNext);
}

void MprisService::previous() {
    post(kIdPrev);
}

void MprisService::seek(int64_t offset) {
    if (busy() || !loaded()) {
        return;
    }
    // The slider's own path: past the end, the item ends as at its end and
    // the repeat mode decides what follows.
    // Clients may send any 64-bit offset: the sum saturates instead of
    // wrapping to the other end.
    int64_t target = 0;
    if (__builtin_add_overflow(position(), offset, &target)) {
        target = offset > 0 ? INT64_MAX : 0;
    }
    if (window.seekTo(static_cast<double>(std::max<int64_t>(target, 0)) / kMicroseconds)) {
        Q_EMIT player->Seeked(position());
    }
}

void MprisService::setPosition(const QDBusObjectPath& track, int64_t at) {
    if (busy() || !loaded() || at < 0) {
        return;
    }
    const Announced now = current();
    const QString currentTrack = QString::fromLatin1(kTrackPathPrefix) + QString::number(now.load);
    // A request for an item that is no longer loaded is stale.
    if (track.path() != currentTrack || (now.length > 0 && at > now.length)) {
        return;
    }
    if (window.seekTo(static_cast<double>(at) / kMicroseconds)) {
        Q_EMIT player->Seeked(position());
    }
}

void MprisService::openUri(const QString& uri) {
    const QUrl url(uri);
    if (busy() || !url.isLocalFile() || window.player().listMode() != kListFiles) {
        return;
    }
    const QByteArray bytes =
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    // A path holds no NUL byte: %00 would make the row's path name another
    // file than the one opened.
    if (bytes.isEmpty() || bytes.contains('\0')) {
        return;
    }
    const std::string path(bytes.constData(), static_cast<size_t>(bytes.size()));
    // A file that does not decode is told after the answer, not inside the
    // call: the box would hold the caller until someone dismisses it.
    std::vector<NotAddedFile> notAdded;
    window.addFilesQuietly({path}, notAdded);
    if (!notAdded.empty()) {
        post([message = notAddedMessage(notAdded)] { showMessage(message); });
        return;
    }
    const int row = window.rowOfPath(path);
    if (row >= 0) {
        post([this, row] { window.playRow(row); });
    }
}

void MprisService::raise() {
    if (window.isMinimized()) {
        window.showNormal();
    }
    window.show();
    window.raise();
    window.activateWindow();
}

void MprisService::quit() {
    // After the answer: closing may end the program's event loop.
    QTimer::singleShot(0, &window, [target = &window] { closeWindowFromTop(target); });
}

MprisService::Announced MprisService::current() const {
    Announced now;
    now.status = playbackStatus();
    if (loaded()) {
        now.load = window.loadNumber();
        // The file's own title where its tags have one, the row's (the
        // file name, or a CD track's name) otherwise.
        const MediaTags& tags = window.tags();
        now.title = QString::fromStdString(tags.title.empty() ? window.title() : tags.title);
        now.artist = QString::fromStdString(tags.artist);
        now.album = QString::fromStdString(tags.album);
        if (!window.loadedFile().empty()) {
            now.url = fileUrl(window.loadedFile());
        }
        const double seconds = window.playbackMixer().GetDuration();
        if (std::isfinite(seconds) && seconds > 0.0) {
            now.length = static_cast<int64_t>(std::llround(seconds * kMicroseconds));
        }
    }
    now.volume = volume();
    now.loop = loopStatus();
    now.canGoNext = canGoNext();
    now.canGoPrevious = canGoPrevious();
    now.canPlay = canPlay();
    now.canPause = canPause();
    now.canSeek = canSeek();
    return now;
}

void MprisService::windowChanged() {
    if (name.isEmpty() || checkPending) {
        return;
    }
    checkPending = true;
    QTimer::singleShot(0, this, [this] { announceChanges(); });
}

void MprisService::announceChanges() {
    checkPending = false;
    const Announced now = current();
    QVariantMap changed;
    if (now.status != announced.status) {
        changed.insert(QStringLiteral("PlaybackStatus"), now.status);
    }
    if (now.load != announced.load || now.title != announced.title || now.url != announced.url ||
        now.artist != announced.artist || now.album != announced.album ||
        now.length != announced.length) {
        changed.insert(QStringLiteral("Metadata"), metadata());
    }
    if (now.volume != announced.volume) {
        changed.insert(QStringLiteral("Volume"), now.volume);
    }
    if (now.loop != announced.loop) {
        changed.insert(QStringLiteral("LoopStatus"), now.loop);
    }
    const auto flag = [&changed](const char* property, bool value, bool before) {
        if (value != before) {
            changed.insert(QString::fromLatin1(property), value);
        }
    };
    flag("CanGoNext", now.canGoNext, announced.canGoNext);
    flag("CanGoPrevious", now.canGoPrevious, announced.canGoPrevious);
    flag("CanPlay", now.canPlay, announced.canPlay);
    flag("CanPause", now.canPause, announced.canPause);
    flag("CanSeek", now.canSeek, announced.canSeek);
    announced = now;
    if (changed.isEmpty()) {
        return;
    }
    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kPlayerInterface) << changed << QStringList();
    bus.send(signal);
}
