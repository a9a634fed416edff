#include "spectrum/SpectrumFrame.h"

#include <algorithm>
#include <memory>
#include <new>

SpectrumFrame::Record::~Record() {
    if (ownsData) {
        delete[] values;
    }
}

SpectrumFrame SpectrumFrame::allocate(uint32_t count) {
    auto r = std::make_unique<Record>();
    r->values = new double[count]();
    r->count = count;
    r->ownsData = true;
    return SpectrumFrame(r.release());
}

SpectrumFrame SpectrumFrame::fromValues(double* values, uint32_t count, bool copy) {
    if (copy) {
        SpectrumFrame frame = allocate(count);
        std::copy(values, values + count, frame.data());
        return frame;
    }
    auto r = std::make_unique<Record>();
    r->values = values;
    r->count = count;
    return SpectrumFrame(r.release());
}

double* SpectrumFrame::data() {
    return record ? record->values : nullptr;
}

const double* SpectrumFrame::data() const {
    return record ? record->values : nullptr;
}

uint32_t SpectrumFrame::size() const {
    return record ? record->count : 0;
}
