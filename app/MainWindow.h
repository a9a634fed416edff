#pragma once
// The program's one window: the play list, the player and the buttons that
// open the Convert and Record dialogs.
//
// The window is a dialog built from template 165. The commands that live in
// other folders (CD Refresh, Convert, Record) work on it through its
// operations, never by writing its fields:
//  - the list: addRow, removeAllRows, selectedItem, setListMode, listMode;
//  - the player: emptyPlayer, loadFile, loadCdTrack, startFirstCdTrack,
//    setStatus;
//  - the settings: readConversionRate, programFiles.
// The device, the Mixer and the texts that only the window shows are
// private. The controls and the remaining list and player state stay public
// for the tests, which drive the window through them and check them.
//
// Three command buttons (Record 1024, CD Refresh 1025, Convert 1031) run
// handlers installed with setCommandHandler; a button without a handler does
// nothing.
//
// Files: the stored list and the recorded take are where ProgramFiles says
// (next to the program, or in the user's data directory).
//
// User-interface thread only, except postCommand, which any thread may call.

#include "base/CommandTarget.h"
#include "encode/Bitrates.h"
#include "engine/WaveOutDevice.h"
#include "mixer/Mixer.h"
#include "platform/MediaReader.h"
#include "player/PlayerModel.h"
#include "player/StoredListFile.h"
#include "playlist/ProgramFiles.h"

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class BitmapButton;
struct PlayRow;
class PlayListView;
class QComboBox;
class QLabel;
class SpectrumView;
class TransparentSlider;

// Control ids of the window (template 165).
enum MainWindowControl : int {
    kIdClearAll = 1006,
    kIdVolume = 1012,
    kIdPosition = 1014,
    kIdPlay = 1017,
    kIdPause = 1018,
    kIdStop = 1019,
    kIdPrev = 1020,
    kIdNext = 1021,
    kIdEject = 1023,
    kIdRecord = 1024,
    kIdCdRefresh = 1025,
    kIdAddFiles = 1026,
    kIdRemove = 1027,
    kIdList = 1028,
    kIdMoveUp = 1029,
    kIdMoveDown = 1030,
    kIdConvert = 1031,
    kIdRepeat = 1033,
    kIdStatus = 1036,
    kIdTime = 1037,
    kIdTitle = 1044,
    kIdBitrate = 1049,
    kIdChannel = 1050,
};

// The process-wide defaults of the two combo boxes, copied into bitrateText
// and channelText when the window starts.
extern std::string gDefaultBitrate; // "32KB"
extern std::string gDefaultChannel; // "stereo"

// "%02d:%02d" of whole minutes and seconds (the minutes may have more digits).
// Negative, NaN and huge values are shown as "00:00" and the largest time.
std::string formatTime(double seconds);

// A file that adding to the list left out, and why ("it holds no audio").
struct NotAddedFile {
    std::string path;
    std::string reason;
};
// The one message that names the files an add left out, each with its
// reason (the first ten, then how many more); empty for none.
std::string notAddedMessage(const std::vector<NotAddedFile>& notAdded);

class MainWindow : public QDialog, public CommandTarget {
    // The player's state under the window. First, so that it is built
    // before the public fields below that name its parts.
    PlayerModel model;

  public:
    // Builds the window and runs its initialisation: controls, stored list,
    // timer, device. files says where the stored list lives.
    explicit MainWindow(ProgramFiles files = ProgramFiles::current(), QWidget* parent = nullptr);
    ~MainWindow() override;

    // Any thread: queues the command for the user-interface thread.
    void postCommand(int commandId) override;
    // Runs a command at once (a button, a posted command); unknown ids are
    // ignored.
    void onCommand(int commandId);
    // The handler of a command implemented outside the window (kIdRecord,
    // kIdCdRefresh, kIdConvert). An empty handler removes it.
    void setCommandHandler(int commandId, std::function<void(MainWindow&)> handler);

