#pragma once

// The process's audio notification thread: it follows the volume and mute changes on the bus (made by
// any process through an endpoint volume or by devsim) and hands each to the registered clients whose
// channels it touches: endpoint-volume callbacks and mixers opened with a window. The thread runs while
// any client is registered.

#include "sim/Audio.h"

#include <cstdint>
#include <string>

namespace platform::audioservice
{

class Client
{
public:
    virtual ~Client() = default;
    // On the notification thread, one call at a time, for a change after the client's registration.
    virtual void volumeChanged(const sim::audio::VolumeEvent& event) = 0;
};

// Registers the client for the changes of these playback channels of the unit (as made, creationId).
void add(Client* client, const std::string& unit, uint64_t creationId, uint32_t firstChannel,
         uint32_t channelCount);

// Once this returns the client is not called any more: a call in progress on another thread has
// returned (from inside its own call it returns at once).
void remove(Client* client);

} // namespace platform::audioservice
