#include "app/MainWindow.h"

#include "app/DisplayFont.h"
#include "app/DroppedFiles.h"
#include "app/SpectrumView.h"
#include "app/WindowKeys.h"
#include "controls/BitmapButton.h"
#include "controls/GroupFrame.h"
#include "controls/PlayListView.h"
#include "controls/TemplateBuilder.h"
#include "controls/TransparentSlider.h"
#include "platform/MessageBox.h"
#include "resources/DialogTemplate.h"
#include "resources/Images.h"
#include "resources/StringTable.h"
#include "spectrum/SpectrumAnalyzer.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QStringList>
#include <QTimerEvent>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <utility>

std::string gDefaultBitrate = kDefaultBitrate.text;
std::string gDefaultChannel = "stereo";

namespace {

constexpr int kTimerPeriodMs = 200;
// Room kept on the screen for the window's frame, which is not known before
// the window is shown: a title bar and borders.
constexpr QSize kFrameAllowance(16, 48);
// The list keeps room for at least its header and this many rows.
constexpr int kMinimumListRows = 4;
constexpr uint32_t kMagenta = 0xFF00FF;
constexpr uint32_t kImageCentred = BitmapButton::kAlignHCenter | BitmapButton::kAlignVCenter;

struct ColumnLayout {
    const char* header;
    int width;
};
constexpr ColumnLayout kColumns[] = {
    {"", 20}, {"Audio Name", 150}, {"Time", 60}, {"Size", 80}, {"Directory", 300},
};

template <typename T> T* findAs(const QWidget* window, int id) {
    return qobject_cast<T*>(TemplateBuilder::findControl(window, id));
}

// Puts text into a combo box the way the classic data exchange does: the
// first list entry that begins with the text (ignoring case) is selected,
// otherwise the text goes into the edit field. A combo that already shows the
// text is left alone, so that a half-typed entry is never replaced.
void putComboText(QComboBox* combo, const std::string& text) {
    if (!combo) {
        return;
    }
    const QString value = QString::fromStdString(text);
    if (combo->currentText() == value) {
        return;
    }
    const int index = value.isEmpty() ? -1 : combo->findText(value, Qt::MatchStartsWith);
    if (index >= 0) {
        combo->setCurrentIndex(index);
    } else if (combo->isEditable()) {
        combo->setEditText(value);
    }
}

// The label font is larger than the template's font, so a label's box may be
// too small for its text: grow it around its place (to the left for
// right-aligned text, evenly up and down) so that the text is never clipped.
// The font is italic, so glyphs reach past their advance (the last digit of
// the time to the right): content margins keep that overhang inside the box.
void fitLabel(QLabel* label, const QStringList& texts) {
    const QFontMetrics metrics(label->font());
    int advance = 0;
    int overhangLeft = 0;
    int overhangRight = 0;
    for (const QString& text : texts) {
        const int textAdvance = metrics.horizontalAdvance(text);
        const QRect ink = metrics.boundingRect(text);
        advance = std::max(advance, textAdvance);
        overhangLeft = std::max(overhangLeft, -ink.left());
        overhangRight = std::max(overhangRight, ink.right() + 1 - textAdvance);
    }
    label->setContentsMargins(overhangLeft, 0, overhangRight, 0);
    const int width = advance + overhangLeft + overhangRight + 2 * label->margin() + 4;
    const int height = metrics.height();
    QRect box = label->geometry();
    if (width > box.width()) {
        if (label->alignment() & Qt::AlignRight) {
            box.setLeft(box.right() + 1 - width);
        } else if (label->alignment() & Qt::AlignHCenter) {
            box.adjust(-(width - box.width()) / 2, 0, (width - box.width() + 1) / 2, 0);
        } else {
            box.setWidth(width);
        }
    }
    if (height > box.height()) {
        const int grow = height - box.height();
        box.adjust(0, -grow / 2, 0, grow - grow / 2);
    }
    label->setGeometry(box);
}

// Every text a display label shows, for fitLabel: the status texts, the
// widest times with each last digit, or the label's own text.
QStringList shownTexts(int id, const QLabel* label) {
    if (id == kIdStatus) {
        return {QStringLiteral("Stopped"), QStringLiteral("Playing"), QStringLiteral("Paused")};
    }
    if (id == kIdTime) {
        QStringList times;
        for (char digit = '0'; digit <= '9'; ++digit) {
            times << QStringLiteral("000:0") + QLatin1Char(digit);
        }
        return times;
    }
    return {label->text()};
}

// The title line's tooltip: the loaded file's tags, one a line, or none.
// The texts are escaped and the tooltip is rich text on purpose, so that a
// tag that looks like markup shows as it is written.
QString tagsToolTip(const MediaTags& tags) {
    QStringList lines;
    const std::pair<const char*, const std::string*> fields[] = {
        {"Title", &tags.title}, {"Artist", &tags.artist}, {"Album", &tags.album}};
    for (const auto& [label, text] : fields) {
        if (!text->empty()) {
            lines << QString::fromLatin1(label) + QStringLiteral(": ") +
                         QString::fromStdString(*text).toHtmlEscaped();
        }
    }
    return lines.isEmpty() ? QString()
                           : QStringLiteral("<p>") + lines.join(QStringLiteral("<br>")) +
                                 QStringLiteral("</p>");
}

} // namespace

