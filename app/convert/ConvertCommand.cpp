#include "app/convert/ConvertCommand.h"

#include "app/MainWindow.h"
#include "app/convert/ConvertDialog.h"
#include "platform/MessageBox.h"
#include "playlist/AudioItem.h"

namespace {

constexpr const char* kNoSelectionMessage = "Please select an audio file firstly!";
constexpr const char* kSaveTitle = "Convert and Save as";
constexpr const char* kMp3Filter = "Mp3 Files(*.mp3)|*.mp3||";
constexpr const char* kWaveFilter = "Wave Files (*.wav)|*.wav||";
constexpr const char* kBothFilter = "Wave Files (*.wav)|*.wav|Mp3 Files(*.mp3)|*.mp3||";

} // namespace

SaveFileRequest convertSaveRequest(int listMode, const std::string& source) {
    SaveFileRequest request;
    request.title = kSaveTitle;
    request.overwritePrompt = true;
    request.filter = kBothFilter;
    if (listMode == kListCdTracks) {
        request.proposedName = source + ".mp3";
        request.defaultExtension = "mp3";
        request.filterIndex = 2;
    } else if (listMode == kListRecording) {
        request.defaultExtension = "wav";
        request.filterIndex = 1;
    } else {
        const size_t slash = source.rfind('/');
        const std::string name = slash == std::string::npos ? source : source.substr(slash + 1);
        request.initialDirectory =
            slash == std::string::npos ? std::string() : source.substr(0, slash);
        // The type is told by the last three characters, as typed: a file
        // named SONG.WAV is offered both targets.
        const FileKind kind = fileKind(name, ExtensionRule::LastThree, CaseRule::AsTyped);
        if (kind == FileKind::Wave) {
            request.defaultExtension = "mp3";
            request.filter = kMp3Filter;
            request.filterIndex = 1;
        } else if (kind == FileKind::Mp3) {
            request.defaultExtension = "wav";
            request.filter = kWaveFilter;
            request.filterIndex = 1;
        } else {
            request.defaultExtension = "mp3";
            request.filterIndex = 2;
        }
        // The proposed name replaces the extension: three characters, or the
        // whole of a four-letter one ("song.flac" becomes "song.mp3").
        const size_t known = kindExtension(name, ExtensionRule::LastThree).size();
        const size_t cut = known > 0 ? known : 3;
        const std::string stem =
            name.size() >= cut ? name.substr(0, name.size() - cut) : std::string();
        request.proposedName = stem + request.defaultExtension;
    }
    return request;
}

void convertCommand(MainWindow& window) {
    const double rate = window.readConversionRate();

    std::string source;
    if (window.player().listMode() == kListRecording) {
        source = window.programFiles().recordedTakePath();
    } else {
        const std::optional<std::string> item = window.selectedItem();
        if (!item) {
            showMessage(kNoSelectionMessage);
            return;
        }
        source = *item;
    }

    const std::optional<std::string> target =
        saveFile(convertSaveRequest(window.player().listMode(), source));
    if (!target) {
        return;
    }
    ConvertDialog dialog(&window, rate);
    dialog.sourcePath = source;
    dialog.targetPath = *target;
    dialog.exec();
}
