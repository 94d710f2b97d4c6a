#include "console/core/FirmwareUpdate.h"

#include "console/core/ConsoleState.h"
#include "device/Text.h"
#include "platform/MessageBox.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <string>

namespace console
{
namespace
{

// A unit whose firmware question, update or one of the update's boxes is up, by device path.
struct UnitInCheck
{
    device::vhw::Ptr device;   // the unit the question stands for: the one that came back last while it is up
    bool asking = true;        // the question is up (not answered yet)
    device::vhw::Ptr returned; // came back after the answer, while the update or its boxes were up
};

std::mutex checksMutex;
std::map<std::string, UnitInCheck> unitsInCheck; // guarded by checksMutex

FirmwareReturnHandler returnHandler; // message thread

// Marks a unit as in its firmware check for a scope. Within a check already marked (the update its
// question started) it marks nothing more.
class CheckMark
{
public:
    CheckMark(device::vhw& device, bool asking) : path_(device.getDevicePath())
    {
        std::lock_guard<std::mutex> lock(checksMutex);
        owner_ = unitsInCheck.emplace(path_, UnitInCheck{&device, asking, nullptr}).second;
    }
    ~CheckMark()
    {
        if (!owner_)
            return;
        device::vhw::Ptr returned;
        {
            std::lock_guard<std::mutex> lock(checksMutex);
            returned = unitsInCheck[path_].returned;
            unitsInCheck.erase(path_);
        }
        // Once the last box is answered, a unit that came back meanwhile arrives now.
        if (returned != nullptr && returnHandler)
            returnHandler(*returned);
    }
    CheckMark(const CheckMark&) = delete;
    CheckMark& operator=(const CheckMark&) = delete;

    // The question was answered; returns the unit it stands for.
    device::vhw::Ptr answered()
    {
        std::lock_guard<std::mutex> lock(checksMutex);
        UnitInCheck& unit = unitsInCheck[path_];
        unit.asking = false;
        return unit.device;
    }

