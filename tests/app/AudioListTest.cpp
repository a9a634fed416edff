// The audio list: adding files (by the dialog and by dropping them),
// duplicates, removing, clearing, the list modes with the saved copy, and
// the stored list.

#include "app/OpenedFiles.h"
#include "app/WindowFixture.h"

#include "controls/BitmapButton.h"
#include "playlist/StoredList.h"
#include "support/SoundServer.h"
#include "support/TaggedMedia.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QProgressDialog>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace window_test;
using testing_support::readFileBytes;
using testing_support::writeFileBytes;
using testing_support::writeWave;

namespace {

// A WAVE header announcing a long file whose data is not all there: the
// duration comes from the file's length, so the header alone decides nothing.
void writeSparseWave(const std::string& path, double seconds) {
    const WaveFormat format = pcmFormat(1, 8000, 8);
    std::vector<uint8_t> bytes = testing_support::waveFile(format, {});
    const auto dataBytes = static_cast<uint64_t>(seconds * 8000);
    // Patch the sizes and grow the file sparsely to its full length.
    const uint64_t total = bytes.size() + dataBytes;
    bytes[4] = static_cast<uint8_t>((total - 8) & 0xFF);
    bytes[5] = static_cast<uint8_t>(((total - 8) >> 8) & 0xFF);
    bytes[6] = static_cast<uint8_t>(((total - 8) >> 16) & 0xFF);
    bytes[7] = static_cast<uint8_t>(((total - 8) >> 24) & 0xFF);
    const size_t sizeAt = bytes.size() - 4;
    bytes[sizeAt] = static_cast<uint8_t>(dataBytes & 0xFF);
    bytes[sizeAt + 1] = static_cast<uint8_t>((dataBytes >> 8) & 0xFF);
    bytes[sizeAt + 2] = static_cast<uint8_t>((dataBytes >> 16) & 0xFF);
    bytes[sizeAt + 3] = static_cast<uint8_t>((dataBytes >> 24) & 0xFF);
    writeFileBytes(path, bytes);
    std::filesystem::resize_file(path, total);
}

// Drags data over the list and drops it, as a file manager does. True when
// the list took the drag and the drop.
bool dropOnList(MainWindow& w, const QByteArray& data, const char* type = "text/uri-list") {
    QMimeData mime;
    mime.setData(QString::fromLatin1(type), data);
    QWidget* target = w.listView->viewport();
    const QPoint at(10, 10);
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(at, actions, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(at, actions, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return enter.isAccepted() && drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

QByteArray fileUrl(const std::string& path) {
    return "file://" + QByteArray::fromStdString(path).toPercentEncoding("/");
}

// 3.6 s of a tone in every kind of file the player opens.
std::vector<std::string> writeEveryKind(const testing_support::TempDir& dir) {
    const struct {
        const char* name;
        std::vector<std::string> args;
    } kinds[] = {
        {"a.wav", {}},
        {"b.mp3", {"-b:a", "64k"}},
        {"c.wma", {}},
        {"d.flac", {}},
        {"e.ogg", {"-c:a", "libvorbis"}},
        {"f.OGA", {"-c:a", "libvorbis", "-f", "ogg"}},
        {"g.opus", {}},
        {"h.m4a", {"-c:a", "aac"}},
        {"i.m4a", {"-c:a", "alac"}},
    };
    std::vector<std::string> paths;
    for (const auto& kind : kinds) {
        paths.push_back(dir.file(kind.name));
        if (!testing_support::makeTaggedFile(paths.back(), kind.args, {}, 3.6)) {
            return {};
        }
    }
    return paths;
}

struct BrokenFile {
    std::string path;
    const char* reason;
};

// Files of the known kinds that do not decode: text, a cut-off head, a
// video without sound, nothing at all.
std::vector<BrokenFile> writeBrokenFiles(const testing_support::TempDir& dir) {
    const std::string text = dir.file("text.flac");
    const std::string cut = dir.file("cut.ogg");
    const std::string video = dir.file("video.m4a");
    const std::string empty = dir.file("empty.opus");
    const std::string whole = dir.file("whole.ogg");
    writeFileBytes(text, std::vector<uint8_t>(3000, 'x'));
    writeFileBytes(empty, {});
    if (!testing_support::makeTaggedFile(whole, {}, {})) {
        return {};
    }
    std::vector<uint8_t> head = readFileBytes(whole);
    head.resize(std::min<size_t>(head.size(), 200));
    writeFileBytes(cut, head);
    const pid_t pid = testing_support::spawnProgram(
        {"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
         "testsrc=size=64x48:rate=5:duration=1", "-c:v", "mpeg4", "-f", "mp4", video},
        {}, "/dev/null");
    if (pid <= 0 || testing_support::waitForProgram(pid, 120000) != 0) {
        return {};
    }
    return {{text, "not in a known format, or damaged"},
            {cut, "not in a known format, or damaged"},
            {video, "it holds no audio"},
            {empty, "not in a known format, or damaged"}};
}

} // namespace

TEST_F(WindowTest, AddedFilesShowNameTimeSizeAndPath) {
    const std::string a = dir.file("one.wav");
    writeWave(a, 1, 8000, 2.5);
    const std::string b = dir.file("long.wav");
    writeSparseWave(b, 90 * 60);
    const std::string c = dir.file("hours.wav");
    writeSparseWave(c, 2 * 3600);
    chooseFiles({a, b, c});
    window().onCommand(kIdAddFiles);

    EXPECT_EQ(lastOpenRequest().filter,
              "Audio Files (*.wav,*.mp3,*.wma,*.flac,*.ogg,*.oga,*.opus,*.m4a)|"
              "*.wav;*.mp3;*.wma;*.flac;*.ogg;*.oga;*.opus;*.m4a|Wave Files (*.wav)|*.wav|"
              "Mp3 Files(*.mp3)|*.mp3|Windows Media Files (*.wma)|*.wma|FLAC Files (*.flac)|*.flac|"
              "Ogg Files (*.ogg,*.oga,*.opus)|*.ogg;*.oga;*.opus|M4A Files (*.m4a)|*.m4a||");
    EXPECT_TRUE(lastOpenRequest().multipleSelection);
    EXPECT_TRUE(lastOpenRequest().fileMustExist);

    ASSERT_EQ(rowCount(), 3);
    EXPECT_EQ(row(0, 0), "");
    EXPECT_EQ(row(0, 1), "one.wav");
    EXPECT_EQ(row(0, 2), "00:02");
    EXPECT_EQ(row(0, 3), std::to_string(std::filesystem::file_size(a) / 1024) + " KB");
    EXPECT_EQ(row(0, 4), a);
    EXPECT_EQ(row(1, 2), "90:00");
    EXPECT_EQ(row(2, 2), "120:00");
    // Adding changes neither the selection nor the current item.
    EXPECT_EQ(window().listView->GetSelectedRow(), -1);
    EXPECT_EQ(window().currentIndex, -1);
}

TEST_F(WindowTest, DuplicatesAreRefusedIgnoringCaseButOtherDirectoriesAreNot) {
    MainWindow& w = window();
    EXPECT_TRUE(w.addRow("a.wav", 1, 10, "/music/a.wav"));
    EXPECT_FALSE(w.addRow("a.wav", 1, 10, "/music/a.wav"));
    EXPECT_FALSE(w.addRow("A.WAV", 5, 99, "/MUSIC/A.WAV"));
    EXPECT_TRUE(w.addRow("a.wav", 1, 10, "/other/a.wav"));
    // Same path, other name: not a duplicate (only both together are).
    EXPECT_TRUE(w.addRow("b.wav", 1, 10, "/music/a.wav"));
    EXPECT_EQ(rowCount(), 3);

    const std::string file = dir.file("Song.wav");
    writeWave(file, 1, 8000, 0.5);
    chooseFiles({file, file});
    w.onCommand(kIdAddFiles);
    EXPECT_EQ(rowCount(), 4);
}

// A folder of 20,000 small files: added in seconds, the window answering
// and showing its progress meanwhile, duplicates still refused.
TEST_F(WindowTest, TwentyThousandFilesAreAddedInSecondsWhileTheWindowAnswers) {
    constexpr int kFiles = 20000;
    const std::vector<uint8_t> wave =
        testing_support::waveFile(pcmFormat(1, 8000, 16), std::vector<uint8_t>(16000, 0x11));
    const std::string folder = dir.file("many");
    std::filesystem::create_directory(folder);
    std::vector<std::string> paths;
    for (int i = 0; i < kFiles; ++i) {
        paths.push_back(folder + "/take" + std::to_string(i) + ".wav");
        writeFileBytes(paths.back(), wave);
    }
    // Again, some of them: duplicates of the same batch.
    paths.insert(paths.end(), paths.begin(), paths.begin() + 100);
    MainWindow& w = window();
    w.show();
    ASSERT_TRUE(w.addRow("TAKE7.WAV", 0, 0, folder + "/TAKE7.wav"));

    int ticks = 0;
    bool progressSeen = false;
    QTimer answering;
    answering.setInterval(20);
    QObject::connect(&answering, &QTimer::timeout, [&] {
        ++ticks;
        for (const QProgressDialog* progress : w.findChildren<QProgressDialog*>()) {
            progressSeen = progressSeen || progress->isVisible();
        }
    });
    answering.start();
    QElapsedTimer clock;
    clock.start();
    const int added = w.addFiles(paths);
    const qint64 elapsed = clock.elapsed();
    answering.stop();

    EXPECT_EQ(added, kFiles - 1);
    ASSERT_EQ(rowCount(), kFiles);
    EXPECT_EQ(row(1, 4), folder + "/take0.wav");
    EXPECT_EQ(row(1, 2), "00:01");
    EXPECT_EQ(row(1, 3), "15 KB");
    EXPECT_EQ(row(kFiles - 1, 1), "take" + std::to_string(kFiles - 1) + ".wav");
    // Seconds in a plain build (a check of every row for every file took
    // minutes); the bound leaves room for a sanitizer on a loaded machine.
    EXPECT_LT(elapsed, 120000) << "adding took " << elapsed << " ms";
    // The window ran its events throughout.
    EXPECT_GE(ticks, static_cast<int>(elapsed / 20 / 4)) << elapsed << " ms";
    if (elapsed > 1500) {
        EXPECT_TRUE(progressSeen);
    }
    std::printf("added %d files in %lld ms\n", added, static_cast<long long>(elapsed));

    // Cancel ends the reading: the files read until then are added.
    w.onCommand(kIdClearAll);
    QTimer::singleShot(100, [&] {
        for (QProgressDialog* progress : w.findChildren<QProgressDialog*>()) {
            progress->cancel();
        }
    });
    const int partly = w.addFiles(paths);
    EXPECT_LT(partly, kFiles);
    EXPECT_EQ(rowCount(), partly);
    EXPECT_TRUE(w.isVisible());
}

TEST_F(WindowTest, SizesAndTimesRoundDown) {
    MainWindow& w = window();
    w.addRow("small", 61, 1023, "/a");
    w.addRow("k", 0, 1024, "/b");
    w.addRow("neg", -1, -5, "/c");
    w.addRow("huge", 3600 * 100, int64_t{5} * 1024 * 1024 * 1024, "/d");
    EXPECT_EQ(row(0, 2), "01:01");
    EXPECT_EQ(row(0, 3), "0 KB");
    EXPECT_EQ(row(1, 3), "1 KB");
    EXPECT_EQ(row(2, 2), "00:00");
    EXPECT_EQ(row(2, 3), "0 KB");
    EXPECT_EQ(row(3, 2), "6000:00");
    EXPECT_EQ(row(3, 3), "5242880 KB");
}

TEST_F(WindowTest, FilesAreSkippedByExtensionAndReadability) {
    const std::string upper = dir.file("LOUD.WAV");
    writeWave(upper, 1, 8000, 1.0);
    const std::string noDot = dir.file("nodot");
    writeWave(noDot, 1, 8000, 1.0);
    const std::string text = dir.file("notes.txt");
    writeFileBytes(text, {1, 2, 3});
    const std::string missing = dir.file("missing.wav");
    const std::string folder = dir.file("folder.wav");
    std::filesystem::create_directory(folder);
    const std::string junk = dir.file("junk.wav");
    writeFileBytes(junk, std::vector<uint8_t>(1023, 0x55));
    // A pipe named like audio is skipped without waiting for a writer.
    testing_support::FifoWatch pipe(dir.file("pipe.wav"));
    ASSERT_TRUE(pipe.made());

    chooseFiles({upper, noDot, text, missing, folder, dir.file("pipe.wav"), junk});
    window().onCommand(kIdAddFiles);
    EXPECT_FALSE(pipe.released());
    ASSERT_EQ(rowCount(), 1);
    EXPECT_EQ(row(0, 1), "LOUD.WAV");
    EXPECT_EQ(row(0, 2), "00:01");
    // A file the reader cannot parse gets no row; it alone is named.
    EXPECT_EQ(messages->texts(),
              (std::vector<std::string>{"These files were not added to the list:\n" + junk +
                                        ": not a WAVE file that can be read"}));
}

TEST_F(WindowTest, RemoveDeletesOnlyTheSelectedRowAndMoveSwapsIt) {
    MainWindow& w = window();
    w.addRow("a", 1, 1, "/a");
    w.addRow("b", 1, 1, "/b");
    w.addRow("c", 1, 1, "/c");
    w.onCommand(kIdRemove); // nothing selected
    EXPECT_EQ(rowCount(), 3);

    w.listView->SelectRow(1);
    w.onCommand(kIdMoveUp);
    EXPECT_EQ(row(0, 1), "b");
    EXPECT_EQ(w.listView->GetSelectedRow(), 0);
    w.onCommand(kIdMoveUp); // at the top: nothing
    EXPECT_EQ(row(0, 1), "b");
    w.listView->SelectRow(2);
    w.onCommand(kIdMoveDown); // at the bottom: nothing
    EXPECT_EQ(row(2, 1), "c");

    w.listView->SelectRow(1);
    w.onCommand(kIdRemove);
    ASSERT_EQ(rowCount(), 2);
    EXPECT_EQ(row(0, 1), "b");
    EXPECT_EQ(row(1, 1), "c");
}

TEST_F(WindowTest, SelectedItemIsTheFilePathOrTheTrackNameOfACdRow) {
    MainWindow& w = window();
    EXPECT_EQ(w.selectedItem(), std::nullopt);
    w.addRow("a.wav", 1, 1, "/music/a.wav");
    w.addRow("Track-04", 1, 1, "CDROM");
    w.selectRow(1);
    EXPECT_EQ(w.currentIndex, 1);
    EXPECT_EQ(w.listView->GetSelectedRow(), 1);
    EXPECT_EQ(w.selectedItem(), "Track-04");
    w.selectRow(0);
    EXPECT_EQ(w.selectedItem(), "/music/a.wav");
}

TEST_F(WindowTest, ClearAllEmptiesTheListButKeepsTheLoadedItem) {
    MainWindow& w = window();
    w.addRow("a", 1, 1, "/a");
    w.currentIndex = 0;
    w.titleText = "a";
    w.onCommand(kIdClearAll);
    EXPECT_EQ(rowCount(), 0);
    EXPECT_EQ(w.currentIndex, 0);
    EXPECT_EQ(labelText(kIdTitle), "a");
}

TEST_F(WindowTest, CdModeKeepsTheFileRowsForTheReturnToFiles) {
    MainWindow& w = window();
    w.addRow("a", 1, 1, "/a");
    w.addRow("b", 1, 1, "/b");
    w.currentIndex = 1;
    w.setListMode(kListCdTracks);
    EXPECT_EQ(w.currentIndex, -1);
    EXPECT_EQ(w.listMode, kListCdTracks);
    w.listView->DeleteAllItems();
    w.addRow("Track-00", 250, 44100000, "CDROM");

    // Add Audio Files goes back to the file rows and appends after them.
    const std::string file = dir.file("c.wav");
    writeWave(file, 1, 8000, 0.2);
    chooseFiles({file});
    w.onCommand(kIdAddFiles);
    EXPECT_EQ(w.listMode, kListFiles);
    ASSERT_EQ(rowCount(), 3);
    EXPECT_EQ(row(0, 1), "a");
    EXPECT_EQ(row(1, 1), "b");
    EXPECT_EQ(row(2, 1), "c.wav");
    EXPECT_EQ(labelText(kIdTitle), "");
    EXPECT_EQ(labelText(kIdTime), "00:00");
}

TEST_F(WindowTest, RecordingModeDisablesTheListUntilTheFilesComeBack) {
    MainWindow& w = window();
    w.addRow("a", 1, 1, "/a");
    w.listView->SelectRow(0);
    w.currentIndex = 0;
    w.setListMode(kListRecording);
    EXPECT_EQ(w.currentIndex, -1);
    EXPECT_EQ(w.listView->GetSelectedRow(), -1);
    EXPECT_FALSE(w.listView->isEnabled());
    for (BitmapButton* b :
         {w.moveDownButton, w.moveUpButton, w.removeButton, w.clearAllButton, w.repeatButton}) {
        EXPECT_FALSE(b->isEnabled());
    }
    EXPECT_TRUE(w.playButton->isEnabled());
    // Prev and Next do nothing while the take is the item.
    w.onCommand(kIdNext);
    w.onCommand(kIdPrev);
    EXPECT_EQ(w.currentIndex, -1);

    w.listView->DeleteAllItems(); // what the recording showed
    w.setListMode(kListFiles);
    EXPECT_TRUE(w.listView->isEnabled());
    for (BitmapButton* b :
         {w.moveDownButton, w.moveUpButton, w.removeButton, w.clearAllButton, w.repeatButton}) {
        EXPECT_TRUE(b->isEnabled());
    }
    ASSERT_EQ(rowCount(), 1);
    EXPECT_EQ(row(0, 1), "a");
}

TEST_F(WindowTest, RecordingAfterCdModeRestoresTheFileRowsOfBeforeTheCd) {
    MainWindow& w = window();
    w.addRow("file", 1, 1, "/file");
    w.setListMode(kListCdTracks);
    w.listView->DeleteAllItems();
    w.addRow("Track-00", 1, 1, "CDROM");
    w.setListMode(kListRecording); // from the CD mode: no new saved copy
    w.setListMode(kListFiles);
    ASSERT_EQ(rowCount(), 1);
    EXPECT_EQ(row(0, 1), "file");
}

TEST_F(WindowTest, ClosingWhileCdTracksOrTheRecordingAreShownStoresTheFileRows) {
    const auto storedNames = [this] {
        const StoredListDecoding stored = decodeStoredList(readFileBytes(dir.file("velumo.ini")));
        EXPECT_TRUE(stored.complete);
        std::vector<std::string> names;
        for (const StoredRow& texts : stored.rows) {
            names.push_back(texts[1]);
        }
        return names;
    };
    const std::vector<std::string> files = {"a", "b"};
    MainWindow& w = window();
    w.addRow("a", 1, 1, "/a");
    w.addRow("b", 1, 1, "/b");

    // CD tracks shown, then a refresh that found no disc: an empty CD list.
    w.setListMode(kListCdTracks);
    w.removeAllRows();
    w.addRow("Track-00", 1, 1, "CDROM");
    ASSERT_TRUE(w.storeList());
    EXPECT_EQ(storedNames(), files);
    w.removeAllRows();
    ASSERT_TRUE(w.storeList());
    EXPECT_EQ(storedNames(), files);

    // Recording begun in the CD mode, then CD Refresh again: the CD rows
    // shown while recording must not become the saved copy.
    w.addRow("Track-00", 1, 1, "CDROM");
    w.setListMode(kListRecording);
    ASSERT_TRUE(w.storeList());
    EXPECT_EQ(storedNames(), files);
    w.setListMode(kListCdTracks);
    ASSERT_TRUE(w.storeList());
    EXPECT_EQ(storedNames(), files);
    w.setListMode(kListFiles);
    ASSERT_EQ(rowCount(), 2);
    EXPECT_EQ(row(1, 1), "b");

    // Back in the file mode the rows shown are stored, as always.
    w.removeAllRows();
    w.addRow("c", 1, 1, "/c");
    ASSERT_TRUE(w.storeList());
    EXPECT_EQ(storedNames(), std::vector<std::string>{"c"});
}

TEST_F(WindowTest, FileNamesThatAreNotUtf8KeepTheirBytes) {
    // Latin-1 names, as an old disk or archive brings them.
    const std::string latin = dir.file("caf\xe9.wav");
    const std::string other = dir.file("caf\xe8.wav");
    writeWave(latin, 1, 8000, 1.2);
    writeWave(other, 1, 8000, 0.4);
    chooseFiles({latin, other});
    MainWindow& w = window();
    w.onCommand(kIdAddFiles);
    // Two different names, not duplicates of each other.
    ASSERT_EQ(rowCount(), 2);
    EXPECT_EQ(row(0, 4), latin);
    EXPECT_EQ(row(0, 1), "caf\xe9.wav");
    EXPECT_EQ(row(1, 4), other);
    EXPECT_FALSE(w.addRow("caf\xe9.wav", 1, 1, latin));

    // Moving rows and the saved copy keep the bytes.
    w.listView->SwapRows(0, 1);
    w.setListMode(kListCdTracks);
    w.setListMode(kListFiles);
    ASSERT_EQ(rowCount(), 2);
    EXPECT_EQ(row(1, 4), latin);

    // The item plays and is what Convert is given.
    w.selectRow(1);
    EXPECT_EQ(w.selectedItem(), latin);
    EXPECT_EQ(w.loadFile(row(1, 4), row(1, 1)), 0);

    // And it survives a restart byte for byte.
    ASSERT_TRUE(w.storeList());
    resetWindow();
    window();
    ASSERT_EQ(rowCount(), 2);
    EXPECT_EQ(row(1, 4), latin);
    EXPECT_EQ(row(1, 1), "caf\xe9.wav");
    EXPECT_EQ(row(0, 4), other);
}

TEST_F(WindowTest, StoredListRoundTripsThroughTheFileNextToTheProgram) {
    {
        MainWindow& w = window();
        w.addRow("a.wav", 61, 2048, "/m/a.wav");
        w.addRow("Track-03", 185, 32 * 1024 * 1024, "CDROM");
        w.addRow(std::string(300, 'n'), 1, 1, "/m/" + std::string(300, 'n'));
        EXPECT_TRUE(w.storeList());
        resetWindow();
    }
    // No temporary file is left behind.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);

    const auto bytes = readFileBytes(dir.file("velumo.ini"));
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes[0], 3);
    EXPECT_EQ(bytes[1], 0);

    MainWindow& w = window();
    ASSERT_EQ(rowCount(), 3);
    EXPECT_EQ(row(0, 1), "a.wav");
    EXPECT_EQ(row(0, 2), "01:01");
    EXPECT_EQ(row(0, 3), "2 KB");
    EXPECT_EQ(row(1, 4), "CDROM");
    EXPECT_EQ(row(1, 2), "03:05");
    EXPECT_EQ(row(2, 1), std::string(300, 'n'));
    (void)w;
}

TEST_F(WindowTest, DamagedStoredListKeepsTheRowsBeforeTheDamage) {
    std::vector<uint8_t> bytes = {3, 0, 0, 0};
    for (const std::string text : {"", "a", "00:01", "0 KB", "/a"}) {
        bytes.push_back(static_cast<uint8_t>(text.size()));
        bytes.insert(bytes.end(), text.begin(), text.end());
    }
    // The second row claims a 200-byte text with 3 bytes left.
    bytes.insert(bytes.end(), {0, 200, 'x', 'y', 'z'});
    writeFileBytes(dir.file("velumo.ini"), bytes);

    MainWindow& w = window();
    ASSERT_EQ(rowCount(), 1);
    EXPECT_EQ(row(0, 4), "/a");
    EXPECT_EQ(labelText(kIdTitle), "no audio file");
    EXPECT_TRUE(messages->texts().empty());
    // Loading again reports the damage.
    w.listView->DeleteAllItems();
    EXPECT_FALSE(w.loadStoredList());
    EXPECT_EQ(rowCount(), 1);

    // Storing keeps the damaged file beside the list, once.
    ASSERT_TRUE(w.storeList());
    EXPECT_EQ(readFileBytes(dir.file("velumo.ini.damaged")), bytes);
    w.addRow("b", 1, 1, "/b");
    ASSERT_TRUE(w.storeList());
    EXPECT_EQ(readFileBytes(dir.file("velumo.ini.damaged")), bytes);
    EXPECT_EQ(decodeStoredList(readFileBytes(dir.file("velumo.ini"))).rows.size(), 2U);
}

TEST_F(WindowTest, StartRemovesWhatAKilledStoreLeftAndReadsAListLeftNextToTheProgram) {
    // Only Velumo's own temporary name is removed; the user's files beside
    // the list stay, six-character suffixes included.
    writeFileBytes(dir.file(".velumo.ini.velumo-Ab3xY9"), {1, 2, 3});
    for (const char* kept : {"velumo.ini.damaged", "velumo.ini.keep", "velumo.ini.backup",
                             "velumo.ini.Ab3xY9", ".velumo.ini.velumo-Ab3xY9.old"}) {
        writeFileBytes(dir.file(kept), {5});
    }
    std::vector<StoredRow> rows = {{"", "old.wav", "00:01", "1 KB", "/m/old.wav"}};
    writeFileBytes(dir.file("velumo.ini"), encodeStoredList(rows));
    window();
    EXPECT_FALSE(std::filesystem::exists(dir.file(".velumo.ini.velumo-Ab3xY9")));
    for (const char* kept : {"velumo.ini.damaged", "velumo.ini.keep", "velumo.ini.backup",
                             "velumo.ini.Ab3xY9", ".velumo.ini.velumo-Ab3xY9.old"}) {
        EXPECT_TRUE(std::filesystem::exists(dir.file(kept))) << kept;
    }
    resetWindow();

    // The program's directory became read-only: its files now live in the
    // data directory, which holds no list yet.
    const std::string data = dir.file("data");
    std::filesystem::create_directory(data);
    {
        MainWindow moved(ProgramFiles::elsewhere(dir.file("velumo"), data));
        ASSERT_EQ(moved.listView->GetItemCount(), 1);
        EXPECT_EQ(moved.listView->GetItemText(0, 1), "old.wav");
        moved.addRow("new.wav", 1, 1, "/m/new.wav");
        ASSERT_TRUE(moved.storeList());
    }
    EXPECT_EQ(decodeStoredList(readFileBytes(data + "/velumo.ini")).rows.size(), 2U);
    EXPECT_EQ(readFileBytes(dir.file("velumo.ini")), encodeStoredList(rows));
    // From now on the data directory's list is the one read.
    MainWindow again(ProgramFiles::elsewhere(dir.file("velumo"), data));
    EXPECT_EQ(again.listView->GetItemCount(), 2);
}

TEST_F(WindowTest, StoringTheListThroughALinkReplacesTheFileItNames) {
    std::filesystem::create_directory(dir.file("lists"));
    std::vector<StoredRow> rows = {{"", "old.wav", "00:01", "1 KB", "/m/old.wav"}};
    writeFileBytes(dir.file("lists/mine.ini"), encodeStoredList(rows));
    std::filesystem::create_symlink("lists/mine.ini", dir.file("velumo.ini"));
    MainWindow& w = window();
    ASSERT_EQ(rowCount(), 1);
    w.addRow("new.wav", 1, 1, "/m/new.wav");
    ASSERT_TRUE(w.storeList());
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("velumo.ini")));
    EXPECT_EQ(decodeStoredList(readFileBytes(dir.file("lists/mine.ini"))).rows.size(), 2U);
}

