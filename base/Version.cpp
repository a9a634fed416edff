#include "base/Version.h"

// VELUMO_VERSION is defined for this file alone, so that a new version
// rebuilds one file.
const char* velumoVersion() {
    return VELUMO_VERSION;
}
