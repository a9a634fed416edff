#include "controls/TemplateBuilder.h"

#include "controls/BitmapButton.h"
#include "controls/PlayListView.h"
#include "controls/TransparentSlider.h"
#include "resources/Images.h"
#include "resources/StringTable.h"

#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

std::unique_ptr<QWidget> buildDialog(int id) {
    const DialogTemplate* t = findDialogTemplate(id);
    EXPECT_NE(t, nullptr);
    auto dialog = std::make_unique<QWidget>();
    TemplateBuilder builder(*t);
    builder.build(dialog.get());
    return dialog;
}

TEST(TemplateBuilder, TemplateFontGivesTheClassicBaseUnits) {
    TemplateBuilder builder(*findDialogTemplate(kMainDialog));
    EXPECT_EQ(builder.baseUnits(), QSize(6, 13));
    TemplateBuilder convert(*findDialogTemplate(kConvertDialog));
    EXPECT_EQ(convert.baseUnits(), QSize(8, 16));
}

TEST(TemplateBuilder, MainDialogHasEveryControlWithItsIdAndText) {
    auto dialog = buildDialog(kMainDialog);
    EXPECT_EQ(dialog->windowTitle(), "Velumo");

    const int imageButtons[] = {1017, 1018, 1019, 1020, 1021, 1023, 1024, 1025,
                                1026, 1031, 1033, 1027, 1006, 1029, 1030};
    for (int id : imageButtons) {
        auto* button = qobject_cast<BitmapButton*>(TemplateBuilder::findControl(dialog.get(), id));
        ASSERT_NE(button, nullptr) << id;
        EXPECT_EQ(button->controlId(), id);
        EXPECT_TRUE(button->text().isEmpty());
    }
    for (int id : {1014, 1012}) {
        auto* slider =
            qobject_cast<TransparentSlider*>(TemplateBuilder::findControl(dialog.get(), id));
        ASSERT_NE(slider, nullptr) << id;
        EXPECT_EQ(slider->orientation(), Qt::Horizontal);
        EXPECT_EQ(slider->tickPosition(), QSlider::NoTicks);
    }
    auto* list = qobject_cast<PlayListView*>(TemplateBuilder::findControl(dialog.get(), 1028));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    for (int id : {1049, 1050}) {
        auto* combo = qobject_cast<QComboBox*>(TemplateBuilder::findControl(dialog.get(), id));
        ASSERT_NE(combo, nullptr) << id;
        EXPECT_TRUE(combo->isEditable());
    }

    const auto labelText = [&](int id) {
        auto* label = qobject_cast<QLabel*>(TemplateBuilder::findControl(dialog.get(), id));
        return label != nullptr ? label->text() : QString("<missing>");
    };
    EXPECT_EQ(labelText(1044), "AUDIO");
    EXPECT_EQ(labelText(1036), "Stopped");
    EXPECT_EQ(labelText(1037), "00:56");
    auto* title = qobject_cast<QLabel*>(TemplateBuilder::findControl(dialog.get(), 1044));
    EXPECT_TRUE(title->alignment() & Qt::AlignHCenter);
    auto* time = qobject_cast<QLabel*>(TemplateBuilder::findControl(dialog.get(), 1037));
    EXPECT_TRUE(time->alignment() & Qt::AlignRight);

    // The controls without an id: two labels, two frames, the picture.
    QStringList labels;
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (TemplateBuilder::controlId(label) == kNoControlId && !label->text().isEmpty()) {
            labels << label->text();
        }
    }
    labels.sort();
    EXPECT_EQ(labels, QStringList({"Bitrate", "Channel"}));
    QStringList frames;
    for (QGroupBox* box : dialog->findChildren<QGroupBox*>()) {
        frames << box->title();
    }
    frames.sort();
    EXPECT_EQ(frames, QStringList({"", "Conversion Quality"}));

    int withProperty = 0;
    for (QWidget* child : dialog->findChildren<QWidget*>()) {
        withProperty += child->property("controlId").isValid();
    }
    EXPECT_EQ(withProperty, static_cast<int>(findDialogTemplate(kMainDialog)->controls.size()));
}