TEST_F(WindowTest, GarbageAndEmptyStoredListsStartAnEmptyWindow) {
    for (const std::vector<uint8_t>& bytes :
         {std::vector<uint8_t>{}, std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x7F, 1, 2},
          std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}, std::vector<uint8_t>{1, 0}}) {
        writeFileBytes(dir.file("velumo.ini"), bytes);
        window();
        EXPECT_EQ(rowCount(), 0);
        resetWindow();
    }
}

// A stored list that is there but cannot be read as a file: start does not
// wait on it, and the session's rows go beside it, never over it.
TEST_F(WindowTest, AStoredListThatCannotBeReadIsNeverStoredOver) {
    const std::string list = dir.file("velumo.ini");
    const std::vector<uint8_t> secret = encodeStoredList({{"", "s.wav", "00:01", "1 KB", "/s"}});
    enum Kind { kFifo, kFolder, kNoPermission };
    for (const Kind kind : {kFifo, kFolder, kNoPermission}) {
        std::filesystem::remove_all(list);
        std::filesystem::remove_all(list + ".session");
        if (kind == kFifo) {
            ASSERT_EQ(::mkfifo(list.c_str(), 0600), 0);
        } else if (kind == kFolder) {
            std::filesystem::create_directory(list);
        } else {
            if (::geteuid() == 0) {
                continue; // root reads any file
            }
            writeFileBytes(list, secret);
            ASSERT_EQ(::chmod(list.c_str(), 0), 0);
        }
        MainWindow& w = window();
        EXPECT_EQ(rowCount(), 0) << kind;
        w.addRow("mine.wav", 1, 1, "/m/mine.wav");
        w.show();
        w.close();
        resetWindow();
        struct stat info {};
        ASSERT_EQ(::lstat(list.c_str(), &info), 0) << kind;
        if (kind == kFifo) {
            EXPECT_TRUE(S_ISFIFO(info.st_mode));
        } else if (kind == kFolder) {
            EXPECT_TRUE(S_ISDIR(info.st_mode));
        } else {
            ::chmod(list.c_str(), 0600);
            EXPECT_EQ(readFileBytes(list), secret);
        }
        const auto kept = decodeStoredList(readFileBytes(list + ".session"));
        ASSERT_EQ(kept.rows.size(), 1U) << kind;
        EXPECT_EQ(kept.rows[0][4], "/m/mine.wav");
    }
}

