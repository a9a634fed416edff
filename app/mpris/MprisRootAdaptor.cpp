#include "app/mpris/MprisRootAdaptor.h"

#include "app/mpris/MprisService.h"

MprisRootAdaptor::MprisRootAdaptor(MprisService* owner)
    : QDBusAbstractAdaptor(owner), service(owner) {}

QString MprisRootAdaptor::identity() const {
    return QStringLiteral("Velumo");
}

QString MprisRootAdaptor::desktopEntry() const {
    return QString::fromLatin1(kDesktopEntry);
}

QStringList MprisRootAdaptor::supportedUriSchemes() const {
    return {QStringLiteral("file")};
}

QStringList MprisRootAdaptor::supportedMimeTypes() const {
    return {QStringLiteral("audio/wav"),        QStringLiteral("audio/x-wav"),
            QStringLiteral("audio/mpeg"),       QStringLiteral("audio/x-ms-wma"),
            QStringLiteral("audio/flac"),       QStringLiteral("audio/x-flac"),
            QStringLiteral("audio/ogg"),        QStringLiteral("audio/x-vorbis+ogg"),
            QStringLiteral("audio/x-opus+ogg"), QStringLiteral("audio/mp4"),
            QStringLiteral("audio/x-m4a")};
}

void MprisRootAdaptor::Raise() {
    service->raise();
}

void MprisRootAdaptor::Quit() {
    service->quit();
}
