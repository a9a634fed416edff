// The player of the main window: loading an item into the mixer, the
// transport buttons, the repeat modes, the sequencing from one item to the
// next, seeking with the position slider, the elapsed time and the volume.

#include "app/MainWindow.h"

#include "app/SpectrumView.h"
#include "cd/CdDrive.h"
#include "controls/BitmapButton.h"
#include "controls/PlayListView.h"
#include "controls/TransparentSlider.h"
#include "engine/WmaStream.h"
#include "platform/CdLibrary.h"
#include "platform/MessageBox.h"
#include "player/PlayRow.h"
#include "playlist/AudioItem.h"
#include "resources/Images.h"

#include <QLabel>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

struct RepeatLook {
    int bitmap;
    const char* tip;
};
constexpr RepeatLook kRepeatLooks[] = {
    {kBitmapGoStraight, "Go Straight"},
    {kBitmapRepeatOne, "Repeat One"},
    {kBitmapRepeatAll, "Repeat All"},
};

// The reason given for an output that went away: SDL has no text for it.
constexpr const char* kOutputLostReason = "the sound device was disconnected";

// The tags of the file just loaded into mixer: those its media reader read
// as it opened, or, for a file the Mixer reads itself (WAVE), those of its
// header alone.
MediaTags tagsOfLoadedFile(Mixer& mixer, const std::string& path) {
    if (auto* media = dynamic_cast<WmaStream*>(mixer.GetStream(0))) {
        return media->tags;
    }
    MediaTags tags;
    MediaReader::readTags(path.c_str(), &tags);
    return tags;
}

} // namespace

void MainWindow::setStatus(int s) {
    if (s >= 0 && s <= 2) {
        model.setStatus(static_cast<PlayStatus>(s));
        if (statusText) {
            statusText->setText(QString::fromUtf8(::statusText(model.status())));
        }
    }
    if (spectrumView) {
        spectrumView->setRunning(s == 1);
    }
    updateDisplay();
}

void MainWindow::setPosition(int percent) {
    // Not under the user's pointer: the thumb follows the drag until release.
    if (positionSlider && !positionSlider->isSliderDown()) {
        positionSlider->setValue(percent);
    }
}

double MainWindow::sliderSeconds(int percent) const {
    return durationSeconds > 0.0 ? percent * durationSeconds / 100.0 : 0.0;
}

void MainWindow::onPositionDragged(int percent) {
    timeText = formatTime(std::round(sliderSeconds(percent)));
    updateDisplay();
}

void MainWindow::onPositionReleased() {
    if (durationSeconds > 0.0 && positionSlider) {
        seekTo(sliderSeconds(positionSlider->sliderPosition()));
    }
    // A refused seek puts the thumb and the time back where playback is.
    showElapsed();
}

bool MainWindow::seekTo(double seconds) {
    const int32_t state = outputDevice.GetState();
    if (std::isnan(seconds) || !mixer.hasEntries() ||
        (state != WaveOutDevice::kPlaying && state != WaveOutDevice::kPaused)) {
        return false;
    }
    seconds = std::max(seconds, 0.0);
    // Streams seek by whole seconds. At or past the end the seek goes to the
    // end itself (a duration with a fraction rounds up), so the item ends.
    const bool atEnd = durationSeconds > 0.0 && seconds >= durationSeconds;
    const double target =
        std::min(atEnd ? std::ceil(durationSeconds) : std::round(seconds), double(UINT32_MAX));
    if (!outputDevice.Seek(static_cast<uint32_t>(target))) {
        return false;
    }
    model.setPosition(durationSeconds > 0.0 ? std::min(target, durationSeconds) : target);
    showElapsed();
    return true;
}

int MainWindow::loadItem(const std::string& path, const std::string& title) {
    if (isCdRow(path)) {
        const int result = loadCdTrack(title);
        if (result != 0) {
            showMessage("Fault to play CD!");
        }
        return result;
    }
    const int result = loadFile(path, title);
    if (result != 0) {
        showMessage("Fault to open audio file!");
    }
    return result;
}

