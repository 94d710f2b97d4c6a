// The in-process server as a host and a registration tool see it: the registry entries, the class factory,
// the unload rule and the library's exports.

#include "AsioTestSupport.h"
#include "asio/DriverIdentity.h"
#include "asio/Registration.h"
#include "platform/MessageBox.h"
#include "simos/Registry.h"

#include <atomic>
#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <set>
#include <thread>

using namespace asiodrv;
using asiotest::DriverFixture;

namespace
{

const std::string kClassId = "{5B2E9A64-0D13-4C7F-8A55-1E6C3F90B7D2}";
const std::string kClassKey = "CLSID\\" + kClassId;
const std::string kDriverKey = "SOFTWARE\\ASIO\\ASIO Strellis";

// Every key and value of a hive as "path", "path: name = data" lines.
void dumpKey(sim::os::Hive hive, const std::string& path, std::set<std::string>& out)
{
    sim::os::RegistryStore store(sim::os::registryRoot());
    std::vector<sim::os::RegistryValue> values;
    std::vector<std::string> subKeys;
    if (store.listKey(hive, path, values, subKeys) != 0)
        return;
    if (!path.empty())
        out.insert(path);
    for (const auto& v : values)
        out.insert(path + ": " + (v.name.empty() ? "@" : v.name) + " = " +
                   std::string(v.data.begin(), v.data.end()));
    for (const auto& s : subKeys)
        dumpKey(hive, path.empty() ? s : path + "\\" + s, out);
}

std::set<std::string> dump(sim::os::Hive hive)
{
    std::set<std::string> out;
    dumpKey(hive, "", out);
    return out;
}

std::string modulePath()
{
    return std::filesystem::canonical(ASIO_DRIVER_PATH).string();
}

int registerLibrary(bool unregister = false)
{
    std::string error;
    return asiohost::registerModule(ASIO_DRIVER_PATH, unregister, error);
}

void setValue(sim::os::Hive hive, const std::string& path, const std::string& name, const std::string& text)
{
    sim::os::RegistryStore(sim::os::registryRoot()).setValue(hive, path, name, 1, text.data(), text.size());
}

class Server : public DriverFixture
{
};

} // namespace

TEST_F(Server, RegistrationWritesExactlyTheClassAndDriverEntries)
{
    ASSERT_EQ(registerLibrary(), 0);
    // Texts are stored without their terminator.
    EXPECT_EQ(dump(sim::os::Hive::ClassesRoot),
              (std::set<std::string>{"CLSID", kClassKey, kClassKey + ": @ = ASIO Strellis",
                                     kClassKey + "\\InprocServer32",
                                     kClassKey + "\\InprocServer32: @ = " + modulePath(),
                                     kClassKey + "\\InprocServer32: ThreadingModel = Apartment"}));
    EXPECT_EQ(
        dump(sim::os::Hive::LocalMachine),
        (std::set<std::string>{"SOFTWARE", "SOFTWARE\\ASIO", kDriverKey, kDriverKey + ": CLSID = " + kClassId,
                               kDriverKey + ": Description = ASIO Strellis"}));
    EXPECT_EQ(dump(sim::os::Hive::CurrentUser), (std::set<std::string>{"Software"}));
}

TEST_F(Server, ASecondRegistrationFromTheSamePathKeepsTheClassKeyButRewritesTheDriverKey)
{
    ASSERT_EQ(registerLibrary(), 0);
    setValue(sim::os::Hive::ClassesRoot, kClassKey, "Added", "kept");
    setValue(sim::os::Hive::LocalMachine, kDriverKey, "Added", "dropped");
    ASSERT_EQ(registerLibrary(), 0);
    EXPECT_TRUE(dump(sim::os::Hive::ClassesRoot).count(kClassKey + ": Added = kept"));
    EXPECT_FALSE(dump(sim::os::Hive::LocalMachine).count(kDriverKey + ": Added = dropped"));
    EXPECT_TRUE(dump(sim::os::Hive::LocalMachine).count(kDriverKey + ": CLSID = " + kClassId));
}

TEST_F(Server, ARegisteredPathDifferingOnlyInLetterCaseCountsAsTheSame)
{
    ASSERT_EQ(registerLibrary(), 0);
    std::string upper = modulePath();
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    setValue(sim::os::Hive::ClassesRoot, kClassKey + "\\InprocServer32", "", upper);
    setValue(sim::os::Hive::ClassesRoot, kClassKey, "Added", "kept");
    ASSERT_EQ(registerLibrary(), 0);
    EXPECT_TRUE(dump(sim::os::Hive::ClassesRoot).count(kClassKey + ": Added = kept"));
}