// An installed program with no place for its list: nothing lands beside
// it, and closing says in the window that the rows are not stored.
TEST_F(WindowTest, AListThatCannotBeStoredIsReportedInTheWindowBeforeItCloses) {
    const std::string bin = dir.file("bin");
    std::filesystem::create_directories(bin);
    {
        MainWindow w(ProgramFiles::locate(bin + "/velumo", "", "", bin));
        w.addRow("a.wav", 1, 1, "/a.wav");
        w.show();
        w.close();
        EXPECT_FALSE(w.isVisible());
    }
    EXPECT_TRUE(std::filesystem::is_empty(bin));
    // A data folder that cannot be made (a file stands in its way).
    writeFileBytes(dir.file("blocked"), {1});
    {
        MainWindow w(ProgramFiles::elsewhere(bin + "/velumo", dir.file("blocked") + "/velumo"));
        w.addRow("a.wav", 1, 1, "/a.wav");
        w.show();
        QTest::keyClick(&w, Qt::Key_Escape);
        EXPECT_FALSE(w.isVisible());
    }
    const std::vector<std::string> texts = messages->texts();
    ASSERT_EQ(texts.size(), 2U);
    EXPECT_NE(texts[0].find("could not be stored: there is no folder"), std::string::npos)
        << texts[0];
    EXPECT_NE(texts[1].find(dir.file("blocked") + "/velumo"), std::string::npos) << texts[1];
    EXPECT_NE(texts[1].find("cannot be created"), std::string::npos) << texts[1];
}

