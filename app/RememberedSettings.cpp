#include "app/RememberedSettings.h"

#include "app/MainWindow.h"
#include "controls/TransparentSlider.h"

#include <QComboBox>

Settings settingsOf(MainWindow& window) {
    window.readControls();
    Settings settings;
    settings.volume = window.volume;
    settings.repeatMode = window.repeatMode;
    settings.bitrate = window.bitrateText;
    return settings;
}

void applySettings(MainWindow& window, const Settings& settings) {
    if (window.volumeSlider) {
        window.volumeSlider->setValue(settings.volume);
    }
    // The Repeat button steps through the three modes.
    for (int press = 0; press < 3 && window.repeatMode != settings.repeatMode; ++press) {
        window.onCommand(kIdRepeat);
    }
    if (window.bitrateCombo) {
        const int index = window.bitrateCombo->findText(QString::fromStdString(settings.bitrate),
                                                        Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0) {
            window.bitrateCombo->setCurrentIndex(index);
        }
    }
}
