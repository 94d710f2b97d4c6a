#include "platform/Debug.h"
#include "platform/DeviceFile.h"
#include "platform/DeviceInterfaces.h"
#include "platform/KnownFolders.h"
#include "platform/Registry.h"
#include "platform/Sync.h"
#include "platform/Thread.h"
#include "platform/Time.h"
#include "platform/WindowFrame.h"

#include "TempBus.h"
#include "WaitUntil.h"

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace
{

std::vector<std::string> readLines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(DebugSink, CaptureCollectsEachMessageAsOneLineWithoutItsLineEnd)
{
    platform::DebugCapture capture;
    platform::outputDebugString("first\n");
    platform::debugPrintf("VDC error for %s - rval %d", "Unit", 5);
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"first", "VDC error for Unit - rval 5"}));
    capture.clear();
    EXPECT_TRUE(capture.lines().empty());
}

TEST(DebugSink, InnerCaptureTakesOverAndHandsBackWhenItEnds)
{
    platform::DebugCapture outer;
    {
        platform::DebugCapture inner;
        platform::outputDebugString("inner");
        EXPECT_TRUE(inner.contains("inner"));
    }
    platform::outputDebugString("outer");
    EXPECT_EQ(outer.lines(), std::vector<std::string>{"outer"});
}

TEST(DebugSink, LinesOfSeveralThreadsAreAppendedWholeToTheLogFile)
{
    const std::string path =
        (std::filesystem::temp_directory_path() / ("strellis-debug-" + std::to_string(::getpid()) + ".log"))
            .string();
    std::filesystem::remove(path);
    ::setenv("STRELLIS_DEBUG_LOG", path.c_str(), 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(
            [t]
            {
                for (int i = 0; i < 50; ++i)
                    platform::debugPrintf("thread %d line %d", t, i);
            });
    for (auto& th : threads)
        th.join();
    ::unsetenv("STRELLIS_DEBUG_LOG");

    const auto lines = readLines(path);
    ASSERT_EQ(lines.size(), 200u);
    for (const auto& line : lines)
        EXPECT_EQ(line.rfind("thread ", 0), 0u) << line;
    std::filesystem::remove(path);
}

TEST(Mutex, CanBeTakenAgainByItsOwnerAndExcludesOthers)
{
    platform::Mutex m;
    ASSERT_TRUE(m.create());
    m.lock();
    m.lock(); // a kernel mutex lets its owner in again
    m.unlock();
    m.unlock();

    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(
            [&]
            {
                for (int i = 0; i < 1000; ++i)
                {
                    platform::MutexLock lock(m);
                    ++counter;
                }
            });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(counter, 4000);
}

TEST(Thread, AHolderDestroyedOnItsOwnThreadHandsTheThreadOverToBeCollected)
{
    static platform::Thread* holder = nullptr;
    static std::atomic<bool> destroyed{false};
    holder = new platform::Thread;
    ASSERT_TRUE(holder->start(
        [](void*)
        {
            delete holder; // cannot wait for itself
            destroyed.store(true);
        },
        nullptr));
    EXPECT_TRUE(
        testsupport::waitUntil([] { return destroyed.load() && platform::Thread::collectRetired() == 0; }));
}

TEST(TickCount, OnRealTimeIsTheMonotonicClockInMilliseconds)
{
    auto monotonicMs = []
    {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000);
    };
    const uint32_t before = monotonicMs();
    const uint32_t tick = platform::getTickCount();
    const uint32_t after = monotonicMs();
    // Wrapping at 2^32 as the tick count does: within [before, after] however the two were apart.
    EXPECT_LE(static_cast<uint32_t>(tick - before), static_cast<uint32_t>(after - before));
}

TEST(TickCount, OnAManualClockOfTheBusOnlySleepsAndTransactionsMoveIt)
{
    testsupport::TempBus bus;
    ASSERT_EQ(bus.devsim("plug u1 --model st8"), 0) << bus.err;
    ASSERT_EQ(bus.devsim("os clock manual"), 0) << bus.err;
    const uint32_t start = platform::getTickCount();
    platform::sleepMs(60000);
    EXPECT_TRUE(platform::skipWaitOnManualClock(100));
    const platform::Handle h =
        platform::createFile("\\\\?\\doranth#u1#{3d5a1f20-7c44-4b9e-9e21-6a0b5c7d8e31}");
    ASSERT_NE(h, platform::INVALID_HANDLE_VALUE);
    uint32_t getClock[7] = {0, 6, 0, 0, 3, 1, 0}; // NT status, length, two reserved words, category, command
    uint32_t reply[10] = {};
    EXPECT_TRUE(
        platform::deviceIoControl(h, 0x1D2004, getClock, sizeof getClock, reply, sizeof reply, nullptr));
    platform::closeHandle(h);
    EXPECT_EQ(platform::getTickCount() - start, 60000u + 100 + 1);
    ASSERT_EQ(bus.devsim("os"), 0);
    EXPECT_NE(bus.out.find("clock manual 60101\n"), std::string::npos) << bus.out;

    ASSERT_EQ(bus.devsim("os clock real"), 0);
    EXPECT_FALSE(platform::skipWaitOnManualClock(100));
}

