#include "app/convert/ConvertDialog.h"

#include "controls/TemplateBuilder.h"
#include "platform/MessageBox.h"
#include "playlist/AudioItem.h"
#include "resources/DialogTemplate.h"
#include "resources/Images.h"

#include <QFontMetrics>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimerEvent>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

template <typename T> T* findAs(QWidget* dialog, int id) {
    return qobject_cast<T*>(TemplateBuilder::findControl(dialog, id));
}

std::string afterLastSlash(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name wider than its label ends in "…" where the label's room ends,
// rather than being cut through a letter; the whole name is the tooltip.
void showName(QLabel* label, const std::string& name) {
    const QString whole = QString::fromStdString(name);
    const QFontMetrics metrics(label->font());
    label->setText(metrics.elidedText(whole, Qt::ElideRight, label->contentsRect().width()));
    label->setToolTip(whole);
}

// A whole number of seconds that fits the progress bar's int range.
int wholeSeconds(double seconds) {
    if (!(seconds > 0.0)) {
        return 0;
    }
    return int(std::min(std::floor(seconds), double(INT32_MAX)));
}

} // namespace

ConvertDialog::ConvertDialog(QWidget* owner, double rate) : QDialog(owner), conversion(rate) {
    initialise();
}

ConvertDialog::~ConvertDialog() {
    // The worker posts to this dialog: it must be gone before the dialog
    // is. A stopped worker ends after the buffer in hand.
    conversion.Stop();
    conversion.Wait();
}

void ConvertDialog::initialise() {
    if (const DialogTemplate* dialog = findDialogTemplate(kConvertDialog)) {
        TemplateBuilder builder(*dialog);
        builder.build(this);
    }
    // A caption and a modal frame, without a system menu or close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    progressBar = findAs<QProgressBar>(this, kIdConvertProgress);
    startButton = findAs<QPushButton>(this, kIdConvertStart);
    stopButton = findAs<QPushButton>(this, kIdConvertStop);
    sourceLabel = findAs<QLabel>(this, kIdConvertSourceName);
    targetLabel = findAs<QLabel>(this, kIdConvertTargetName);
    percentLabel = findAs<QLabel>(this, kIdConvertPercent);
    if (startButton) {
        connect(startButton, &QPushButton::clicked, this, [this] { onStart(); });
    }
    if (stopButton) {
        connect(stopButton, &QPushButton::clicked, this, [this] { onStop(); });
    }
    if (progressBar) {
        progressBar->setTextVisible(false);
    }
    backgroundBitmap = loadBitmap(kBitmapBackground);
}

void ConvertDialog::showEvent(QShowEvent* event) {
    // QDialog places the dialog over its owner here; the offset applies to
    // that place.
    QDialog::showEvent(event);
    if (!moved) {
        // The names are set by the caller after construction.
        moved = true;
        sourceName = afterLastSlash(sourcePath);
        targetName = afterLastSlash(targetPath);
        pushStrings();
        move(pos() + QPoint(kMoveRight, kMoveDown));
    }
}

void ConvertDialog::paintEvent(QPaintEvent* event) {
    if (!paintTiled(*this, backgroundBitmap)) {
        QDialog::paintEvent(event);
    }
}

void ConvertDialog::pushStrings() {
    if (sourceLabel) {
        showName(sourceLabel, sourceName);
    }
    if (targetLabel) {
        showName(targetLabel, targetName);
    }
    if (percentLabel) {
        percentLabel->setText(QString::fromStdString(percentText));
    }
}

void ConvertDialog::postCommand(int commandId) {
    // Dropped by Qt when the dialog is gone before the call is delivered.
    QMetaObject::invokeMethod(
        this, [this, commandId] { onCommand(commandId); }, Qt::QueuedConnection);
}

void ConvertDialog::onCommand(int commandId) {
    if (commandId == kEncodeOver) {
        finish();
    }
}

void ConvertDialog::onStart() {
    if (running) {
        return;
    }
    // A name the job cannot load is refused before the Mixer is touched,
    // and the dialog stays open for another try.
    if (!isLoadableItem(sourcePath)) {
        showMessage(ConversionJob::kUnknownSourceMessage);
        return;
    }
    if (!conversion.LoadSource(sourcePath)) {
        // LoadSource has said that the source cannot be opened.
        done(QDialog::Rejected);
        return;
    }
    if (!conversion.SetTarget(targetPath)) {
        return; // the target's extension was refused; Start may be pressed again
    }
    if (const std::string notice = conversion.Mp3RateNotice(); !notice.empty()) {
        // Said before anything is written, so that the file's rate is no
        // surprise; the conversion goes on once the user has read it.
        showMessage(notice);
    }
    const double duration = conversion.Duration();
    if (progressBar) {
        // A source of unknown length still gets a bar with a range, not the
        // busy indicator that an empty range shows.
        progressBar->setRange(0, std::max(1, wholeSeconds(duration)));
        progressBar->setValue(0);
    }
    percentText = "0%";
    if (timerId == 0) {
        timerId = startTimer(kTimerPeriodMs);
    }
    if (!conversion.Start({}, this)) {
        killTimer(timerId);
        timerId = 0;
        return;
    }
    running = true;
    if (startButton) {
        startButton->setEnabled(false);
    }
    if (stopButton) {
        stopButton->setEnabled(true);
    }
    pushStrings();
}

void ConvertDialog::onStop() {
    if (running) {
        // The worker completes the file and posts EncodeOver, which closes
        // the dialog.
        conversion.Stop();
        return;
    }
    done(QDialog::Rejected);
}

void ConvertDialog::reject() {
    // The worker reads the dialog's Mixer: the dialog stays until it ends.
    if (running) {
        conversion.Stop();
        return;
    }
    QDialog::reject();
}

void ConvertDialog::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timerId && timerId != 0) {
        updateProgress();
    }
    pushStrings();
    QDialog::timerEvent(event);
}

void ConvertDialog::updateProgress() {
    // A job that wrote the whole item is done, whatever the source's own
    // estimate of its length said.
    const bool completed = conversion.GetResult() == ConversionJob::Result::Completed;
    percentText = std::to_string(completed ? 100 : conversion.Percent()) + "%";
    if (progressBar) {
        const int seconds =
            completed ? progressBar->maximum() : wholeSeconds(conversion.Position());
        progressBar->setValue(std::clamp(seconds, progressBar->minimum(), progressBar->maximum()));
    }
}

void ConvertDialog::finish() {
    if (timerId != 0) {
        killTimer(timerId);
        timerId = 0;
    }
    conversion.Wait();
    running = false;
    // The last tick may have come before the last buffer: show where the
    // job ended.
    updateProgress();
    pushStrings();
    done(QDialog::Accepted);
}
