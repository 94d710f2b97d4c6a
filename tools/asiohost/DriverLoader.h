#pragma once

// How an ASIO host finds and loads a driver: the driver entry under the local machine's "SOFTWARE\ASIO"
// key names a class id, the class's "InprocServer32" key names the module; the module is loaded, asked
// for its class factory, and the driver is created with its class id as interface id.

#include "asio/Asio.h"

#include <string>
#include <vector>

namespace asiohost
{

struct DriverEntry
{
    std::string name;       // the key under SOFTWARE\ASIO
    std::string clsidText;  // its "CLSID" value
    asiodrv::CLSID clsid{}; // parsed
    std::string modulePath; // the class's InprocServer32 default value
};

// The names of the registered drivers.
std::vector<std::string> listDrivers();

// Reads a driver's entry from the registry; false with a reason when something is missing.
bool findDriver(const std::string& name, DriverEntry& entry, std::string& error);

// Loads a module by path and calls its DllRegisterServer or DllUnregisterServer; the export's result, or
// -1 with a reason when the module or the export cannot be had.
int registerModule(const std::string& path, bool unregister, std::string& error);

class DriverLoader
{
public:
    DriverLoader() = default;
    ~DriverLoader(); // releases the driver and the factory, then unloads the module
    DriverLoader(const DriverLoader&) = delete;
    DriverLoader& operator=(const DriverLoader&) = delete;

    // Finds the driver in the registry, loads its module and keeps its class factory; false with a reason.
    bool loadModule(const std::string& driverName, std::string& error);

    // Creates the driver object through the factory (IASIO asked by the class id); false with a reason.
    bool createDriver(std::string& error);

    const DriverEntry& entry() const { return entry_; }
    void* module() const { return module_; }
    asiodrv::IClassFactory* factory() const { return factory_; }
    asiodrv::IASIO* driver() const { return driver_; }

    // The module's DllGetClassObject and DllCanUnloadNow.
    asiodrv::HRESULT getClassObject(const asiodrv::CLSID& clsid, const asiodrv::IID& iid,
                                    void** object) const;
    asiodrv::HRESULT canUnloadNow() const;

    void releaseDriver();
    void releaseFactory();
    void unload();

private:
    DriverEntry entry_;
    void* module_ = nullptr;
    asiodrv::IClassFactory* factory_ = nullptr;
    asiodrv::IASIO* driver_ = nullptr;
};

// What a host learns of an initialised driver, as text: name, version, channels with their names,
// latencies, buffer sizes, sample rate, supported rates and clock sources.
std::string describeDriver(asiodrv::IASIO& driver);

} // namespace asiohost
