// Saves a picture of the main window with a few rows and a loaded item, and
// optionally one of the Record dialog, for looking at the layout:
//   window_screenshot [--dark-while-open] window.png [record.png]
// --dark-while-open applies a dark desktop palette once the window is shown,
// as a desktop theme change does.
// (QT_QPA_PLATFORM=offscreen without a display).

#include "app/MainWindow.h"
#include "app/record/RecordDialog.h"
#include "controls/PlayListView.h"
#include "platform/MessageBox.h"
#include "playlist/AudioItem.h"

#include <QApplication>
#include <QPalette>
#include <QPixmap>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char* argv[]) {
    const bool darkWhileOpen = argc > 1 && std::strcmp(argv[1], "--dark-while-open") == 0;
    if (darkWhileOpen) {
        --argc;
        ++argv;
    }
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: window_screenshot [--dark-while-open] window.png [record.png]\n");
        return 2;
    }
    if (!std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    if (!std::getenv("SDL_AUDIODRIVER")) {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
    }
    QApplication application(argc, argv);
    setMessageHandler([](const MessageRequest& r) {
        std::fprintf(stderr, "message: %s\n", r.text.c_str());
        return MessageAnswer::Ok;
    });

    const fs::path dir = fs::temp_directory_path() / ("velumo-shot-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    // A 3-minute 22050 Hz mono WAVE of a quiet tone.
    const fs::path wave = dir / "Morning Walk.wav";
    {
        const uint32_t rate = 22050, frames = rate * 183;
        std::vector<int16_t> samples(frames);
        for (uint32_t i = 0; i < frames; ++i) {
            samples[i] = static_cast<int16_t>(3000 * std::sin(2 * M_PI * 440.0 * i / rate));
        }
        const uint32_t data = frames * 2;
        std::ofstream out(wave, std::ios::binary);
        auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
        auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
        out.write("RIFF", 4);
        u32(36 + data);
        out.write("WAVEfmt ", 8);
        u32(16);
        u16(1);
        u16(1);
        u32(rate);
        u32(rate * 2);
        u16(2);
        u16(16);
        out.write("data", 4);
        u32(data);
        out.write(reinterpret_cast<const char*>(samples.data()), data);
    }

    MainWindow window(ProgramFiles::inDirectory(dir.string()));
    window.addFiles({wave.string()});
    window.addRow("Evening Rain.mp3", 251, 4012345, "/home/user/Music/Evening Rain.mp3");
    window.addRow("Interview.wma", 3725, 29876543, "/home/user/Recordings/Interview.wma");
    window.addRow("Track-00", 250, 44100000, kCdRowPath);
    window.show();
    window.listView->clickedRow = 0;
    window.onCommand(kNewItem);
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
    }
    if (darkWhileOpen) {
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(45, 45, 48));
        dark.setColor(QPalette::WindowText, QColor(220, 220, 220));
        dark.setColor(QPalette::Base, QColor(30, 30, 30));
        dark.setColor(QPalette::Text, QColor(220, 220, 220));
        dark.setColor(QPalette::Button, QColor(55, 55, 58));
        dark.setColor(QPalette::ButtonText, QColor(220, 220, 220));
        QApplication::setPalette(dark);
        for (int i = 0; i < 20; ++i) {
            QApplication::processEvents();
        }
    }
    const QPixmap shot = window.grab();
    bool saved = shot.save(QString::fromLocal8Bit(argv[1]));
    window.onCommand(kIdStop);
    if (argc > 2) {
        // The dialog as Record shows it; it captures from SDL's driver into
        // the temporary folder until it is closed.
        RecordDialog record(&window);
        record.SetOutputFile((dir / "take.wav").string());
        record.show();
        QApplication::processEvents();
        saved = record.grab().save(QString::fromLocal8Bit(argv[2])) && saved;
        record.reject();
    }
    window.hide();
    fs::remove_all(dir);
    std::printf("%s %dx%d\n", saved ? "saved" : "FAILED", shot.width(), shot.height());
    return saved ? 0 : 1;
}
