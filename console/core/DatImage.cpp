#include "console/core/DatImage.h"

#include "device/HwInfoCaps.h"

#include <algorithm>
#include <cstring>

namespace console
{
namespace
{

constexpr int kMagic[5] = {1651, 1, 0, 0, 0};

bool isSeparator(uint8_t c)
{
    return c == 0x02 || c == 0x03 || c == '\r' || c == '\n' || c == ' ';
}

// Walks the tokens of the content in place, without copying.
class Tokens
{
public:
    Tokens(const uint8_t* begin, const uint8_t* end) : p_(begin), end_(end) {}

    bool next(const uint8_t*& tokenBegin, const uint8_t*& tokenEnd)
    {
        while (p_ < end_ && isSeparator(*p_))
            ++p_;
        if (p_ == end_)
            return false;
        tokenBegin = p_;
        while (p_ < end_ && !isSeparator(*p_))
            ++p_;
        tokenEnd = p_;
        return true;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

// A token that is wholly a decimal number with an optional sign; large values saturate (they can only
// be a wrong magic number).
bool readDecimal(const uint8_t* p, const uint8_t* end, int64_t& value)
{
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+'))
        negative = *p++ == '-';
    if (p == end)
        return false;
    int64_t v = 0;
    for (; p < end; ++p)
    {
        if (*p < '0' || *p > '9')
            return false;
        v = std::min<int64_t>(v * 10 + (*p - '0'), int64_t(1) << 40);
    }
    value = negative ? -v : v;
    return true;
}

// A token of 1 to 8 hexadecimal digits.
bool readHex(const uint8_t* p, const uint8_t* end, uint32_t& value)
{
    if (end - p < 1 || end - p > 8)
        return false;
    uint32_t v = 0;
    for (; p < end; ++p)
    {
        uint32_t digit;
        if (*p >= '0' && *p <= '9')
            digit = *p - '0';
        else if (*p >= 'a' && *p <= 'f')
            digit = *p - 'a' + 10;
        else if (*p >= 'A' && *p <= 'F')
            digit = *p - 'A' + 10;
        else
            return false;
        v = (v << 4) | digit;
    }
    value = v;
    return true;
}

juce::String fileError(const juce::String& path, const char* message)
{
    return "DAT file error\n\n" + path + message;
}

} // namespace

bool DatImage::parse(const void* content, size_t size, const juce::String& path, juce::String& message)
{
    quadsRead_ = 0;
    if (size == 0)
    {
        message = fileError(path, " has no data.");
        return false;
    }

    // The text ends with a separator, normally a line end; a file without one keeps its last digit.
    const uint8_t* begin = static_cast<const uint8_t*>(content);
    const uint8_t* end = begin + size;
    if (isSeparator(end[-1]))
        --end;
    Tokens tokens(begin, end);
    const uint8_t* tokenBegin = nullptr;
    const uint8_t* tokenEnd = nullptr;

    for (int expected : kMagic)
    {
        if (!tokens.next(tokenBegin, tokenEnd))
        {
            message = fileError(path, "\n\nIncomplete DAT header");
            return false;
        }
        int64_t value = 0;
        if (!readDecimal(tokenBegin, tokenEnd, value))
        {
            message = fileError(path, "\n\nNot enough magic numbers in header");
            return false;
        }
        if (value != expected)
        {
            message = fileError(path, "\n\nBad magic number");
            return false;
        }
    }

    std::fill(std::begin(quads_), std::end(quads_), 0xFFFFFFFFu);
    while (tokens.next(tokenBegin, tokenEnd))
    {
        if (quadsRead_ == kBufferQuads)
        {
            message = "DAT file is too large.";
            return false;
        }
        if (!readHex(tokenBegin, tokenEnd, quads_[quadsRead_]))
        {
            message = fileError(path, "\n\nNot enough data");
            return false;
        }
        ++quadsRead_;
    }
    return checkHeader(path, message);
}

bool DatImage::checkHeader(const juce::String& path, juce::String& message)
{
    const DatImageHeader h = header();
    if (h.type > 3)
    {
        message = "Invalid DAT type";
        return false;
    }
    if (h.quadCount == 0)
    {
        message = fileError(path, "\n\nQuad count in header is zero.");
        return false;
    }
    // Bounds in 64 bits: address + 4 x count must not wrap around to look small.
    const uint64_t address = h.address;
    const uint64_t count = h.quadCount;
    if (address < kFlashSize && address + 4 * count > kFlashSize)
    {
        message = fileError(path, "\n\nImage goes past physical end of flash memory.");
        return false;
    }
    if (address >= kFlashSize)
    {
        message = fileError(path, "\n\nStart address is past physical end of flash memory.");
        return false;
    }
    if (address % 4 != 0)
    {
        message = fileError(path, "\n\nStart address is not a multiple of 4.");
        return false;
    }
    if (uint64_t(quadsRead_) != count + kHeaderQuads)
    {
        message = fileError(path, "\n\nHeader quad count does not match file size.");
        return false;
    }

    if (h.trailerFlag != 0 && count < h.regionSize)
    {
        const uint64_t region = h.regionSize;
        if (region > kMaxDataQuads)
        {
            message = fileError(path, "\n\nRegion size in header is larger than an image can be.");
            return false;
        }
        if (address + 4 * region > kFlashSize)
        {
            message = fileError(path, "\n\nRegion goes past physical end of flash memory.");
            return false;
        }
        // Version and trailer take the region's last two quadlets: they must lie after the data.
        if (region < count + 2)
        {
            message = fileError(path, "\n\nRegion size in header would overwrite the image data.");
            return false;
        }
        uint32_t* dataQuads = quads_ + kHeaderQuads;
        dataQuads[region - 1] = h.trailer;
        dataQuads[region - 2] = h.version;
        quads_[2] = h.regionSize;
    }
    return true;
}

DatImageHeader DatImage::header() const
{
    DatImageHeader h;
    std::memcpy(&h, quads_, sizeof h);
    return h;
}

juce::String DatImage::describe() const
{
    const DatImageHeader h = header();
    if (h.quadCount <= 2048)
        return {};
    juce::String text;
    if ((h.version & 0xF) == 0xE)
        text = "Backup code ";
    else if (h.type == 0)
        text = "DSP code ";
    else if (h.type == 1)
        text = "ARM code ";
    else if (h.type == 3)
        text = "FPGA ";
    return text + device::formatFirmwareVersion(h.version);
}

} // namespace console
