#include "analyzer/OhciList.h"

#include "device/Text.h"

#include <vector>

namespace analyzer
{
namespace
{

constexpr uint32_t kInitialIdBytes = 1024;

} // namespace

OhciList::OhciList()
{
    set_ = platform::setupDiGetClassDevs(platform::kSetupClass1394, platform::DIGCF_PRESENT);
    if (set_ == nullptr)
        return;

    std::vector<char> buffer(kInitialIdBytes);
    platform::SP_DEVINFO_DATA member{};
    member.cbSize = 28;
    for (uint32_t index = 0; platform::setupDiEnumDeviceInfo(set_, index, &member); ++index)
    {
        uint32_t required = 0;
        int32_t result = platform::setupDiGetDeviceInstanceId(
            set_, member, buffer.data(), static_cast<uint32_t>(buffer.size()), &required);
        // The buffer grows once per member at most: an id that still does not fit ends the walk.
        if (result == platform::ERROR_INSUFFICIENT_BUFFER && required > buffer.size())
        {
            buffer.resize(required);
            result = platform::setupDiGetDeviceInstanceId(set_, member, buffer.data(),
                                                          static_cast<uint32_t>(buffer.size()), &required);
        }
        if (result != platform::ERROR_SUCCESS)
            break;
        add(device::textFromBytes(buffer.data(), buffer.size()));
    }
}

OhciList::~OhciList()
{
    if (set_ != nullptr)
        platform::setupDiDestroyDeviceInfoList(set_);
}

} // namespace analyzer
