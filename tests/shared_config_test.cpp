// The configuration readers both clients and the tool share: the message codec, the
// domain list, VLAN ids from subkey names and the subtree delete.
#include "test_support.h"
#include "product_key.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Decode(const std::wstring &stored, const wchar_t *lineBreak, DWORD chars = 260)
{
    WCHAR out[300];
    wmemset(out, L'#', ARRAYSIZE(out));
    DecodeConfigMessage(stored.c_str(), lineBreak, out, chars);
    return out;
}

TEST(ConfigMessage, DecodesEachPairAndCopiesEverythingElse)
{
    EXPECT_EQ(L"a\nb", Decode(L"a\\nb", L"\n"));
    EXPECT_EQ(L"a\r\nb\r\n", Decode(L"a\\nb\\n", L"\r\n"));
    // A lone backslash, a backslash before another letter, a doubled backslash.
    EXPECT_EQ(L"c:\\x\\", Decode(L"c:\\x\\", L"\n"));
    EXPECT_EQ(L"\\\n", Decode(L"\\\\n", L"\n"));
    EXPECT_EQ(L"", Decode(L"", L"\n"));
    // Cut to fit, never half a line break.
    EXPECT_EQ(L"abc", Decode(L"abcdef", L"\n", 4));
    EXPECT_EQ(L"ab", Decode(L"ab\\ncd", L"\r\n", 4));
    EXPECT_EQ(L"ab\r\n", Decode(L"ab\\ncd", L"\r\n", 5));
    EXPECT_EQ(L"a", Decode(L"a\xD83D\xDE00", L"\n", 3));
}

