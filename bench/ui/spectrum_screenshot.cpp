// Saves a picture of the main window while it plays a generated chord sweep,
// for looking at the live spectrum:
//   spectrum_screenshot window.png [--dark]
// --dark gives the application a dark palette first (the window keeps the
// light palette its images are drawn for). Runs on the display it is given
// (Xvfb, or QT_QPA_PLATFORM=offscreen) and on SDL's dummy driver unless
// SDL_AUDIODRIVER says otherwise; QT_SCALE_FACTOR scales it as usual.

#include "app/MainWindow.h"
#include "platform/MessageBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPalette>
#include <QPixmap>
#include <QStyleFactory>
#include <QThread>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

// 20 s of 44.1 kHz stereo: a major chord whose root glides up two octaves
// from 110 Hz, with its octave and a little noise.
void writeChordSweep(const fs::path& path) {
    const uint32_t rate = 44100;
    const uint32_t frames = rate * 20;
    std::vector<int16_t> samples(size_t{frames} * 2);
    double phase[4] = {};
    uint32_t noise = 1;
    for (uint32_t i = 0; i < frames; ++i) {
        const double root = 110.0 * std::pow(4.0, static_cast<double>(i) / frames);
        const double ratios[4] = {1.0, 1.26, 1.5, 2.0};
        double value = 0.0;
        for (int v = 0; v < 4; ++v) {
            phase[v] += 2.0 * M_PI * root * ratios[v] / rate;
            value += 0.18 * std::sin(phase[v]);
        }
        noise = noise * 1664525u + 1013904223u;
        value += 0.01 * (static_cast<double>(noise >> 16) / 32768.0 - 1.0);
        samples[2 * size_t{i}] = samples[2 * size_t{i} + 1] =
            static_cast<int16_t>(std::lround(value * 32767.0));
    }
    const uint32_t data = frames * 4;
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    u32(36 + data);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(2);
    u32(rate);
    u32(rate * 4);
    u16(4);
    u16(16);
    out.write("data", 4);
    u32(data);
    out.write(reinterpret_cast<const char*>(samples.data()), data);
}

QPalette darkPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(45, 45, 48));
    palette.setColor(QPalette::WindowText, QColor(220, 220, 220));
    palette.setColor(QPalette::Base, QColor(30, 30, 30));
    palette.setColor(QPalette::Text, QColor(220, 220, 220));
    palette.setColor(QPalette::Button, QColor(55, 55, 58));
    palette.setColor(QPalette::ButtonText, QColor(220, 220, 220));
    palette.setColor(QPalette::Highlight, QColor(90, 160, 230));
    palette.setColor(QPalette::HighlightedText, Qt::black);
    return palette;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: spectrum_screenshot window.png [--dark]\n");
        return 2;
    }
    const bool dark = argc > 2 && std::strcmp(argv[2], "--dark") == 0;
    if (!std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    if (!std::getenv("SDL_AUDIODRIVER")) {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
    }
    QApplication application(argc, argv);
    if (dark) {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(darkPalette());
    }
    setMessageHandler([](const MessageRequest& r) {
        std::fprintf(stderr, "message: %s\n", r.text.c_str());
        return MessageAnswer::Ok;
    });

    const fs::path dir =
        fs::temp_directory_path() / ("velumo-spectrum-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path wave = dir / "Chord Sweep.wav";
    writeChordSweep(wave);

    bool saved = false;
    {
        MainWindow window(ProgramFiles::inDirectory(dir.string()));
        window.addFiles({wave.string()});
        window.show();
        window.onCommand(kIdPlay);
        // Long enough for the bars to rise and the peaks to start falling.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 3000) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(5);
        }
        saved = window.grab().save(QString::fromLocal8Bit(argv[1]));
        window.onCommand(kIdStop);
    }
    fs::remove_all(dir);
    std::printf("%s\n", saved ? "saved" : "FAILED");
    return saved ? 0 : 1;
}