TEST(TemplateBuilder, RectanglesFollowTheDialogUnits) {
    auto dialog = buildDialog(kMainDialog);
    // 6 x 13 base: x = units x 1.5, y = units x 1.625, rounded.
    EXPECT_EQ(TemplateBuilder::findControl(dialog.get(), 1028)->geometry(),
              QRect(11, 203, 590, 309));
    EXPECT_EQ(TemplateBuilder::findControl(dialog.get(), 1017)->geometry(), QRect(57, 137, 24, 26));
    EXPECT_EQ(TemplateBuilder::findControl(dialog.get(), 1020)->geometry(),
              QRect(236, 137, 26, 26));
    EXPECT_EQ(TemplateBuilder::findControl(dialog.get(), 1024)->geometry(),
              QRect(327, 130, 36, 39));
    EXPECT_EQ(TemplateBuilder::findControl(dialog.get(), 1014)->geometry(), QRect(74, 88, 251, 36));
    EXPECT_EQ(TemplateBuilder::findControl(dialog.get(), 1044)->geometry(), QRect(29, 10, 345, 24));
    EXPECT_EQ(dialog->size(), QSize(611, 523));
}

TEST(TemplateBuilder, MoveButtonsAreHiddenAndEverythingElseShows) {
    auto dialog = buildDialog(kMainDialog);
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    for (const ControlTemplate& c : findDialogTemplate(kMainDialog)->controls) {
        if (c.id == kNoControlId) {
            continue;
        }
        const bool hidden = c.id == 1029 || c.id == 1030;
        EXPECT_EQ(TemplateBuilder::findControl(dialog.get(), c.id)->isVisible(), !hidden) << c.id;
    }
}

TEST(TemplateBuilder, AdoptedControlsAreUsedInsteadOfNewOnes) {
    QWidget dialog;
    PlayListView list;
    BitmapButton play;
    {
        TemplateBuilder builder(*findDialogTemplate(kMainDialog));
        builder.adopt(1028, &list);
        builder.adopt(1017, &play);
        builder.build(&dialog);
    }
    EXPECT_EQ(TemplateBuilder::findControl(&dialog, 1028), &list);
    EXPECT_EQ(TemplateBuilder::findControl(&dialog, 1017), &play);
    EXPECT_EQ(play.controlId(), 1017);
    EXPECT_EQ(list.parentWidget(), &dialog);
    EXPECT_EQ(list.geometry(), QRect(11, 203, 590, 309));
    EXPECT_EQ(dialog.findChildren<PlayListView*>().size(), 1);
    // The caller's objects outlive nothing they do not own.
    list.setParent(nullptr);
    play.setParent(nullptr);
}

TEST(TemplateBuilder, OtherDialogsBuildWithTheirTexts) {
    auto about = buildDialog(kAboutDialog);
    EXPECT_EQ(about->windowTitle(), "About Velumo");
    bool versionShown = false;
    for (QLabel* label : about->findChildren<QLabel*>()) {
        versionShown |= label->text() == "Velumo Version 2.27";
    }
    EXPECT_TRUE(versionShown);
    auto* ok = qobject_cast<QPushButton*>(TemplateBuilder::findControl(about.get(), 1));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());

    auto convert = buildDialog(kConvertDialog);
    EXPECT_EQ(convert->windowTitle(), "Convert");
    EXPECT_NE(qobject_cast<QProgressBar*>(TemplateBuilder::findControl(convert.get(), 1038)),
              nullptr);
    EXPECT_EQ(qobject_cast<QPushButton*>(TemplateBuilder::findControl(convert.get(), 1039))->text(),
              "Start");
    EXPECT_EQ(qobject_cast<QPushButton*>(TemplateBuilder::findControl(convert.get(), 1040))->text(),
              "Stop");
    EXPECT_EQ(qobject_cast<QLabel*>(TemplateBuilder::findControl(convert.get(), 1043))->text(),
              "0%");

    auto record = buildDialog(kRecordDialog);
    EXPECT_EQ(record->windowTitle(), "Record");
    EXPECT_EQ(qobject_cast<QLabel*>(TemplateBuilder::findControl(record.get(), 1047))->text(),
              "Recording...");
    EXPECT_EQ(qobject_cast<QLabel*>(TemplateBuilder::findControl(record.get(), 1046))->text(),
              "00:00");
    EXPECT_EQ(qobject_cast<QPushButton*>(TemplateBuilder::findControl(record.get(), 1045))->text(),
              "Stop");
    EXPECT_EQ(findDialogTemplate(999), nullptr);
}

