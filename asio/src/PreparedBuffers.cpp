#include "asio/PreparedBuffers.h"

#include "platform/Debug.h"

namespace asiodrv
{

PreparedBuffers::PreparedBuffers(const Streams& streams, std::vector<ChannelEntry>& inputs,
                                 std::vector<ChannelEntry>& outputs, uint32_t bufferSize,
                                 const BufferRequest& request)
    : streams_(streams), inputs_(inputs), outputs_(outputs), bufferSize_(bufferSize), request_(request)
{
}

PreparedBuffers::~PreparedBuffers()
{
    for (ChannelEntry& e : outputs_)
        e.active = 0;
    for (ChannelEntry& e : inputs_)
        e.active = 0;
    // Streaming closes on each device's own file before its buffers go.
    for (const auto& s : streams_)
    {
        if (s->isStreamingOpen())
        {
            s->device()->closeStreaming();
            s->setSharedBlock(nullptr);
        }
        s->freeBuffers();
    }
}

bool PreparedBuffers::allocate()
{
    for (const auto& s : streams_)
    {
        s->setBufferSize(bufferSize_);
        if (!s->allocateBuffers())
            return false;
    }
    return reserveRoom(activeInputs_, request_.inputs) && reserveRoom(activeOutputs_, request_.outputs);
}

Result PreparedBuffers::claim(ASIOBufferInfo* infos, int32_t count, int ownUnits, std::string& refused)
{
    for (int32_t i = 0; i < count; ++i)
    {
        ASIOBufferInfo& info = infos[i];
        const bool isInput = info.isInput != ASIOFalse;
        ChannelEntry& entry = isInput ? inputs_[info.channelNum] : outputs_[info.channelNum];
        DeviceStream* stream = entry.stream;
        vhw* device = stream->device();
        if (!stream->isStreamingOpen())
        {
            void* block = device->openStreaming();
            if (block == nullptr)
                return Result::NotPresent;
            stream->setSharedBlock(block);
            ++openStreams_;
            if (clockStream_ == nullptr)
            {
                clockStream_ = stream;
                streamingEvent_ = device->streamingEvent();
            }
            // The size was checked before streaming opened; another program may have changed it since.
            if (!stream->streamsAt(bufferSize_))
            {
                platform::debugPrintf("ASIO Strellis: unit \"%s\" streams another size than the %u samples "
                                      "announced",
                                      device->uniqueName(), bufferSize_);
                return Result::InvalidMode;
            }
        }
        const vhw::Claim claim = device->claimChannel(isInput, static_cast<uint32_t>(entry.channel));
        if (claim == vhw::Claim::Failed)
            return Result::NotPresent;
        const bool claimed = claim == vhw::Claim::Taken;
        if (!claimed)
        {
            char name[64];
            stream->channelName(ownUnits, name, sizeof name, isInput, entry.channel);
            refused += name;
            refused += "\n";
        }
        int32_t* buffer =
            isInput ? stream->inputBuffer(entry.channel) : stream->outputBuffer(entry.channel, claimed);
        entry.active = 1;
        // Room was made for every record: no allocation here.
        (isInput ? activeInputs_ : activeOutputs_).push_back(ChannelEntry{stream, entry.channel, 1});
        if (buffer == nullptr)
        {
            info.buffers[0] = info.buffers[1] = nullptr;
            return Result::NoMemory;
        }
        info.buffers[0] = buffer;
        info.buffers[1] = buffer + bufferSize_;
    }
    return Result::Ok;
}

} // namespace asiodrv
