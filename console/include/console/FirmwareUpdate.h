#pragma once

// The firmware check and update. Before a window opens for an interface, its firmware is compared with
// the firmware table; an interface that is out of date (or every interface, when forced) is offered the
// update. The update writes each image of the model's row into the interface's flash on its own thread,
// FlashThread, comparing flash and image before (an image already in place is skipped) and after, and
// finally erases the stored mixer session; a progress window shows the work and a box its outcome.

#include "console/DatImage.h"
#include "console/Firmware.h"
#include "device/Vhw.h"

#include <juce_core/juce_core.h>

namespace console
{

class FlashProgressWindow;

class FlashThread : public juce::Thread
{
public:
    static constexpr uint32_t kStallMs = 2000;

    // The device is opened for the update only when it is not open already, and then closed again.
    FlashThread(device::vhw& device, FlashProgressWindow* window, const juce::Array<juce::File>& files);
    // Asks the thread to stop and waits for it (every wait inside it is bounded).
    ~FlashThread() override;

    // The outcome, for the box: read it after the thread has ended.
    const juce::String& getResultText() const { return result_; }

private:
    void run() override;
    void showImageTitle(int index);
    bool stopping();
    int flashImage();
    int compareFlash(bool& identical);
    int eraseFlash(const DatImageHeader& header);
    int waitFlashReady();
    int writeFlash();
    // What a chunk's check says of the data a chunk operation moved.
    enum class ChunkCheck
    {
        Next,
        StopDone,
        StopFailed
    };
    // Walks [address, end) in chunks of at most 64 quadlets: io(address, count, offset in quadlets) moves
    // one chunk (a 'try again' is repeated after a short pause, a failure ends the walk with ioFailure),
    // then check(count, offset) looks at it. A pass that makes no progress for kStallMs fails too.
    template <class Io, class Check>
    int walkChunks(uint64_t address, uint64_t end, const char* ioFailure, Io io, Check check);
    void eraseSessionBlock();
    void closeProgressWindow();
    void setStatus(const char* text);
    void resetPass();
    void advance(uint32_t quads);

    juce::String result_{"Unknown error"};
    device::vhw::Ptr device_;
    FlashProgressWindow* window_;
    juce::Array<juce::File> files_;
    uint32_t readBuffer_[64];
    DatImage image_;
    DatImageHeader header_{};
    float accumulated_ = 0.0f;
    float step_ = 1.0f / 1024.0f;
};

// Message thread. True: go on and open the window. False: the user was asked (whatever the answer; on
// yes the update ran), or an update of this device is running now. An empty prompt asks whether to
// update now.
bool checkFirmware(device::vhw& device, bool force, const juce::String& prompt);

// Message thread: looks up the entry's image files, then runs the update in a modal progress window and
// shows its outcome. Returns the text shown ("Unable to locate file ..." when a file is missing).
juce::String startFirmwareUpdate(device::vhw& device, const FirmwareEntry& entry);

// Whether an update of this device (by device path) is running.
bool isFirmwareUpdateRunning(const device::vhw& device);

} // namespace console
