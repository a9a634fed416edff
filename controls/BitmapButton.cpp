#include "controls/BitmapButton.h"

#include "resources/Images.h"

#include <QDesktopServices>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QUrl>

#include <algorithm>

namespace {

constexpr int kContentInset = 3; // content rectangle inside the item rectangle
constexpr int kArrowStrip = 16;  // width of the drop-down arrow strip
constexpr int kMaxLinkLength = 259;

// A one-pixel frame: top and left edges in topLeft, right and bottom in bottomRight.
void draw3dRect(QPainter& p, const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
    p.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), topLeft);
    p.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), topLeft);
    p.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
    p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
}

} // namespace

BitmapButton::BitmapButton(QWidget* parent) : OwnerDrawButton(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover, false);
    setDefaultColours(false);
}

BitmapButton::~BitmapButton() = default;

void BitmapButton::subclassButton(uint32_t styleBits) {
    OwnerDrawButton::subclassButton(styleBits);
    if (!hasFont) {
        buttonFont = font();
        hasFont = true;
    }
}

bool BitmapButton::setBitmap(int resourceId, uint32_t transparentColour) {
    QPixmap loaded = loadBitmap(resourceId, static_cast<QRgb>(transparentColour & 0xFFFFFF));
    if (loaded.isNull()) {
        return false;
    }
    bitmap = std::move(loaded);
    imageW = bitmap.width();
    imageH = bitmap.height();
    imageLoaded = true;
    if ((buttonStyle & kSizeToContent) != 0) {
        sizeToContent();
    }
    return true;
}

void BitmapButton::setImageAlign(uint32_t flags) {
    align = flags;
    update();
}

void BitmapButton::setToolTip(const QString& text, bool activate) {
    if (text.isNull()) {
        return;
    }
    tipText = text;
    tipActive = activate;
    QWidget::setToolTip(activate ? tipText : QString());
}

void BitmapButton::setDefaultColours(bool repaint) {
    const QColor face = palette().color(QPalette::Button);
    const QColor text = palette().color(QPalette::ButtonText);
    backgroundColours.fill(face);
    textColours.fill(text);
    if (repaint) {
        update();
    }
}

void BitmapButton::setColours(DrawState state, QColor background, QColor text, bool repaint) {
    if (state > kPressed) {
        return;
    }
    backgroundColours[state] = background;
    textColours[state] = text;
    if (repaint) {
        update();
    }
}

void BitmapButton::setStyleFlags(uint32_t flags) {
    buttonStyle = flags;
    if ((buttonStyle & kSizeToContent) != 0) {
        sizeToContent();
    }
    update();
}

void BitmapButton::setPopupMenu(QMenu* popup) {
    menu = popup;
    hasMenu = popup != nullptr ? 1 : 0;
}

void BitmapButton::setLinkTarget(const QString& target) {
    link = target.left(kMaxLinkLength);
}

void BitmapButton::setButtonCursor(const QCursor& shape) {
    setCursor(shape);
}

int BitmapButton::checkState() const {
    return isCheckType() || isRadioType() ? static_cast<int>(check) : 0;
}

void BitmapButton::setCheckState(int state) {
    check = state != 0 ? 1 : 0;
    pressed = check;
    update();
}

void BitmapButton::sizeToContent() {
    const QFontMetrics metrics(hasFont ? buttonFont : font());
    int w = std::max(metrics.horizontalAdvance(text()), imageW) + 6;
    if ((buttonStyle & kDropDownArrow) != 0) {
        w += 19;
    }
    const int h = std::max(metrics.height(), imageH) + 6;
    resize(w, h);
}

void BitmapButton::drawBackground(QPainter& painter, const QRect& rect) {
    const QColor colour =
        drawState == kDisabled ? palette().color(QPalette::Button) : backgroundColours[drawState];
    painter.fillRect(rect, colour);
}

void BitmapButton::drawBorder(QPainter& painter, const QRect& rect) {
    const QColor highlight = palette().color(QPalette::Light);
    const QColor shadow = palette().color(QPalette::Dark);
    if (pressed != 0) {
        draw3dRect(painter, rect, shadow, highlight);
    } else if ((buttonStyle & kFlat) == 0) {
        QStyleOptionButton option;
        option.initFrom(this);
        option.rect = rect;
        style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &option, &painter, this);
    } else if (hover != 0) {
        draw3dRect(painter, rect, highlight, shadow);
    }
}

