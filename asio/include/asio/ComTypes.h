#pragma once

// The few COM types the driver's in-process server needs, with their binary layout: GUID, HRESULT and its
// codes, IUnknown and IClassFactory. Interfaces carry no virtual destructor, so virtual function n of an
// interface sits at vtable offset n pointers, as a COM client expects.

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace asiodrv
{

using HRESULT = int32_t;
using ULONG = uint32_t;
using BOOL = int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111);

struct GUID
{
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;

// Compares all 16 bytes.
inline bool isEqualGuid(const GUID& a, const GUID& b)
{
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

inline constexpr IID IID_IUnknown{
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory{
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// "{5B2E9A64-0D13-4C7F-8A55-1E6C3F90B7D2}" form: upper case, braces, 38 characters plus the terminator.
inline void guidToString(const GUID& g, char (&text)[39])
{
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                  g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
}

// Parses the form above (either letter case, braces required); false when the text is not a GUID.
inline bool guidFromString(const char* text, GUID& out)
{
    if (text == nullptr)
        return false;
    // Fixed form: braces, 8-4-4-4-12 hex digits.
    constexpr char shape[] = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
    uint8_t bytes[16];
    int nibbles = 0;
    for (int i = 0; shape[i] != '\0'; ++i)
    {
        const char c = text[i];
        if (shape[i] != 'x')
        {
            if (c != shape[i])
                return false;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        const int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        if (nibbles % 2 == 0)
            bytes[nibbles / 2] = static_cast<uint8_t>(v << 4);
        else
            bytes[nibbles / 2] |= static_cast<uint8_t>(v);
        ++nibbles;
    }
    if (text[sizeof shape - 1] != '\0')
        return false;
    out.Data1 = static_cast<uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
    out.Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
    out.Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
    for (int i = 0; i < 8; ++i)
        out.Data4[i] = bytes[8 + i];
    return true;
}

class IUnknown
{
public:
    virtual HRESULT QueryInterface(const IID& riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

class IClassFactory : public IUnknown
{
public:
    virtual HRESULT CreateInstance(IUnknown* outer, const IID& riid, void** object) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

// The server's exports, by name, with C linkage.
using DllGetClassObjectFn = HRESULT (*)(const CLSID& rclsid, const IID& riid, void** object);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();

} // namespace asiodrv