std::string formatTime(double seconds) {
    long long whole = 0;
    if (std::isfinite(seconds) && seconds > 0.0) {
        whole = seconds >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<long long>(seconds);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld", whole / 60, whole % 60);
    return text;
}

MainWindow::MainWindow(ProgramFiles programFiles, QWidget* parent)
    : QDialog(parent), files(std::move(programFiles)) {
    icon = loadIcon(kIconProgram);
    buildControls();
    initialise();
}

MainWindow::~MainWindow() {
    if (timerId != 0) {
        killTimer(timerId);
        timerId = 0;
    }
    // The view outlives the Mixer (children go last): it must not read the
    // Mixer's analyser any more.
    if (spectrumView) {
        spectrumView->setAnalyser(nullptr, kPlaybackSampleRate);
    }
    // Close the output before the mixer goes: the device's notifier thread
    // reads from the mixer until the device is closed.
    outputDevice.Detach();
    outputDevice.SetNotifyWindow(nullptr);
    mixer.RemoveAll();
    if (listView) {
        // The view outlives the model (children go after the members).
        listView->SetOwnerWindow(nullptr);
        listView->showRows(nullptr);
    }
}

void MainWindow::buildControls() {
    const DialogTemplate* dialog = findDialogTemplate(kMainDialog);
    if (!dialog) {
        return;
    }
    TemplateBuilder builder(*dialog);
    builder.build(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);

    channelCombo = findAs<QComboBox>(this, kIdChannel);
    bitrateCombo = findAs<QComboBox>(this, kIdBitrate);
    statusText = findAs<QLabel>(this, kIdStatus);
    listView = findAs<PlayListView>(this, kIdList);
    if (listView) {
        listView->showRows(&model.rows());
    }
    repeatButton = findAs<BitmapButton>(this, kIdRepeat);
    moveUpButton = findAs<BitmapButton>(this, kIdMoveUp);
    removeButton = findAs<BitmapButton>(this, kIdRemove);
    convertButton = findAs<BitmapButton>(this, kIdConvert);
    cdRefreshButton = findAs<BitmapButton>(this, kIdCdRefresh);
    moveDownButton = findAs<BitmapButton>(this, kIdMoveDown);
    clearAllButton = findAs<BitmapButton>(this, kIdClearAll);
    addFilesButton = findAs<BitmapButton>(this, kIdAddFiles);
    recordButton = findAs<BitmapButton>(this, kIdRecord);
    prevButton = findAs<BitmapButton>(this, kIdPrev);
    nextButton = findAs<BitmapButton>(this, kIdNext);
    ejectButton = findAs<BitmapButton>(this, kIdEject);
    stopButton = findAs<BitmapButton>(this, kIdStop);
    pauseButton = findAs<BitmapButton>(this, kIdPause);
    playButton = findAs<BitmapButton>(this, kIdPlay);
    positionSlider = findAs<TransparentSlider>(this, kIdPosition);
    volumeSlider = findAs<TransparentSlider>(this, kIdVolume);
    setUpSizes(builder.dialogSize());

    for (BitmapButton* button : findChildren<BitmapButton*>()) {
        connect(button, &OwnerDrawButton::command, this, [this](int id) { onCommand(id); });
    }
    buildSpectrumView();
}

void MainWindow::setUpSizes(const QSize& templateSize) {
    if (!listView) {
        return;
    }
    const QRect list = listView->geometry();
    listMargins =
        QSize(templateSize.width() - list.right() - 1, templateSize.height() - list.bottom() - 1);
    // A row, like the header, is a line of the list's font with a little
    // room; the frame takes a few pixels more.
    const int line = listView->fontMetrics().height() + 6;
    setMinimumSize(templateSize.width(),
                   list.top() + (1 + kMinimumListRows) * line + 4 + listMargins.height());
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    QSize size = templateSize;
    if (const QScreen* shown = screen()) {
        size = size.boundedTo(shown->availableGeometry().size() - kFrameAllowance);
    }
    resize(size.expandedTo(minimumSize()));
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (listView && listMargins.isValid()) {
        QRect list = listView->geometry();
        list.setRight(width() - listMargins.width() - 1);
        list.setBottom(height() - listMargins.height() - 1);
        listView->setGeometry(list);
    }
}

void MainWindow::buildSpectrumView() {
    if (qEnvironmentVariableIsSet("VELUMO_NO_SPECTRUM")) {
        return;
    }
    for (QLabel* label : findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (label->accessibleName() == QStringLiteral("display picture")) {
            spectrumView = new SpectrumView(this);
            spectrumView->setGeometry(label->geometry());
            spectrumView->setAccessibleName(QStringLiteral("spectrum"));
            return;
        }
    }
}

AudioStream* MainWindow::playbackStream() {
    if (spectrumView) {
        return &mixer.outputAnalyser();
    }
    return &mixer;
}

void MainWindow::setUpButton(BitmapButton* button, int bitmap, const char* tip) {
    if (!button) {
        return;
    }
    button->setBitmap(bitmap, kMagenta);
    button->setImageAlign(kImageCentred);
    button->setToolTip(QString::fromUtf8(tip), true);
}

void MainWindow::initialise() {
    backgroundBitmap = loadBitmap(kBitmapBackground);
    tileWidth = backgroundBitmap.width();
    tileHeight = backgroundBitmap.height();

    setWindowIcon(icon);

    if (positionSlider) {
        positionSlider->setRange(0, 100);
        positionSlider->setPageStep(20);
    }
    if (volumeSlider) {
        volumeSlider->setRange(0, 65535);
        volumeSlider->setValue(0x8000);
        volumeSlider->setTickInterval(512);
        volumeSlider->setPageStep(4096);
    }
    volume = 0x8000;
    // The output plays at the level the slider shows from the first item on,
    // not only once the slider has been touched.
    outputDevice.SetVolume(uint32_t(volume) | uint32_t(volume) << 16);

    titleText = "no audio file";

    setUpButtons();
    setUpListColumns();

    loadStoredList();

    displayFont = makeDisplayFont();
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        const int id = TemplateBuilder::controlId(child);
        const bool unnamed = id == kNoControlId && child->property("controlId").isValid();
        if (unnamed || id == kIdStatus || id == kIdTime) {
            child->setFont(displayFont);
            child->setAutoFillBackground(false);
            if (auto* label = qobject_cast<QLabel*>(child); label && label->pixmap().isNull()) {
                fitLabel(label, shownTexts(id, label));
            } else if (auto* box = qobject_cast<GroupFrame*>(child)) {
                // Wide and tall enough for its title in this font.
                box->resize(box->size().expandedTo(box->minimumSizeHint()));
            }
        }
    }

    outputDevice.SetNotifyWindow(this);
    if (listView) {
        listView->SetOwnerWindow(this);
        acceptFileDrops(listView,
                        [this](const DroppedFiles& dropped) { addDroppedFiles(*this, dropped); });
    }
    installWindowKeys(*this);
    timerId = startTimer(kTimerPeriodMs);
    repeatMode = kGoStraight;

    mixer.outputSampleRate = kPlaybackSampleRate;
    mixer.followItemChannels = true;
    mixer.followItemRate = true;
    mixer.calcoutputformat();
    if (spectrumView) {
        spectrumView->setAnalyser(&mixer.outputAnalyser(), kPlaybackSampleRate);
        spectrumView->setDelaySource([this] { return outputDevice.QueuedFrames(); });
    }
    outputDevice.SetSource(playbackStream());
    updateDisplay();

    bitrateText = gDefaultBitrate;
    channelText = gDefaultChannel;
    setUpCombos();
    bitrateValue = bitrateValueOf(bitrateText);
    updateDisplay();

    connectControls();
}