// Two windows on one list: the one closed last keeps the other's list
// beside its own and says so, instead of storing over it unseen.
TEST_F(WindowTest, AListStoredByAnotherWindowIsKeptBesideAndReported) {
    const std::string list = dir.file("velumo.ini");
    writeFileBytes(list, encodeStoredList({{"", "old.wav", "00:01", "1 KB", "/m/old.wav"}}));
    MainWindow& first = window();
    {
        MainWindow second(ProgramFiles::inDirectory(dir.path().string()));
        second.addRow("second.wav", 1, 1, "/m/second.wav");
        second.show();
        second.close();
    }
    EXPECT_TRUE(messages->texts().empty());
    const std::vector<uint8_t> secondList = readFileBytes(list);
    ASSERT_EQ(decodeStoredList(secondList).rows.size(), 2U);

    first.addRow("first.wav", 1, 1, "/m/first.wav");
    ASSERT_TRUE(first.storeList());
    EXPECT_EQ(readFileBytes(list + ".other"), secondList);
    const auto stored = decodeStoredList(readFileBytes(list));
    ASSERT_EQ(stored.rows.size(), 2U);
    EXPECT_EQ(stored.rows[1][4], "/m/first.wav");
    ASSERT_EQ(messages->texts().size(), 1U);
    EXPECT_NE(messages->texts()[0].find(list + ".other"), std::string::npos);

    // Its own stores since then are no change by another window.
    first.addRow("more.wav", 1, 1, "/m/more.wav");
    ASSERT_TRUE(first.storeList());
    EXPECT_EQ(messages->texts().size(), 1U);
    EXPECT_EQ(readFileBytes(list + ".other"), secondList);
}

