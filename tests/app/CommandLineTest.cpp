// `velumo [FILE...]`: what the arguments ask for, and the files added and
// the first one played in the window.

#include "app/CommandLine.h"
#include "app/OpenedFiles.h"
#include "app/WindowFixture.h"

#include <filesystem>

using namespace window_test;

TEST(CommandLine, ReadsFilesDiscsHelpAndRefusesUnknownOptions) {
    const std::string here = std::filesystem::current_path().string();
    struct Case {
        std::vector<const char*> arguments;
        std::vector<std::string> files;
        std::vector<std::string> discs;
        std::string unknown;
        bool help;
    };
    const Case cases[] = {
        {{}, {}, {}, "", false},
        {{"/m/a.wav", "b c.mp3", "./d.wma"},
         {"/m/a.wav", here + "/b c.mp3", here + "/d.wma"},
         {},
         "",
         false},
        {{"--cd", "disc.cue", "/m/a.wav", "--cd=/dev/sr0"},
         {"/m/a.wav"},
         {"disc.cue", "/dev/sr0"},
         "",
         false},
        // After "--" a name that begins with '-' is a file too.
        {{"--", "-x.wav", "--cd"}, {here + "/-x.wav", here + "/--cd"}, {}, "", false},
        {{"/m/a.wav", "--volume", "-q"}, {"/m/a.wav"}, {}, "--volume", false},
        {{"--cd"}, {}, {}, "--cd", false},
        {{"--cd="}, {}, {}, "--cd=", false},
        {{"/m/a.wav", "-h"}, {"/m/a.wav"}, {}, "", true},
        {{"--help"}, {}, {}, "", true},
        {{""}, {}, {}, "", false},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv = {"velumo"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const CommandLine line = parseCommandLine(static_cast<int>(argv.size()), argv.data());
        const std::string shown = c.arguments.empty() ? "(none)" : c.arguments.front();
        EXPECT_EQ(line.files, c.files) << shown;
        EXPECT_EQ(line.discs, c.discs) << shown;
        EXPECT_EQ(line.unknown, c.unknown) << shown;
        EXPECT_EQ(line.help, c.help) << shown;
    }
}

// The first file that is in the list afterwards plays: a file that cannot
// be read is skipped, and one already listed plays from its own row.
TEST_F(WindowTest, OpenedFilesAreAddedOnceAndTheFirstPlayable) {
    useAudioDriver("dummy");
    const std::string listed = testing_support::writeWave(dir.file("listed.wav"), 1, 44100, 30.0);
    const std::string fresh = testing_support::writeWave(dir.file("fresh.wav"), 1, 44100, 30.0);
    const std::string missing = dir.file("missing.wav");
    MainWindow& w = window();
    w.show();
    ASSERT_EQ(w.addFiles({listed}), 1);

    ASSERT_TRUE(addAndPlay(w, {missing, fresh, listed}));
    ASSERT_EQ(rowCount(), 2);
    EXPECT_EQ(row(1, 4), fresh);
    EXPECT_TRUE(waitFor([&] { return w.loadedFile() == fresh; }));
    EXPECT_TRUE(waitFor([&] { return labelText(kIdStatus) == "Playing"; }));
    EXPECT_EQ(w.currentIndex, 1);

    ASSERT_TRUE(addAndPlay(w, {listed}));
    EXPECT_EQ(rowCount(), 2);
    EXPECT_TRUE(waitFor([&] { return w.loadedFile() == listed; }));
    EXPECT_EQ(w.currentIndex, 0);
    EXPECT_EQ(w.listView->GetSelectedRow(), 0);

    // Nothing playable: nothing changes, and nothing claims to have played.
    EXPECT_FALSE(addAndPlay(w, {missing}));
    EXPECT_FALSE(addAndPlay(w, {}));
    EXPECT_EQ(rowCount(), 2);
    EXPECT_EQ(w.loadedFile(), listed);
    w.onCommand(kIdStop);
}
