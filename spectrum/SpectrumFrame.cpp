#include "spectrum/SpectrumFrame.h"

#include <algorithm>
#include <memory>
#include <new>

SpectrumFrame::SpectrumFrame(const SpectrumFrame& other) : record(other.record) {
    if (record) {
        record->refCount.fetch_add(1, std::memory_order_relaxed);
    }
}

SpectrumFrame::SpectrumFrame(SpectrumFrame&& other) noexcept : record(other.record) {
    other.record = nullptr;
}

SpectrumFrame& SpectrumFrame::operator=(const SpectrumFrame& other) {
    if (record != other.record) {
        if (other.record) {
            other.record->refCount.fetch_add(1, std::memory_order_relaxed);
        }
        release();
        record = other.record;
    }
    return *this;
}

SpectrumFrame& SpectrumFrame::operator=(SpectrumFrame&& other) noexcept {
    if (this != &other) {
        release();
        record = other.record;
        other.record = nullptr;
    }
    return *this;
}

SpectrumFrame::~SpectrumFrame() {
    release();
}

void SpectrumFrame::release() {
    Record* r = record;
    record = nullptr;
    if (!r || r->refCount.fetch_sub(1, std::memory_order_acq_rel) != 1) {
        return;
    }
    if (r->ownsData) {
        delete[] r->values;
    }
    delete r;
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