TEST_F(WindowTest, FailedStoreLeavesTheOldListInPlace) {
    MainWindow& w = window();
    w.addRow("a", 1, 1, "/a");
    ASSERT_TRUE(w.storeList());
    const auto before = readFileBytes(dir.file("velumo.ini"));
    for (int i = 0; i < 50; ++i) {
        w.addRow("row" + std::to_string(i), 1, 1, "/r" + std::to_string(i));
    }

    // A full disk: writes beyond a few bytes fail.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* previousSignal = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tight = old;
    tight.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    const bool stored = w.storeList();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousSignal);

    EXPECT_FALSE(stored);
    EXPECT_EQ(readFileBytes(dir.file("velumo.ini")), before);
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1); // the temporary file was removed

    // A path taken by a directory cannot be replaced either.
    std::filesystem::remove(dir.file("velumo.ini"));
    std::filesystem::create_directories(dir.file("velumo.ini/keep"));
    EXPECT_FALSE(w.storeList());
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("velumo.ini/keep")));
}

TEST_F(WindowTest, DroppedFilesAndFoldersAreAddedByTheAddAudioFilesRules) {
    const std::string single = dir.file("single.wav");
    writeWave(single, 1, 8000, 1.0);
    const std::string latin = dir.file("caf\xe9.wav");
    writeWave(latin, 1, 8000, 0.5);
    // album/: names in number order, an unsupported and a hidden file,
    // nested folders down to the last level taken, and a link back up.
    const std::filesystem::path album = dir.path() / "album";
    std::filesystem::create_directories(album / "sub" / "l2" / "l3" / "l4");
    for (const char* name : {"10 b.wav", "2 a.WAV", "sub/c.Wav", "sub/l2/l3/deep.wav"}) {
        writeWave((album / name).string(), 1, 8000, 0.2);
    }
    writeWave((album / ".hidden.wav").string(), 1, 8000, 0.2);
    writeWave((album / "sub/l2/l3/l4/too-deep.wav").string(), 1, 8000, 0.2);
    writeFileBytes((album / "notes.txt").string(), {1, 2, 3});
    std::filesystem::create_directory_symlink(album, album / "sub" / "loop");

    MainWindow& w = window();
    w.addRow("single.wav", 1, 1, single); // already listed: not added twice
    const QByteArray uris = fileUrl(single) + "\r\n# a comment\r\n" + fileUrl(album.string()) +
                            "/\r\nhttps://example.com/song.mp3\r\n" + fileUrl(latin) + "\r\n";
    EXPECT_TRUE(dropOnList(w, uris));

    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(rowCount()));
    for (int i = 0; i < rowCount(); ++i) {
        names.push_back(row(i, 1));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"single.wav", "2 a.WAV", "10 b.wav", "c.Wav",
                                               "deep.wav", "caf\xe9.wav"}));
    EXPECT_EQ(row(1, 4), (album / "2 a.WAV").string());
    EXPECT_EQ(row(5, 4), latin); // the name's bytes, not UTF-8
    EXPECT_EQ(messages->texts(),
              (std::vector<std::string>{"Only files on this computer can be added to the list. "
                                        "Not added:\nhttps://example.com/song.mp3"}));
}

