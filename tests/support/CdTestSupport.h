#pragma once
// A fixture that registers disc images as the first drive for the time of a
// test, and helpers to read a whole track through a CdDrive.

#include "cd/CdDrive.h"
#include "platform/CdLibrary.h"
#include "support/DiscImage.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

class CdImageTest : public testing::Test {
  protected:
    void SetUp() override {
        clearDiscImages();
        setCdReadMethod(CdReadMethod::Automatic);
    }
    void TearDown() override {
        clearDiscImages();
        setCdReadMethod(CdReadMethod::Automatic);
    }
    // Writes the image and registers it; returns the CUE path.
    std::string install(const testing_support::DiscImage& image, const std::string& name = "disc") {
        std::string cue = image.write(dir.path().string(), name);
        registerDiscImage(cue);
        return cue;
    }
    testing_support::TempDir dir;
};

// Every byte of the current track, with the sizes of the buffers read.
inline std::vector<uint8_t> readTrack(CdDrive& drive, std::vector<uint32_t>* sizes = nullptr) {
    std::vector<uint8_t> out;
    for (int guard = 0; guard < 1000000; ++guard) {
        AudioBuffer b = drive.GetBuffer();
        if (b.isEmpty()) {
            break;
        }
        if (sizes) {
            sizes->push_back(b.length());
        }
        out.insert(out.end(), b.data(), b.data() + b.length());
    }
    return out;
}
