#include "controls/TemplateBuilder.h"

#include "controls/BitmapButton.h"
#include "controls/PlayListView.h"
#include "controls/TransparentSlider.h"
#include "resources/Images.h"
#include "resources/StringTable.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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
        versionShown |= label->text() == "Velumo Version " VELUMO_PROJECT_VERSION;
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

// The texts of a built dialog that its controls cannot show whole: a label,
// button or group title whose text is wider or taller than the part of the
// control that shows it. Word-wrapped labels are left to the layout.
std::vector<std::string> clippedTexts(QWidget* dialog) {
    std::vector<std::string> clipped;
    const auto report = [&](QWidget* control, const QString& text) {
        clipped.push_back(text.toStdString() + " in control " +
                          std::to_string(control->property("controlId").toInt()));
    };
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (label->text().isEmpty() || label->wordWrap() || !label->pixmap().isNull()) {
            continue;
        }
        const QFontMetrics metrics(label->font());
        const QRect room = label->contentsRect();
        if (metrics.horizontalAdvance(label->text()) > room.width() ||
            metrics.height() > room.height()) {
            report(label, label->text());
        }
    }
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
        if (button->text().isEmpty()) {
            continue;
        }
        const QFontMetrics metrics(button->font());
        const QString text = QString(button->text()).remove('&');
        if (metrics.horizontalAdvance(text) > button->width() ||
            metrics.height() > button->height()) {
            report(button, text);
        }
    }
    for (QGroupBox* box : dialog->findChildren<QGroupBox*>()) {
        const QFontMetrics metrics(box->font());
        if (metrics.horizontalAdvance(box->title()) > box->width()) {
            report(box, box->title());
        }
    }
    return clipped;
}

// What a user reads must be whole: at scale 1 the template font gives every
// text of every dialog the room its control has.
TEST(TemplateBuilder, NoDialogClipsItsTexts) {
    for (int id : {kMainDialog, kAboutDialog, kConvertDialog, kRecordDialog}) {
        auto dialog = buildDialog(id);
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        EXPECT_EQ(clippedTexts(dialog.get()), std::vector<std::string>()) << "dialog " << id;
    }
    // A label narrowed below its text is what the check is for.
    auto record = buildDialog(kRecordDialog);
    record->show();
    auto* status = qobject_cast<QLabel*>(TemplateBuilder::findControl(record.get(), 1047));
    ASSERT_NE(status, nullptr);
    status->resize(status->width() / 3, status->height());
    EXPECT_EQ(clippedTexts(record.get()), std::vector<std::string>{"Recording... in control 1047"});
}

} // namespace
