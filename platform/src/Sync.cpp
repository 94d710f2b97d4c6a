#include "platform/Sync.h"

#include <new>

namespace platform
{

bool Mutex::create()
{
    impl_.reset(new (std::nothrow) std::recursive_mutex);
    return impl_ != nullptr;
}

} // namespace platform
