#include "app/WindowKeys.h"

#include "app/MainWindow.h"

#include <QKeySequence>
#include <QShortcut>

void playOrPause(MainWindow& window) {
    const WaveOutDevice& device = window.output();
    const bool playing = device.playing && device.GetState() == WaveOutDevice::kPlaying;
    window.onCommand(playing ? kIdPause : kIdPlay);
}

void installWindowKeys(MainWindow& window) {
    // A window shortcut is offered to the focused widget first: a line edit
    // claims Space and Delete for itself, and a dialog, being a window of
    // its own, never lets them through.
    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), &window);
    space->setContext(Qt::WindowShortcut);
    space->setAutoRepeat(false);
    QObject::connect(space, &QShortcut::activated, &window, [&window] { playOrPause(window); });

    auto* remove = new QShortcut(QKeySequence(Qt::Key_Delete), &window);
    remove->setContext(Qt::WindowShortcut);
    remove->setAutoRepeat(false);
    QObject::connect(remove, &QShortcut::activated, &window,
                     [&window] { window.onCommand(kIdRemove); });
}
