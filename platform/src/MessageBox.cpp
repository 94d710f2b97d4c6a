#include "platform/MessageBox.h"

#include "platform/Debug.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform
{
namespace
{

std::mutex presenterMutex;
MessageBoxPresenter currentPresenter; // guarded by presenterMutex

int defaultAnswer(int type)
{
    // A process without a presenter (a test, a headless run) can choose the answer.
    if (const char* answer = std::getenv("STRELLIS_BOX_ANSWER"); answer != nullptr)
    {
        if (std::strcmp(answer, "cancel") == 0)
            return (type & 0xF) == MB_OKCANCEL ? IDCANCEL : IDOK;
        if (std::strcmp(answer, "no") == 0)
            return (type & 0xF) == MB_YESNO ? IDNO : IDOK;
    }
    return (type & 0xF) == MB_YESNO ? IDYES : IDOK;
}

} // namespace

int messageBox(const std::string& title, const std::string& text, int type)
{
    std::string flat = text;
    for (char& c : flat)
        if (c == '\n' || c == '\r')
            c = ' ';
    outputDebugString(("Message box [" + title + "] " + flat).c_str());

    MessageBoxPresenter presenter;
    {
        std::lock_guard<std::mutex> lock(presenterMutex);
        presenter = currentPresenter;
    }
    return presenter ? presenter(title, text, type) : defaultAnswer(type);
}

MessageBoxPresenter setMessageBoxPresenter(MessageBoxPresenter presenter)
{
    std::lock_guard<std::mutex> lock(presenterMutex);
    std::swap(currentPresenter, presenter);
    return presenter;
}

} // namespace platform
