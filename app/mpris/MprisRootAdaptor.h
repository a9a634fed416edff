#pragma once
// org.mpris.MediaPlayer2 on the service's object: the player's identity and
// what the desktop may do with its window. The methods call the service
// (MprisService.h). User-interface thread only.

#include <QDBusAbstractAdaptor>
#include <QString>
#include <QStringList>

class MprisService;

class MprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool CanSetFullscreen READ canSetFullscreen)
    Q_PROPERTY(bool Fullscreen READ fullscreen)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)

  public:
    // The name of the installed desktop entry, without ".desktop".
    static constexpr const char* kDesktopEntry = "io.github.velumo.Velumo";

    explicit MprisRootAdaptor(MprisService* service);

    bool canQuit() const { return true; }
    bool canRaise() const { return true; }
    bool canSetFullscreen() const { return false; }
    bool fullscreen() const { return false; }
    bool hasTrackList() const { return false; }
    QString identity() const;
    QString desktopEntry() const;
    // Local files only.
    QStringList supportedUriSchemes() const;
    // The kinds the player loads: WAV, MP3 and WMA.
    QStringList supportedMimeTypes() const;

  public Q_SLOTS:
    void Raise();
    void Quit();

  private:
    MprisService* service;
};
