#include "TempRegistry.h"
#include "platform/Registry.h"
#include "simos/Registry.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace platform;

namespace
{

HKEY create(HKEY root, const char* path)
{
    HKEY key = nullptr;
    EXPECT_EQ(regCreateKey(root, path, &key), ERROR_SUCCESS) << path;
    return key;
}

void setText(HKEY key, const char* name, const std::string& text)
{
    EXPECT_EQ(regSetValue(key, name, REG_SZ, text.c_str(), static_cast<uint32_t>(text.size() + 1)),
              ERROR_SUCCESS);
}

std::string queryText(HKEY root, const char* path, const char* name)
{
    HKEY key = nullptr;
    if (regOpenKey(root, path, &key) != ERROR_SUCCESS)
        return "<no key>";
    char buffer[256] = {};
    uint32_t size = sizeof buffer - 1;
    const int32_t r = regQueryValue(key, name, nullptr, buffer, &size);
    regCloseKey(key);
    return r == ERROR_SUCCESS ? std::string(buffer) : "<error " + std::to_string(r) + ">";
}

int devsimReg(std::vector<std::string> args, std::string& out)
{
    std::string err;
    return sim::os::devsimReg(args, out, err);
}

} // namespace

TEST(RegistryKeys, NamesIgnoreCaseAndKeepTheCaseTheyWereCreatedWith)
{
    testsupport::TempRegistry reg;
    HKEY key = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varnel\\Mixed Case");
    setText(key, "Value", "one");
    regCloseKey(key);

    EXPECT_EQ(queryText(HKEY_LOCAL_MACHINE, "software\\VARNEL\\mixed case", "VALUE"), "one");

    HKEY parent = nullptr;
    ASSERT_EQ(regOpenKey(HKEY_LOCAL_MACHINE, "software\\varnel", &parent), ERROR_SUCCESS);
    char name[64];
    ASSERT_EQ(regEnumKey(parent, 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Mixed Case");
    regCloseKey(parent);
}

TEST(RegistryKeys, AFreshRegistryHasTheStandardKeysOfEachHive)
{
    testsupport::TempRegistry reg;
    for (auto [root, path] :
         {std::pair{HKEY_CLASSES_ROOT, "CLSID"}, std::pair{HKEY_LOCAL_MACHINE, "SOFTWARE"},
          std::pair{HKEY_CURRENT_USER, "Software"}})
    {
        HKEY key = nullptr;
        EXPECT_EQ(regOpenKey(root, path, &key), ERROR_SUCCESS) << path;
        regCloseKey(key);
    }
    HKEY key = nullptr;
    EXPECT_EQ(regOpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO", &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
}

TEST(RegistryKeys, SubkeysEnumerateInNameOrderThenAnswerNoMoreItems)
{
    testsupport::TempRegistry reg;
    for (const char* p : {"Software\\T\\beta", "Software\\T\\Alpha", "Software\\T\\gamma"})
        regCloseKey(create(HKEY_CURRENT_USER, p));
    HKEY key = create(HKEY_CURRENT_USER, "Software\\T");
    std::vector<std::string> names;
    char name[64];
    uint32_t i = 0;
    for (; regEnumKey(key, i, name, sizeof name) == ERROR_SUCCESS; ++i)
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "gamma"}));
    EXPECT_EQ(regEnumKey(key, i, name, sizeof name), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(regEnumKey(key, 0, name, 3), ERROR_MORE_DATA);
    regCloseKey(key);
}

TEST(RegistryKeys, AKeyWithSubkeysIsNotDeletedAndADeletedKeyFailsThroughOldHandles)
{
    testsupport::TempRegistry reg;
    regCloseKey(create(HKEY_CURRENT_USER, "Software\\Parent\\Child"));
    HKEY child = nullptr;
    ASSERT_EQ(regOpenKey(HKEY_CURRENT_USER, "Software\\Parent\\Child", &child), ERROR_SUCCESS);

    EXPECT_EQ(regDeleteKey(HKEY_CURRENT_USER, "Software\\Parent"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(regDeleteKey(HKEY_CURRENT_USER, "Software\\Parent\\Child"), ERROR_SUCCESS);
    EXPECT_EQ(regDeleteKey(HKEY_CURRENT_USER, "Software\\Parent\\Child"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(regSetValue(child, "x", REG_SZ, "x", 2), ERROR_KEY_DELETED);
    EXPECT_EQ(regDeleteKey(HKEY_CURRENT_USER, "Software\\Parent"), ERROR_SUCCESS);
    EXPECT_EQ(regCloseKey(child), ERROR_SUCCESS);
    EXPECT_EQ(regCloseKey(child), ERROR_INVALID_HANDLE);
}

TEST(RegistryValues, QueryAnswersTheSizeFirstAndMoreDataForAShortBuffer)
{
    testsupport::TempRegistry reg;
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Sizes");
    const uint8_t blob[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(regSetValue(key, "blob", REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);

    uint32_t type = 0;
    uint32_t size = 0;
    EXPECT_EQ(regQueryValue(key, "BLOB", &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<uint32_t>(REG_BINARY));
    EXPECT_EQ(size, 5u);

    uint8_t data[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    size = 4;
    EXPECT_EQ(regQueryValue(key, "blob", nullptr, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(data[0], 9) << "a short buffer is left untouched";

    size = sizeof data;
    EXPECT_EQ(regQueryValue(key, "blob", nullptr, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(std::memcmp(data, blob, 5), 0);

    EXPECT_EQ(regQueryValue(key, "missing", nullptr, data, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(regDeleteValue(key, "Blob"), ERROR_SUCCESS);
    EXPECT_EQ(regQueryValue(key, "blob", nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    regCloseKey(key);
}

TEST(RegistryValues, TextIsStoredAsGivenWithOrWithoutItsTerminator)
{
    testsupport::TempRegistry reg;
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Texts");
    ASSERT_EQ(regSetValue(key, nullptr, REG_SZ, "abc", 3), ERROR_SUCCESS);
    uint32_t size = 0;
    ASSERT_EQ(regQueryValue(key, "", nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u) << "the default value, set without its terminator";
    regCloseKey(key);
}

TEST(RegistryValues, NamesAndDataWithAnyBytesSurviveTheStore)
{
    testsupport::TempRegistry reg;
    const std::string odd = "a b%c\n\\d\xC3\xA9";
    HKEY key = create(HKEY_CURRENT_USER, ("Software\\" + std::string("odd % key")).c_str());
    setText(key, odd.c_str(), odd);
    regCloseKey(key);
    EXPECT_EQ(queryText(HKEY_CURRENT_USER, "Software\\ODD % KEY", odd.c_str()), odd);
}

TEST(RegistryStoreRoot, FollowsTheEnvironmentBetweenCalls)
{
    testsupport::TempRegistry first;
    regCloseKey(create(HKEY_CURRENT_USER, "Software\\OnlyInFirst"));
    {
        testsupport::TempRegistry second;
        HKEY key = nullptr;
        EXPECT_EQ(regOpenKey(HKEY_CURRENT_USER, "Software\\OnlyInFirst", &key), ERROR_FILE_NOT_FOUND);
    }
    HKEY key = nullptr;
    EXPECT_EQ(regOpenKey(HKEY_CURRENT_USER, "Software\\OnlyInFirst", &key), ERROR_SUCCESS);
    regCloseKey(key);
}

TEST(RegistryStoreRoot, WritesOfOtherProcessesAreSeenAndNoneIsLost)
{
    testsupport::TempRegistry reg;
    HKEY key = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared");
    constexpr int kProcesses = 4;
    constexpr int kValues = 25;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p)
    {
        const pid_t pid = ::fork();
        if (pid == 0)
        {
            // Each process writes its own values: every read-modify-write must keep the others' values.
            int failures = 0;
            for (int v = 0; v < kValues; ++v)
            {
                const uint32_t data = static_cast<uint32_t>(p * 1000 + v);
                const std::string name =
                    std::string("p").append(std::to_string(p)).append("v").append(std::to_string(v));
                failures += regSetValue(key, name.c_str(), REG_DWORD, &data, sizeof data) != ERROR_SUCCESS;
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        ASSERT_GT(pid, 0);
        children.push_back(pid);
    }
    for (pid_t pid : children)
    {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int p = 0; p < kProcesses; ++p)
    {
        for (int v = 0; v < kValues; ++v)
        {
            uint32_t data = 0;
            uint32_t size = sizeof data;
            const std::string name =
                std::string("p").append(std::to_string(p)).append("v").append(std::to_string(v));
            ASSERT_EQ(regQueryValue(key, name.c_str(), nullptr, &data, &size), ERROR_SUCCESS) << name;
            EXPECT_EQ(data, static_cast<uint32_t>(p * 1000 + v));
        }
    }
    regCloseKey(key);
}

TEST(DevsimReg, QueryOfAValuePrintsItsDataAlone)
{
    testsupport::TempRegistry reg;
    std::string out;
    const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\ASIO Strellis";
    ASSERT_EQ(devsimReg({"set", key, "CLSID", "sz", "{5B2E9A64-0D13-4C7F-8A55-1E6C3F90B7D2}"}, out), 0);
    ASSERT_EQ(devsimReg({"set", key, "Rate", "dword", "0xBB80"}, out), 0);
    ASSERT_EQ(devsimReg({"set", key, "Blob", "binary", "00ff10"}, out), 0);

    EXPECT_EQ(devsimReg({"query", key, "CLSID"}, out), 0);
    EXPECT_EQ(out, "{5B2E9A64-0D13-4C7F-8A55-1E6C3F90B7D2}\n");
    EXPECT_EQ(devsimReg({"query", "HKLM\\software\\asio\\asio strellis", "rate"}, out), 0);
    EXPECT_EQ(out, "48000\n");
    EXPECT_EQ(devsimReg({"query", key, "Blob"}, out), 0);
    EXPECT_EQ(out, "00ff10\n");

    EXPECT_EQ(devsimReg({"query", "HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO"}, out), 0);
    EXPECT_EQ(out, "HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\n"
                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\ASIO Strellis\n");
    EXPECT_EQ(devsimReg({"query", key}, out), 0);
    EXPECT_EQ(out, "HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\ASIO Strellis\n"
                   "    CLSID    REG_SZ    {5B2E9A64-0D13-4C7F-8A55-1E6C3F90B7D2}\n"
                   "    Rate    REG_DWORD    48000\n"
                   "    Blob    REG_BINARY    00ff10\n");
}

TEST(DevsimReg, MistakesAnswerOneErrorLineAndANonzeroStatus)
{
    testsupport::TempRegistry reg;
    std::string out;
    std::string err;
    const std::vector<std::vector<std::string>> bad = {
        {"query", "HKEY_NOWHERE\\x"},
        {"query", "HKCU\\Software\\Missing"},
        {"query", "HKCU\\Software", "missing"},
        {"set", "HKCU\\Software\\X", "v", "dword", "4294967296"},
        {"set", "HKCU\\Software\\X", "v", "binary", "abc"},
        {"set", "HKCU\\Software\\X", "v", "qword", "1"},
        {"delete", "HKCU\\Software\\Missing"},
        {"frobnicate", "HKCU\\Software"},
    };
    for (const auto& args : bad)
    {
        EXPECT_NE(sim::os::devsimReg(args, out, err), 0) << args[0] << " " << args[1];
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

TEST(DevsimReg, DeleteRemovesAValueOrAWholeKey)
{
    testsupport::TempRegistry reg;
    std::string out;
    ASSERT_EQ(devsimReg({"set", "HKCU\\Software\\A\\B", "v", "sz", "x"}, out), 0);
    EXPECT_EQ(devsimReg({"delete", "HKCU\\Software\\A\\B", "v"}, out), 0);
    EXPECT_NE(devsimReg({"query", "HKCU\\Software\\A\\B", "v"}, out), 0);
    EXPECT_EQ(devsimReg({"delete", "HKCU\\Software\\A"}, out), 0);
    EXPECT_NE(devsimReg({"query", "HKCU\\Software\\A\\B"}, out), 0);
}
