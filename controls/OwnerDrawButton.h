#pragma once
// The base of the program's image buttons: a push button that paints itself
// and remembers what kind of button it was created as (push, default push,
// check box, radio button), so that the derived class can keep that
// behaviour while drawing everything on its own.
//
// A control id, given by the dialog builder, identifies the button to its
// parent: every click is delivered as command(controlId()).
//
// User-interface thread only.

#include <QPushButton>

#include <cstdint>

class OwnerDrawButton : public QPushButton {
    Q_OBJECT
  public:
    // The button kinds, numbered as the low five bits of a button style.
    enum ButtonType : uint32_t {
        kPushButton = 0,
        kDefaultPushButton = 1,
        kCheckBox = 2,
        kAutoCheckBox = 3,
        kRadioButton = 4,
        kThreeState = 5,
        kAutoThreeState = 6,
        kAutoRadioButton = 9,
        kUnsubclassed = 31, // buttonType until subclassButton ran
    };

    explicit OwnerDrawButton(QWidget* parent = nullptr);

    // Takes over a button created with the given style bits: records the
    // type (a default push button becomes isDefault with type push) and
    // turns the button owner-drawn.
    virtual void subclassButton(uint32_t style);

    // A push or default push style switches isDefault; other types keep
    // their type.
    void setButtonStyle(uint32_t style);

    int controlId() const { return id; }
    void setControlId(int controlId) { id = controlId; }

    bool isCheckType() const; // check box and three-state kinds
    bool isRadioType() const;
    bool isPushType() const { return !isCheckType() && !isRadioType(); }

    uint32_t ownerDraw = 1;
    uint32_t isDefault = 0;
    uint32_t buttonType = kUnsubclassed;

  signals:
    // A click, for the parent's command handler; emitted after onClick.
    void command(int controlId);

  protected:
    // Return and Enter press a push-kind button that has the focus, as they
    // do the default button of a dialog: the focused push button is the
    // default. Other keys, and Enter on the other kinds, go to the base.
    void keyPressEvent(QKeyEvent* event) override;

    // The button's own click logic, run before command() is emitted.
    virtual void onClick() {}

  private:
    int id = -1;
};
