// Velumo: the application runs its one window and ends when the window closes.

#include "app/MainWindow.h"
#include "app/QtDialogs.h"
#include "cd/CdRefreshCommand.h"
#include "encode/ConvertDialog.h"
#include "record/RecordDialog.h"

#include <QApplication>
#include <QFont>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    // Qt aborts without a display; say why in words a user can act on.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "velumo: no display (set DISPLAY or WAYLAND_DISPLAY to run the window)\n");
        return 1;
    }
    QApplication application(argc, argv);
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans Condensed"));

    int result = 0;
    {
        MainWindow window;
        installQtDialogs(&window);
        window.setCommandHandler(kIdConvert, convertCommand);
        window.setCommandHandler(kIdCdRefresh, cdRefreshCommand);
        window.setCommandHandler(kIdRecord, runRecordCommand);
        result = window.exec();
        removeQtDialogs();
    }
    (void)result;
    return 0;
}
