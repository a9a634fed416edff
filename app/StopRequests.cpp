#include "app/StopRequests.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
// How often the window looks again whether the dialogs above it have gone.
constexpr int kRetryMs = 50;

// The self-pipe: the handler writes a byte, the event loop reads it.
int signalPipe[2] = {-1, -1};
// The window to close; user-interface thread only.
QPointer<QWidget> stopTarget;

void onStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a request; nothing is lost by dropping this.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

// Ends the modal widgets above the window one at a time, then closes the
// window. A dialog that does not end at once (a conversion finishing its
// file) is looked at again shortly; the retry goes with the window.
void closeFromTop(QWidget* window) {
    if (window == nullptr) {
        return;
    }
    if (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
    }
    QWidget* top = QApplication::activeModalWidget();
    if (top != nullptr && top != window && top->isVisible()) {
        if (auto* dialog = qobject_cast<QDialog*>(top)) {
            dialog->reject();
        } else {
            top->close();
        }
        QTimer::singleShot(kRetryMs, window, [window] { closeFromTop(window); });
        return;
    }
    window->close();
}

} // namespace

void closeWindowFromTop(QWidget* window) {
    closeFromTop(window);
}

bool closeOnStopRequest(QWidget* window) {
    if (signalPipe[0] >= 0 || window == nullptr) {
        return false;
    }
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::fprintf(stderr, "velumo: cannot watch for stop signals: %s\n", std::strerror(errno));
        return false;
    }
    stopTarget = window;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        closeFromTop(stopTarget.data());
    });
#ifndef QT_NO_SESSIONMANAGER
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, window,
                     [] { closeFromTop(stopTarget.data()); });
#endif

    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    bool routed = true;
    for (const int signal : kStopSignals) {
        routed = ::sigaction(signal, &action, nullptr) == 0 && routed;
    }
    return routed;
}
