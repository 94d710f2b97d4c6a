#pragma once

// The in-process server frame: the counted base of every object, the non-delegating unknown that makes
// aggregation possible, the class factory and its table, and the answers of the server's exports.

#include "asio/ComTypes.h"

#include <atomic>
#include <cstdint>

namespace asiodrv
{

// Every object of the server counts itself while it lives.
class CBaseObject
{
protected:
    explicit CBaseObject(const char* name); // the name is for the reader; it is not kept
    ~CBaseObject();
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;
};

// The object's own unknown, which answers for the object itself even when the object is aggregated (its
// other interfaces then answer for the aggregating object).
class INonDelegatingUnknown
{
public:
    virtual HRESULT NonDelegatingQueryInterface(const IID& riid, void** object) = 0;
    virtual ULONG NonDelegatingAddRef() = 0;
    virtual ULONG NonDelegatingRelease() = 0;
    virtual ~INonDelegatingUnknown() = default;
};

// The non-delegating unknown as a COM client holds it: a real IUnknown whose calls go to the owner's
// non-delegating operations.
class NonDelegatingIUnknown final : public IUnknown
{
public:
    explicit NonDelegatingIUnknown(INonDelegatingUnknown& owner) : owner_(owner) {}
    ~NonDelegatingIUnknown() = default;
    NonDelegatingIUnknown(const NonDelegatingIUnknown&) = delete;
    NonDelegatingIUnknown& operator=(const NonDelegatingIUnknown&) = delete;

    HRESULT QueryInterface(const IID& riid, void** object) override
    {
        return owner_.NonDelegatingQueryInterface(riid, object);
    }
    ULONG AddRef() override { return owner_.NonDelegatingAddRef(); }
    ULONG Release() override { return owner_.NonDelegatingRelease(); }

private:
    INonDelegatingUnknown& owner_;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject
{
public:
    // outer null: the object is not aggregated and answers IUnknown calls itself.
    CUnknown(const char* name, IUnknown* outer);
    ~CUnknown() override = default;

    HRESULT NonDelegatingQueryInterface(const IID& riid, void** object) override;
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

protected:
    // The object's end at its last release. An object still in use below the releasing call (by a
    // thread of its own) may put it off.
    virtual void destroy() { delete this; }

    // Hands out an interface of this object, counted once.
    static HRESULT exposeInterface(IUnknown* itf, void** object);

    // IUnknown calls on the object's other interfaces go to the aggregating object when there is one.
    HRESULT ownerQueryInterface(const IID& riid, void** object);
    ULONG ownerAddRef();
    ULONG ownerRelease();

private:
    IUnknown* outer_;
    std::atomic<int32_t> refs_{0};
    NonDelegatingIUnknown unknown_{*this};
};

struct ClassFactoryTemplate
{
    const char16_t* name;
    const CLSID* clsid;
    // Makes a new object; may set *hr to a failure, after which the object is destroyed.
    INonDelegatingUnknown* (*create)(IUnknown* outer, HRESULT* hr);
    void (*init)(bool loading, const CLSID* clsid);
};

class CClassFactory final : public IClassFactory
{
public:
    explicit CClassFactory(const ClassFactoryTemplate* t) : template_(t) {}

    HRESULT QueryInterface(const IID& riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT CreateInstance(IUnknown* outer, const IID& riid, void** object) override;
    HRESULT LockServer(BOOL lock) override;

private:
    ~CClassFactory() = default;

    const ClassFactoryTemplate* template_;
    std::atomic<int32_t> refs_{0};
};

// The answers of DllGetClassObject and DllCanUnloadNow.
HRESULT serverGetClassObject(const CLSID& clsid, const IID& riid, void** object);
HRESULT serverCanUnloadNow();

} // namespace asiodrv
