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

TEST_F(ProductKey, WritersAndReadersInSubkeysWithAndWithoutTerminator)
{
    // (Wine stores a terminator after REG_SZ data that lacks one; Windows stores the
    // bytes as given. Reading must work for both.)
    ASSERT_EQ(ERROR_SUCCESS, WriteConfigString(NULL, L"WithNul", L"10.0.0.1", TRUE, TRUE));
    ASSERT_EQ(ERROR_SUCCESS, WriteConfigString(NULL, L"WithoutNul", L"10.0.0.2", FALSE, FALSE));
    ASSERT_EQ(ERROR_SUCCESS, WriteConfigDword(L"GroupList\\20", VALUE_VLAN_LOGOFF_PORT, 6020, TRUE));
    ASSERT_EQ(ERROR_SUCCESS, WriteConfigDword(NULL, VALUE_GROUP_NUMBER, (DWORD)-5, FALSE));
    WCHAR text[CONFIG_SERVER_CHARS];
    EXPECT_EQ(ERROR_SUCCESS, ReadConfigString(NULL, L"WithNul", text, ARRAYSIZE(text)));
    EXPECT_STREQ(L"10.0.0.1", text);
    EXPECT_EQ(ERROR_SUCCESS, ReadConfigString(NULL, L"WithoutNul", text, ARRAYSIZE(text)));
    EXPECT_STREQ(L"10.0.0.2", text);
    DWORD number = 0;
    EXPECT_EQ(ERROR_SUCCESS, ReadConfigDword(L"GroupList\\20", VALUE_VLAN_LOGOFF_PORT, &number));
    EXPECT_EQ(6020u, number);
    EXPECT_EQ(ERROR_SUCCESS, ReadConfigDword(NULL, VALUE_GROUP_NUMBER, &number));
    EXPECT_EQ(-5, (LONG)number);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadConfigDword(L"GroupList\\21", VALUE_VLAN_LOGOFF_PORT, &number));
    EXPECT_EQ(0u, number);
}

// A buffer of 8 units takes 7 and the terminator, stored or not; 8 leave no room and read
// as empty. An odd byte count ends in half a unit that is dropped; other types read as
// text the same way. Every read ends inside the buffer.
TEST_F(ProductKey, StringsFitTheBufferWithTheirTerminatorAndEndInsideIt)
{
    const DWORD CHARS = 8;
    const std::string seven("a\0b\0c\0d\0e\0f\0g\0", 14), eight = seven + std::string("h\0", 2);
    struct {
        const char *name;
        DWORD type;
        std::string bytes;
        LONG rc;
        std::wstring text;
    } cases[] = {
        {"7 units and terminator", REG_SZ, seven + std::string(2, '\0'), ERROR_SUCCESS, L"abcdefg"},
        {"7 units bare", REG_SZ, seven, ERROR_SUCCESS, L"abcdefg"},
        {"8 units bare", REG_SZ, eight, ERROR_MORE_DATA, L""},
        {"8 units and terminator", REG_SZ, eight + std::string(2, '\0'), ERROR_MORE_DATA, L""},
        {"odd length filling the buffer", REG_SZ, eight.substr(0, 15), ERROR_SUCCESS, L"abcdefg"},
        {"odd length", REG_SZ, std::string("a\0b\0c", 5), ERROR_SUCCESS, L"ab"},
        {"one byte", REG_SZ, std::string("x", 1), ERROR_SUCCESS, L""},
        {"binary, odd", REG_BINARY, std::string("h\0i\0!", 5), ERROR_SUCCESS, L"hi"},
        {"dword", REG_DWORD, std::string("A\0B\0", 4), ERROR_SUCCESS, L"AB"},
        {"binary, 8 units", REG_BINARY, eight, ERROR_MORE_DATA, L""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH, L"Odd", c.type,
                                                 c.bytes.data(), (DWORD)c.bytes.size()));
        // The buffer sits in a larger one whose guard units must stay untouched.
        WCHAR guarded[CHARS + 4];
        wmemset(guarded, L'#', ARRAYSIZE(guarded));
        EXPECT_EQ(c.rc, ReadConfigString(NULL, L"Odd", guarded, CHARS));
        EXPECT_EQ(c.text, std::wstring(guarded));  // terminated within CHARS units
        EXPECT_EQ(std::wstring(4, L'#'), std::wstring(guarded + CHARS, 4));
    }
}

}  // namespace
