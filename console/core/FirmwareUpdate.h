#pragma once

// The firmware check and update. Before a window opens for an interface, its firmware is compared with
// the firmware table; an interface that is out of date (or every interface, when forced) is offered the
// update. The update writes each image of the model's row into the interface's flash on its own thread,
// FlashThread, comparing flash and image before (an image already in place is skipped) and after, and
// finally erases the stored mixer session; a progress window shows the work and a box its outcome.

#include "console/core/DatImage.h"
#include "console/core/Firmware.h"
#include "console/core/FlashProgress.h"
#include "console/core/FlashWriter.h"
#include "device/Vhw.h"

#include <juce_core/juce_core.h>

#include <functional>

namespace console
{

class FlashThread : public juce::Thread, private FlashWriter::Listener
{
public:
    // The device is opened for the update only when it is not open already, and then closed again.
    // The progress view may be null (no view).
    FlashThread(device::vhw& device, FlashProgress* progress, const juce::Array<juce::File>& files);
    // Asks the thread to stop and waits for it (every wait inside it is bounded).
    ~FlashThread() override;

    // The outcome, for the box: read it after the thread has ended.
    const juce::String& getResultText() const { return result_; }

private:
    void run() override;
    void showImageTitle(int index);
    int flashImage();
    int compareFlash(bool& identical);
    int eraseFlash(const DatImageHeader& header);
    int writeFlash();
    // A nonzero result of the writer puts the text of its failure into the result text.
    int noted(int result);
    void flashStepDone(FlashWriter::Step step, uint32_t quads) override;
    void eraseSessionBlock();
    void closeProgressWindow();
    void setStatus(const char* text);
    void resetPass();
    void advance(uint32_t quads);

    juce::String result_{"Unknown error"};
    device::vhw::Ptr device_;
    FlashProgress* view_;
    juce::Array<juce::File> files_;
    FlashWriter writer_;
    DatImage image_;
    DatImageHeader header_{};
    float accumulated_ = 0.0f;
    float step_ = 1.0f / 1024.0f;
};

// Message thread. True: go on and open the window. False: the user was asked (whatever the answer; on
// yes the update ran), or the unit's question, update or a box of the update is up now (the unit came
// back meanwhile: the question up answers for it, and one that comes back after the answer is handed to
// the return handler once the last box is answered). An empty prompt asks whether to update now.
bool checkFirmware(device::vhw& device, bool force, const juce::String& prompt);

// Message thread: what becomes of a unit that came back while its update or a box of the update was up
// (the user turned it off and on as the result box says), once the last box is answered. Returns the
// handler it replaces.
using FirmwareReturnHandler = std::function<void(device::vhw&)>;
FirmwareReturnHandler setFirmwareReturnHandler(FirmwareReturnHandler handler);

// Message thread: looks up the entry's image files, then runs the update in a modal progress window and
// shows its outcome. Returns the text shown ("Unable to locate file ..." when a file is missing).
juce::String startFirmwareUpdate(device::vhw& device, const FirmwareEntry& entry);

// Whether an update of this device (by device path) is under way, its boxes included.
bool isFirmwareUpdateRunning(const device::vhw& device);

} // namespace console
