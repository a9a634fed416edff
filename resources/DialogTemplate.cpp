#include "resources/DialogTemplate.h"

#include "base/Version.h"

namespace {

using K = ControlKind;

DialogTemplate mainDialog() {
    DialogTemplate d;
    d.id = kMainDialog;
    d.caption = "Velumo";
    d.fontName = "MS Sans Serif";
    d.fontPoints = 8;
    d.width = 407;
    d.height = 322;
    d.style = kSystemMenu | kMinimiseBox | kMaximiseBox | kAppWindow;
    d.controls = {
        {kNoControlId, K::GroupBox, "", "display frame", 19, 31, 231, 88, 0, 0},
        {kNoControlId, K::Picture, "", "display picture", 100, 76, 45, 9, 0, 132},
        {1044, K::Label, "AUDIO", "title", 19, 6, 230, 15, kCentred, 0},
        {1036, K::Label, "Stopped", "status", 57, 39, 45, 12, 0, 0},
        {1037, K::Label, "00:56", "time", 199, 39, 36, 14, kRightAligned, 0},
        {1014, K::Slider, "", "position", 49, 54, 167, 22, kNoTicks, 0},
        {1017, K::ImageButton, "", "Play", 38, 84, 16, 16, 0, 0},
        {1018, K::ImageButton, "", "Pause", 54, 84, 16, 16, 0, 0},
        {1019, K::ImageButton, "", "Stop", 70, 84, 16, 16, 0, 0},
        {1012, K::Slider, "", "volume", 94, 84, 56, 16, kNoTicks, 0},
        {1020, K::ImageButton, "", "Prev", 157, 84, 17, 16, 0, 0},
        {1021, K::ImageButton, "", "Next", 174, 84, 16, 16, 0, 0},
        {1023, K::ImageButton, "", "Eject", 190, 84, 16, 16, 0, 0},
        {1024, K::ImageButton, "", "Record", 218, 80, 24, 24, 0, 0},
        {1025, K::ImageButton, "", "CD Refresh", 279, 7, 24, 24, 0, 0},
        {1026, K::ImageButton, "", "Add Audio Files", 316, 7, 24, 24, 0, 0},
        {1031, K::ImageButton, "", "Convert", 352, 7, 24, 24, 0, 0},
        {1033, K::ImageButton, "", "repeat mode", 277, 38, 16, 16, 0, 0},
        {1027, K::ImageButton, "", "Remove", 299, 38, 16, 16, 0, 0},
        {1006, K::ImageButton, "", "Clear All", 321, 38, 16, 16, 0, 0},
        {1029, K::ImageButton, "", "Move Up", 345, 38, 16, 16, kNotVisible, 0},
        {1030, K::ImageButton, "", "Move Down", 368, 38, 16, 16, kNotVisible, 0},
        {kNoControlId, K::GroupBox, "Conversion Quality", "quality frame", 268, 59, 124, 59, 0, 0},
        {kNoControlId, K::Label, "Bitrate", "bitrate label", 277, 75, 38, 10, 0, 0},
        {1049, K::ComboBox, "", "bitrate", 332, 71, 47, 51, kEditable, 0},
        {kNoControlId, K::Label, "Channel", "channel label", 277, 95, 37, 13, 0, 0},
        {1050, K::ComboBox, "", "channel", 332, 95, 47, 44, kEditable, 0},
        {1028, K::ListView, "", "play list", 7, 125, 393, 190,
         kSingleSelection | kShowSelectionAlways | kBordered, 0},
    };
    return d;
}

DialogTemplate aboutDialog() {
    DialogTemplate d;
    d.id = kAboutDialog;
    d.caption = "About Velumo";
    d.fontName = "MS Sans Serif";
    d.fontPoints = 8;
    d.width = 235;
    d.height = 55;
    d.style = kSystemMenu | kModalFrame;
    d.controls = {
        {kNoControlId, K::Icon, "", "program icon", 11, 17, 20, 20, 0, 128},
        {kNoControlId, K::Label, std::string("Velumo Version ") + velumoVersion(), "version", 40,
         10, 119, 8, 0, 0},
        {1, K::DefaultButton, "OK", "OK", 178, 7, 50, 14, kGroupStart, 0},
    };
    return d;
}

DialogTemplate convertDialog() {
    DialogTemplate d;
    d.id = kConvertDialog;
    d.caption = "Convert";
    d.fontName = "System";
    d.fontPoints = 10;
    d.width = 186;
    d.height = 66;
    d.style = kModalFrame;
    d.controls = {
        {1041, K::Label, "Source File", "source name", 16, 10, 50, 10, kCentredVertically, 0},
        {kNoControlId, K::Picture, "", "arrow", 75, 10, 20, 8, 0, 162},
        {1042, K::Label, "Target File", "target name", 124, 10, 48, 10, kCentredVertically, 0},
        {1038, K::ProgressBar, "", "progress", 5, 34, 175, 10, kSmooth | kBordered, 0},
        {1039, K::DefaultButton, "Start", "Start", 5, 46, 50, 14, 0, 0},
        {1043, K::Label, "0%", "percent", 76, 49, 35, 11, kCentred | kCentredVertically, 0},
        {1040, K::PushButton, "Stop", "Stop", 130, 46, 50, 14, 0, 0},
    };
    return d;
}

DialogTemplate recordDialog() {
    DialogTemplate d;
    d.id = kRecordDialog;
    d.caption = "Record";
    d.fontName = "System";
    d.fontPoints = 10;
    d.width = 187;
    d.height = 63;
    d.style = kModalFrame;
    d.controls = {
        {1045, K::PushButton, "Stop", "Stop", 130, 44, 50, 14, 0, 0},
        {1047, K::Label, "Recording...", "label", 46, 21, 61, 11, 0, 0},
        {1046, K::Label, "00:00", "time", 126, 21, 44, 13, 0, 0},
        {kNoControlId, K::Icon, "", "record icon", 7, 4, 20, 20, 0, 164},
    };
    return d;
}

} // namespace

const DialogTemplate* findDialogTemplate(int id) {
    static const DialogTemplate templates[] = {aboutDialog(), convertDialog(), recordDialog(),
                                               mainDialog()};
    for (const DialogTemplate& t : templates) {
        if (t.id == id) {
            return &t;
        }
    }
    return nullptr;
}

const ControlTemplate* findControlTemplate(const DialogTemplate& dialog, int id) {
    if (id == kNoControlId) {
        return nullptr;
    }
    for (const ControlTemplate& c : dialog.controls) {
        if (c.id == id) {
            return &c;
        }
    }
    return nullptr;
}
