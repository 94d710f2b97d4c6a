#pragma once

// The driver's settings under the current user's key: the sample rate a driver object starts at, and the
// two switches of the streaming thread's scheduling. Read once per driver object, at its first init;
// the switches are written at the control panel's OK, the rate when the driver object goes.

#include <atomic>
#include <cstdint>

namespace asiodrv
{

class DriverSettings
{
public:
    static constexpr const char* kKey = "Software\\Varnel\\ASIO Strellis";
    static constexpr uint32_t kWriteSampleRate = 1;
    static constexpr uint32_t kWriteSwitches = 2;

    // Reads the key; a key that cannot be opened changes nothing. The switches are read only beside a
    // stored rate that acceptRate takes, each as 1 when its value is missing. Returns that rate, or 0
    // when none was taken.
    uint32_t read(bool (*acceptRate)(double rate));
    bool wasRead() const { return read_; }
    // Creates the key as needed and writes what the flags name (the rate first: when it cannot be
    // written, nothing else is).
    void write(uint32_t flags, uint32_t sampleRate) const;

    // The stored values as they are (the registry may hold any number); nonzero is on.
    uint32_t useMmcss() const { return useMmcss_.load(); }
    uint32_t lowerDwm() const { return lowerDwm_.load(); }
    void setSwitches(uint32_t useMmcss, uint32_t lowerDwm);

private:
    // Read by the streaming thread as it starts, written by the control panel.
    std::atomic<uint32_t> useMmcss_{1};
    std::atomic<uint32_t> lowerDwm_{1};
    bool read_ = false;
};

} // namespace asiodrv