TEST_F(WindowTest, DropsAreTakenOnlyAsFilesAndNotWhileTheTakeIsLoaded) {
    MainWindow& w = window();
    const std::string file = dir.file("c.wav");
    writeWave(file, 1, 8000, 0.2);
    // Plain text and remote-only lists add nothing; the latter is named.
    EXPECT_FALSE(dropOnList(w, QByteArray::fromStdString(file), "text/plain"));
    EXPECT_TRUE(dropOnList(w, "sftp://host/music/c.wav\nfile://otherhost/c.wav\n"));
    EXPECT_EQ(rowCount(), 0);
    ASSERT_EQ(messages->texts().size(), 1U);
    EXPECT_NE(messages->texts()[0].find("sftp://host/music/c.wav\nfile://otherhost/c.wav"),
              std::string::npos);

    // While the recorded take is loaded the list is disabled and refuses.
    w.addRow("a", 1, 1, "/a");
    w.setListMode(kListRecording);
    EXPECT_FALSE(dropOnList(w, fileUrl(file)));
    EXPECT_EQ(rowCount(), 1);

    // Over CD tracks a drop does what Add Audio Files does: back to the
    // file rows, the new file after them.
    w.setListMode(kListFiles);
    w.setListMode(kListCdTracks);
    w.listView->DeleteAllItems();
    w.addRow("Track-00", 1, 1, "CDROM");
    EXPECT_TRUE(dropOnList(w, fileUrl(file)));
    EXPECT_EQ(w.listMode, kListFiles);
    ASSERT_EQ(rowCount(), 2);
    EXPECT_EQ(row(0, 1), "a");
    EXPECT_EQ(row(1, 1), "c.wav");
}