TEST(ConfigMessage, EncodesEveryLineBreakFormAndRefusesWhatDoesNotFit)
{
    struct {
        const wchar_t *text;
        DWORD chars;
        BOOL fits;
        const wchar_t *stored;
    } cases[] = {
        {L"one\r\ntwo", CONFIG_TEXT_CHARS, TRUE, L"one\\ntwo"},
        {L"cr\ronly", CONFIG_TEXT_CHARS, TRUE, L"cr\\nonly"},
        {L"lf\nonly", CONFIG_TEXT_CHARS, TRUE, L"lf\\nonly"},
        {L"\r\n\r\n", CONFIG_TEXT_CHARS, TRUE, L"\\n\\n"},
        {L"\n\r", CONFIG_TEXT_CHARS, TRUE, L"\\n\\n"},
        {L"end\r", CONFIG_TEXT_CHARS, TRUE, L"end\\n"},
        {L"keep \\n and \\", CONFIG_TEXT_CHARS, TRUE, L"keep \\n and \\"},
        {L"", CONFIG_TEXT_CHARS, TRUE, L""},
        {L"abc\r\n", 6, TRUE, L"abc\\n"},  // 5 units fit
        {L"abcd\n", 6, FALSE, L""},
        {L"abcdef", 6, FALSE, L""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(test::Narrow(c.text));
        WCHAR out[CONFIG_TEXT_CHARS] = L"stale";
        EXPECT_EQ(c.fits, EncodeConfigMessage(c.text, out, c.chars));
        EXPECT_STREQ(c.stored, out);
    }
}

TEST(VlanId, SignLeadingDigitsAndSaturation)
{
    struct {
        const wchar_t *name;
        LONG id;
    } cases[] = {
        {L"120", 120}, {L"0120", 120}, {L"-5", -5}, {L"+7", 7}, {L"abc", 0}, {L"12abc", 12},
        {L"", 0},      {L"-", 0},      {L" 12", 0},
        {L"2147483647", 2147483647},
        {L"2147483648", 2147483647},
        {L"99999999999999999999999", 2147483647},
        {L"-2147483648", -2147483647 - 1},
        {L"-99999999999999999999999", -2147483647 - 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.id, ParseVlanId(c.name)) << test::Narrow(c.name);
}

class SharedConfig : public ::testing::Test {
protected:
    void SetUp() override { test::ClearProductKey(); }
    void TearDown() override { test::ClearProductKey(); }
};

TEST_F(SharedConfig, DomainListTakesTenNonEmptyNamesUpperCased)
{
    WCHAR names[DOMAIN_LIST_MAX][CONFIG_TEXT_CHARS];
    wcscpy(names[0], L"stale");
    EXPECT_EQ(0, ReadDomainList(names));
    EXPECT_STREQ(L"", names[0]);

    // The default value (empty name) comes first in Wine's sorted listing.
    test::SetConfigString(SUBKEY_DOMAIN_LIST, L"", L"ignored");
    for (int i = 0; i < 12; i++) {
        wchar_t name[16];
        wsprintfW(name, L"corp%02d", i);
        test::SetConfigString(SUBKEY_DOMAIN_LIST, name, L"2026/12/08 10:00:00");
    }
    ASSERT_EQ(DOMAIN_LIST_MAX, ReadDomainList(names));
    for (int i = 0; i < DOMAIN_LIST_MAX; i++) {
        // Enumeration order is the registry's; every name read is one written, upper-cased.
        std::wstring name = names[i];
        ASSERT_EQ(6u, name.size()) << test::Narrow(name);
        EXPECT_EQ(L"CORP", name.substr(0, 4));
        for (int j = 0; j < i; j++)
            EXPECT_NE(name, std::wstring(names[j]));
    }

    test::ClearProductKey();
    test::SetConfigString(SUBKEY_DOMAIN_LIST, L"Sales.Example", L"");
    std::wstring longName(CONFIG_TEXT_CHARS, L'd');  // no room for its terminator
    test::SetConfigString(SUBKEY_DOMAIN_LIST, longName.c_str(), L"");
    ASSERT_EQ(1, ReadDomainList(names));
    EXPECT_STREQ(L"SALES.EXAMPLE", names[0]);
    EXPECT_STREQ(L"", names[1]);
}

TEST_F(SharedConfig, SubtreeDeleteTakesNestedKeysAndAcceptsMissingOnes)
{
    EXPECT_EQ(ERROR_SUCCESS, DeleteConfigSubtree(SUBKEY_GROUP_LIST));  // no product key
    test::SetConfigDword(NULL, VALUE_VLAN_LOGON_PORT, 6000);
    EXPECT_EQ(ERROR_SUCCESS, DeleteConfigSubtree(SUBKEY_GROUP_LIST));  // no subkey
    test::SetConfigDword(L"GroupList\\20", VALUE_VLAN_LOGOFF_PORT, 6020);
    test::SetConfigString(L"GroupList\\20\\deeper\\still", L"x", L"y");
    test::SetConfigDword(L"GroupList\\30", VALUE_VLAN_LOGOFF_PORT, 6030);
    test::SetConfigString(SUBKEY_DOMAIN_LIST, L"CORP", L"");

    EXPECT_EQ(ERROR_SUCCESS, DeleteConfigSubtree(SUBKEY_GROUP_LIST));
    HKEY key;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH L"\\GroupList", 0, KEY_READ, &key));
    // Its siblings and the product key's own values stay.
    DWORD port = 0;
    EXPECT_TRUE(test::GetConfigDword(NULL, VALUE_VLAN_LOGON_PORT, &port));
    EXPECT_EQ(6000u, port);
    std::wstring data;
    EXPECT_TRUE(test::GetConfigString(SUBKEY_DOMAIN_LIST, L"CORP", &data));
    // The product key itself is never a subtree to delete.
    EXPECT_EQ(ERROR_INVALID_PARAMETER, DeleteConfigSubtree(L""));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, DeleteConfigSubtree(NULL));
    EXPECT_TRUE(test::GetConfigDword(NULL, VALUE_VLAN_LOGON_PORT, &port));
}

}  // namespace