QSize BitmapButton::drawnImageSize(const QRect& content) const {
    const QSize own(imageW, imageH);
    // An image that fits the button is drawn at its own size; a larger one
    // would be cut by the button's edges, so it is shrunk into the content
    // rectangle, keeping its proportions.
    if ((imageW <= width() && imageH <= height()) || content.isEmpty()) {
        return own;
    }
    return own.scaled(content.size(), Qt::KeepAspectRatio);
}

QPixmap BitmapButton::scaledImage(const QPixmap& source, const QSize& size) const {
    // Scaled for the screen's pixels, smoothly; the transparent parts stay
    // transparent.
    const qreal ratio = devicePixelRatioF();
    QPixmap scaled = source.scaled(size * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(ratio);
    return scaled;
}

QRect BitmapButton::imageRect(const QRect& content) const {
    const QSize size = drawnImageSize(content);
    int x = content.left();
    if ((align & kAlignHCenter) != 0) {
        x = content.left() + (content.width() - size.width()) / 2;
    } else if ((align & kAlignRight) != 0) {
        x = content.left() + content.width() - size.width();
    }
    int y = content.top();
    if ((align & kAlignVCenter) != 0) {
        y = content.top() + (content.height() - size.height()) / 2;
    } else if ((align & kAlignBottom) != 0) {
        y = content.top() + content.height() - size.height();
    }
    if (pressed != 0) {
        ++x;
        ++y;
    }
    return {QPoint(x, y), size};
}

QPixmap BitmapButton::disabledImage() const {
    // Greyed: every visible pixel becomes a light grey of its brightness.
    QImage img = bitmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const int a = qAlpha(line[x]);
            if (a == 0) {
                continue;
            }
            const int v = 128 + qGray(line[x]) / 2;
            line[x] = qRgba(v, v, v, a);
        }
    }
    return QPixmap::fromImage(img);
}

void BitmapButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const bool arrow = (buttonStyle & kDropDownArrow) != 0;
    const bool flat = (buttonStyle & kFlat) != 0;

    if ((isCheckType() || isRadioType()) && pressed == 0) {
        pressed = check;
    }
    disabled = isEnabled() ? 0 : 1;
    drawState = disabled != 0 ? kDisabled : pressed != 0 ? kPressed : hover != 0 ? kHover : kNormal;

    QRect rect = this->rect();
    if (isDefault != 0) {
        rect.adjust(1, 1, -1, -1);
    }
    drawBackground(painter, rect);
    drawBorder(painter, rect);

    QRect content = rect.adjusted(kContentInset, kContentInset, -kContentInset, -kContentInset);
    if (arrow) {
        content.setWidth(content.width() - kArrowStrip);
    }

    if (isDefault != 0 && disabled == 0 && !flat) {
        painter.setPen(Qt::black);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(this->rect().adjusted(0, 0, -1, -1));
        if (pressed != 0) {
            painter.setPen(palette().color(QPalette::Dark));
            painter.drawRect(rect.adjusted(0, 0, -1, -1));
        }
    }

    // The focused push button shows the focus rectangle even when flat: it
    // is the one that Enter presses.
    const bool focusShown = hasFocus() && (!flat || isPushType());
    if ((focusShown || (pressed != 0 && !flat)) && !isCheckType() && menuOpen == 0) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = content;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }

    if (imageLoaded) {
        const QPixmap source = drawState == kDisabled ? disabledImage() : bitmap;
        const QRect target = imageRect(content);
        if (target.size() == source.size()) {
            painter.drawPixmap(target.topLeft(), source);
        } else {
            painter.drawPixmap(target.topLeft(), scaledImage(source, target.size()));
        }
    }

    if (!text().isEmpty()) {
        painter.setFont(hasFont ? buttonFont : font());
        const int flags = static_cast<int>(
            ((textFormat & 1) != 0 ? Qt::AlignHCenter : Qt::AlignLeft) |
            ((textFormat & 4) != 0 ? Qt::AlignVCenter : Qt::AlignTop) | Qt::TextSingleLine);
        if (disabled != 0) {
            painter.setPen(palette().color(QPalette::Base));
            painter.drawText(content.translated(1, 1), flags, text());
            painter.setPen(palette().color(QPalette::Disabled, QPalette::ButtonText));
        } else {
            painter.setPen(textColours[drawState]);
        }
        painter.drawText(content, flags, text());
    }

    if (arrow) {
        const int stripLeft = rect.right() - kContentInset - kArrowStrip + 1;
        if (!flat || hover != 0) {
            painter.fillRect(QRect(stripLeft, rect.top() + 4, 1, rect.height() - 8),
                             palette().color(QPalette::Dark));
            painter.fillRect(QRect(stripLeft + 1, rect.top() + 4, 1, rect.height() - 8),
                             palette().color(QPalette::Light));
        }
        const QColor colour = disabled != 0 ? palette().color(QPalette::Disabled, QPalette::Text)
                                            : palette().color(QPalette::WindowText);
        const int cx = stripLeft + kArrowStrip / 2;
        const int cy = rect.center().y();
        for (int row = 0; row < 4; ++row) {
            painter.fillRect(QRect(cx - 3 + row, cy - 1 + row, 7 - 2 * row, 1), colour);
        }
        if (menuOpen != 0) {
            draw3dRect(painter,
                       QRect(stripLeft, rect.top(), rect.right() - stripLeft + 1, rect.height()),
                       palette().color(QPalette::Dark), palette().color(QPalette::Light));
        }
    }
}