// Builds the main window's controls the way the window sets them up and
// saves a picture of it next to the test program, for people to look at.
TEST(TemplateBuilder, MainDialogScreenshot) {
    auto dialog = buildDialog(kMainDialog);
    QPalette palette = dialog->palette();
    palette.setBrush(QPalette::Window, QBrush(loadBitmap(kBitmapBackground)));
    dialog->setPalette(palette);
    dialog->setAutoFillBackground(true);

    const std::pair<int, int> images[] = {
        {1017, kBitmapPlay},     {1018, kBitmapPause},      {1019, kBitmapStop},
        {1020, kBitmapPrev},     {1021, kBitmapNext},       {1023, kBitmapEject},
        {1024, kBitmapRecord},   {1025, kBitmapCdRefresh},  {1026, kBitmapAddFiles},
        {1031, kBitmapConvert},  {1033, kBitmapGoStraight}, {1027, kBitmapRemove},
        {1006, kBitmapClearAll}, {1029, kBitmapMoveUp},     {1030, kBitmapMoveDown}};
    for (const auto& [id, image] : images) {
        auto* button = qobject_cast<BitmapButton*>(TemplateBuilder::findControl(dialog.get(), id));
        ASSERT_TRUE(button->setBitmap(image, kTransparentColour));
        button->setImageAlign(5);
    }
    auto* list = qobject_cast<PlayListView*>(TemplateBuilder::findControl(dialog.get(), 1028));
    list->setHeaderLabels({"", "Audio Name", "Time", "Size", "Directory"});
    const int widths[] = {20, 150, 60, 80, 300};
    for (int c = 0; c < 5; ++c) {
        list->setColumnWidth(c, widths[c]);
    }
    const StoredRow rows[] = {
        {"", "morning.wav", "03:12", "33075 KB", "/home/user/Music/morning.wav"},
        {"", "interview.mp3", "45:07", "42304 KB", "/home/user/Podcasts/interview.mp3"},
        {"", "Track-02", "04:41", "48464 KB", "CDROM"}};
    for (int r = 0; r < 3; ++r) {
        list->InsertItem(r, rows[r][0]);
        for (int c = 1; c < 5; ++c) {
            list->SetItemText(r, c, rows[r][static_cast<size_t>(c)]);
        }
    }
    list->SelectRow(1);
    auto* bitrate = qobject_cast<QComboBox*>(TemplateBuilder::findControl(dialog.get(), 1049));
    for (int id = kStringFirstBitrate; id <= kStringLastListedBitrate; ++id) {
        bitrate->addItem(QString::fromStdString(loadString(id)));
    }
    auto* channel = qobject_cast<QComboBox*>(TemplateBuilder::findControl(dialog.get(), 1050));
    channel->addItem(QString::fromStdString(loadString(kStringMono)));
    channel->addItem(QString::fromStdString(loadString(kStringStereo)));
    channel->setCurrentIndex(1);
    qobject_cast<QLabel*>(TemplateBuilder::findControl(dialog.get(), 1044))
        ->setText("interview.mp3");

    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    const QString path = QDir(VELUMO_BINARY_DIR).filePath("template165.png");
    EXPECT_TRUE(dialog->grab().save(path));
}

} // namespace