void MainWindow::setUpButtons() {
    setUpButton(playButton, kBitmapPlay, "Play");
    setUpButton(pauseButton, kBitmapPause, "Pause");
    setUpButton(stopButton, kBitmapStop, "Stop");
    setUpButton(ejectButton, kBitmapEject, "Eject");
    setUpButton(prevButton, kBitmapPrev, "Prev");
    setUpButton(nextButton, kBitmapNext, "Next");
    setUpButton(recordButton, kBitmapRecord, "Record");
    setUpButton(repeatButton, kBitmapGoStraight, "No Repeat");
    setUpButton(cdRefreshButton, kBitmapCdRefresh, "CD Refresh");
    setUpButton(addFilesButton, kBitmapAddFiles, "Add Audio Files");
    setUpButton(convertButton, kBitmapConvert, "Convert Audio Format and Save");
    setUpButton(removeButton, kBitmapRemove, "Remove");
    setUpButton(moveUpButton, kBitmapMoveUp, "Move Up");
    setUpButton(moveDownButton, kBitmapMoveDown, "Move Down");
    setUpButton(clearAllButton, kBitmapClearAll, "Clear All");
}

void MainWindow::setUpListColumns() {
    if (listView) {
        QStringList headers;
        for (const auto& column : kColumns) {
            headers << QString::fromUtf8(column.header);
        }
        listView->setColumnCount(static_cast<int>(std::size(kColumns)));
        listView->header()->setMinimumSectionSize(8);
        listView->setHeaderLabels(headers);
        for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
            listView->setColumnWidth(i, kColumns[i].width);
            listView->headerItem()->setTextAlignment(i, Qt::AlignLeft | Qt::AlignVCenter);
        }
        listView->header()->setStretchLastSection(false);
        listView->setAllColumnsShowFocus(true);
        listView->setMouseTracking(true);
    }
}

