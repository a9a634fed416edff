#pragma once
// The Record dialog: while it is open the sound card is recorded into a file,
// and it shows "Recording..." with the elapsed time in minutes and seconds.
// Its Stop button (or Escape) ends it; destroying it stops the recorder and
// completes the file.
//
// Built from dialog template 104. Capture starts when the dialog is first
// shown, together with the one-second timer. A recorder that cannot start
// has already said why; the dialog then shows "No recording", does not
// count, and the earlier take is left as it was.
//
// The Record command (RecordCommand.h) runs it on the take file.
//
// User-interface thread only.

#include "record/WaveRecorder.h"

#include <QDialog>
#include <QFont>
#include <QPixmap>

#include <cstdint>
#include <string>

class QLabel;

// Control ids of the dialog (template 104).
enum RecordDialogControl : int {
    kIdRecordStop = 1045,
    kIdRecordTime = 1046,
    kIdRecordLabel = 1047,
};

class RecordDialog : public QDialog {
  public:
    explicit RecordDialog(QWidget* parent = nullptr);
    // The recorder goes last: capture stops and the file is completed.
    ~RecordDialog() override;

    // The file to record into; before the dialog runs.
    void SetOutputFile(const std::string& path);

    // One timer tick: one more second, shown as "%02d:%02d" (the minutes
    // widen past 99). When the input device has gone away, the recording
    // is stopped instead, the count ends and kInputLostMessage is shown.
    void onTimer();
    // Whether the recording ended because the input device went away.
    bool inputWasLost() const { return inputLost; }
    // Stop and Escape: the timer ends and so does the dialog.
    void reject() override;

    int32_t seconds() const { return elapsedSeconds; }
    // Whether capture started when the dialog was shown, so that the file
    // holds a new take.
    bool recordedTake() const { return captureStarted; }
    QWidget* control(int id) const;
    const WaveRecorder& waveRecorder() const { return recorder; }

    static constexpr int kTimerPeriodMs = 1000;
    // The label's text when capture did not start.
    static constexpr const char* kNotRecordingText = "No recording";
    // The label's text, and the message, when the input device went away
    // while recording: the take holds what was captured until then.
    static constexpr const char* kInputLostText = "Input lost";
    static constexpr const char* kInputLostMessage =
        "The sound input device was lost. The recording stopped there; the take holds what was "
        "recorded until then.";
    // How far the dialog opens from where it would be placed, in pixels.
    static constexpr int kOffsetRight = 30;
    static constexpr int kOffsetDown = 50;

  protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

  private:
    // Runs once, when the dialog is first shown.
    void OnInitDialog();

    WaveRecorder recorder;
    int32_t elapsedSeconds = 0;
    QPixmap backgroundBitmap;
    int32_t tileWidth = 0;
    int32_t tileHeight = 0;
    QFont displayFont;
    QLabel* timeLabel = nullptr;
    int timerId = 0;
    bool initialised = false;
    bool captureStarted = false;
    bool inputLost = false;
};
