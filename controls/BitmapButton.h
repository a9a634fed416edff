#pragma once
// The flat image button of the main window. It paints one image, raises a
// border while the pointer is over it, sinks while pressed (the image moves 1
// pixel right and down), greys its image when disabled and carries a tooltip.
// An image larger than the button is shrunk into it. The focused button
// shows a focus rectangle, and Return or Enter presses it.
// The control also supports a drop-down arrow with a popup menu, check-box and
// radio behaviour (by its buttonType), a link opened on click, per-state
// colours and a custom cursor, although the program's windows use none of
// them.
//
// Every click is delivered to the parent as command(controlId()) after the
// button's own click logic.
//
// User-interface thread only.

#include "controls/OwnerDrawButton.h"

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QPointer>
#include <QString>

#include <array>
#include <cstdint>

class QMenu;

class BitmapButton : public OwnerDrawButton {
    Q_OBJECT
  public:
    enum Style : uint32_t { kFlat = 1, kDropDownArrow = 2, kSizeToContent = 4 };
    enum ImageAlign : uint32_t {
        kAlignHCenter = 1,
        kAlignRight = 2,
        kAlignVCenter = 4,
        kAlignBottom = 8,
    };
    enum DrawState : uint32_t { kNormal = 0, kHover = 1, kPressed = 2, kDisabled = 3 };

    explicit BitmapButton(QWidget* parent = nullptr);
    ~BitmapButton() override;

    void subclassButton(uint32_t style) override;

    // Replaces the image by bitmap resource resourceId with pixels of
    // transparentColour (0xRRGGBB) masked out. Returns false, keeping the old
    // image, when the resource does not exist. Does not repaint.
    bool setBitmap(int resourceId, uint32_t transparentColour);
    // Sets the image alignment flags (ImageAlign) and repaints.
    void setImageAlign(uint32_t flags);
    // Sets the tooltip text and switches the tooltip on or off; a null text
    // does nothing.
    void setToolTip(const QString& text, bool activate);
    // Resets the three colour pairs to the button face and button text colours.
    void setDefaultColours(bool repaint);
    // Colours of one draw state (kNormal, kHover, kPressed).
    void setColours(DrawState state, QColor background, QColor text, bool repaint);

    void setStyleFlags(uint32_t flags);
    uint32_t styleFlags() const { return buttonStyle; }
    // A popup menu shown from the arrow strip (not owned); enables hasMenu.
    void setPopupMenu(QMenu* popup);
    // Opened with the desktop's default handler on click; empty for none
    // (at most 259 characters are kept).
    void setLinkTarget(const QString& target);
    QString linkTarget() const { return link; }
    void setButtonCursor(const QCursor& shape);

    // Check state of check-box and radio kinds (0 for the other kinds).
    int checkState() const;
    void setCheckState(int state);

    // State for tests and for the parent.
    bool hasImage() const { return imageLoaded; }
    const QPixmap& image() const { return bitmap; }
    int imageWidth() const { return imageW; }
    int imageHeight() const { return imageH; }
    uint32_t imageAlign() const { return align; }
    bool isHovering() const { return hover != 0; }
    bool isPressedDown() const { return pressed != 0; }
    QString toolTipText() const { return tipText; }
    bool toolTipActive() const { return tipActive; }
    uint32_t currentDrawState() const { return drawState; }

  protected:
    // Fill with the background colour of the draw state.
    virtual void drawBackground(QPainter& painter, const QRect& rect);
    // Sunken while pressed, raised while hovering (flat), otherwise none
    // (flat) or the standard push-button frame.
    virtual void drawBorder(QPainter& painter, const QRect& rect);

    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

    void onClick() override;

  private:
    void updateHover(const QPoint& pos, Qt::MouseButtons buttons);
    void sizeToContent();
    // Where the image is drawn in the content rectangle, and at what size.
    QRect imageRect(const QRect& content) const;
    QSize drawnImageSize(const QRect& content) const;
    QPixmap scaledImage(const QPixmap& source, const QSize& size) const;
    QPixmap disabledImage() const;

    QPointer<QMenu> menu;
    QString tipText;
    bool tipActive = false;
    QString link;
    std::array<QColor, 3> backgroundColours;
    std::array<QColor, 3> textColours;
    QFont buttonFont;
    bool hasFont = false;
    QPixmap bitmap; // the image, transparent where the mask colour was
    int imageW = 0;
    int imageH = 0;
    bool imageLoaded = false;
    uint32_t hasMenu = 0;
    uint32_t menuOpen = 0;
    uint32_t pressed = 0;
    uint32_t hover = 0;
    uint32_t disabled = 0;
    uint32_t buttonStyle = kFlat;
    uint32_t textFormat = 5; // centred horizontally and vertically
    uint32_t align = 0;
    uint32_t check = 0;
    uint32_t drawState = kNormal;
};
