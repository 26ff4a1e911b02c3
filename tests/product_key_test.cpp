// The product key helpers: missing values, both string forms, over-long data, writers
// that do or do not create the key.
#include "test_support.h"
#include "product_key.h"

#include <gtest/gtest.h>

namespace {

class ProductKey : public ::testing::Test {
protected:
    void SetUp() override { test::ClearProductKey(); }
    void TearDown() override { test::ClearProductKey(); }

    static void SetRaw(LPCWSTR name, DWORD type, const void *data, DWORD bytes)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH, name, type,
                                                 data, bytes));
    }
};

TEST_F(ProductKey, MissingKeyAndValuesReadAsZeroAndEmpty)
{
    DWORD number = 77;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadConfigDword(NULL, VALUE_VLAN_LOGON_PORT, &number));
    EXPECT_EQ(0u, number);
    WCHAR text[CONFIG_TEXT_CHARS];
    wcscpy(text, L"stale");
    EXPECT_NE(ERROR_SUCCESS, ReadConfigString(NULL, VALUE_VLAN_LOGON_SERVER, text, ARRAYSIZE(text)));
    EXPECT_STREQ(L"", text);

    // The service's writers leave a missing key missing.
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, WriteConfigDword(NULL, VALUE_VLAN_LOGON, 2, FALSE));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              WriteConfigString(NULL, VALUE_DEFAULT_USER_NAME, L"alice", FALSE, FALSE));
    EXPECT_FALSE(test::GetConfigDword(NULL, VALUE_VLAN_LOGON, &number));
}

TEST_F(ProductKey, StringsWithAndWithoutStoredTerminator)
{
    ASSERT_EQ(ERROR_SUCCESS, WriteConfigString(NULL, L"WithNul", L"10.0.0.1", TRUE, TRUE));
    ASSERT_EQ(ERROR_SUCCESS, WriteConfigString(NULL, L"WithoutNul", L"10.0.0.2", FALSE, FALSE));
    // (Wine stores a terminator after REG_SZ data that lacks one; Windows stores the
    // bytes as given. Reading must work for both.)
    WCHAR text[CONFIG_SERVER_CHARS];
    EXPECT_EQ(ERROR_SUCCESS, ReadConfigString(NULL, L"WithNul", text, ARRAYSIZE(text)));
    EXPECT_STREQ(L"10.0.0.1", text);
    EXPECT_EQ(ERROR_SUCCESS, ReadConfigString(NULL, L"WithoutNul", text, ARRAYSIZE(text)));
    EXPECT_STREQ(L"10.0.0.2", text);
}

TEST_F(ProductKey, StringLimitsFollowTheBuffer)
{
    WCHAR text[CONFIG_SERVER_CHARS];
    std::wstring longest(CONFIG_SERVER_CHARS - 1, L's');
    // 255 characters fit with or without the stored terminator.
    SetRaw(L"Fits", REG_SZ, longest.c_str(), (DWORD)(longest.size() + 1) * 2);
    EXPECT_EQ(ERROR_SUCCESS, ReadConfigString(NULL, L"Fits", text, ARRAYSIZE(text)));
    EXPECT_EQ(longest, std::wstring(text));
    SetRaw(L"FitsBare", REG_SZ, longest.c_str(), (DWORD)longest.size() * 2);
    EXPECT_EQ(ERROR_SUCCESS, ReadConfigString(NULL, L"FitsBare", text, ARRAYSIZE(text)));
    EXPECT_EQ(longest, std::wstring(text));
    // 256 characters leave no room for a terminator: refused, read as empty.
    std::wstring tooLong(CONFIG_SERVER_CHARS, L't');
    SetRaw(L"TooLong", REG_SZ, tooLong.c_str(), (DWORD)tooLong.size() * 2);
    EXPECT_NE(ERROR_SUCCESS, ReadConfigString(NULL, L"TooLong", text, ARRAYSIZE(text)));
    EXPECT_STREQ(L"", text);
    SetRaw(L"TooLongNul", REG_SZ, tooLong.c_str(), (DWORD)(tooLong.size() + 1) * 2);
    EXPECT_NE(ERROR_SUCCESS, ReadConfigString(NULL, L"TooLongNul", text, ARRAYSIZE(text)));
    EXPECT_STREQ(L"", text);
}

// An odd byte count ends in half a unit that no terminator follows within the buffer;
// other types read as text the same way. Every read ends inside the buffer.
TEST_F(ProductKey, OddLengthsAndOtherTypesAreTerminatedInsideTheBuffer)
{
    const DWORD CHARS = 8;
    struct {
        const char *name;
        DWORD type;
        std::string bytes;
        LONG rc;
        std::wstring text;
    } cases[] = {
        // 15 bytes: seven units and half of an eighth, which is dropped.
        {"odd length filling the buffer", REG_SZ, std::string("a\0b\0c\0d\0e\0f\0g\0h", 15),
         ERROR_SUCCESS, L"abcdefg"},
        {"odd length", REG_SZ, std::string("a\0b\0c", 5), ERROR_SUCCESS, L"ab"},
        {"one byte", REG_SZ, std::string("x", 1), ERROR_SUCCESS, L""},
        {"binary, odd", REG_BINARY, std::string("h\0i\0!", 5), ERROR_SUCCESS, L"hi"},
        {"dword", REG_DWORD, std::string("A\0B\0", 4), ERROR_SUCCESS, L"AB"},
        {"16 bytes without terminator", REG_BINARY, std::string("a\0b\0c\0d\0e\0f\0g\0h\0", 16),
         ERROR_MORE_DATA, L""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetRaw(L"Odd", c.type, c.bytes.data(), (DWORD)c.bytes.size());
        // The buffer sits in a larger one whose guard units must stay untouched.
        WCHAR guarded[CHARS + 4];
        wmemset(guarded, L'#', ARRAYSIZE(guarded));
        EXPECT_EQ(c.rc, ReadConfigString(NULL, L"Odd", guarded, CHARS));
        EXPECT_EQ(c.text, std::wstring(guarded));  // terminated within CHARS units
        EXPECT_EQ(std::wstring(4, L'#'), std::wstring(guarded + CHARS, 4));
    }
}

TEST_F(ProductKey, NumbersAndSubkeys)
{
    ASSERT_EQ(ERROR_SUCCESS, WriteConfigDword(L"GroupList\\20", VALUE_VLAN_LOGOFF_PORT, 6020, TRUE));
    ASSERT_EQ(ERROR_SUCCESS, WriteConfigDword(NULL, VALUE_GROUP_NUMBER, (DWORD)-5, FALSE));
    DWORD number = 0;
    EXPECT_EQ(ERROR_SUCCESS, ReadConfigDword(L"GroupList\\20", VALUE_VLAN_LOGOFF_PORT, &number));
    EXPECT_EQ(6020u, number);
    EXPECT_EQ(ERROR_SUCCESS, ReadConfigDword(NULL, VALUE_GROUP_NUMBER, &number));
    EXPECT_EQ(-5, (LONG)number);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadConfigDword(L"GroupList\\21", VALUE_VLAN_LOGOFF_PORT, &number));
    EXPECT_EQ(0u, number);
}

}  // namespace
