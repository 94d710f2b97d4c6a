#pragma once

// The IEEE 1394 host controllers of the machine by their device instance ids, in enumeration order, so
// that a report tells which controller the interfaces were measured on. Built afresh for every report.

#include "platform/SetupClasses.h"

#include <juce_core/juce_core.h>

namespace analyzer
{

class OhciList : public juce::StringArray
{
public:
    // Walks the present members of the 1394 host-controller setup class. A failed class query gives an
    // empty list; a member whose id cannot be read ends the list there.
    OhciList();
    virtual ~OhciList();

    OhciList(const OhciList&) = delete;
    OhciList& operator=(const OhciList&) = delete;

private:
    platform::HDEVINFO set_ = nullptr;
};

} // namespace analyzer