void MainWindow::setUpCombos() {
    if (bitrateCombo) {
        bitrateCombo->clear();
        for (const Bitrate& bitrate : kBitrates) {
            if (bitrate.listed) {
                bitrateCombo->addItem(QString::fromLatin1(bitrate.text));
            }
        }
        bitrateCombo->setCurrentIndex(bitrateCombo->findText(
            QString::fromStdString(bitrateText), Qt::MatchExactly | Qt::MatchCaseSensitive));
    }
    if (channelCombo) {
        channelCombo->clear();
        channelCombo->addItem(QString::fromStdString(loadString(kStringMono)));
        channelCombo->addItem(QString::fromStdString(loadString(kStringStereo)));
        channelCombo->setCurrentIndex(channelCombo->findText(
            QString::fromStdString(channelText), Qt::MatchExactly | Qt::MatchCaseSensitive));
    }
    // Enter closes the window; it must not also add the typed text as an entry.
    for (QComboBox* combo : {bitrateCombo, channelCombo}) {
        if (combo) {
            combo->setInsertPolicy(QComboBox::NoInsert);
        }
    }
}

void MainWindow::connectControls() {
    // What the user picks or types in the combos is the setting at once, so
    // that the periodic display update never puts the old text back.
    if (bitrateCombo) {
        connect(bitrateCombo, &QComboBox::currentTextChanged, this, [this](const QString& text) {
            bitrateText = text.toStdString();
            bitrateValue = bitrateValueOf(bitrateText);
        });
    }
    if (channelCombo) {
        connect(channelCombo, &QComboBox::currentTextChanged, this,
                [this](const QString& text) { channelText = text.toStdString(); });
    }
    if (volumeSlider) {
        connect(volumeSlider, &QSlider::valueChanged, this,
                [this](int value) { onVolumeMoved(value); });
    }
    model.addListener([this](PlayerModel::Change what) { modelChanged(what); });
    if (positionSlider) {
        positionSlider->setJumpToClick(true);
        connect(positionSlider, &QSlider::sliderPressed, this,
                [this] { onPositionDragged(positionSlider->sliderPosition()); });
        connect(positionSlider, &QSlider::sliderMoved, this,
                [this](int value) { onPositionDragged(value); });
        connect(positionSlider, &QSlider::sliderReleased, this, [this] { onPositionReleased(); });
    }
}

QWidget* MainWindow::control(int id) const {
    return TemplateBuilder::findControl(this, id);
}

