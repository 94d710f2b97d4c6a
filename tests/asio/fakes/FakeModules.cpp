// Stand-ins for the multimedia class scheduler's and the window manager's modules, which a test host loads
// so the driver finds them; every call is logged for the test to read.

#include <cstdint>
#include <mutex>
#include <string>

namespace
{
std::mutex logMutex;
std::string callLog; // guarded by logMutex

void logCall(const std::string& call)
{
    std::lock_guard<std::mutex> lock(logMutex);
    callLog += call + ";";
}
} // namespace

extern "C" __attribute__((visibility("default"))) const char* fakeModuleLog()
{
    static std::string copy;
    std::lock_guard<std::mutex> lock(logMutex);
    copy = callLog;
    return copy.c_str();
}

extern "C" __attribute__((visibility("default"))) void fakeModuleClear()
{
    std::lock_guard<std::mutex> lock(logMutex);
    callLog.clear();
}

#ifdef FAKE_AVRT
namespace
{
int taskToken = 0; // the registration handle handed out
} // namespace

extern "C" __attribute__((visibility("default"))) void* AvSetMmThreadCharacteristicsA(const char* task,
                                                                                      uint32_t* index)
{
    logCall(std::string("AvSetMmThreadCharacteristicsA(") + task + "," + std::to_string(*index) + ")");
    return &taskToken;
}

extern "C" __attribute__((visibility("default"))) int32_t AvSetMmThreadPriority(void* handle,
                                                                                int32_t priority)
{
    logCall(std::string("AvSetMmThreadPriority(") + (handle == &taskToken ? "task" : "?") + "," +
            std::to_string(priority) + ")");
    return 1;
}

extern "C" __attribute__((visibility("default"))) int32_t AvRevertMmThreadCharacteristics(void* handle)
{
    logCall(std::string("AvRevertMmThreadCharacteristics(") + (handle == &taskToken ? "task" : "?") + ")");
    return 1;
}
#endif

#ifdef FAKE_DWMAPI
extern "C" __attribute__((visibility("default"))) int32_t DwmEnableMMCSS(int32_t enable)
{
    logCall("DwmEnableMMCSS(" + std::to_string(enable) + ")");
    return 0; // S_OK
}
#endif