TEST_F(Server, RegistrationFromAnotherPathReplacesTheWholeClassKey)
{
    ASSERT_EQ(registerLibrary(), 0);
    setValue(sim::os::Hive::ClassesRoot, kClassKey + "\\InprocServer32", "", "/elsewhere/ASIOStrellis.so");
    setValue(sim::os::Hive::ClassesRoot, kClassKey + "\\InprocServer32\\Deeper", "x", "y");
    setValue(sim::os::Hive::ClassesRoot, kClassKey, "Added", "dropped");
    ASSERT_EQ(registerLibrary(), 0);
    const auto hive = dump(sim::os::Hive::ClassesRoot);
    EXPECT_FALSE(hive.count(kClassKey + ": Added = dropped"));
    EXPECT_FALSE(hive.count(kClassKey + "\\InprocServer32\\Deeper"));
    EXPECT_TRUE(hive.count(kClassKey + "\\InprocServer32: @ = " + modulePath()));
}

TEST_F(Server, UnregistrationRemovesBothEntriesAndSucceedsWhenThereAreNone)
{
    ASSERT_EQ(registerLibrary(), 0);
    setValue(sim::os::Hive::LocalMachine, kDriverKey + "\\Sub", "x", "y");
    ASSERT_EQ(registerLibrary(true), 0);
    EXPECT_EQ(dump(sim::os::Hive::ClassesRoot), (std::set<std::string>{"CLSID"}));
    EXPECT_EQ(dump(sim::os::Hive::LocalMachine), (std::set<std::string>{"SOFTWARE", "SOFTWARE\\ASIO"}));
    EXPECT_EQ(registerLibrary(true), 0);
}

TEST_F(Server, AFailedKeyWriteFailsRegistrationWithABox)
{
    // Without HKLM\SOFTWARE the driver key cannot be made.
    ASSERT_EQ(
        sim::os::RegistryStore(sim::os::registryRoot()).deleteTree(sim::os::Hive::LocalMachine, "SOFTWARE"),
        0);
    EXPECT_EQ(registerLibrary(), -1);
    EXPECT_TRUE(logged("Message box [ASIO Varnel 1394] Register Server failed ! (-106)"));
}

TEST_F(Server, RegistrationWithoutTheModuleLoadedFailsWithTheCodeInABox)
{
    // The driver code linked into this test runs without its module loaded, as if its file were gone.
    if (void* h = ::dlopen(ASIO_DRIVER_PATH, RTLD_NOW | RTLD_NOLOAD); h != nullptr)
    {
        ::dlclose(h);
        GTEST_SKIP() << "the driver library is loaded in this process";
    }
    std::vector<std::string> boxes;
    platform::setMessageBoxPresenter(
        [&](const std::string& title, const std::string& text, int)
        {
            boxes.push_back("[" + title + "] " + text);
            return platform::IDOK;
        });
    EXPECT_EQ(dllRegisterServer(), -1);
    EXPECT_EQ(dllUnregisterServer(), -1);
    platform::setMessageBoxPresenter({});
    EXPECT_EQ(boxes, (std::vector<std::string>{"[ASIO Varnel 1394] Register Server failed ! (-101)",
                                               "[ASIO Strellis] Unregister Server failed ! (-101)"}));
    EXPECT_EQ(dump(sim::os::Hive::LocalMachine), (std::set<std::string>{"SOFTWARE"}));
}

TEST_F(Server, AStringValueThatGrowsWhileItIsReadNeverRunsPastTheBuffer)
{
    // Another process rewrites the value between the size query and the read, one byte too long and back.
    constexpr size_t kSize = 16;
    const std::string fits(kSize - 1, 'a');
    const std::string tooLong(kSize, 'b');
    sim::os::RegistryStore(sim::os::registryRoot())
        .createKey(sim::os::Hive::ClassesRoot, "Growing", nullptr, nullptr);
    setValue(sim::os::Hive::ClassesRoot, "Growing", "", fits);
    std::atomic<bool> done{false};
    std::atomic<int> writes{0};
    std::thread writer(
        [&]
        {
            for (bool grow = true; !done.load(); grow = !grow, ++writes)
                setValue(sim::os::Hive::ClassesRoot, "Growing", "", grow ? tooLong : fits);
        });
    int read = 0;
    bool overrun = false;
    // The window is narrow: thousands of reads and of rewrites meanwhile give the writer enough chances to
    // hit it, however fast either side runs.
    constexpr int kRounds = 5000;
    while (!overrun && (read < kRounds || writes.load() < kRounds))
    {
        char buffer[kSize + 1];
        buffer[kSize] = 'X';
        if (getStringValue(platform::HKEY_CLASSES_ROOT, "Growing", nullptr, buffer, kSize) == 0)
        {
            ++read;
            EXPECT_EQ(std::string(buffer), fits);
        }
        overrun = buffer[kSize] != 'X';
    }
    done.store(true);
    writer.join();
    EXPECT_FALSE(overrun);
}