void MainWindow::updateDisplay() {
    if (auto* time = findAs<QLabel>(this, kIdTime)) {
        time->setText(QString::fromStdString(timeText));
    }
    if (auto* title = findAs<QLabel>(this, kIdTitle)) {
        title->setText(QString::fromStdString(titleText));
        title->setToolTip(tagsToolTip(loadedTags));
    }
    putComboText(bitrateCombo, bitrateText);
    putComboText(channelCombo, channelText);
    if (changeListener) {
        changeListener();
    }
}

void MainWindow::readControls() {
    if (auto* time = findAs<QLabel>(this, kIdTime)) {
        timeText = time->text().toStdString();
    }
    if (auto* title = findAs<QLabel>(this, kIdTitle)) {
        titleText = title->text().toStdString();
    }
    if (bitrateCombo) {
        bitrateText = bitrateCombo->currentText().toStdString();
    }
    if (channelCombo) {
        channelText = channelCombo->currentText().toStdString();
    }
}

double MainWindow::readConversionRate() {
    readControls();
    bitrateValue = bitrateValueOf(bitrateText);
    return bitrateValue;
}

void MainWindow::postCommand(int commandId) {
    QMetaObject::invokeMethod(
        this, [this, commandId] { onCommand(commandId); }, Qt::QueuedConnection);
}

void MainWindow::setCommandHandler(int commandId, std::function<void(MainWindow&)> handler) {
    if (handler) {
        commandHandlers[commandId] = std::move(handler);
    } else {
        commandHandlers.erase(commandId);
    }
}

void MainWindow::onCommand(int commandId) {
    switch (commandId) {
    case kIdPlay:
        onPlay();
        return;
    case kIdPause:
        onPause();
        return;
    case kIdStop:
        onStop();
        return;
    case kIdPrev:
        onPrev();
        return;
    case kIdNext:
        onNext();
        return;
    case kIdEject:
        onEject();
        return;
    case kIdRepeat:
        onRepeat();
        return;
    case kIdAddFiles:
        onAddFiles();
        return;
    case kIdRemove:
        onRemove();
        return;
    case kIdMoveUp:
        onMoveUp();
        return;
    case kIdMoveDown:
        onMoveDown();
        return;
    case kIdClearAll:
        onClearAll();
        return;
    case kNewItem:
        onNewItem();
        return;
    case kPlayOver:
        onPlayOver();
        return;
    default:
        break;
    }
    const auto handler = commandHandlers.find(commandId);
    if (handler != commandHandlers.end()) {
        // A copy: the handler may replace itself.
        auto run = handler->second;
        run(*this);
    }
}

void MainWindow::paintEvent(QPaintEvent* event) {
    if (tileWidth <= 0 || tileHeight <= 0 || !paintTiled(*this, backgroundBitmap)) {
        QDialog::paintEvent(event);
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A visible window closes through reject, which stores the list.
    if (!isVisible()) {
        storeList();
    }
    QDialog::closeEvent(event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Nothing that takes the key has focus (a list row and an image
        // button take it themselves): it must not close the window, as the
        // dialog's default handling would.
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        showAbout();
        return;
    }
    QDialog::keyPressEvent(event);
}

void MainWindow::accept() {
    reject();
}

void MainWindow::reject() {
    if (timerId != 0) {
        killTimer(timerId);
        timerId = 0;
    }
    if (!storeList() && listView) {
        // The last moment the user can still act on it (add a home, free
        // space, copy the rows elsewhere): say so in the window, not only
        // on standard error.
        showMessage("The play list could not be stored: " + listFile.problem() +
                    "\nThe rows of this session will be lost when the window closes.");
    }
    QDialog::reject();
}

void MainWindow::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timerId && timerId != 0) {
        onTimer();
        return;
    }
    QDialog::timerEvent(event);
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* about = menu.addAction(QString::fromStdString(loadString(kStringAbout)));
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);
    menu.exec(event->globalPos());
}

void MainWindow::showAbout() {
    const DialogTemplate* dialog = findDialogTemplate(kAboutDialog);
    if (!dialog) {
        return;
    }
    QDialog about(this);
    TemplateBuilder builder(*dialog);
    builder.build(&about);
    about.setWindowIcon(icon);
    for (QPushButton* button : about.findChildren<QPushButton*>()) {
        connect(button, &QPushButton::clicked, &about, &QDialog::accept);
    }
    about.exec();
}
