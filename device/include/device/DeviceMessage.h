#pragma once

// The system's posted message: an id, two integers and a counted reference to an object (a device), so
// that the object lives at least until the message has been handled.

#include <juce_core/juce_core.h>
#include <juce_events/juce_events.h>

#include <cstdint>

namespace device
{

// Posted to the application's listener when an interface arrived and a device object was kept for it,
// and when an interface is being removed and the list held a device for it.
inline constexpr int32_t deviceArrivalMessage = static_cast<int32_t>(0xECC00000u);
inline constexpr int32_t deviceRemovalMessage = static_cast<int32_t>(0xECC00001u);

class SystemMessage : public juce::Message
{
public:
    SystemMessage(int32_t messageId, int32_t param1, int32_t param2, juce::ReferenceCountedObject* object)
        : id(messageId), parameter1(param1), parameter2(param2), object_(object)
    {
    }

    const int32_t id;
    const int32_t parameter1;
    const int32_t parameter2;

    // The object as the type the receiver expects; null when it is none or another type.
    template <class T> T* getObjectAs() const { return dynamic_cast<T*>(object_.get()); }

private:
    const juce::ReferenceCountedObjectPtr<juce::ReferenceCountedObject> object_;
};

} // namespace device
