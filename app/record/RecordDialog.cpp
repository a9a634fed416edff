#include "app/record/RecordDialog.h"

#include "app/DisplayFont.h"
#include "controls/TemplateBuilder.h"
#include "platform/MessageBox.h"
#include "resources/DialogTemplate.h"
#include "resources/Images.h"

#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QShowEvent>
#include <QTimerEvent>

#include <cstdio>

RecordDialog::RecordDialog(QWidget* parent) : QDialog(parent) {
    if (const DialogTemplate* layout = findDialogTemplate(kRecordDialog)) {
        TemplateBuilder builder(*layout);
        builder.build(this);
    }
    // A caption and a frame, but no system menu and no close box: Stop and
    // Escape are the ways out.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    timeLabel = qobject_cast<QLabel*>(control(kIdRecordTime));
    if (auto* stop = qobject_cast<QPushButton*>(control(kIdRecordStop))) {
        connect(stop, &QPushButton::clicked, this, &RecordDialog::reject);
    }
}

RecordDialog::~RecordDialog() {
    if (timerId != 0) {
        killTimer(timerId);
    }
}

QWidget* RecordDialog::control(int id) const {
    return TemplateBuilder::findControl(this, id);
}

void RecordDialog::SetOutputFile(const std::string& path) {
    recorder.SetOutputFile(path);
}

void RecordDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!initialised && !event->spontaneous()) {
        initialised = true;
        OnInitDialog();
    }
}

void RecordDialog::OnInitDialog() {
    // Opened a little below and to the right of where it would be placed,
    // so that the window's display stays in sight.
    move(pos() + QPoint(kOffsetRight, kOffsetDown));

    // The labels share the main window's display font.
    displayFont = makeDisplayFont();

    backgroundBitmap = loadBitmap(kBitmapBackground);
    tileWidth = backgroundBitmap.width();
    tileHeight = backgroundBitmap.height();

    // The labels are filled with the tile, which starts again at each
    // label's corner, and drawn in the display font.
    for (int id : {kIdRecordLabel, kIdRecordTime}) {
        if (QWidget* label = control(id)) {
            label->setFont(displayFont);
            if (!backgroundBitmap.isNull()) {
                QPalette palette = label->palette();
                palette.setBrush(QPalette::Window, QBrush(backgroundBitmap));
                label->setPalette(palette);
                label->setAutoFillBackground(true);
            }
        }
    }

    // A recorder that cannot start has shown its message (or, when it could
    // not queue its buffers, none). The dialog then says so in place of
    // "Recording..." and does not count: there is nothing to stop.
    recorder.Start();
    captureStarted = recorder.isRecording();
    if (!captureStarted) {
        if (auto* label = qobject_cast<QLabel*>(control(kIdRecordLabel))) {
            label->setText(QString::fromUtf8(kNotRecordingText));
        }
        return;
    }
    timerId = startTimer(kTimerPeriodMs);
}

void RecordDialog::paintEvent(QPaintEvent* event) {
    if (tileWidth <= 0 || tileHeight <= 0 || !paintTiled(*this, backgroundBitmap)) {
        QDialog::paintEvent(event);
    }
}

void RecordDialog::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timerId && timerId != 0) {
        onTimer();
        return;
    }
    QDialog::timerEvent(event);
}

void RecordDialog::onTimer() {
    if (recorder.isRecording() && recorder.inputLost()) {
        // Nothing more comes in: counting on would promise sound that is not
        // there. The take ends here, with all that was captured.
        killTimer(timerId);
        timerId = 0;
        inputLost = true;
        recorder.Stop();
        if (auto* label = qobject_cast<QLabel*>(control(kIdRecordLabel))) {
            label->setText(QString::fromUtf8(kInputLostText));
        }
        showMessage(kInputLostMessage);
        return;
    }
    ++elapsedSeconds;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d", elapsedSeconds / 60, elapsedSeconds % 60);
    if (timeLabel) {
        timeLabel->setText(QString::fromLatin1(text));
    }
}

void RecordDialog::reject() {
    if (timerId != 0) {
        killTimer(timerId);
        timerId = 0;
    }
    QDialog::reject();
}
