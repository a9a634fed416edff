#pragma once
// Turns a dialog template (resources/DialogTemplate.h) into widgets placed by
// the dialog-unit conversion: x = units x baseX / 4, y = units x baseY / 8,
// rounded, with baseX, baseY the average character width and the height of
// the template font. Every template font is drawn with the program's own
// DejaVu Sans Condensed (resources/Fonts.h), which has the classic fonts'
// average character sizes.
//
// Each control carries its id (the property "controlId", objectName
// "control<id>"), so findControl(dialog, id) finds it. Kinds map to widgets:
// group box GroupFrame, label QLabel, picture and icon QLabel with the image,
// slider TransparentSlider, image button BitmapButton, push buttons
// QPushButton, combo box QComboBox, list view PlayListView, progress bar
// QProgressBar. A caller that keeps its own control objects hands them over
// with adopt() before build(); build() then places and sets up those instead
// of creating new ones.
//
// User-interface thread only.

#include "resources/DialogTemplate.h"

#include <QFont>
#include <QRect>
#include <QSize>

#include <map>

class QWidget;

class TemplateBuilder {
  public:
    explicit TemplateBuilder(const DialogTemplate& dialog);

    const DialogTemplate& dialogTemplate() const { return source; }
    QFont font() const { return templateFont; }
    // The average character width and the character height, in pixels.
    QSize baseUnits() const { return base; }
    QRect toPixels(int x, int y, int width, int height) const;
    QRect toPixels(const ControlTemplate& control) const;
    // The client size of the dialog in pixels.
    QSize dialogSize() const;

    // Uses widget for the control with that id. build() makes it a child of
    // the dialog; the caller keeps ownership, so the widget must go before
    // the dialog does (members of the dialog's own class do).
    void adopt(int id, QWidget* widget);

    // Sets the dialog's caption, font, light palette (imagePalette) and fixed
    // client size, and creates (or takes from adopt) every control as a child
    // of dialog, in template order.
    void build(QWidget* dialog);

    // The control with that id among dialog's descendants, or null.
    static QWidget* findControl(const QWidget* dialog, int id);
    // The id that build() gave the widget, or kNoControlId.
    static int controlId(const QWidget* widget);

  private:
    QWidget* createControl(const ControlTemplate& control, QWidget* dialog) const;
    void setUpControl(const ControlTemplate& control, QWidget* widget) const;

    const DialogTemplate& source;
    QFont templateFont;
    QSize base;
    std::map<int, QWidget*> adopted;
};
