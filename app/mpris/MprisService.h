#pragma once
// The window as a media player on the session bus, so that the desktop's
// player controls, media keys and command-line clients can see and drive it.
//
// The service holds the name org.mpris.MediaPlayer2.velumo (or, when another
// Velumo holds that, org.mpris.MediaPlayer2.velumo.instance<pid>) and the
// object /org/mpris/MediaPlayer2 with two interfaces:
//  - org.mpris.MediaPlayer2 (MprisRootAdaptor): who we are, Raise, Quit;
//  - org.mpris.MediaPlayer2.Player (MprisPlayerAdaptor): the transport, the
//    loaded item, the volume and the repeat mode.
// Everything it reports is read when asked, and it keeps no player state of
// its own: the status, the repeat mode, the volume, the position and
// whether Next and Prev can go on come from the window's player model
// (MainWindow::player()), the loaded item's title and length from the
// window. The transport methods post the window's own commands (kIdPlay,
// ...), so that a client gets its answer at once while the window acts as
// on a click, messages included. The repeat mode and the volume are set on
// the model, which the window follows.
//
// The model tells the service of every change of its state, and the window
// (MainWindow::setChangeListener) of every change of its display; the
// service then compares what it reports with what it
// last announced and sends org.freedesktop.DBus.Properties.PropertiesChanged
// for the properties that differ. The calls are gathered until the event
// loop runs again, so that a Next, which stops, loads and plays, is
// announced once with its outcome.
//
// Without a bus (no session bus configured, or the connection failed) or
// without a name, nothing is registered and the window works as before;
// nothing is printed.
//
// Times on the bus are microseconds. User-interface thread only. The service
// must be destroyed before the window it serves.

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <memory>

class MainWindow;
class MprisPlayerAdaptor;
class QDBusObjectPath;

class MprisService : public QObject, protected QDBusContext {
    Q_OBJECT

  public:
    static constexpr const char* kServiceName = "org.mpris.MediaPlayer2.velumo";
    static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char* kRootInterface = "org.mpris.MediaPlayer2";
    static constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
    // The trackid of the loaded item is kTrackPathPrefix followed by the
    // window's loadNumber; kNoTrack when nothing is loaded.
    static constexpr const char* kTrackPathPrefix = "/org/velumo/track/";
    static constexpr const char* kNoTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";

    // Registers the service on bus for window. A bus that is not connected
    // registers nothing.
    MprisService(MainWindow& window, const QDBusConnection& bus);
    ~MprisService() override;
    MprisService(const MprisService&) = delete;
    MprisService& operator=(const MprisService&) = delete;

    // The service on the user's session bus: the bus that
    // DBUS_SESSION_BUS_ADDRESS names, or the one at $XDG_RUNTIME_DIR/bus.
    // With neither, no bus is started for us and nothing is registered.
    static std::unique_ptr<MprisService> startOnSessionBus(MainWindow& window);

    // The name held on the bus; empty when nothing is registered.
    const QString& busName() const { return name; }

    // --- What the adaptors report and do ---
    QString playbackStatus() const; // "Playing", "Paused" or "Stopped"
    // mpris:trackid, and for a loaded item xesam:title (from the file's
    // tags, else the row's title), xesam:artist and xesam:album (when its
    // tags have them), mpris:length (when known) and xesam:url (files only:
    // a file:// URL of the path's bytes).
    QVariantMap metadata() const;
    // The volume, 0 to 1.
    double volume() const;
    // Sets the volume (the slider follows); values outside 0..1 are
    // taken as the nearest end, NaN is ignored.
    void setVolume(double level);
    // The repeat modes: "None" (Go Straight), "Track" (Repeat One) and
    // "Playlist" (Repeat All).
    QString loopStatus() const;
    // Sets the repeat mode that status names; other texts are ignored.
    void setLoopStatus(const QString& status);
    int64_t position() const; // the window's elapsed time
    bool canGoNext() const;
    bool canGoPrevious() const;
    bool canPlay() const;
    bool canPause() const;
    // Seek and SetPosition take the position slider's path
    // (MainWindow::seekTo), which moves a playing or paused item.
    bool canSeek() const { return loaded(); }

    // Whether the transport must refuse calls now: a command of an earlier
    // call has not run yet, or a modal box or dialog is open (a command run
    // inside its event loop would open another box above it). The transport
    // methods below then do nothing; the adaptor answers with a D-Bus error.
    bool busy() const;
    // For the adaptors: while busy(), answers the D-Bus call being handled
    // with an error (org.freedesktop.DBus.Error.Failed) and returns true.
    bool refusedAsBusy();
    void play();
    void pause();
    void playPause();
    void stop();
    void next();
    void previous();
    void seek(int64_t offset);
    void setPosition(const QDBusObjectPath& track, int64_t at);
    // Adds a file:// URL's file as Add Audio Files does and plays it as a
    // double click on its row does. Other URLs, and paths with a NUL byte
    // (%00), are ignored.
    void openUri(const QString& uri);
    void raise();
    // Closes the window as its close box does (the list is stored), after
    // ending any dialog open above it.
    void quit();

  private:
    // Queues the window's command, or another call into the window,
    // unless busy().
    void post(int commandId);
    void post(std::function<void()> command);
    // Our listener on the window's player model.
    int modelListener = 0;

    bool commandPending = false; // a command posted and not yet run

    // What PropertiesChanged announces, as last sent.
    struct Announced {
        QString status;
        uint64_t load = 0;
        QString title;
        QString artist;
        QString album;
        QString url;
        int64_t length = 0;
        double volume = 0.0;
        QString loop;
        bool canGoNext = false;
        bool canGoPrevious = false;
        bool canPlay = false;
        bool canPause = false;
        bool canSeek = false;
    };
    Announced current() const;
    // Called by the window; gathers the calls until the event loop runs.
    void windowChanged();
    void announceChanges();
    bool loaded() const;
    int rowCount() const;

    MainWindow& window;
    QDBusConnection bus;
    QString name;
    MprisPlayerAdaptor* player = nullptr; // owned by the service
    Announced announced;
    bool checkPending = false;
};
