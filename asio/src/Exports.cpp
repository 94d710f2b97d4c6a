// The shared library's only exports. Everything else in the library is hidden (compiled with hidden
// visibility and held back by the version script), so a host that links the same libraries, or a
// different build of them, cannot clash with the driver's copy.

#include "asio/ComServer.h"
#include "asio/Registration.h"
#include "platform/VersionBlock.h"

STRELLIS_FILE_VERSION_BLOCK(4, 8, 0, 0);

#define STRELLIS_EXPORT extern "C" __attribute__((visibility("default")))

STRELLIS_EXPORT asiodrv::HRESULT DllRegisterServer()
{
    return asiodrv::dllRegisterServer();
}

STRELLIS_EXPORT asiodrv::HRESULT DllUnregisterServer()
{
    return asiodrv::dllUnregisterServer();
}

STRELLIS_EXPORT asiodrv::HRESULT DllGetClassObject(const asiodrv::CLSID& rclsid, const asiodrv::IID& riid,
                                                   void** object)
{
    return asiodrv::serverGetClassObject(rclsid, riid, object);
}

STRELLIS_EXPORT asiodrv::HRESULT DllCanUnloadNow()
{
    return asiodrv::serverCanUnloadNow();
}