void BitmapButton::updateHover(const QPoint& pos, Qt::MouseButtons buttons) {
    if ((buttons & Qt::LeftButton) != 0 && hover == 0) {
        return;
    }
    const bool inside = isEnabled() && rect().contains(pos);
    if (inside && hover == 0) {
        hover = 1;
        update();
    } else if (!inside && hover != 0) {
        hover = 0;
        update();
    }
}

void BitmapButton::enterEvent(QEnterEvent* event) {
    OwnerDrawButton::enterEvent(event);
    updateHover(event->position().toPoint(), QGuiApplication::mouseButtons());
}

void BitmapButton::leaveEvent(QEvent* event) {
    OwnerDrawButton::leaveEvent(event);
    if (hover != 0) {
        hover = 0;
        update();
    }
}

void BitmapButton::mouseMoveEvent(QMouseEvent* event) {
    OwnerDrawButton::mouseMoveEvent(event);
    updateHover(event->position().toPoint(), event->buttons());
}

void BitmapButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        OwnerDrawButton::mousePressEvent(event);
        return;
    }
    if (menuOpen != 0) {
        menuOpen = 0;
        update();
        return;
    }
    const bool inArrowStrip = event->position().x() >= width() - kArrowStrip;
    if (hasMenu != 0 && menu != nullptr && (buttonStyle & kDropDownArrow) != 0 && inArrowStrip) {
        menuOpen = 1;
        update();
        const QPoint corner = mapToGlobal(QPoint(width(), height()));
        menu->exec(corner - QPoint(menu->sizeHint().width(), 0));
        menuOpen = 0;
        update();
        return;
    }
    pressed = 1;
    update();
    OwnerDrawButton::mousePressEvent(event);
}

void BitmapButton::mouseReleaseEvent(QMouseEvent* event) {
    QPointer<BitmapButton> alive(this);
    // The base emits the click; a command handler may destroy the button.
    OwnerDrawButton::mouseReleaseEvent(event);
    if (alive == nullptr) {
        return;
    }
    if (event->button() == Qt::LeftButton && isPushType() && pressed != 0) {
        pressed = 0;
        update();
    }
    updateHover(event->position().toPoint(), event->buttons());
}

void BitmapButton::focusInEvent(QFocusEvent* event) {
    OwnerDrawButton::focusInEvent(event);
    update();
}

void BitmapButton::changeEvent(QEvent* event) {
    OwnerDrawButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        hover = 0;
        pressed = isPushType() ? 0 : pressed;
        update();
    }
}

void BitmapButton::onClick() {
    if (isCheckType()) {
        check = check != 0 ? 0 : 1;
        pressed = pressed != 0 ? 0 : 1;
        update();
    } else if (isRadioType()) {
        // The group: the radio-kind image buttons sharing this parent.
        if (QWidget* parent = parentWidget()) {
            for (BitmapButton* other :
                 parent->findChildren<BitmapButton*>(Qt::FindDirectChildrenOnly)) {
                if (other != this && other->isRadioType() && other->check != 0) {
                    other->check = 0;
                    other->pressed = 0;
                    other->update();
                }
            }
        }
        check = 1;
        pressed = 1;
        update();
    } else if (!link.isEmpty()) {
        QDesktopServices::openUrl(QUrl::fromUserInput(link));
    }
}
