#include "platform/FileDialog.h"

#include <gtest/gtest.h>

namespace {

TEST(FileDialog, FilterTextSplitsIntoDescriptionsAndPatterns) {
    const auto entries = parseFileFilter(
        "Audio Files (*.wav,*.mp3,*.wma)|*.wav;*.mp3;*.wma|Wave Files (*.wav)|*.wav|Mp3 "
        "Files(*.mp3)|*.mp3|Windows Media Files (*.wma)|*.wma||");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].first, "Audio Files (*.wav,*.mp3,*.wma)");
    EXPECT_EQ(entries[0].second, "*.wav;*.mp3;*.wma");
    EXPECT_EQ(entries[2].first, "Mp3 Files(*.mp3)");
    EXPECT_EQ(entries[3].second, "*.wma");

    EXPECT_EQ(parseFileFilter("Mp3 Files(*.mp3)|*.mp3||").size(), 1u);
    EXPECT_TRUE(parseFileFilter("").empty());
    EXPECT_TRUE(parseFileFilter("no patterns").empty());
    EXPECT_EQ(parseFileFilter("A|*.a").size(), 1u); // without the closing bars
}

TEST(FileDialog, RequestsGoToTheInstalledHandlerAndDefaultToCancelled) {
    EXPECT_TRUE(openFiles({}).empty());
    EXPECT_FALSE(saveFile({}).has_value());

    OpenFilesRequest seenOpen;
    auto previousOpen = setOpenFilesHandler([&](const OpenFilesRequest& r) {
        seenOpen = r;
        return std::vector<std::string>{"/a.wav", "/b.mp3"};
    });
    SaveFileRequest seenSave;
    auto previousSave = setSaveFileHandler([&](const SaveFileRequest& r) {
        seenSave = r;
        return std::optional<std::string>("/out.mp3");
    });

    OpenFilesRequest open;
    open.filter = "Wave Files (*.wav)|*.wav||";
    EXPECT_EQ(openFiles(open), (std::vector<std::string>{"/a.wav", "/b.mp3"}));
    EXPECT_EQ(seenOpen.filter, open.filter);

    SaveFileRequest save;
    save.title = "Convert and Save as";
    save.proposedName = "song.mp3";
    EXPECT_EQ(saveFile(save), "/out.mp3");
    EXPECT_EQ(seenSave.proposedName, "song.mp3");

    setOpenFilesHandler(previousOpen);
    setSaveFileHandler(previousSave);
    EXPECT_TRUE(openFiles(open).empty());
}

} // namespace