    // Strings -> controls (time, title, bitrate and channel combos).
    void updateDisplay();
    // Controls -> strings.
    void readControls();
    // Reads the controls, then sets bitrateValue from the Bitrate text
    // (bitrateValueOf) and returns it: the output sample rate of a
    // conversion, in samples per second.
    double readConversionRate();
    // The rate that readConversionRate last set; the Bitrate box also sets
    // it whenever its text changes.
    double conversionRate() const { return bitrateValue; }

    // --- The audio list ---
    // Appends a row unless a row with the same path and name exists (both
    // compared without regard to case). seconds below 0 show as 00:00.
    bool addRow(const std::string& name, int64_t seconds, int64_t sizeBytes,
                const std::string& path);
    // The same for a row made already (a CD track, player/PlayRow.h).
    bool addRow(const PlayRow& row);
    // Deletes every row; the loaded item and the display stay as they are.
    void removeAllRows();
    // Makes row the current item (currentIndex) and selects it; nothing is
    // loaded.
    void selectRow(int row);
    // The item of the selected row: its path, or its track name for a CD
    // row (playlist/AudioItem.h). Nothing when no row is selected.
    std::optional<std::string> selectedItem() const;
    void setListMode(int mode);
    // Reads the stored list into the rows (after the existing ones). False
    // when the file is missing or unreadable, or ended early or was
    // malformed; the rows read in full are kept either way, and the next
    // storeList first keeps the damaged file as "<list>.damaged". A list
    // that exists but cannot be read as a regular file (no permission, a
    // FIFO, a folder) is never stored over: storeList writes
    // "<list>.session" instead. Temporary
    // files of a store that never finished are removed first. With no list
    // in the data directory, a list next to the program is read instead.
    bool loadStoredList();
    // Writes the rows to the stored list through a temporary file in the same
    // directory that then replaces the old one, so that a failed write leaves
    // the old list as it was. While CD tracks or the recording are shown,
    // the saved copy of the file rows is written instead of the rows shown.
    // False when it could not be written; closing the window then tells
    // the user which file and why before the window goes. When another
    // window stored the list after this one read it, that list is first
    // kept as "<list>.other" and a message says so.
    bool storeList();
    // Adds the files at paths as Add Audio Files does with a dialog's choice;
    // returns the number of rows added. Many files are read on a worker
    // thread while the window answers and a progress dialog shows how far
    // it has come; its Cancel adds the files read until then. The rows come
    // in one step, checked for duplicates in one pass. A file of a known
    // kind that does not decode (damaged, cut short, without audio) gets no
    // row; one message afterwards names every such file and why.
    int addFiles(const std::vector<std::string>& paths);
    // addFiles without the message: the files that were not added are
    // appended to notAdded instead, for a caller that tells them itself.
    int addFilesQuietly(const std::vector<std::string>& paths, std::vector<NotAddedFile>& notAdded);

    // --- The player ---
    void setStatus(int s); // 0 "Stopped", 1 "Playing", 2 "Paused"
    int loadItem(const std::string& path, const std::string& title);
    // 0 loaded, 1 load error, 2 unsupported type.
    int loadFile(const std::string& path, const std::string& title);
    // 0 loaded, 1 track cannot be opened, 2 no disc. The track is the
    // number in the title's last two characters. On the CD already, the
    // drive moves to that track and the device goes on playing; otherwise
    // the Mixer loads that track of the first CD drive (opening a drive of
    // its own), the status is Stopped and the device opens on the Mixer.
    // Without a disc the rows of the CD list are deleted; the rows of the
    // file list stay.
    int loadCdTrack(const std::string& title);
    // Loads the first audio track of the first CD drive as loadCdTrack does,
    // makes row 0 current and selected, with the status Stopped. True when
    // the track loaded and opened.
    bool startFirstCdTrack();
    // Stops the device if it plays, empties the Mixer and closes the
    // device: nothing is loaded afterwards.
    void emptyPlayer();
    bool prev(bool wrap);
    bool next(bool wrap);
    // Shows, selects and loads the row next or prev moved to, and plays it
    // when previousState was playing; false when the load failed.
    bool loadMovedRow(int previousState);
    void resetPlayer();
    // The file the Mixer holds ("" for a CD track or when nothing is
    // loaded), and a number that grows with every item loaded.
    const std::string& loadedFile() const { return loadedFilePath; }
    uint64_t loadNumber() const { return loads; }
    // Called after every updateDisplay and volume change, when the status,
    // the loaded item, the list or the volume may have changed. One
    // listener; an empty one removes it.
    void setChangeListener(std::function<void()> listener) { changeListener = std::move(listener); }
    // Moves the playing or paused item to seconds, rounded to the nearest
    // whole second (NaN is refused, below 0 counts as 0): what is queued
    // from the old position is dropped, the elapsed time shows the new one.
    // At or past the end, the item ends as at its end (PlayOver, then the
    // repeat mode; while paused, when play resumes). False, and nothing
    // done, when nothing is loaded, while stopped (Play starts an item from
    // its beginning) or once the item has ended. The one seek path of the
    // position slider and of remote control.
    bool seekTo(double seconds);