    // A unit seen again while its check is up: true when it is, and the check takes it over.
    static bool noteReturn(device::vhw& device)
    {
        std::lock_guard<std::mutex> lock(checksMutex);
        const auto it = unitsInCheck.find(device.getDevicePath());
        if (it == unitsInCheck.end())
            return false;
        (it->second.asking ? it->second.device : it->second.returned) = &device;
        return true;
    }

private:
    std::string path_;
    bool owner_ = false;
};

FlashProgressFactory firmwareProgressFactory; // message thread

} // namespace

bool isFirmwareUpdateRunning(const device::vhw& device)
{
    std::lock_guard<std::mutex> lock(checksMutex);
    const auto it = unitsInCheck.find(device.getDevicePath());
    return it != unitsInCheck.end() && !it->second.asking;
}

FirmwareReturnHandler setFirmwareReturnHandler(FirmwareReturnHandler handler)
{
    std::swap(returnHandler, handler);
    return handler;
}

FlashProgressFactory setFirmwareProgressFactory(FlashProgressFactory factory)
{
    std::swap(firmwareProgressFactory, factory);
    return factory;
}

FlashThread::FlashThread(device::vhw& device, FlashProgress* progress, const juce::Array<juce::File>& files)
    : juce::Thread("FlashThread"), device_(&device), view_(progress), files_(files),
      writer_(device, *this, this, {.interruptible = true, .checkErased = true})
{
}

FlashThread::~FlashThread()
{
    signalThreadShouldExit();
    notify();
    waitForThreadToExit(-1);
}

void FlashThread::run()
{
    const bool openedHere = !device_->isOpen();
    if (openedHere)
        device_->open();

    bool done = true;
    for (int i = 0; i < files_.size(); ++i)
    {
        showImageTitle(i);
        juce::MemoryBlock content;
        if (!files_[i].loadFileAsData(content))
            content.reset();
        if (!image_.parse(content.getData(), content.getSize(), files_[i].getFullPathName(), result_))
        {
            done = false;
            break;
        }
        header_ = image_.header();
        step_ = 1.0f / float(header_.quadCount);
        if (view_ != nullptr)
            view_->setDescription(image_.describe());
        if (flashImage() != 0)
        {
            done = false;
            break;
        }
    }
    if (done)
    {
        eraseSessionBlock();
        result_ = "Flash update complete.  Please turn your device off and back on to apply the update.";
    }

    closeProgressWindow();
    if (openedHere)
        device_->close();
}

void FlashThread::showImageTitle(int index)
{
    if (view_ != nullptr)
        view_->setTitle(device::textFromBytes(device_->getUniqueName()) +
                        juce::String::formatted(" - Updating image %d of %d", index + 1, files_.size()));
}

void FlashThread::setStatus(const char* text)
{
    if (view_ != nullptr)
        view_->setStatus(text);
}

void FlashThread::resetPass()
{
    accumulated_ = 0.0f;
    if (view_ != nullptr)
        view_->resetProgress();
}

void FlashThread::advance(uint32_t quads)
{
    accumulated_ += step_ * float(quads);
    if (view_ != nullptr)
        view_->setProgress(accumulated_);
}

int FlashThread::flashImage()
{
    setStatus("reading...");
    bool identical = false;
    if (const int result = compareFlash(identical); result != 0)
        return result;
    if (identical)
        return 0;

    device_->flashLock(1);
    setStatus("erasing...");
    int result = eraseFlash(header_);
    if (result == 0)
    {
        setStatus("writing...");
        result = writeFlash();
    }
    // The lock is released whatever happened, so the device is not left locked.
    device_->flashLock(0);
    if (result != 0)
        return result;

    setStatus("verifying...");
    result = compareFlash(identical);
    if (view_ != nullptr)
    {
        view_->setMinimumStep(0.0f);
        view_->setProgress(1.0f);
    }
    sleep(100);
    if (result != 0)
        return result;
    if (!identical)
    {
        result_ = "Verification failed - flash memory does not match the image";
        return 1;
    }
    return 0;
}

int FlashThread::noted(int result)
{
    if (result == 0)
        return 0;
    switch (writer_.getFailure())
    {
    case FlashWriter::Failure::Interrupted:
        result_ = "Flash update interrupted";
        break;
    case FlashWriter::Failure::Erase:
        result_ = "Unable to erase flash memory";
        break;
    case FlashWriter::Failure::Status:
        result_ = "Unable to get flash memory status";
        break;
    case FlashWriter::Failure::Read:
        result_ = "Unable to read flash memory";
        break;
    case FlashWriter::Failure::NotBlank:
        result_ = "Verification failed - unable to erase flash memory";
        break;
    case FlashWriter::Failure::Write:
        result_ = "Unable to write flash memory";
        break;
    case FlashWriter::Failure::NotReady: // the text of an earlier step stands, or "Unknown error"
    case FlashWriter::Failure::None:
        break;
    }
    return result;
}

void FlashThread::flashStepDone(FlashWriter::Step step, uint32_t quads)
{
    // The bar follows the quadlets read, checked and written; an erase itself shows nothing.
    if (step != FlashWriter::Step::BlockErased)
        advance(quads);
}

int FlashThread::compareFlash(bool& identical)
{
    resetPass();
    return noted(writer_.compare(header_.address, image_.data(), header_.quadCount, identical));
}

int FlashThread::eraseFlash(const DatImageHeader& header)
{
    resetPass();
    return noted(writer_.erase(header.address, header.quadCount));
}

int FlashThread::writeFlash()
{
    resetPass();
    return noted(writer_.write(header_.address, image_.data(), header_.quadCount));
}

void FlashThread::eraseSessionBlock()
{
    // The interface starts with its default mixer: every block of the stored session goes. Failures
    // here are not reported; the firmware is in place.
    uint32_t base = 0;
    if (device_->getSessionBase(base) != 0)
        return;
    DatImageHeader session{};
    session.address = base;
    session.quadCount = ConsoleState::kImageQuads;
    const juce::String kept = result_;
    eraseFlash(session);
    result_ = kept;
}

void FlashThread::closeProgressWindow()
{
    if (view_ != nullptr)
        view_->signalFinished();
}

bool checkFirmware(device::vhw& device, bool force, const juce::String& prompt)
{
    // The unit came back (pulled and plugged, or turned off and on) while its question, its update or a
    // box of the update is up: nothing is asked again and no window opens now. The question up answers
    // for it; after the answer it is handed over once the last box is answered.
    if (CheckMark::noteReturn(device))
        return false;

    const auto& caps = device.getCaps();
    uint32_t dsp = caps.getDspVersion();
    const uint32_t arm = caps.getArmVersion();
    const FirmwareEntry* entry = findFirmwareEntry(device);
    if (entry == nullptr)
        return true;

    juce::String text =
        prompt.isEmpty() ? juce::String("\nWould you like to update your firmware now?") : prompt;
    // Only units without a flash lock report a DSP version worth judging.
    if (!caps.hasNoFlashLock())
        dsp = entry->requiredVersion;
    const bool outOfDate = dsp < entry->requiredVersion || arm < entry->requiredVersion ||
                           (dsp & 0xF) == 0xE || (arm & 0xF) == 0xE;
    if (outOfDate)
        text = "\nThe firmware for this device is out of date.\n" + text;
    else if (!force)
        return true;

    CheckMark check(device, true);
    const bool yes = platform::messageBox(device.getUniqueName(), text.toStdString(), platform::MB_YESNO) ==
                     platform::IDYES;
    const device::vhw::Ptr unit = check.answered();
    if (yes)
        startFirmwareUpdate(*unit, *entry);
    return false;
}

juce::String startFirmwareUpdate(device::vhw& device, const FirmwareEntry& entry)
{
    const CheckMark running(device, false);
    juce::Array<juce::File> files;
    for (int i = 0; i < entry.imageCount; ++i)
    {
        const juce::File file = firmwareFilePath(entry.images[i], "dat");
        if (!file.existsAsFile())
        {
            const juce::String text = "Unable to locate file " + file.getFullPathName();
            platform::messageBox(device.getUniqueName(), text.toStdString(), platform::MB_OK);
            return text;
        }
        files.add(file);
    }

    std::unique_ptr<FlashProgress> view = firmwareProgressFactory ? firmwareProgressFactory() : nullptr;
    auto thread = std::make_unique<FlashThread>(device, view.get(), files);
    thread->startThread();
    if (view != nullptr)
        view->runUntilFinished();
    // The thread has signalled its end; only closing the device is left (without a view: the whole
    // update, every wait in it bounded).
    thread->waitForThreadToExit(-1);
    const juce::String result = thread->getResultText();
    thread.reset();
    view.reset();
    platform::messageBox(device.getUniqueName(), result.toStdString(), platform::MB_OK);
    return result;
}

} // namespace console
