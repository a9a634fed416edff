#pragma once
// The Convert dialog (template 103), which the Convert command
// (ConvertCommand.h) runs modally once it has the output path.
//
// The dialog shows the source and target names and a progress bar; Start
// loads the source into the dialog's own conversion job (its own Mixer,
// 16-bit mono PCM at the rate given at construction) and runs the job on a
// worker at idle priority. The worker posts EncodeOver when the file is
// complete, and the dialog then closes as accepted.
//
// Stop ends a running job after the buffer in hand; the writer completes a
// valid, shorter file and EncodeOver closes the dialog as usual. Stop before
// Start closes the dialog as cancelled. Escape and the close box while a job
// runs act as Stop: the dialog never closes under a running worker.
//
// User-interface thread only, except postCommand.

#include "base/CommandTarget.h"
#include "encode/ConversionJob.h"

#include <QDialog>
#include <QPixmap>

#include <string>

class QLabel;
class QProgressBar;
class QPushButton;

// Control ids of the dialog (template 103).
enum ConvertDialogControl : int {
    kIdConvertProgress = 1038,
    kIdConvertStart = 1039,
    kIdConvertStop = 1040,
    kIdConvertSourceName = 1041,
    kIdConvertTargetName = 1042,
    kIdConvertPercent = 1043,
};

class ConvertDialog : public QDialog, public CommandTarget {
  public:
    // rate: the output sample rate of the conversion, in samples per second.
    ConvertDialog(QWidget* owner, double rate);
    ~ConvertDialog() override;

    // Any thread: queues the command for the user-interface thread.
    void postCommand(int commandId) override;
    void onCommand(int commandId);

    // Start (1039): loads the source, picks the writer by the target's
    // extension and starts the worker. An unknown source name or target
    // extension leaves the dialog open for another try; a source that does
    // not open ends it as cancelled.
    void onStart();
    // Stop (1040): ends a running job (the dialog closes on EncodeOver), or
    // closes an idle dialog as cancelled.
    void onStop();
    // True while the worker runs.
    bool isRunning() const { return running; }

    // Set by the caller before the dialog is shown. sourcePath is a file
    // path or a CD track name ("Track-03").
    std::string targetPath;
    std::string sourcePath;

    // Texts of the labels: the part after the last '/'.
    std::string sourceName;
    std::string targetName;
    // "N%": the share of the source converted so far.
    std::string percentText = "0%";

    ConversionJob& job() { return conversion; }

    static constexpr int kMoveRight = 30;
    static constexpr int kMoveDown = 50;
    static constexpr int kTimerPeriodMs = 200;

    // Escape: closes an idle dialog; while a job runs it acts as Stop.
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

  private:
    void initialise();
    void updateProgress();
    // Strings -> controls.
    void pushStrings();
    void finish();

    ConversionJob conversion;
    QProgressBar* progressBar = nullptr;
    QPushButton* startButton = nullptr;
    QPushButton* stopButton = nullptr;
    QLabel* sourceLabel = nullptr;
    QLabel* targetLabel = nullptr;
    QLabel* percentLabel = nullptr;
    QPixmap backgroundBitmap;
    int timerId = 0;
    bool running = false;
    bool moved = false;
};
