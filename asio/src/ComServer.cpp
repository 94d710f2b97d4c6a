#include "asio/ComServer.h"

#include "asio/AsioVarnel.h"
#include "asio/DriverIdentity.h"
#include "platform/Thread.h"

#include <new>

namespace asiodrv
{
namespace
{

std::atomic<int32_t> activeObjects{0};
std::atomic<int32_t> serverLocks{0};

const ClassFactoryTemplate classFactoryTemplates[] = {
    {u"ASIOSTRELLIS", &CLSID_AsioStrellis, &AsioVarnel::createInstance, nullptr},
};

} // namespace

CBaseObject::CBaseObject(const char*)
{
    activeObjects.fetch_add(1);
}

CBaseObject::~CBaseObject()
{
    activeObjects.fetch_sub(1);
}

CUnknown::CUnknown(const char* name, IUnknown* outer) : CBaseObject(name), outer_(outer) {}

HRESULT CUnknown::NonDelegatingQueryInterface(const IID& riid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    if (isEqualGuid(riid, IID_IUnknown))
    {
        *object = static_cast<IUnknown*>(&unknown_);
        NonDelegatingAddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT CUnknown::exposeInterface(IUnknown* itf, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = itf;
    itf->AddRef();
    return S_OK;
}

ULONG CUnknown::NonDelegatingAddRef()
{
    const int32_t count = refs_.fetch_add(1) + 1;
    return static_cast<ULONG>(count > 1 ? count : 1);
}

ULONG CUnknown::NonDelegatingRelease()
{
    const int32_t count = refs_.fetch_sub(1) - 1;
    if (count == 0)
    {
        // A release during destruction must not destroy the object a second time.
        refs_.store(1);
        destroy();
        return 0;
    }
    return static_cast<ULONG>(count > 1 ? count : 1);
}

HRESULT CUnknown::ownerQueryInterface(const IID& riid, void** object)
{
    return outer_ != nullptr ? outer_->QueryInterface(riid, object)
                             : NonDelegatingQueryInterface(riid, object);
}

ULONG CUnknown::ownerAddRef()
{
    return outer_ != nullptr ? outer_->AddRef() : NonDelegatingAddRef();
}

ULONG CUnknown::ownerRelease()
{
    return outer_ != nullptr ? outer_->Release() : NonDelegatingRelease();
}

HRESULT CClassFactory::QueryInterface(const IID& riid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (isEqualGuid(riid, IID_IUnknown) || isEqualGuid(riid, IID_IClassFactory))
    {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG CClassFactory::AddRef()
{
    return static_cast<ULONG>(refs_.fetch_add(1) + 1);
}

ULONG CClassFactory::Release()
{
    const int32_t count = refs_.fetch_sub(1) - 1;
    if (count == 0)
    {
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count);
}

HRESULT CClassFactory::CreateInstance(IUnknown* outer, const IID& riid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    // An aggregating object can only ask for the inner object's own unknown.
    if (outer != nullptr && !isEqualGuid(riid, IID_IUnknown))
        return E_NOINTERFACE;
    HRESULT hr = S_OK;
    INonDelegatingUnknown* created = template_->create(outer, &hr);
    if (created == nullptr)
        return E_OUTOFMEMORY;
    if (hr < 0)
    {
        delete created;
        return hr;
    }
    // The count of one keeps the object alive through the query; an object that answers nothing for the
    // interface destroys itself on the release.
    created->NonDelegatingAddRef();
    hr = created->NonDelegatingQueryInterface(riid, object);
    created->NonDelegatingRelease();
    return hr;
}

HRESULT CClassFactory::LockServer(BOOL lock)
{
    if (lock != 0)
        serverLocks.fetch_add(1);
    else
        serverLocks.fetch_sub(1);
    return S_OK;
}

HRESULT serverGetClassObject(const CLSID& clsid, const IID& riid, void** object)
{
    if (!isEqualGuid(riid, IID_IUnknown) && !isEqualGuid(riid, IID_IClassFactory))
        return E_NOINTERFACE;
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    for (const ClassFactoryTemplate& t : classFactoryTemplates)
    {
        if (!isEqualGuid(clsid, *t.clsid))
            continue;
        CClassFactory* factory = new (std::nothrow) CClassFactory(&t);
        if (factory == nullptr)
            return E_OUTOFMEMORY;
        *object = static_cast<IClassFactory*>(factory);
        factory->AddRef();
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT serverCanUnloadNow()
{
    if (serverLocks.load() > 0 || activeObjects.load() != 0)
        return S_FALSE;
    // A streaming thread that ended its object's life (the host released it from a callback) may still
    // be returning through the library's code.
    return platform::Thread::collectRetired() == 0 ? S_OK : S_FALSE;
}

} // namespace asiodrv