    // The title shown: the loaded item's, or why it did not load.
    const std::string& title() const { return titleText; }
    // The loaded file's title, artist and album from its tags, read once as
    // it loaded; empty for a CD track, a file without tags, or when nothing
    // is loaded. The title line shows them as its tooltip.
    const MediaTags& tags() const { return loadedTags; }
    // The player's state and its rules; listeners learn of every change.
    PlayerModel& player() { return model; }
    const PlayerModel& player() const { return model; }
    // The number of rows shown, and the first row whose path is path
    // (compared exactly), or -1.
    int rowCount() const;
    int rowOfPath(const std::string& path) const;
    // Plays row as a double-click on it does (the NewItem command).
    void playRow(int row);

    const ProgramFiles& programFiles() const { return files; }
    // The playback device, to look at its state.
    const WaveOutDevice& output() const { return outputDevice; }
    // The playback Mixer. Only the window loads items into it; the tests
    // look into its stream chain.
    Mixer& playbackMixer() { return mixer; }
    // The control with that id (null for an unknown id).
    QWidget* control(int id) const;

    // --- Controls (children of the window) ---
    QComboBox* channelCombo = nullptr;
    QComboBox* bitrateCombo = nullptr;
    PlayListView* listView = nullptr;
    BitmapButton* repeatButton = nullptr;
    BitmapButton* moveUpButton = nullptr;
    BitmapButton* removeButton = nullptr;
    BitmapButton* convertButton = nullptr;
    BitmapButton* cdRefreshButton = nullptr;
    BitmapButton* moveDownButton = nullptr;
    BitmapButton* clearAllButton = nullptr;
    BitmapButton* addFilesButton = nullptr;
    BitmapButton* recordButton = nullptr;
    BitmapButton* prevButton = nullptr;
    BitmapButton* nextButton = nullptr;
    BitmapButton* ejectButton = nullptr;
    BitmapButton* stopButton = nullptr;
    BitmapButton* pauseButton = nullptr;
    BitmapButton* playButton = nullptr;
    TransparentSlider* positionSlider = nullptr;
    TransparentSlider* volumeSlider = nullptr;
    // The live spectrum over the display picture; null when the environment
    // sets VELUMO_NO_SPECTRUM (a switch for measuring its cost only).
    SpectrumView* spectrumView = nullptr;

    // --- Texts shown by updateDisplay ---
    std::string titleText;
    std::string bitrateText;
    std::string channelText;

    // --- Player and list state, the fields of the model (player()) ---
    int32_t& currentIndex = model.fields().currentIndex;
    int32_t& repeatMode = model.fields().repeatMode;
    int32_t& volume = model.fields().volume;
    double& elapsedSeconds = model.fields().elapsedSeconds;
    int32_t& listMode = model.fields().listMode;

    // The sample rate of the playback mixer's output while nothing is
    // loaded, and for an item whose own rate the output refuses. Items play
    // at their own rate and with their own channels (mono, or stereo for two
    // or more).
    static constexpr double kPlaybackSampleRate = 44100.0;
    // Shown, followed by the system's reason, when Play finds no sound
    // output or the output goes away while playing.
    static constexpr const char* kNoOutputMessage = "Could not open the sound output: ";

  protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  public:
    // Escape and the close box end here, storing the list first (once,
    // however the window is closed). Return and Enter never close the
    // window: on a list row they play it, on a focused image button they
    // press it, and elsewhere they do nothing. accept ends as reject does.
    void reject() override;
    void accept() override;
    void showAbout();

  private:
    void buildControls();
    // The window's sizes: the template's by default, within the screen, and
    // no smaller than the controls above the list and a few of its rows.
    void setUpSizes(const QSize& templateSize);
    // Puts the spectrum view over the display picture.
    void buildSpectrumView();
    // What the device plays: the Mixer, read through its output analyser
    // while the spectrum is shown.
    AudioStream* playbackStream();
    void initialise();
    // Parts of initialise: the image buttons, the list's columns, the
    // combo boxes' entries, and the signals of the controls.
    void setUpButtons();
    void setUpListColumns();
    void setUpCombos();
    void connectControls();
    void setUpButton(BitmapButton* button, int bitmap, const char* tip);
    void setRepeatImage();
    // Shows a change of the model: the repeat image, the volume.
    void modelChanged(PlayerModel::Change what);
    void onVolumeMoved(int position);
    void onTimer();
    void setPosition(int percent);
    // The thumb and the time text from elapsedSeconds; both are left alone
    // while the user drags the thumb.
    void showElapsed();
    // The second of the item that the position slider's value stands for.
    double sliderSeconds(int percent) const;
    void onPositionDragged(int percent);
    void onPositionReleased();
    // The item in the Mixer has just loaded: its title and length, the
    // clock at zero.
    void showLoadedItem(const std::string& title);
    // loadCdTrack while the Mixer is not on the CD.
    int loadCdTrackFromDrive(int track, const std::string& title);
    // Opens the device on what the Mixer holds, at the item's own rate; an
    // output that refuses that rate gets the item resampled to
    // kPlaybackSampleRate instead.
    void openOutput();
    // Play's check that the device is open and alive, opening it again when
    // it is not (a device may be back). False after outputFailed.
    bool outputReady();
    // The device could not be opened or went away: it is closed, the status
    // is Stopped and one message gives the reason.
    void outputFailed(const std::string& reason);
    std::string rowText(int row, int column) const;
    // The row selected in the list view, or -1.
    int selectedRow() const;
    // What addFiles learns of one file.
    struct ProbedFileInfo {
        bool usable = false;           // a regular file of a kind the player reads
        const char* problem = nullptr; // why a file read is not usable
        int64_t length = 0;            // bytes
        int64_t seconds = 0;           // whole seconds
    };
    // Reads paths on a worker thread into probed (sized as paths), running
    // the window's events meanwhile; returns how many were read before the
    // end or a cancel.
    size_t probeWhileAnswering(const std::vector<std::string>& paths,
                               std::vector<ProbedFileInfo>& probed);
    void setListEnabled(bool enabled);

    // Commands
    void onAddFiles();
    void onRemove();
    void onMoveUp();
    void onMoveDown();
    void onClearAll();
    void onPlay();
    void onPause();
    void onStop();
    void onPrev();
    void onNext();
    void onEject();
    void onRepeat();
    void onNewItem();
    void onPlayOver();

    // The player, which only the window's own operations drive.
    QLabel* statusText = nullptr;
    std::string timeText;
    WaveOutDevice outputDevice;
    Mixer mixer; // declared after the device: destroyed before it
    double durationSeconds = 0.0;
    std::string loadedFilePath;
    MediaTags loadedTags;
    uint64_t loads = 0;
    std::function<void()> changeListener;
    // The conversion's rate: bitrateValueOf(bitrateText).
    double bitrateValue = kDefaultBitrateRate;

    // The stored list on disk: reading, storing, the copies kept aside.
    StoredListFile listFile;

    ProgramFiles files;
    std::map<int, std::function<void(MainWindow&)>> commandHandlers;
    QIcon icon;
    QPixmap backgroundBitmap;
    int32_t tileWidth = 0;
    int32_t tileHeight = 0;
    QFont displayFont;
    int timerId = 0;
    // The room right of and below the list, which keeps its template margins
    // at any window size.
    QSize listMargins;
};
