// Velumo: the application runs its one window and ends when the window closes.

#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/OpenedFiles.h"
#include "app/QtDialogs.h"
#include "app/RememberedSettings.h"
#include "app/SingleInstance.h"
#include "app/StopRequests.h"
#include "app/cd/CdRefreshCommand.h"
#include "app/convert/ConvertCommand.h"
#include "app/mpris/MprisService.h"
#include "app/record/RecordCommand.h"
#include "platform/CdLibrary.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    if (parseCommandLine(argc, argv).help) {
        std::fputs(kCommandLineUsage, stdout);
        return 0;
    }
    // Qt aborts without a display; say why in words a user can act on.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
                     "velumo: no display (set DISPLAY or WAYLAND_DISPLAY to run the window)\n");
        return 1;
    }
    // On X11, Qt hands the window's pixels to the server through shared
    // memory and then waits for the server's completion event, which wakes
    // two of its threads for every repaint. The live spectrum repaints a
    // small strip 25 times a second, where those wake-ups cost more than
    // sending the strip over the connection; a user's own setting is kept.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) {
        qputenv("QT_XCB_NO_MITSHM", "1");
    }
    QApplication application(argc, argv); // takes Qt's own options out of argv
    // Wayland desktops match the window to its menu entry and icon by this.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.velumo.Velumo"));

    const CommandLine line = parseCommandLine(argc, argv);
    if (!line.unknown.empty()) {
        std::fprintf(stderr, "velumo: unknown argument '%s'\n%s", line.unknown.c_str(),
                     kCommandLineUsage);
        return 2;
    }
    // A window that runs already takes the files; the discs of --cd are
    // this program's own, so with them it opens its own window.
    if (line.discs.empty() && SingleInstance::handOver(line.files)) {
        return 0;
    }
    for (const std::string& disc : line.discs) {
        registerDiscImage(disc);
    }

    int result = 0;
    {
        MainWindow window;
        installQtDialogs(&window);
        const std::string settingsFile = currentSettingsPath();
        const Settings remembered = readSettings(settingsFile);
        applySettings(window, remembered);
        window.setCommandHandler(kIdConvert, convertCommand);
        window.setCommandHandler(kIdCdRefresh, cdRefreshCommand);
        window.setCommandHandler(kIdRecord, runRecordCommand);
        // The desktop's player controls; nothing without a session bus.
        const auto mpris = MprisService::startOnSessionBus(window);
        // Files of later `velumo FILE...` come here.
        const auto instance = SingleInstance::startOnSessionBus(window);
        closeOnStopRequest(&window);
        if (!line.files.empty()) {
            // Once the window shows: a long list reads with a progress
            // dialog over it.
            QTimer::singleShot(0, &window, [&window, &line] { addAndPlay(window, line.files); });
        }
        result = window.exec();
        const Settings now = settingsOf(window);
        std::string problem;
        if (now != remembered && !writeSettings(settingsFile, now, &problem)) {
            std::fprintf(stderr, "velumo: the settings could not be kept in %s: %s\n",
                         settingsFile.c_str(), problem.c_str());
        }
        removeQtDialogs();
    }
    (void)result;
    return 0;
}
