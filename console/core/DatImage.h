#pragma once

// One firmware image as a DAT file carries it: text with five decimal magic numbers (1651 1 0 0 0), then
// hexadecimal quadlets: a 64-quadlet header and the image data. The parsed image lives in one fixed
// buffer, header first, erased-flash value (0xFFFFFFFF) wherever the file gives nothing.

#include <juce_core/juce_core.h>

#include <cstddef>
#include <cstdint>

namespace console
{

// The header words the console reads (the rest belong to the firmware).
struct DatImageHeader
{
    uint32_t type;      // 0 DSP code, 1 ARM code, 2 unnamed, 3 FPGA; above 3 refused
    uint32_t address;   // flash byte address of the first data quadlet
    uint32_t quadCount; // data quadlets (after a trailer extension: the region size)
    uint32_t trailer;   // last quadlet of the region when the trailer flag is set
    uint32_t unread4;
    uint32_t version;     // firmware version word; low nibble 0xE = backup code
    uint32_t trailerFlag; // nonzero: extend the image to the region size with version and trailer
    uint32_t regionSize;  // in quadlets
};

class DatImage
{
public:
    static constexpr uint32_t kHeaderQuads = 64;
    static constexpr uint32_t kMaxDataQuads = 98304;
    static constexpr uint32_t kBufferQuads = kHeaderQuads + kMaxDataQuads;
    static constexpr uint32_t kFlashSize = 0x200000;

    DatImage() = default;
    DatImage(const DatImage&) = delete;
    DatImage& operator=(const DatImage&) = delete;

    // Parses a file's content and checks the header against the file and the flash. True when the image
    // is ready to flash; otherwise message holds the text to show (path = the file's full path, which
    // the file-error messages name).
    bool parse(const void* content, size_t size, const juce::String& path, juce::String& message);

    // Valid after a successful parse.
    DatImageHeader header() const;
    const uint32_t* data() const { return quads_ + kHeaderQuads; }

    // The progress window's description of the image: the kind of code and its version for images of
    // more than 2048 quadlets, else empty.
    juce::String describe() const;

private:
    bool checkHeader(const juce::String& path, juce::String& message);

    uint32_t quads_[kBufferQuads];
    uint32_t quadsRead_ = 0;
};

} // namespace console
