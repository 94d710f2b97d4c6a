#pragma once

// The values a unit runs, read into its window's image when the session stored in the unit was not read
// whole (none stored: a new unit, a firmware update, a save cut short; or the read was cut short): clock
// and rate, the flags with phantom power, the routing record, every output's gain, mute and nominal
// level, every input's nominal level, every playback channel's gain, mute and solo, and the gain, mute,
// solo and pan of every input in every mix, also of the inputs that have no strip. Nothing is sent: the
// window shows what the unit runs and changes nothing the user did not touch.
//
// The reads run on the window's hardware thread one part at a time (the settings, the outputs, the
// inputs, the playback channels, then the mixes of one input after the other). Each part reaches the
// image on the message thread, only in the bits that still await it (ConsoleState::putUnitValue), so
// what the user, a session load or a reset wrote meanwhile stays; the listener then shows the image
// anew. The next part is queued from the message thread, so that the changes and polls queued meanwhile
// go first. A read the unit asks to repeat is repeated after 60 ms; one it refuses leaves its value
// awaited, and so the image is not stored at close.

#include "console/core/HwCtrl.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace console
{

class UnitRead : public HwCtrl, private juce::AsyncUpdater
{
public:
    class Listener
    {
    public:
        // Message thread: values read from the unit changed the image.
        virtual void unitValuesArrived() = 0;

    protected:
        ~Listener() = default;
    };

    UnitRead(HwCtrlList& list, Listener& listener);
    ~UnitRead() override;

    // Message thread, once: every value of the image awaits the unit, and the first part is queued. When
    // the last part has arrived, the image of a unit without a session is whole.
    void start();
    // Message thread: started, and not every part has arrived yet.
    bool isReading() const;

    // Reads the current part, or what is left of it after a repeated read.
    void readFromDevice() override;
    void writeToDevice() override {}
    void loadFromState(ConsoleState&, bool) override {}
    void storeToState(ConsoleState&) override {}
    void resetToDefault() override {}

private:
    enum class Field : uint8_t;
    // Where a value lies in the image: count bytes from offset, the bits of mask in each.
    struct Place
    {
        int offset;
        int count;
        uint8_t mask;
    };
    // The values of a part: each field for each of its channels (for a mix part, the outputs).
    struct Part
    {
        Field fields[3];
        int fieldCount;
        int channels;
        int input; // a mix part's input
    };

    int partCount() const;
    Part partAt(int part) const;
    static Place placeOf(Field field, int channel, int input);
    // Reads one value from the unit, as it lies in the image, into value (at most 280 bytes).
    int readValue(Field field, int channel, int input, uint8_t* value);
    // Message thread: the part read reaches the image; then the next is queued.
    void handleAsyncUpdate() override;

    Listener& listener_;
    const int inputs_;
    const int outputs_;
    const int playback_;
    std::atomic<int> part_{-1}; // the part being read, set on the message thread
    int item_ = 0;              // hardware thread: the next value of the part to read
    std::mutex readLock_;
    std::vector<Place> read_;     // guarded by readLock_: the places of the part's values read
    std::vector<uint8_t> values_; // guarded by readLock_: the values read, where they lie in the image
};

} // namespace console
