// The interactive logon packed for Windows: one block, string buffers as offsets.
#include "wardtile.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct PackedString {
    USHORT length;
    USHORT maximumLength;
    ULONGLONG offset;
};

PackedString ReadString(const BYTE *block, size_t at)
{
    PackedString s;
    memcpy(&s.length, block + at, 2);
    memcpy(&s.maximumLength, block + at + 2, 2);
    memcpy(&s.offset, block + at + 8, 8);
    return s;
}

TEST(LogonBuffer, SeventyFourByteExample)
{
    BYTE *block = nullptr;
    DWORD bytes = 0;
    ASSERT_EQ(S_OK, PackInteractiveLogon(L"CORP", L"bob", L"pw", &block, &bytes));
    ASSERT_EQ(74u, bytes);
    DWORD messageType = 0;
    memcpy(&messageType, block, 4);
    EXPECT_EQ(2u, messageType);
    struct {
        size_t at;
        const wchar_t *text;
        ULONGLONG offset;
    } strings[] = {{8, L"CORP", 56}, {24, L"bob", 64}, {40, L"pw", 70}};
    for (const auto &s : strings) {
        PackedString packed = ReadString(block, s.at);
        USHORT expected = (USHORT)(wcslen(s.text) * 2);
        EXPECT_EQ(expected, packed.length);
        EXPECT_EQ(expected, packed.maximumLength);
        EXPECT_EQ(s.offset, packed.offset);
        EXPECT_EQ(0, memcmp(block + packed.offset, s.text, expected));
    }
    CoTaskMemFree(block);
}

TEST(LogonBuffer, LengthsThatDoNotFitAndMissingStrings)
{
    BYTE *block = reinterpret_cast<BYTE *>(1);
    DWORD bytes = 1;
    std::wstring longest(32767, L'x');  // 65,534 bytes still fit in 16 bits
    ASSERT_EQ(S_OK, PackInteractiveLogon(L"D", L"u", longest.c_str(), &block, &bytes));
    EXPECT_EQ(56u + 2 + 2 + 65534, bytes);
    EXPECT_EQ(65534, ReadString(block, 40).length);
    CoTaskMemFree(block);

    std::wstring tooLong(32768, L'x');
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW),
              PackInteractiveLogon(tooLong.c_str(), L"u", L"p", &block, &bytes));
    EXPECT_EQ(nullptr, block);
    EXPECT_EQ(0u, bytes);
    EXPECT_EQ(E_INVALIDARG, PackInteractiveLogon(L"D", nullptr, L"p", &block, &bytes));
    EXPECT_EQ(E_INVALIDARG, PackInteractiveLogon(L"D", L"u", L"p", nullptr, &bytes));
}

}  // namespace
