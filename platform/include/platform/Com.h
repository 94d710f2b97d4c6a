#pragma once

// The little of COM the system's audio needs: result codes with their Windows values, interface ids,
// the reference-counted interface base and a holder that releases what it holds.

#include "platform/DeviceInterfaces.h"

#include <cstdint>

namespace platform
{

using HRESULT = int32_t;
using IID = Guid;
using CLSID = Guid;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = HRESULT(0x80004001);
constexpr HRESULT E_NOINTERFACE = HRESULT(0x80004002);
constexpr HRESULT E_POINTER = HRESULT(0x80004003);
constexpr HRESULT E_FAIL = HRESULT(0x80004005);
constexpr HRESULT E_OUTOFMEMORY = HRESULT(0x8007000E);
constexpr HRESULT E_INVALIDARG = HRESULT(0x80070057);
constexpr HRESULT E_NOTFOUND = HRESULT(0x80070490); // HRESULT_FROM_WIN32(ERROR_NOT_FOUND)
constexpr HRESULT REGDB_E_CLASSNOTREG = HRESULT(0x80040154);

constexpr bool SUCCEEDED(HRESULT hr)
{
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr)
{
    return hr < 0;
}

inline constexpr IID IID_IUnknown{
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Every interface starts with these three operations. An object lives while it has references: AddRef
// and Release return the new count, and the last Release deletes it.
class IUnknown
{
public:
    virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

// Holds one reference and releases it when it lets go.
template <class T> class ComPtr
{
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr& other) : p_(other.p_)
    {
        if (p_ != nullptr)
            p_->AddRef();
    }
    ComPtr& operator=(const ComPtr& other)
    {
        if (other.p_ != nullptr)
            other.p_->AddRef();
        reset();
        p_ = other.p_;
        return *this;
    }
    ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other)
        {
            reset();
            p_ = other.p_;
            other.p_ = nullptr;
        }
        return *this;
    }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // For a call that hands out a reference: releases what is held first.
    T** put()
    {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    void reset()
    {
        if (p_ != nullptr)
            p_->Release();
        p_ = nullptr;
    }
    // Gives up the reference without releasing it.
    T* detach()
    {
        T* p = p_;
        p_ = nullptr;
        return p;
    }

private:
    T* p_ = nullptr;
};

} // namespace platform
