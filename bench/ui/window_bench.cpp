// Figures of the main window:
//  1. start-up: constructing and showing the window with a 1,000-row stored
//     list, until the first paint has happened;
//  2. adding 100 MP3 files with their durations read (Add Audio Files).
// Prints the median and the extremes of a few runs. Needs the ffmpeg CLI for
// the MP3 files (the second figure is skipped without it).
//
// Usage: window_bench [runs]   (QT_QPA_PLATFORM=offscreen without a display)

#include "app/MainWindow.h"
#include "controls/PlayListView.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "playlist/StoredList.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Figures {
    std::vector<double> ms;
    void print(const char* what, double target) {
        std::sort(ms.begin(), ms.end());
        const double median = ms[ms.size() / 2];
        std::printf(
            "%-52s median %8.1f ms  min %8.1f  max %8.1f  (%zu runs, target < %.0f ms) %s\n", what,
            median, ms.front(), ms.back(), ms.size(), target, median < target ? "ok" : "SLOW");
    }
};

void writeStoredList(const std::string& path, int rows) {
    std::vector<StoredRow> list;
    for (int i = 0; i < rows; ++i) {
        const std::string name =
            "Some Artist - A Fairly Long Song Title " + std::to_string(i) + ".mp3";
        list.push_back({"", name, "04:" + std::to_string(10 + i % 50),
                        std::to_string(3000 + i) + " KB",
                        "/home/user/Music/Some Artist/Some Album/" + name});
    }
    const auto bytes = encodeStoredList(list);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

double startUp(const fs::path& dir) {
    QElapsedTimer clock;
    clock.start();
    MainWindow window(ProgramFiles::inDirectory(dir.string()));
    window.show();
    QApplication::processEvents();
    // The first paint of the window and its controls.
    window.repaint();
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    if (window.listView->GetItemCount() != 1000) {
        std::fprintf(stderr, "expected 1000 rows, got %d\n", window.listView->GetItemCount());
        std::exit(1);
    }
    window.hide();
    return ms;
}

} // namespace

int main(int argc, char* argv[]) {
    if (!std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    if (!std::getenv("SDL_AUDIODRIVER")) {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QApplication application(argc, argv);
    setMessageHandler([](const MessageRequest& request) {
        std::fprintf(stderr, "message: %s\n", request.text.c_str());
        return MessageAnswer::Ok;
    });

    const fs::path dir =
        fs::temp_directory_path() / ("velumo-window-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);

    Figures start;
    for (int i = 0; i < runs; ++i) {
        writeStoredList((dir / "velumo.ini").string(), 1000);
        start.ms.push_back(startUp(dir));
    }
    start.print("start-up to a shown window, 1,000-row stored list", 500);

    const fs::path mp3 = dir / "song.mp3";
    const std::string make =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=440:duration=180 "
        "-ac 2 -ar 44100 -b:a 128k '" +
        mp3.string() + "'";
    if (std::system(make.c_str()) != 0) {
        std::printf("adding 100 MP3 files: skipped (no ffmpeg)\n");
    } else {
        // One 3-minute song under 100 names (hard links: no extra space).
        std::vector<std::string> paths;
        for (int i = 0; i < 100; ++i) {
            const fs::path link = dir / ("song" + std::to_string(i) + ".mp3");
            fs::create_hard_link(mp3, link);
            paths.push_back(link.string());
        }
        Figures add;
        for (int i = 0; i < runs; ++i) {
            fs::remove(dir / "velumo.ini");
            MainWindow window(ProgramFiles::inDirectory(dir.string()));
            setOpenFilesHandler([&](const OpenFilesRequest&) { return paths; });
            QElapsedTimer clock;
            clock.start();
            window.onCommand(kIdAddFiles);
            add.ms.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
            if (window.listView->GetItemCount() != 100 ||
                window.listView->GetItemText(0, 2) != "03:00") {
                std::fprintf(stderr, "unexpected rows: %d, time %s\n",
                             window.listView->GetItemCount(),
                             window.listView->GetItemText(0, 2).c_str());
                return 1;
            }
        }
        add.print("adding 100 MP3 files (3 min each) with durations", 2000);
    }
    fs::remove_all(dir);
    return 0;
}