TEST(Guid, PrintsInRegistryFormat)
{
    const platform::Guid g{0x3D5A1F20, 0x7C44, 0x4B9E, {0x9E, 0x21, 0x6A, 0x0B, 0x5C, 0x7D, 0x8E, 0x31}};
    EXPECT_EQ(g.toString(), "{3D5A1F20-7C44-4B9E-9E21-6A0B5C7D8E31}");
}

TEST(DeviceFile, CallsOnAnInvalidOrClosedHandleFail)
{
    testsupport::TempBus bus;
    uint32_t word = 0;
    uint32_t returned = 7;
    EXPECT_FALSE(
        platform::deviceIoControl(platform::INVALID_HANDLE_VALUE, 0x1D2000, nullptr, 0, &word, 4, &returned));
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(platform::createFile("\\\\?\\doranth#nothere#{3d5a1f20-7c44-4b9e-9e21-6a0b5c7d8e31}"),
              platform::INVALID_HANDLE_VALUE);
    EXPECT_FALSE(platform::closeHandle(platform::INVALID_HANDLE_VALUE));
}

TEST(DeviceInterfaces, AnEmptyBusHasNoInterfacesAndNoKeys)
{
    testsupport::TempBus bus;
    const platform::Guid g{0x3D5A1F20, 0x7C44, 0x4B9E, {0x9E, 0x21, 0x6A, 0x0B, 0x5C, 0x7D, 0x8E, 0x31}};
    platform::DeviceInterfaceSet set(g);
    EXPECT_TRUE(set.isValid());
    EXPECT_EQ(set.size(), 0u);
    platform::DeviceRegKey key;
    EXPECT_FALSE(key.open("\\\\?\\doranth#u1#{3d5a1f20-7c44-4b9e-9e21-6a0b5c7d8e31}"));
    uint32_t size = 4;
    char buf[4];
    EXPECT_EQ(key.queryValue("unique_name", nullptr, buf, &size), platform::ERROR_INVALID_HANDLE);
}

TEST(SystemFolder, IsTheSettingOrWhereTheDriverIsRegisteredOrBuiltAndCanFail)
{
    testsupport::TempBus bus;
    const char* oldRegistry = std::getenv("STRELLIS_REGISTRY");
    const std::string keptRegistry = oldRegistry != nullptr ? oldRegistry : "";
    ::setenv("STRELLIS_REGISTRY", (bus.dir + "/registry").c_str(), 1);
    char folder[261];
    uint32_t length = platform::getSystemDirectory(folder, sizeof folder);
    EXPECT_EQ(std::string(folder, length), STRELLIS_ASIO_BUILD_DIR);

    // Registered from another folder: that one.
    const std::string installed = bus.dir + "/system32";
    std::filesystem::create_directories(installed);
    const std::string file = installed + "/ASIOStrellis.so";
    std::ofstream(file) << "driver";
    platform::HKEY key = nullptr;
    ASSERT_EQ(platform::regCreateKey(platform::HKEY_CLASSES_ROOT,
                                     "CLSID\\{5B2E9A64-0D13-4C7F-8A55-1E6C3F90B7D2}\\InprocServer32", &key),
              0);
    platform::regSetValue(key, "", platform::REG_SZ, file.c_str(), uint32_t(file.size() + 1));
    platform::regCloseKey(key);
    length = platform::getSystemDirectory(folder, sizeof folder);
    EXPECT_EQ(std::string(folder, length), installed);

    ASSERT_EQ(bus.devsim("os system-dir /opt/windows/system32/"), 0) << bus.err;
    EXPECT_EQ(platform::getSystemDirectory(folder, sizeof folder), 21u);
    EXPECT_STREQ(folder, "/opt/windows/system32");
    char small[8] = "keep";
    EXPECT_EQ(platform::getSystemDirectory(small, sizeof small), 22u);
    EXPECT_STREQ(small, "keep");

    ASSERT_EQ(bus.devsim("os system-dir --fail"), 0);
    EXPECT_EQ(platform::getSystemDirectory(folder, sizeof folder), 0u);
    ASSERT_EQ(bus.devsim("os system-dir --default"), 0);
    EXPECT_EQ(platform::getSystemDirectory(folder, sizeof folder), uint32_t(installed.size()));
    if (oldRegistry != nullptr)
        ::setenv("STRELLIS_REGISTRY", keptRegistry.c_str(), 1);
    else
        ::unsetenv("STRELLIS_REGISTRY");
}

TEST(WindowFrame, TheXLibraryItAskedStaysLoadedForTheFunctionsItKeeps)
{
    if (std::getenv("DISPLAY") == nullptr)
        GTEST_SKIP() << "no display";
    // The library loaded as the GUI framework loads it, and let go again once a window was asked about:
    // the process holds no other reference to it.
    void* lib = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr);
    const auto openDisplay = reinterpret_cast<void* (*)(const char*)>(::dlsym(lib, "XOpenDisplay"));
    const auto closeDisplay = reinterpret_cast<int (*)(void*)>(::dlsym(lib, "XCloseDisplay"));
    const auto rootWindow = reinterpret_cast<unsigned long (*)(void*)>(::dlsym(lib, "XDefaultRootWindow"));
    void* display = openDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    EXPECT_FALSE(platform::isShownWithoutFrame(display, rootWindow(display))) << "the root has no parent";
    closeDisplay(display);
    ::dlclose(lib);
    void* still = ::dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
    EXPECT_NE(still, nullptr);
    if (still != nullptr)
        ::dlclose(still);
}