TEST_F(Server, GetClassObjectChecksTheInterfaceBeforeTheClass)
{
    ASSERT_NE(loadDriver(), nullptr);
    const CLSID unknownClass{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(loader.getClassObject(unknownClass, CLSID_AsioStrellis, &object), E_NOINTERFACE);
    EXPECT_EQ(loader.getClassObject(unknownClass, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(loader.getClassObject(CLSID_AsioStrellis, IID_IUnknown, &object), S_OK);
    auto* factory = static_cast<IClassFactory*>(object);
    void* again = nullptr;
    EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, &again), S_OK);
    EXPECT_EQ(again, object);
    EXPECT_EQ(factory->QueryInterface(CLSID_AsioStrellis, &again), E_NOINTERFACE);
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(factory->Release(), 0u);
}

TEST_F(Server, CreateInstanceRefusesBadRequestsAndLeavesNoObjectBehind)
{
    ASSERT_NE(loadDriver(), nullptr);
    loader.releaseDriver();
    IClassFactory* factory = loader.factory();
    void* object = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, CLSID_AsioStrellis, nullptr), E_POINTER);
    // An aggregating caller may ask for the inner unknown only.
    EXPECT_EQ(factory->CreateInstance(static_cast<IUnknown*>(factory), CLSID_AsioStrellis, &object),
              E_NOINTERFACE);
    // An interface the object does not have: the object destroys itself at once.
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(loader.canUnloadNow(), S_OK);
}

TEST_F(Server, CanUnloadNowWaitsForLiveObjectsAndServerLocks)
{
    IASIO* driver = loadDriver();
    ASSERT_NE(driver, nullptr);
    IClassFactory* factory = loader.factory();
    EXPECT_EQ(loader.canUnloadNow(), S_FALSE);
    loader.releaseFactory();
    EXPECT_EQ(loader.canUnloadNow(), S_FALSE) << "a driver object is alive after every factory was released";
    EXPECT_EQ(driver->AddRef(), 2u);
    EXPECT_EQ(driver->Release(), 1u);
    loader.releaseDriver();
    EXPECT_EQ(loader.canUnloadNow(), S_OK);

    void* object = nullptr;
    ASSERT_EQ(loader.getClassObject(CLSID_AsioStrellis, IID_IClassFactory, &object), S_OK);
    factory = static_cast<IClassFactory*>(object);
    EXPECT_EQ(loader.canUnloadNow(), S_OK) << "a factory alone does not keep the server";
    factory->LockServer(1);
    factory->Release();
    EXPECT_EQ(loader.canUnloadNow(), S_FALSE);
    ASSERT_EQ(loader.getClassObject(CLSID_AsioStrellis, IID_IClassFactory, &object), S_OK);
    factory = static_cast<IClassFactory*>(object);
    factory->LockServer(0);
    factory->Release();
    EXPECT_EQ(loader.canUnloadNow(), S_OK);
}

namespace
{

// An aggregating object that counts the calls its inner object forwards to it.
struct Outer : IUnknown
{
    int addRefs = 0;
    int releases = 0;
    HRESULT QueryInterface(const IID&, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++addRefs); }
    ULONG Release() override { return static_cast<ULONG>(++releases); }
};

} // namespace

TEST_F(Server, AnAggregatedDriverForwardsItsInterfaceCountsToTheOuterObject)
{
    ASSERT_NE(loadDriver(), nullptr);
    loader.releaseDriver();
    Outer outer;
    void* inner = nullptr;
    ASSERT_EQ(loader.factory()->CreateInstance(&outer, IID_IUnknown, &inner), S_OK);
    auto* innerUnknown = static_cast<IUnknown*>(inner);
    void* asio = nullptr;
    ASSERT_EQ(innerUnknown->QueryInterface(CLSID_AsioStrellis, &asio), S_OK);
    EXPECT_EQ(outer.addRefs, 1);
    static_cast<IASIO*>(asio)->Release();
    EXPECT_EQ(outer.releases, 1);
    EXPECT_EQ(loader.canUnloadNow(), S_FALSE);
    EXPECT_EQ(innerUnknown->Release(), 0u);
    EXPECT_EQ(loader.canUnloadNow(), S_OK);
}

TEST(ServerLibrary, ExportsTheFourServerFunctionsAndNothingElse)
{
    const std::string command = "nm -D --defined-only " + std::string(ASIO_DRIVER_PATH);
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> symbols;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr)
    {
        char address[64], type[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3)
            symbols.insert(name);
    }
    ASSERT_EQ(::pclose(pipe), 0);
    EXPECT_EQ(symbols, (std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                              "DllUnregisterServer"}));
}
