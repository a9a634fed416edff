#include "platform/CueBinImage.h"

#include "platform/CdioDisc.h"

#include <cdio/cdio.h>

std::unique_ptr<CdDisc> openCueBinImage(const std::string& path) {
    return CdioDisc::adoptImage(cdio_open(path.c_str(), DRIVER_BINCUE), path);
}
