#pragma once

// A part of the mixer page that follows the output pair on show and the status poll: the page tells each
// of its sections which pair is on show and what each completed poll found.
//
// Message thread only.

#include "console/core/PolledSnapshot.h"

namespace console
{

class PageSection
{
public:
    virtual ~PageSection() = default;
    // The pair whose first output channel this is is on show now.
    virtual void showPair(int firstOutput) = 0;
    // A poll has completed: what it found.
    virtual void pollCompleted(const PolledSnapshot& /*snapshot*/) {}
};

} // namespace console