void MainWindow::showLoadedItem(const std::string& title) {
    ++loads;
    model.setLoadProblem(std::string());
    model.setPosition(0.0);
    durationSeconds = mixer.GetDuration();
    timeText = formatTime(durationSeconds);
    titleText = title;
}

void MainWindow::emptyPlayer() {
    if (outputDevice.playing) {
        outputDevice.Stop();
    }
    mixer.RemoveAll();
    outputDevice.Detach();
    loadedFilePath.clear();
    loadedTags = MediaTags{};
}

int MainWindow::loadFile(const std::string& path, const std::string& title) {
    emptyPlayer();

    int result = 2;
    const FileKind kind = audioFileKind(path);
    if (kind == FileKind::Wave) {
        result = mixer.LoadWave(path.c_str()) ? 0 : 1;
    } else if (readByMediaReader(kind)) {
        result = mixer.LoadWMA(path.c_str()) ? 0 : 1;
    }

    if (result == 0) {
        loadedFilePath = path;
        loadedTags = tagsOfLoadedFile(mixer, path);
        showLoadedItem(title);
    } else {
        timeText = "00:00";
        titleText = result == 2 ? "Unsupport audio type!" : "Error in loading audio file!";
        model.setLoadProblem(titleText);
    }
    setPosition(0);
    setStatus(0);
    openOutput();
    return result;
}

int MainWindow::loadCdTrack(const std::string& title) {
    const int track = trackIndexOfTitle(title);

    auto* drive = mixer.IsCdTrack() && mixer.hasEntries()
                      ? dynamic_cast<CdDrive*>(mixer.GetStream(0))
                      : nullptr;
    if (!drive) {
        return loadCdTrackFromDrive(track, title);
    }
    int result = 0;
    if (!drive->discReady) {
        timeText = "00:00";
        titleText = "No Audio";
        model.setLoadProblem(titleText);
        emptyPlayer();
        // The rows of the CD list stand for the disc that went away; the
        // rows of a file list (a CD row among them) are the user's and stay.
        if (listMode == kListCdTracks) {
            removeAllRows();
        }
        result = 2;
    } else if (drive->OpenTrack(track)) {
        showLoadedItem(title);
    } else {
        timeText = "00:00";
        titleText = "Error in openng CD track!";
        model.setLoadProblem(titleText);
        result = 1;
    }
    setPosition(0);
    updateDisplay();
    return result;
}

int MainWindow::loadCdTrackFromDrive(int track, const std::string& title) {
    // A CD row from the stored list, or one shown after a file was played:
    // the track comes from the first drive, as CD Refresh loads its first.
    emptyPlayer();
    int result = 0;
    if (mixer.LoadCdTrack(track)) {
        showLoadedItem(title);
    } else {
        timeText = "00:00";
        // The Mixer does not say why; a drive of our own tells a missing
        // disc from a track it does not have.
        CdDrive disc;
        if (disc.ReadDisc()) {
            titleText = "Error in openng CD track!";
            result = 1;
        } else {
            titleText = "No Audio";
            // The rows of the CD list stand for the disc that went away; the
            // rows of a file list are the user's and stay.
            if (listMode == kListCdTracks) {
                removeAllRows();
            }
            result = 2;
        }
        model.setLoadProblem(titleText);
    }
    setPosition(0);
    setStatus(0);
    // A device opened on an empty Mixer would have no format to play.
    if (result == 0) {
        openOutput();
    }
    return result;
}

bool MainWindow::startFirstCdTrack() {
    emptyPlayer();
    selectRow(0);
    const int result = loadCdTrack(trackName(0));
    setStatus(0);
    return result == 0;
}

void MainWindow::openOutput() {
    if (!mixer.followItemRate) {
        mixer.followItemRate = true;
        mixer.calcoutputformat();
    }
    outputDevice.SetSource(playbackStream());
    if (outputDevice.isOpen() || !mixer.hasEntries() ||
        mixer.GetFormat()->nSamplesPerSec == static_cast<uint32_t>(kPlaybackSampleRate)) {
        return;
    }
    // Some outputs run only at the rates they were set up for; the item is
    // resampled to the usual one rather than not heard. The device is closed
    // here, so nothing reads the Mixer while its format changes.
    mixer.followItemRate = false;
    mixer.outputSampleRate = kPlaybackSampleRate;
    mixer.calcoutputformat();
    outputDevice.SetSource(playbackStream());
}