// Every kind opens: added with its length, loaded by the player, and kept
// by the stored list.
TEST_F(WindowTest, EveryKindOfFileIsAddedWithItsLengthAndLoads) {
    if (!testing_support::haveFfmpeg()) {
        GTEST_SKIP() << "the ffmpeg tool is not installed";
    }
    const std::vector<std::string> paths = writeEveryKind(dir);
    ASSERT_FALSE(paths.empty()) << "ffmpeg could not make the files";
    chooseFiles(paths);
    window().onCommand(kIdAddFiles);
    EXPECT_TRUE(messages->texts().empty());
    ASSERT_EQ(rowCount(), static_cast<int>(paths.size()));
    for (int i = 0; i < rowCount(); ++i) {
        SCOPED_TRACE(paths[static_cast<size_t>(i)]);
        EXPECT_EQ(row(i, 4), paths[static_cast<size_t>(i)]);
        EXPECT_EQ(row(i, 2), "00:03");
        EXPECT_EQ(window().loadFile(row(i, 4), row(i, 1)), 0);
        EXPECT_EQ(labelText(kIdTime), "00:03");
    }

    ASSERT_TRUE(window().storeList());
    resetWindow();
    ASSERT_EQ(rowCount(), static_cast<int>(paths.size()));
    EXPECT_EQ(row(6, 4), paths[6]);
    EXPECT_EQ(window().loadFile(row(6, 4), row(6, 1)), 0);
}

