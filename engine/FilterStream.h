#pragma once
// A stage that reads another stream. Seeking, position and duration are
// forwarded to the source, so those of a chain are its first stream's.
// The source is not owned and never deleted here.

#include "engine/AudioStream.h"

class FilterStream : public AudioStream {
  public:
    void Rewind() override {
        if (source) {
            source->Rewind();
        }
    }
    void SkipBack(uint32_t seconds) override {
        if (source) {
            source->SkipBack(seconds);
        }
    }
    void SkipForward(uint32_t seconds) override {
        if (source) {
            source->SkipForward(seconds);
        }
    }
    void Seek(uint32_t seconds) override {
        if (source) {
            source->Seek(seconds);
        }
    }
    double GetPosition() override { return source ? source->GetPosition() : -1.0; }
    double GetDuration() override { return source ? source->GetDuration() : -1.0; }

    // Subclasses adapt to the source's format and chain to this.
    virtual void SetSource(AudioStream* stream) { source = stream; }

    AudioStream* source = nullptr;
};
