#include "platform/Event.h"

#include "platform/LastError.h"
#include "simos/Event.h"

#include <cerrno>

namespace platform
{

bool Event::create()
{
    close();
    handle_ = sim::os::createEvent();
    object_ = sim::os::referenceEvent(handle_);
    if (!object_)
        close();
    return handle_ != 0;
}

void Event::close()
{
    if (handle_ != 0)
        sim::os::closeEvent(handle_);
    handle_ = 0;
    object_.reset();
}

void Event::set()
{
    if (object_)
        object_->set();
}

void Event::reset()
{
    if (object_)
        object_->reset();
}

Event::WaitResult Event::wait(uint32_t timeoutMs)
{
    if (!object_)
    {
        setLastError(EBADF); // the handle names no event
        return Failed;
    }
    return object_->wait(timeoutMs) == sim::os::EventObject::Signalled ? Signalled : TimedOut;
}

} // namespace platform
