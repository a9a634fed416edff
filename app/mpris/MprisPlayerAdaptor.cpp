#include "app/mpris/MprisPlayerAdaptor.h"

#include "app/mpris/MprisService.h"

MprisPlayerAdaptor::MprisPlayerAdaptor(MprisService* owner)
    : QDBusAbstractAdaptor(owner), service(owner) {}

QString MprisPlayerAdaptor::playbackStatus() const {
    return service->playbackStatus();
}

QString MprisPlayerAdaptor::loopStatus() const {
    return service->loopStatus();
}

void MprisPlayerAdaptor::setLoopStatus(const QString& status) {
    service->setLoopStatus(status);
}

QVariantMap MprisPlayerAdaptor::metadata() const {
    return service->metadata();
}

double MprisPlayerAdaptor::volume() const {
    return service->volume();
}

void MprisPlayerAdaptor::setVolume(double level) {
    service->setVolume(level);
}

qlonglong MprisPlayerAdaptor::position() const {
    return service->position();
}

bool MprisPlayerAdaptor::canGoNext() const {
    return service->canGoNext();
}

bool MprisPlayerAdaptor::canGoPrevious() const {
    return service->canGoPrevious();
}

bool MprisPlayerAdaptor::canPlay() const {
    return service->canPlay();
}

bool MprisPlayerAdaptor::canPause() const {
    return service->canPause();
}

bool MprisPlayerAdaptor::canSeek() const {
    return service->canSeek();
}

void MprisPlayerAdaptor::Next() {
    if (service->refusedAsBusy()) {
        return;
    }
    service->next();
}

void MprisPlayerAdaptor::Previous() {
    if (service->refusedAsBusy()) {
        return;
    }
    service->previous();
}

void MprisPlayerAdaptor::Pause() {
    if (service->refusedAsBusy()) {
        return;
    }
    service->pause();
}

void MprisPlayerAdaptor::PlayPause() {
    if (service->refusedAsBusy()) {
        return;
    }
    service->playPause();
}

void MprisPlayerAdaptor::Stop() {
    if (service->refusedAsBusy()) {
        return;
    }
    service->stop();
}

void MprisPlayerAdaptor::Play() {
    if (service->refusedAsBusy()) {
        return;
    }
    service->play();
}

void MprisPlayerAdaptor::Seek(qlonglong Offset) {
    if (service->refusedAsBusy()) {
        return;
    }
    service->seek(Offset);
}

void MprisPlayerAdaptor::SetPosition(const QDBusObjectPath& TrackId, qlonglong Position) {
    if (service->refusedAsBusy()) {
        return;
    }
    service->setPosition(TrackId, Position);
}

void MprisPlayerAdaptor::OpenUri(const QString& Uri) {
    if (service->refusedAsBusy()) {
        return;
    }
    service->openUri(Uri);
}
