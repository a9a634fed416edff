#include "app/DisplayFont.h"

#include "resources/Fonts.h"

QFont makeDisplayFont() {
    return displayFont();
}
