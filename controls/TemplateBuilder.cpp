#include "controls/TemplateBuilder.h"

#include "controls/BitmapButton.h"
#include "controls/GroupFrame.h"
#include "controls/PlayListView.h"
#include "controls/TransparentSlider.h"
#include "resources/Fonts.h"
#include "resources/Images.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVariant>
#include <QWidget>

#include <cmath>

namespace {

const char* const kIdProperty = "controlId";

// The average character width as the dialog manager measures it: the width
// of the 52 Latin letters divided by 52, rounded.
QSize measureBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int width = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
    return {width, metrics.height()};
}

int scale(int units, int base, int divisor) {
    return static_cast<int>(std::lround(static_cast<double>(units) * base / divisor));
}

Qt::Alignment labelAlignment(uint32_t style) {
    Qt::Alignment horizontal = Qt::AlignLeft;
    if ((style & kCentred) != 0) {
        horizontal = Qt::AlignHCenter;
    } else if ((style & kRightAligned) != 0) {
        horizontal = Qt::AlignRight;
    }
    return horizontal | ((style & kCentredVertically) != 0 ? Qt::AlignVCenter : Qt::AlignTop);
}

} // namespace

TemplateBuilder::TemplateBuilder(const DialogTemplate& dialog) : source(dialog) {
    // Every template names a classic font ("MS Sans Serif" 8, or "System");
    // both are drawn with the embedded DejaVu Sans Condensed, whose average
    // character matches theirs, so the dialogs keep their proportions.
    templateFont = dialogFont();
    if (dialog.fontName == "System") {
        // The classic system font has base units of 8 x 16, as DejaVu Sans
        // Condensed at 14 pixels has.
        templateFont.setPixelSize(14 * dialog.fontPoints / 10);
    } else if (dialog.fontPoints > 0) {
        templateFont.setPointSize(dialog.fontPoints);
    }
    base = measureBaseUnits(templateFont);
}

QRect TemplateBuilder::toPixels(int x, int y, int width, int height) const {
    return {scale(x, base.width(), 4), scale(y, base.height(), 8), scale(width, base.width(), 4),
            scale(height, base.height(), 8)};
}

QRect TemplateBuilder::toPixels(const ControlTemplate& control) const {
    return toPixels(control.x, control.y, control.width, control.height);
}

QSize TemplateBuilder::dialogSize() const {
    return toPixels(0, 0, source.width, source.height).size();
}

void TemplateBuilder::adopt(int id, QWidget* widget) {
    if (id != kNoControlId && widget != nullptr) {
        adopted[id] = widget;
    }
}

QWidget* TemplateBuilder::createControl(const ControlTemplate& control, QWidget* dialog) const {
    switch (control.kind) {
    case ControlKind::GroupBox:
        return new GroupFrame(dialog);
    case ControlKind::Label:
    case ControlKind::Picture:
    case ControlKind::Icon:
        return new QLabel(dialog);
    case ControlKind::Slider:
        return new TransparentSlider(dialog);
    case ControlKind::ImageButton:
        return new BitmapButton(dialog);
    case ControlKind::PushButton:
    case ControlKind::DefaultButton:
        return new QPushButton(dialog);
    case ControlKind::ComboBox:
        return new QComboBox(dialog);
    case ControlKind::ListView:
        return new PlayListView(dialog);
    case ControlKind::ProgressBar:
        return new QProgressBar(dialog);
    }
    return new QWidget(dialog);
}

