#pragma once
// The group box of the dialogs, drawn the classic way: the frame's top line
// runs through the middle of the title, the title interrupts it a little in
// from the left, and the title is drawn at its baseline without a clip, so
// that descenders and the overhang of an italic font stay whole. The
// baseline is the font's ascent, or lower for a font whose glyphs reach
// above it, so that the title's ink never leaves the box.
//
// User-interface thread only.

#include <QGroupBox>

class GroupFrame : public QGroupBox {
    Q_OBJECT
  public:
    explicit GroupFrame(QWidget* parent = nullptr);

    // Where the title's text is drawn (empty without a title) and the frame
    // around the contents, in the box's coordinates.
    QRect titleRect() const;
    QRect frameRect() const;
    // Wide enough for the title between the frame's corners, tall enough for
    // its ink.
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
};
