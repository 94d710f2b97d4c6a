#pragma once

// What exists between createBuffers and disposeBuffers: the buffer block of every kept device, streaming
// opened on each device that has a requested channel, the claimed channels marked active in the driver's
// channel tables, the active lists, and the event the streaming thread waits on. Destroying the object
// closes that streaming, frees the buffers and clears the marks, so a createBuffers that fails part-way
// and disposeBuffers end the same way: the object goes.
//
// What the streaming thread may still read after a host disposed the buffers from inside one of its
// callbacks (the state, the callbacks pointer, the time-info record) stays with the driver object.

#include "asio/DeviceStream.h"
#include "asio/DriverTypes.h"
#include "platform/Event.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace asiodrv
{

// What createBuffers found in a valid request.
struct BufferRequest
{
    size_t inputs = 0;
    size_t outputs = 0;
    bool timeInfo = false; // the host asked for bufferSwitchTimeInfo
};

class PreparedBuffers
{
public:
    using Streams = std::vector<std::unique_ptr<DeviceStream>>;

    // The streaming objects and the channel tables are the driver's, and outlive this object.
    PreparedBuffers(const Streams& streams, std::vector<ChannelEntry>& inputs,
                    std::vector<ChannelEntry>& outputs, uint32_t bufferSize, const BufferRequest& request);
    ~PreparedBuffers();
    PreparedBuffers(const PreparedBuffers&) = delete;
    PreparedBuffers& operator=(const PreparedBuffers&) = delete;

    // Every device's buffer block, and room in the active lists for every record; false when memory is
    // short or the size is absurd.
    bool allocate();
    // For each record in order: streaming opened on its device the first time (InvalidMode, with a debug
    // line naming the unit, when the unit streams another size than the buffers'), the channel claimed and
    // handed its buffers. Each channel another application holds adds its name and a line break to
    // refused; a claim that fails as a call (the unit is gone) answers NotPresent. A record is checked
    // before it gets here.
    Result claim(ASIOBufferInfo* infos, int32_t count, int ownUnits, std::string& refused);

    bool timeInfoMode() const { return request_.timeInfo; }
    // The devices whose streaming this object opened.
    int32_t openStreams() const { return openStreams_; }
    // The first device whose streaming opened, whose period event drives the buffer switches, and that
    // event; null when none.
    DeviceStream* clockStream() const { return clockStream_; }
    const std::shared_ptr<platform::Event>& streamingEvent() const { return streamingEvent_; }

private:
    const Streams& streams_;
    std::vector<ChannelEntry>& inputs_;
    std::vector<ChannelEntry>& outputs_;
    const uint32_t bufferSize_;
    const BufferRequest request_;
    DeviceStream* clockStream_ = nullptr;
    std::shared_ptr<platform::Event> streamingEvent_;
    int32_t openStreams_ = 0;
    // One entry per record, in request order.
    std::vector<ChannelEntry> activeOutputs_;
    std::vector<ChannelEntry> activeInputs_;
};

} // namespace asiodrv