bool MainWindow::outputReady() {
    if (outputDevice.isOpen() && !outputDevice.deviceLost()) {
        return true;
    }
    // Closed by a failed open or a lost device: a device may be back.
    openOutput();
    if (!outputDevice.isOpen()) {
        outputFailed(outputDevice.openError());
        return false;
    }
    if (outputDevice.deviceLost()) {
        outputFailed(kOutputLostReason);
        return false;
    }
    return true;
}

void MainWindow::outputFailed(const std::string& reason) {
    // Closed before the message: the timer, which runs on while the box is
    // shown, finds nothing playing and no device to report again.
    outputDevice.Close();
    setStatus(0);
    showMessage(kNoOutputMessage + reason);
}

void MainWindow::onPlay() {
    if (!mixer.hasEntries()) {
        switch (model.startPlaying(selectedRow())) {
        case PlayerModel::PlayStart::NothingToPlay:
            showMessage("There is no audio file to play!");
            return;
        case PlayerModel::PlayStart::First:
            next(false);
            break;
        case PlayerModel::PlayStart::Selected:
            loadItem(rowText(currentIndex, 4), rowText(currentIndex, 1));
            break;
        }
        // A row that did not load has shown its message; with nothing
        // loaded there is nothing to play.
        if (!mixer.hasEntries()) {
            setStatus(0);
            return;
        }
    }
    if (!outputReady()) {
        return;
    }
    if (outputDevice.GetState() == WaveOutDevice::kPaused) {
        outputDevice.Resume();
    } else if (!(outputDevice.GetState() == WaveOutDevice::kPlaying && outputDevice.playing)) {
        // Restart plays the item from its start. After a lost device the
        // time had run on: it starts there with the sound. A freshly loaded
        // item keeps showing its length until the first tick.
        outputDevice.Restart();
        if (elapsedSeconds > 0.0) {
            model.setPosition(0.0);
            showElapsed();
        }
    }
    setStatus(1);
}

void MainWindow::onPause() {
    if (outputDevice.playing && outputDevice.GetState() == WaveOutDevice::kPlaying) {
        outputDevice.Pause();
        setStatus(2);
    }
}

void MainWindow::onStop() {
    if (outputDevice.playing && outputDevice.GetState() == WaveOutDevice::kPlaying) {
        outputDevice.Stop();
        setStatus(0);
    }
}

void MainWindow::onPrev() {
    if (listMode != kListRecording) {
        prev(repeatMode == kRepeatAll);
    }
}

void MainWindow::onNext() {
    if (listMode != kListRecording) {
        next(repeatMode == kRepeatAll);
    }
}

bool MainWindow::next(bool wrap) {
    const int previousState = outputDevice.GetState();
    if (!model.next(rowCount(), wrap).load || !loadMovedRow(previousState)) {
        outputDevice.Stop();
        return false;
    }
    return true;
}

bool MainWindow::prev(bool wrap) {
    const int previousState = outputDevice.GetState();
    return model.prev(rowCount(), wrap).load && loadMovedRow(previousState);
}

bool MainWindow::loadMovedRow(int previousState) {
    titleText = rowText(currentIndex, 1);
    listView->SelectRow(currentIndex);
    if (QTreeWidgetItem* item = listView->topLevelItem(currentIndex)) {
        listView->scrollToItem(item);
    }
    if (loadItem(rowText(currentIndex, 4), titleText) != 0) {
        return false;
    }
    if (previousState == WaveOutDevice::kPlaying) {
        onPlay();
    }
    return true;
}

void MainWindow::onNewItem() {
    playRow(listView ? listView->clickedRow : -1);
}

