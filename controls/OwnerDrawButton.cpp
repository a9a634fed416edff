#include "controls/OwnerDrawButton.h"

#include <QKeyEvent>

namespace {
constexpr uint32_t kTypeMask = 0x1F;
}

OwnerDrawButton::OwnerDrawButton(QWidget* parent) : QPushButton(parent) {
    setAutoDefault(false);
    setFlat(true);
    connect(this, &QAbstractButton::clicked, this, [this] {
        onClick();
        emit command(id);
    });
}

void OwnerDrawButton::subclassButton(uint32_t style) {
    buttonType = style & kTypeMask;
    ownerDraw = 1;
    if (buttonType == kDefaultPushButton) {
        isDefault = 1;
        buttonType = kPushButton;
    }
    setDefault(isDefault != 0);
}

void OwnerDrawButton::setButtonStyle(uint32_t style) {
    const uint32_t type = style & kTypeMask;
    if (type == kPushButton || type == kDefaultPushButton) {
        isDefault = type == kDefaultPushButton ? 1 : 0;
        setDefault(isDefault != 0);
    }
    update();
}

bool OwnerDrawButton::isCheckType() const {
    return buttonType == kCheckBox || buttonType == kAutoCheckBox || buttonType == kThreeState ||
           buttonType == kAutoThreeState;
}

bool OwnerDrawButton::isRadioType() const {
    return buttonType == kRadioButton || buttonType == kAutoRadioButton;
}

void OwnerDrawButton::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && modifiers == Qt::NoModifier && isPushType() && isEnabled()) {
        event->accept();
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}
