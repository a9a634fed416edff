#pragma once
// A handle to a shared, reference-counted array of doubles: one spectrum.
// Copying a handle adds a reference; the last release frees the array (when
// the record owns it) and the record. The count is atomic, so handles may be
// copied and dropped on different threads (the analysis thread makes frames,
// a display would read copies); the values are written before the first copy
// is handed out and only read afterwards.

#include "base/RefCounted.h"

#include <cstdint>

class SpectrumFrame {
  public:
    // The empty frame: no values.
    SpectrumFrame() = default;
    SpectrumFrame(const SpectrumFrame& other) = default;
    SpectrumFrame(SpectrumFrame&& other) noexcept = default;
    SpectrumFrame& operator=(const SpectrumFrame& other) = default;
    SpectrumFrame& operator=(SpectrumFrame&& other) noexcept = default;
    virtual ~SpectrumFrame() = default;

    // count values, all 0.0, owned by the frame. Throws std::bad_alloc when
    // the memory cannot be had.
    static SpectrumFrame allocate(uint32_t count);
    // A frame over existing values: copied into an owned array with copy,
    // otherwise wrapped (the caller keeps them alive). Throws std::bad_alloc.
    static SpectrumFrame fromValues(double* values, uint32_t count, bool copy);

    double* data();
    const double* data() const;
    uint32_t size() const;
    bool isEmpty() const { return size() == 0; }
    double operator[](uint32_t i) const { return data()[i]; }
    bool sameRecord(const SpectrumFrame& other) const { return record.get() == other.record.get(); }

  private:
    struct Record : RefCounted {
        ~Record();
        double* values = nullptr;
        uint32_t count = 0;
        bool ownsData = false;
    };
    explicit SpectrumFrame(Record* made) : record(made) {}

    CountedRef<Record> record;
};