void TemplateBuilder::setUpControl(const ControlTemplate& control, QWidget* widget) const {
    const QString text = QString::fromStdString(control.text);
    QRect rect = toPixels(control);
    widget->setProperty(kIdProperty, control.id);
    if (control.id != kNoControlId) {
        widget->setObjectName(QStringLiteral("control%1").arg(control.id));
    }
    widget->setAccessibleName(QString::fromStdString(control.role));

    if (auto* box = qobject_cast<QGroupBox*>(widget)) {
        box->setTitle(text);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        if (control.kind == ControlKind::Picture) {
            // A picture shows its bitmap at the bitmap's own size.
            const QPixmap pixmap = loadBitmap(control.resource);
            label->setPixmap(pixmap);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            if (!pixmap.isNull()) {
                rect.setSize(pixmap.size());
            }
        } else if (control.kind == ControlKind::Icon) {
            const QIcon icon = loadIcon(control.resource);
            const int side = std::min(rect.width(), rect.height());
            label->setPixmap(icon.pixmap(std::min(side, 32)));
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            if (!icon.isNull()) {
                rect.setSize(QSize(32, 32));
            }
        } else {
            label->setText(text);
            label->setAlignment(labelAlignment(control.style));
            label->setTextFormat(Qt::PlainText);
        }
    } else if (auto* slider = qobject_cast<QSlider*>(widget)) {
        slider->setOrientation(Qt::Horizontal);
        if ((control.style & kNoTicks) != 0) {
            slider->setTickPosition(QSlider::NoTicks);
        }
    } else if (auto* button = qobject_cast<OwnerDrawButton*>(widget)) {
        button->setControlId(control.id);
        button->subclassButton(OwnerDrawButton::kPushButton);
        button->setText(text);
    } else if (auto* push = qobject_cast<QPushButton*>(widget)) {
        push->setText(text);
        // The push button with the focus is the default one, so Enter presses
        // it; with the focus elsewhere Enter presses the template's default.
        push->setAutoDefault(true);
        push->setDefault(control.kind == ControlKind::DefaultButton);
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->setEditable((control.style & kEditable) != 0);
        // The template height is that of the opened list; the closed box is
        // as tall as the style makes it.
        rect.setHeight(combo->sizeHint().height());
    } else if (auto* progress = qobject_cast<QProgressBar*>(widget)) {
        progress->setTextVisible(false);
        progress->setRange(0, 100);
        progress->setValue(0);
    } else if (auto* list = qobject_cast<QAbstractItemView*>(widget)) {
        list->setSelectionMode((control.style & kSingleSelection) != 0
                                   ? QAbstractItemView::SingleSelection
                                   : QAbstractItemView::ExtendedSelection);
    }
    if (auto* frame = qobject_cast<QFrame*>(widget);
        frame != nullptr && control.kind == ControlKind::ListView) {
        frame->setFrameShape((control.style & kBordered) != 0 ? QFrame::StyledPanel
                                                              : QFrame::NoFrame);
    }
    widget->setGeometry(rect);
    widget->setVisible((control.style & kNotVisible) == 0);
}

void TemplateBuilder::build(QWidget* dialog) {
    dialog->setWindowTitle(QString::fromStdString(source.caption));
    dialog->setFont(templateFont);
    // The tile and the images are drawn for a light palette; the controls,
    // created below, inherit it.
    dialog->setPalette(imagePalette());
    dialog->setFixedSize(dialogSize());
    for (const ControlTemplate& control : source.controls) {
        QWidget* widget = nullptr;
        if (auto it = adopted.find(control.id); it != adopted.end()) {
            widget = it->second;
            widget->setParent(dialog);
        } else {
            widget = createControl(control, dialog);
        }
        setUpControl(control, widget);
    }
}

QWidget* TemplateBuilder::findControl(const QWidget* dialog, int id) {
    if (dialog == nullptr || id == kNoControlId) {
        return nullptr;
    }
    for (QWidget* child : dialog->findChildren<QWidget*>()) {
        if (controlId(child) == id) {
            return child;
        }
    }
    return nullptr;
}

int TemplateBuilder::controlId(const QWidget* widget) {
    const QVariant value = widget != nullptr ? widget->property(kIdProperty) : QVariant();
    return value.isValid() ? value.toInt() : kNoControlId;
}
