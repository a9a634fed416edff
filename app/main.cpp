// Velumo: the application runs its one window and ends when the window closes.

#include "app/MainWindow.h"
#include "app/QtDialogs.h"
#include "app/StopRequests.h"
#include "app/cd/CdRefreshCommand.h"
#include "app/convert/ConvertCommand.h"
#include "app/mpris/MprisService.h"
#include "app/record/RecordCommand.h"
#include "platform/CdLibrary.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "usage: velumo [--cd IMAGE-OR-DEVICE]...\n"
    "  --cd PATH  a disc image (CUE sheet or cdrdao TOC) or a CD device that CD\n"
    "             Refresh reads before the machine's own drives; may be repeated\n";

} // namespace

int main(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    // Qt aborts without a display; say why in words a user can act on.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
                     "velumo: no display (set DISPLAY or WAYLAND_DISPLAY to run the window)\n");
        return 1;
    }
    QApplication application(argc, argv); // takes Qt's own options out of argv
    // Wayland desktops match the window to its menu entry and icon by this.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.velumo.Velumo"));

    std::vector<std::string> discs;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cd") == 0 && i + 1 < argc) {
            discs.emplace_back(argv[++i]);
        } else if (std::strncmp(argv[i], "--cd=", 5) == 0 && argv[i][5] != '\0') {
            discs.emplace_back(argv[i] + 5);
        } else {
            std::fprintf(stderr, "velumo: unknown argument '%s'\n%s", argv[i], kUsage);
            return 2;
        }
    }
    for (const std::string& disc : discs) {
        registerDiscImage(disc);
    }

    int result = 0;
    {
        MainWindow window;
        installQtDialogs(&window);
        window.setCommandHandler(kIdConvert, convertCommand);
        window.setCommandHandler(kIdCdRefresh, cdRefreshCommand);
        window.setCommandHandler(kIdRecord, runRecordCommand);
        // The desktop's player controls; nothing without a session bus.
        const auto mpris = MprisService::startOnSessionBus(window);
        closeOnStopRequest(&window);
        result = window.exec();
        removeQtDialogs();
    }
    (void)result;
    return 0;
}