// Files that do not decode get no row, whichever way they come; one message
// for the whole add names each of them and why, and the rest are added.
TEST_F(WindowTest, UndecodableFilesAreNamedInOneMessageAndTheRestAdded) {
    if (!testing_support::haveFfmpeg()) {
        GTEST_SKIP() << "the ffmpeg tool is not installed";
    }
    const std::vector<BrokenFile> broken = writeBrokenFiles(dir);
    ASSERT_FALSE(broken.empty()) << "ffmpeg could not make the files";
    const std::string good = writeWave(dir.file("good.wav"), 1, 8000, 2.0);
    const std::string flac = dir.file("good.flac");
    ASSERT_TRUE(testing_support::makeTaggedFile(flac, {}, {}, 1.5));
    const std::vector<std::string> mixed = {broken[0].path, good, broken[1].path,
                                            broken[2].path, flac, broken[3].path};
    const std::string refused = "https://example.com/song.flac";

    const struct {
        const char* way;
        std::function<void(MainWindow&)> add;
    } ways[] = {
        {"Add Audio Files",
         [&](MainWindow& w) {
             chooseFiles(mixed);
             w.onCommand(kIdAddFiles);
         }},
        {"drop",
         [&](MainWindow& w) {
             QByteArray uris = QByteArray::fromStdString(refused) + "\r\n";
             for (const std::string& path : mixed) {
                 uris += fileUrl(path) + "\r\n";
             }
             EXPECT_TRUE(dropOnList(w, uris));
         }},
        {"velumo FILE...", [&](MainWindow& w) { EXPECT_TRUE(addAndPlay(w, mixed)); }},
    };
    useAudioDriver("dummy");
    for (const auto& way : ways) {
        SCOPED_TRACE(way.way);
        MainWindow& w = window();
        w.onCommand(kIdClearAll);
        messages.reset(); // the recorder gone gives back the handler it replaced
        messages = std::make_unique<testing_support::MessageRecorder>();
        way.add(w);
        ASSERT_EQ(rowCount(), 2);
        EXPECT_EQ(row(0, 4), good);
        EXPECT_EQ(row(1, 4), flac);
        EXPECT_EQ(row(1, 2), "00:01");
        const std::vector<std::string> texts = messages->texts();
        ASSERT_EQ(texts.size(), 1U);
        std::string expected;
        if (std::string(way.way) == "drop") {
            expected = "Only files on this computer can be added to the list. Not added:\n";
            expected += refused + "\n\n";
        }
        expected += "These files were not added to the list:";
        for (const BrokenFile& file : broken) {
            expected += "\n" + file.path + ": " + file.reason;
        }
        EXPECT_EQ(texts[0], expected);
    }
    // The command line played the first file that was added.
    EXPECT_TRUE(waitFor([&] { return window().loadedFile() == good; }));
}