void MainWindow::playRow(int row) {
    const int count = rowCount();
    if (count == 0) {
        showMessage("no audio file in audio file list,\nPlease add audio files firstly!");
    }
    outputDevice.Stop();
    switch (model.playRow(row, count, outputDevice.playing)) {
    case PlayerModel::RowAction::LoadAndPlay:
        titleText = rowText(row, 1);
        if (loadItem(rowText(row, 4), titleText) == 0) {
            onPlay();
        }
        return;
    case PlayerModel::RowAction::Play:
        onPlay();
        return;
    case PlayerModel::RowAction::Nothing:
        return;
    }
}

void MainWindow::onPlayOver() {
    model.setPosition(0.0);
    setPosition(0);
    timeText = "00:00";

    switch (model.afterEnd(outputDevice.GetState() == WaveOutDevice::kStopped)) {
    case PlayerModel::AfterEnd::Stop:
        if (listMode == kListRecording) {
            outputDevice.state = WaveOutDevice::kStopped;
        }
        setStatus(0);
        return;
    case PlayerModel::AfterEnd::Replay:
        onPlay();
        return;
    case PlayerModel::AfterEnd::NextWrapping:
    case PlayerModel::AfterEnd::Next:
        if (!next(model.afterEnd(false) == PlayerModel::AfterEnd::NextWrapping)) {
            setStatus(0);
        }
        return;
    }
}

void MainWindow::setRepeatImage() {
    if (!repeatButton || repeatMode < 0 || repeatMode > 2) {
        return;
    }
    const RepeatLook& look = kRepeatLooks[repeatMode];
    repeatButton->setBitmap(look.bitmap, 0xFF00FF);
    repeatButton->setImageAlign(BitmapButton::kAlignHCenter | BitmapButton::kAlignVCenter);
    repeatButton->setToolTip(QString::fromUtf8(look.tip), true);
    repeatButton->update();
}

void MainWindow::onRepeat() {
    model.cycleRepeatMode();
}

void MainWindow::modelChanged(PlayerModel::Change what) {
    if (what == PlayerModel::Change::Repeat) {
        setRepeatImage();
        updateDisplay();
    } else if (what == PlayerModel::Change::Volume) {
        // A level set from elsewhere (remote control) moves the slider too.
        if (volumeSlider && volumeSlider->value() != volume) {
            volumeSlider->setValue(volume);
        }
        const uint32_t level = static_cast<uint32_t>(volume) & 0xFFFFu;
        outputDevice.SetVolume(level | (level << 16));
    }
}

void MainWindow::onEject() {
    ejectFirstCdDevice();
}

void MainWindow::onTimer() {
    if (outputDevice.deviceLost()) {
        // Unplugged or its server gone: no buffer comes back any more, or
        // they come back unheard. While idle it is only closed; the next
        // Play opens one again.
        const int32_t state = outputDevice.GetState();
        if (state == WaveOutDevice::kPlaying || state == WaveOutDevice::kPaused) {
            outputFailed(kOutputLostReason);
        } else {
            outputDevice.Close();
        }
    }
    if (outputDevice.playing && outputDevice.GetState() == WaveOutDevice::kPlaying) {
        model.setPosition(std::min(elapsedSeconds + 0.2, durationSeconds));
    }
    showElapsed();
}

void MainWindow::showElapsed() {
    if (positionSlider && positionSlider->isSliderDown()) {
        return; // the drag shows its own time until release
    }
    // A zero or unknown duration would divide by zero: the thumb stays at 0.
    int percent = 0;
    if (durationSeconds > 0.0 && elapsedSeconds > 0.0) {
        const double ratio = elapsedSeconds * 100.0 / durationSeconds;
        percent = ratio >= 100.0 ? 100 : static_cast<int>(ratio);
    }
    setPosition(percent);
    timeText = formatTime(elapsedSeconds);
    updateDisplay();
}

void MainWindow::onVolumeMoved(int position) {
    model.setVolume(position);
    if (changeListener) {
        changeListener();
    }
}

void MainWindow::resetPlayer() {
    emptyPlayer();
    model.setPosition(0.0);
    setPosition(0);
    timeText = "00:00";
    titleText.clear();
    setListEnabled(true);
    updateDisplay();
}
