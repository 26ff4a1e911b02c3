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
