#pragma once

#include <memory>
#include <mutex>

namespace platform
{

// An unnamed mutex as the kernel offers it: the owning thread may take it again (recursive), waits have
// no time-out. Created explicitly so that creation can fail and be reported.
class Mutex
{
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    bool create();
    bool isValid() const { return impl_ != nullptr; }
    void close() { impl_.reset(); }

    void lock() { impl_->lock(); }
    void unlock() { impl_->unlock(); }

private:
    std::unique_ptr<std::recursive_mutex> impl_;
};

// Holds a Mutex for a scope.
class MutexLock
{
public:
    explicit MutexLock(Mutex& m) : m_(m) { m_.lock(); }
    ~MutexLock() { m_.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& m_;
};

} // namespace platform
