#pragma once
// The dialog templates of the program as data: for each dialog its caption,
// font and size, and for each control its id, kind, text, rectangle in dialog
// units and style flags. resources/TemplateBuilder.h turns a template into
// widgets.
//
// Dialog units: x pixels = units x baseX / 4, y pixels = units x baseY / 8,
// with the template font's average character width and height as baseX, baseY.

#include <cstdint>
#include <string>
#include <vector>

// The dialog templates.
inline constexpr int kAboutDialog = 100;
inline constexpr int kConvertDialog = 103;
inline constexpr int kRecordDialog = 104;
inline constexpr int kMainDialog = 165;

// The id of controls nobody addresses (labels, frames, pictures).
inline constexpr int kNoControlId = -1;

enum class ControlKind {
    GroupBox,
    Label,       // static text
    Picture,     // static bitmap (resource)
    Icon,        // static icon (resource)
    Slider,      // horizontal trackbar
    ImageButton, // owner-drawn button
    PushButton,
    DefaultButton, // default push button
    ComboBox,      // drop-down combo box; editable with kEditable
    ListView,      // report view
    ProgressBar,
};

// Style flags of a control.
enum ControlStyle : uint32_t {
    kNotVisible = 1u << 0,
    kCentred = 1u << 1,      // text centred horizontally
    kRightAligned = 1u << 2, // text right-aligned
    kCentredVertically = 1u << 3,
    kNoTicks = 1u << 4,         // slider without tick marks
    kEditable = 1u << 5,        // combo box with an edit field
    kSingleSelection = 1u << 6, // list view
    kShowSelectionAlways = 1u << 7,
    kBordered = 1u << 8,
    kSmooth = 1u << 9, // progress bar
    kGroupStart = 1u << 10,
};

// Style flags of a dialog.
enum DialogStyle : uint32_t {
    kSystemMenu = 1u << 0,
    kMinimiseBox = 1u << 1,
    kMaximiseBox = 1u << 2,
    kModalFrame = 1u << 3,
    kAppWindow = 1u << 4, // shown in the task bar
};

struct ControlTemplate {
    int id = kNoControlId;
    ControlKind kind = ControlKind::Label;
    std::string text;                        // the text in the template ("" for image buttons)
    std::string role;                        // what the control is, for people and accessibility
    int x = 0, y = 0, width = 0, height = 0; // dialog units
    uint32_t style = 0;                      // ControlStyle
    int resource = 0;                        // bitmap or icon number, 0 none
};

struct DialogTemplate {
    int id = 0;
    std::string caption;
    std::string fontName;
    int fontPoints = 8;
    int width = 0, height = 0;             // dialog units
    uint32_t style = 0;                    // DialogStyle
    std::vector<ControlTemplate> controls; // in tab and creation order
};

// The template with that number, or null.
const DialogTemplate* findDialogTemplate(int id);
// The control with that id in the template, or null (kNoControlId finds nothing).
const ControlTemplate* findControlTemplate(const DialogTemplate& dialog, int id);
