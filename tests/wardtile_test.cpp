// wardtile.dll loaded in-process as the logon screen loads it: the COM contract, the
// tile's state from the registry, the packed logon, and submits that must stop before
// anything reaches the service. Expected texts come from the DLL's own string tables.
#include "test_support.h"
#include "bench_support.h"
#include "dialogs.h"
#include "fake_pipe.h"
#include "files.h"
#include "string_tables.h"
#include "wardtile.h"
#include "registration.h"
#include "wardtile_res.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

HMODULE g_dll;
HRESULT(STDAPICALLTYPE *g_getClassObject)(REFCLSID, REFIID, void **);
HRESULT(STDAPICALLTYPE *g_canUnloadNow)(void);

class WardtileEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
        g_dll = LoadLibraryW(test::BinaryPath(L"wardtile.dll").c_str());
        ASSERT_NE(nullptr, g_dll) << GetLastError();
        g_getClassObject = reinterpret_cast<decltype(g_getClassObject)>(GetProcAddress(g_dll, "DllGetClassObject"));
        g_canUnloadNow = reinterpret_cast<decltype(g_canUnloadNow)>(GetProcAddress(g_dll, "DllCanUnloadNow"));
        ASSERT_NE(nullptr, g_getClassObject);
        ASSERT_NE(nullptr, g_canUnloadNow);
    }
};
const auto *g_environment = ::testing::AddGlobalTestEnvironment(new WardtileEnvironment);

ULONG RefCount(IUnknown *object)
{
    object->AddRef();
    return object->Release();
}

ICredentialProvider *CreateProvider()
{
    IClassFactory *factory = nullptr;
    ICredentialProvider *provider = nullptr;
    EXPECT_EQ(S_OK, g_getClassObject(CLSID_WdCredentialProvider, IID_IClassFactory, (void **)&factory));
    if (factory != nullptr) {
        EXPECT_EQ(S_OK, factory->CreateInstance(NULL, IID_ICredentialProvider, (void **)&provider));
        factory->Release();
    }
    return provider;
}

// A refused call answers hr and writes a null to the pointer it was handed as &out.
#define EXPECT_REFUSED_NULL(hr, type, call)     \
    do {                                        \
        type *out = reinterpret_cast<type *>(1); \
        EXPECT_EQ(hr, call);                    \
        EXPECT_EQ(nullptr, out) << #call;       \
    } while (0)

// Each call of the list, in order, answered expected.
void ExpectAll(HRESULT expected, std::initializer_list<HRESULT> results)
{
    for (size_t i = 0; i < results.size(); i++)
        EXPECT_EQ(expected, results.begin()[i]) << "call " << i << " of the list";
}

// QueryInterface answers exactly the listed interfaces, with the object itself.
void ExpectInterfaces(IUnknown *object, std::vector<IID> answered, std::vector<IID> refused)
{
    for (const IID &iid : answered) {
        void *got = nullptr;
        EXPECT_EQ(S_OK, object->QueryInterface(iid, &got));
        EXPECT_EQ(static_cast<void *>(object), got);
        object->Release();
    }
    for (const IID &iid : refused)
        EXPECT_REFUSED_NULL(E_NOINTERFACE, void, object->QueryInterface(iid, &out));
    EXPECT_EQ(E_INVALIDARG, object->QueryInterface(IID_IUnknown, nullptr));
}

// ---- the COM contract

TEST(ComContract, ExportsAndClassFactory)
{
    ASSERT_EQ(S_OK, g_canUnloadNow());
    EXPECT_REFUSED_NULL(CLASS_E_CLASSNOTAVAILABLE, void, g_getClassObject(IID_IDispatch, IID_IClassFactory, &out));
    EXPECT_EQ(E_INVALIDARG, g_getClassObject(CLSID_WdCredentialProvider, IID_IClassFactory, nullptr));
    void *got = nullptr;
    EXPECT_EQ(E_NOINTERFACE, g_getClassObject(CLSID_WdCredentialProvider, IID_ICredentialProvider, &got));

    IClassFactory *factory = nullptr;
    ASSERT_EQ(S_OK, g_getClassObject(CLSID_WdCredentialProvider, IID_IClassFactory, (void **)&factory));
    ExpectInterfaces(factory, {IID_IUnknown, IID_IClassFactory}, {IID_ICredentialProvider, IID_IDispatch});
    EXPECT_EQ(2u, factory->AddRef());
    EXPECT_EQ(1u, factory->Release());
    // Factories hold no module lock; LockServer does.
    EXPECT_EQ(S_OK, g_canUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_FALSE, g_canUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, g_canUnloadNow());

    int outer = 0;  // never called: aggregation is refused first
    EXPECT_REFUSED_NULL(CLASS_E_NOAGGREGATION, void,
                        factory->CreateInstance(reinterpret_cast<IUnknown *>(&outer), IID_ICredentialProvider, &out));
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(NULL, IID_IClassFactory, &got));
    EXPECT_EQ(E_INVALIDARG, factory->CreateInstance(NULL, IID_ICredentialProvider, nullptr));
    // A refused interface leaves no provider behind.
    EXPECT_EQ(S_OK, g_canUnloadNow());
    EXPECT_EQ(0u, factory->Release());
}

TEST(ComContract, ProviderTables)
{
    ICredentialProvider *provider = CreateProvider();
    ASSERT_NE(nullptr, provider);
    ExpectInterfaces(provider, {IID_IUnknown, IID_ICredentialProvider},
                     {IID_IClassFactory, IID_ICredentialProviderCredential});
    EXPECT_EQ(1u, RefCount(provider));

    struct {
        int scenario;
        HRESULT expected;
    } scenarios[] = {{CPUS_INVALID, E_INVALIDARG}, {CPUS_UNLOCK_WORKSTATION, E_NOTIMPL},
                     {CPUS_CHANGE_PASSWORD, E_NOTIMPL}, {CPUS_CREDUI, E_NOTIMPL},
                     {CPUS_PLAP, E_INVALIDARG}, {6, E_INVALIDARG}, {-1, E_INVALIDARG}};
    for (const auto &row : scenarios) {
        EXPECT_EQ(row.expected, provider->SetUsageScenario((CREDENTIAL_PROVIDER_USAGE_SCENARIO)row.scenario, 0))
            << row.scenario;
    }
    // None of them made a credential.
    EXPECT_REFUSED_NULL(E_UNEXPECTED, ICredentialProviderCredential, provider->GetCredentialAt(0, &out));

    ExpectAll(E_NOTIMPL, {provider->SetSerialization(nullptr), provider->Advise(nullptr, 0), provider->UnAdvise()});
    DWORD count = 0, defaultIndex = 99;
    BOOL autoLogon = TRUE;
    EXPECT_EQ(S_OK, provider->GetCredentialCount(&count, &defaultIndex, &autoLogon));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(0u, defaultIndex);
    EXPECT_FALSE(autoLogon);
    ExpectAll(E_INVALIDARG, {provider->GetCredentialCount(nullptr, &defaultIndex, &autoLogon),
                      provider->GetFieldDescriptorCount(nullptr), provider->GetFieldDescriptorAt(0, nullptr)});

    // The field table as published: every id names its own row, every type is one the
    // logon screen knows, one password and one submit button, and every field the user
    // fills in carries a label from the string table.
    ASSERT_EQ(S_OK, provider->GetFieldDescriptorCount(&count));
    ASSERT_GT(count, 0u);
    int passwords = 0, submits = 0;
    for (DWORD i = 0; i < count; i++) {
        CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR *descriptor = nullptr;
        ASSERT_EQ(S_OK, provider->GetFieldDescriptorAt(i, &descriptor));
        EXPECT_EQ(i, descriptor->dwFieldID);
        EXPECT_GT(descriptor->cpft, CPFT_INVALID) << i;
        EXPECT_LE(descriptor->cpft, CPFT_SUBMIT_BUTTON) << i;
        EXPECT_TRUE(IsEqualGUID(GUID_NULL, descriptor->guidFieldType));
        passwords += descriptor->cpft == CPFT_PASSWORD_TEXT;
        submits += descriptor->cpft == CPFT_SUBMIT_BUTTON;
        ASSERT_NE(nullptr, descriptor->pszLabel);
        if (descriptor->cpft == CPFT_EDIT_TEXT || descriptor->cpft == CPFT_PASSWORD_TEXT ||
            descriptor->cpft == CPFT_COMBOBOX) {
            EXPECT_NE(L"", std::wstring(descriptor->pszLabel)) << i;
        }
        CoTaskMemFree(descriptor->pszLabel);
        CoTaskMemFree(descriptor);
    }
    EXPECT_EQ(1, passwords);
    EXPECT_EQ(1, submits);
    EXPECT_REFUSED_NULL(E_INVALIDARG, CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR,
                        provider->GetFieldDescriptorAt(count, &out));
    EXPECT_EQ(0u, provider->Release());
    EXPECT_EQ(S_OK, g_canUnloadNow());
}

TEST(ComContract, LogonScenarioCredentialsAndLifetimes)
{
    ICredentialProvider *provider = CreateProvider();
    ASSERT_NE(nullptr, provider);
    ASSERT_EQ(S_OK, provider->SetUsageScenario(CPUS_LOGON, 0));
    ICredentialProviderCredential *first = nullptr;
    ASSERT_EQ(S_OK, provider->GetCredentialAt(0, &first));
    ExpectInterfaces(first, {IID_IUnknown, IID_ICredentialProviderCredential},
                     {IID_ICredentialProvider, IID_ICredentialProviderCredentialEvents});
    EXPECT_EQ(2u, RefCount(first));  // the provider's and ours
    EXPECT_REFUSED_NULL(E_INVALIDARG, ICredentialProviderCredential, provider->GetCredentialAt(1, &out));

    // A second logon scenario gives a fresh tile and lets the first one go.
    ASSERT_EQ(S_OK, provider->SetUsageScenario(CPUS_LOGON, 0));
    EXPECT_EQ(1u, RefCount(first));
    ICredentialProviderCredential *second = nullptr;
    ASSERT_EQ(S_OK, provider->GetCredentialAt(0, &second));
    EXPECT_NE(first, second);

    // Two providers in one process do not share their tiles.
    ICredentialProvider *other = CreateProvider();
    ASSERT_NE(nullptr, other);
    ASSERT_EQ(S_OK, other->SetUsageScenario(CPUS_LOGON, 0));
    ICredentialProviderCredential *third = nullptr;
    ASSERT_EQ(S_OK, other->GetCredentialAt(0, &third));
    EXPECT_NE(second, third);
    EXPECT_EQ(0u, other->Release());
    EXPECT_EQ(0u, third->Release());

    // Whatever is released last keeps the module loaded until it goes.
    EXPECT_EQ(0u, provider->Release());
    EXPECT_EQ(S_FALSE, g_canUnloadNow());
    EXPECT_EQ(0u, first->Release());
    EXPECT_EQ(S_FALSE, g_canUnloadNow());
    EXPECT_EQ(0u, second->Release());
    EXPECT_EQ(S_OK, g_canUnloadNow());
}

// Random calls of both objects in random order, with odd field ids, long texts and now and
// then an output left out: none crashes, a missing output is refused (the optional two of
// ReportResult aside), and once everything is released the module may go and no handle stays.
TEST(ComContract, RandomCallsNeitherCrashNorLeak)
{
    test::ClearProductKey();
    std::mt19937 random(20261208);
    auto pick = [&](int n) { return (int)(random() % (unsigned)n); };
    bool nulled = false;
    auto out = [&](auto *parameter, int oneIn) { return pick(oneIn) ? parameter : (nulled = true, nullptr); };
    int calls = 0;
    auto refused = [&](HRESULT hr) {
        EXPECT_FALSE(nulled && SUCCEEDED(hr)) << "call " << calls;
        nulled = false;
    };
    auto fieldId = [&]() -> DWORD {
        static const DWORD odd[] = {7, 8, 100, 0x7FFFFFFF, 0xFFFFFFFF};
        return pick(4) ? (DWORD)pick(7) : odd[pick(5)];
    };
    std::wstring storage;
    auto text = [&]() -> LPCWSTR {
        storage.resize(pick(8) == 0 ? 300 + pick(400) : pick(20));
        for (wchar_t &unit : storage)
            unit = (wchar_t)(pick(3) == 0 ? L' ' : 0x21 + pick(0x3000));
        return pick(5) ? storage.c_str() : nullptr;
    };
    const unsigned handles = bench::CountHandles();
    ICredentialProvider *provider = nullptr;
    ICredentialProviderCredential *credential = nullptr;
    for (calls = 1; calls <= 5000; calls++) {
        // A credential may outlive its provider, as it may in the logon screen.
        if (provider == nullptr)
            provider = CreateProvider();
        ASSERT_NE(nullptr, provider);
        nulled = false;
        DWORD a, b;
        BOOL flag;
        LPWSTR t = nullptr;
        HBITMAP bitmap = nullptr;
        CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR *d = nullptr;
        ICredentialProviderCredential *c = nullptr;
        CREDENTIAL_PROVIDER_FIELD_STATE state;
        CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE interactive;
        CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response;
        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION serialization;
        CREDENTIAL_PROVIDER_STATUS_ICON icon;
        // Six provider calls, fourteen of the credential's.
        int which = pick(20);
        DWORD id = 0;
        if (which >= 6) {
            if (credential == nullptr)
                continue;
            id = fieldId();
            which = 6 + pick(14);
        }
        switch (which) {
        case 0: provider->SetUsageScenario((CREDENTIAL_PROVIDER_USAGE_SCENARIO)(pick(8) - 1), random()); break;
        case 1:
            refused(provider->GetFieldDescriptorAt(fieldId(), out(&d, 4)));
            if (d != nullptr) {
                CoTaskMemFree(d->pszLabel);
                CoTaskMemFree(d);
            }
            break;
        case 2:
            refused(provider->GetCredentialCount(out(&a, 4), out(&b, 4), out(&flag, 4)));
            refused(provider->GetFieldDescriptorCount(out(&a, 4)));
            break;
        case 3:
            refused(provider->GetCredentialAt(pick(4) ? 0 : (DWORD)random(), out(&c, 5)));
            if (c != nullptr) {
                if (credential != nullptr)
                    credential->Release();
                credential = c;
            }
            break;
        case 4:
            provider->SetSerialization(nullptr);
            provider->Advise(nullptr, 0);
            provider->UnAdvise();
            break;
        case 5:
            if (pick(30) == 0) {  // now and then everything goes, in either order
                if (credential != nullptr && pick(2)) {
                    credential->Release();
                    credential = nullptr;
                }
                provider->Release();
                provider = nullptr;
            }
            break;
        case 6: refused(credential->GetFieldState(id, out(&state, 4), out(&interactive, 4))); break;
        case 7: refused(credential->GetStringValue(id, out(&t, 5))); break;
        case 8:
            refused(credential->GetBitmapValue(id, out(&bitmap, 5)));
            DeleteObject(bitmap);
            break;
        case 9: refused(credential->GetSubmitButtonValue(id, out(&a, 4))); break;
        case 10: refused(credential->GetComboBoxValueCount(id, out(&a, 4), out(&b, 4))); break;
        case 11:
            refused(credential->GetComboBoxValueAt(id, pick(3) ? (DWORD)pick(14) : (DWORD)random(), out(&t, 5)));
            break;
        case 12: credential->SetStringValue(id, text()); break;
        case 13: credential->SetComboBoxSelectedValue(id, pick(3) ? (DWORD)pick(14) : (DWORD)random()); break;
        case 14: refused(credential->SetSelected(out(&flag, 4))); break;
        case 15: credential->SetDeselected(); break;
        case 16:
            refused(credential->GetCheckboxValue(id, out(&flag, 2), out(&t, 2)));
            credential->SetCheckboxValue(id, pick(2));
            credential->CommandLinkClicked(id);
            break;
        case 17:
            // Only calls that must be refused before any workflow starts.
            EXPECT_EQ(E_INVALIDARG, pick(2) ? credential->GetSerialization(nullptr, &serialization, nullptr, nullptr)
                                            : credential->GetSerialization(&response, nullptr, nullptr, nullptr));
            break;
        case 18: credential->ReportResult((LONG)random(), (LONG)random(), out(&t, 4), out(&icon, 4)); break;
        default:
            credential->Advise(nullptr);
            credential->UnAdvise();
            break;
        }
        CoTaskMemFree(t);
    }
    if (credential != nullptr)
        credential->Release();
    if (provider != nullptr)
        provider->Release();
    EXPECT_EQ(S_OK, g_canUnloadNow());
    EXPECT_LE(bench::CountHandles(), handles + 4);
}

// Every string exists in both languages under the same id, and the two differ.
TEST(Resources, EnglishAndJapaneseTablesMatch)
{
    std::set<UINT> english = test::StringIdsOfLanguage(g_dll, test::ENGLISH);
    EXPECT_FALSE(english.empty());
    EXPECT_EQ(english, test::StringIdsOfLanguage(g_dll, test::JAPANESE));
    for (UINT id : english) {
        EXPECT_NE(test::StringOfLanguage(g_dll, id, test::ENGLISH),
                  test::StringOfLanguage(g_dll, id, test::JAPANESE)) << id;
    }
    // The user-interface language picks the table (CI runs this under ja_JP too).
    EXPECT_EQ(test::StringOfLanguage(g_dll, IDS_CREDENTIALS_BLANK, test::ExpectedLanguage()),
              test::ModuleString(g_dll, IDS_CREDENTIALS_BLANK));
}

// Both waits are held to their documented maximum of 120 s whatever the registry holds;
// the tile and the tray client read them through this reader only.
TEST(ConfigWaits, HeldToTheirMaximumWhateverIsStored)
{
    test::ClearProductKey();
    for (const wchar_t *name : {VALUE_WAIT_IP_RENEW, VALUE_WAIT_FIND_DOMAIN}) {
        SCOPED_TRACE(test::Narrow(name));
        EXPECT_EQ(0u, ReadConfigWaitSeconds(name));  // missing
        const struct {
            DWORD stored, read;
        } cases[] = {{0, 0}, {5, 5}, {120, 120}, {121, 120}, {5000, 120}, {0x80000000u, 120}, {0xFFFFFFFFu, 120}};
        for (const auto &c : cases) {
            test::SetConfigDword(NULL, name, c.stored);
            EXPECT_EQ(c.read, ReadConfigWaitSeconds(name)) << c.stored;
        }
        // "-1" stored as text is no number of seconds: no wait.
        test::SetConfigString(NULL, name, L"-1");
        EXPECT_EQ(0u, ReadConfigWaitSeconds(name));
    }
    test::ClearProductKey();
}

// ---- the tile's state from the registry

class Tile : public ::testing::Test {
protected:
    void SetUp() override { test::ClearProductKey(); }
    void TearDown() override
    {
        if (credential_ != nullptr) {
            EXPECT_EQ(0u, credential_->Release());
        }
        test::ClearProductKey();
    }

    // The tile alone: LogonUI keeps it and may drop the provider.
    ICredentialProviderCredential *Open()
    {
        ICredentialProvider *provider = CreateProvider();
        if (provider != nullptr && provider->SetUsageScenario(CPUS_LOGON, 0) == S_OK)
            provider->GetCredentialAt(0, &credential_);
        if (provider != nullptr)
            provider->Release();
        return credential_;
    }

    std::wstring String(DWORD field)
    {
        LPWSTR text = nullptr;
        EXPECT_EQ(S_OK, credential_->GetStringValue(field, &text));
        std::wstring result = text != nullptr ? text : L"<none>";
        CoTaskMemFree(text);
        return result;
    }

    std::vector<std::wstring> Domains(DWORD *selected)
    {
        DWORD count = 0;
        EXPECT_EQ(S_OK, credential_->GetComboBoxValueCount(4, &count, selected));
        std::vector<std::wstring> domains;
        for (DWORD i = 0; i < count; i++) {
            LPWSTR item = nullptr;
            EXPECT_EQ(S_OK, credential_->GetComboBoxValueAt(4, i, &item));
            domains.push_back(item != nullptr ? item : L"<none>");
            CoTaskMemFree(item);
        }
        EXPECT_REFUSED_NULL(E_INVALIDARG, WCHAR, credential_->GetComboBoxValueAt(4, count, &out));
        return domains;
    }

    CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE Interactive(DWORD field)
    {
        CREDENTIAL_PROVIDER_FIELD_STATE state;
        CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE interactive = CPFIS_DISABLED;
        EXPECT_EQ(S_OK, credential_->GetFieldState(field, &state, &interactive)) << field;
        return interactive;
    }

    // The tile's picture as width and height.
    std::pair<LONG, LONG> BitmapSize()
    {
        HBITMAP bitmap = nullptr;
        std::pair<LONG, LONG> size = {0, 0};
        EXPECT_EQ(S_OK, credential_->GetBitmapValue(0, &bitmap));
        BITMAP info;
        if (bitmap != nullptr && GetObjectW(bitmap, sizeof(info), &info) == sizeof(info))
            size = {info.bmWidth, info.bmHeight};
        DeleteObject(bitmap);
        return size;
    }

    // GetSerialization handing back no credential: every output given (response and
    // serialization unless left out) is written, none left as the caller left it.
    HRESULT NoCredential(bool withResponse = true, bool withSerialization = true)
    {
        CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response = CPGSR_RETURN_CREDENTIAL_FINISHED;
        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION serialization, empty = {};
        memset(&serialization, 0xA5, sizeof(serialization));
        LPWSTR status = reinterpret_cast<LPWSTR>(1);
        CREDENTIAL_PROVIDER_STATUS_ICON icon = CPSI_ERROR;
        HRESULT hr = credential_->GetSerialization(withResponse ? &response : nullptr,
                                                   withSerialization ? &serialization : nullptr, &status, &icon);
        if (withResponse) {
            EXPECT_EQ(CPGSR_NO_CREDENTIAL_NOT_FINISHED, response);
        }
        if (withSerialization) {
            EXPECT_EQ(0, memcmp(&empty, &serialization, sizeof(empty)));
        }
        EXPECT_EQ(nullptr, status);
        EXPECT_EQ(CPSI_NONE, icon);
        return hr;
    }

    static std::wstring ComputerName()
    {
        WCHAR name[MAX_COMPUTERNAME_LENGTH + 1] = L"";
        DWORD chars = ARRAYSIZE(name);
        GetComputerNameW(name, &chars);
        return name;
    }

    ICredentialProviderCredential *credential_ = nullptr;
};

TEST_F(Tile, NoProductKeyFieldOperations)
{
    ASSERT_NE(nullptr, Open());
    // Fields past the table or of the wrong kind, and missing outputs, are refused.
    CREDENTIAL_PROVIDER_FIELD_STATE state;
    CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE istate;
    LPWSTR text = nullptr;
    DWORD number = 0;
    ExpectAll(E_INVALIDARG,
              {credential_->GetFieldState(7, &state, &istate), credential_->GetFieldState(0, nullptr, &istate),
               credential_->GetFieldState(0, &state, nullptr), credential_->GetStringValue(7, &text),
               credential_->GetStringValue(1, nullptr), credential_->GetSubmitButtonValue(4, &number),
               credential_->GetSubmitButtonValue(5, nullptr), credential_->SetSelected(nullptr),
               credential_->SetStringValue(4, L"X"), credential_->SetStringValue(1, L"X"),
               credential_->SetStringValue(3, nullptr), credential_->SetComboBoxSelectedValue(4, 1),
               credential_->SetComboBoxSelectedValue(2, 0), credential_->GetComboBoxValueCount(3, &number, &number),
               credential_->GetComboBoxValueCount(4, nullptr, &number), credential_->GetBitmapValue(0, nullptr),
               credential_->Advise(nullptr)});
    EXPECT_REFUSED_NULL(E_INVALIDARG, HBITMAP__, credential_->GetBitmapValue(1, &out));
    EXPECT_REFUSED_NULL(E_INVALIDARG, WCHAR, credential_->GetStringValue(0, &out));  // the picture has none

    // Without a default user name the user name has the focus; the last field has a state too.
    EXPECT_EQ(CPFIS_FOCUSED, Interactive(2));
    EXPECT_EQ(CPFIS_NONE, Interactive(6));
    EXPECT_EQ(test::ModuleString(g_dll, IDS_TILE_TITLE), String(1));
    for (DWORD i = 2; i < 7; i++)
        EXPECT_EQ(L"", String(i)) << i;
    EXPECT_EQ(S_OK, credential_->GetSubmitButtonValue(5, &number));
    EXPECT_EQ(4u, number);
    BOOL flag = TRUE;
    ExpectAll(E_NOTIMPL, {credential_->GetCheckboxValue(0, &flag, &text), credential_->SetCheckboxValue(0, TRUE),
                          credential_->CommandLinkClicked(0)});
    EXPECT_EQ(S_OK, credential_->SetSelected(&flag));
    EXPECT_FALSE(flag);

    // Only the user name and the password are editable.
    EXPECT_EQ(S_OK, credential_->SetStringValue(3, L"secret"));
    EXPECT_EQ(L"secret", String(3));
    EXPECT_EQ(S_OK, credential_->SetStringValue(2, L"alice"));
    EXPECT_EQ(L"alice", String(2));

    // Only the computer name to log on to, selected; the built-in picture.
    DWORD selected = 99;
    EXPECT_EQ(std::vector<std::wstring>{ComputerName()}, Domains(&selected));
    EXPECT_EQ(0u, selected);
    EXPECT_EQ(std::make_pair(128L, 128L), BitmapSize());

    LPWSTR status = reinterpret_cast<LPWSTR>(1);
    CREDENTIAL_PROVIDER_STATUS_ICON icon = CPSI_ERROR;
    EXPECT_EQ(S_OK, credential_->ReportResult(0, 0, &status, &icon));
    EXPECT_EQ(nullptr, status);
    EXPECT_EQ(CPSI_NONE, icon);
    EXPECT_EQ(E_INVALIDARG, NoCredential(false, true));
    EXPECT_EQ(E_INVALIDARG, NoCredential(true, false));
}

TEST_F(Tile, DefaultUserAndDomainPreselected)
{
    test::SetConfigString(NULL, VALUE_DEFAULT_USER_NAME, L"alice");
    test::SetConfigString(NULL, VALUE_DEFAULT_DOMAIN_NAME, L"corp");
    test::SetConfigString(L"DomainList", L"0ALPHA", L"");
    test::SetConfigString(L"DomainList", L"CORP", L"");
    ASSERT_NE(nullptr, Open());
    EXPECT_EQ(L"alice", String(2));
    EXPECT_EQ(CPFIS_NONE, Interactive(2));
    EXPECT_EQ(CPFIS_FOCUSED, Interactive(3));
    DWORD selected = 99;
    std::vector<std::wstring> domains = Domains(&selected);
    ASSERT_LT(selected, domains.size());
    EXPECT_EQ(L"CORP", domains[selected]);
    EXPECT_NE(0u, selected);

    // The last domain belongs to the last user: without one it is not preselected.
    EXPECT_EQ(0u, credential_->Release());
    credential_ = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH, VALUE_DEFAULT_USER_NAME));
    ASSERT_NE(nullptr, Open());
    EXPECT_EQ(L"", String(2));
    Domains(&selected);
    EXPECT_EQ(0u, selected);
}

TEST_F(Tile, DomainListOrderCapAndComputerName)
{
    // Names sorting before and after any computer name; a lower-case one is shown upper-cased.
    const wchar_t *names[] = {L"0ALPHA", L"0beta",  L"0GAMMA",  L"0DELTA",  L"0EPSILON",  L"0ZETA",
                              L"ZZZZZZZZZZZZZZZ1", L"ZZZZZZZZZZZZZZZ2", L"ZZZZZZZZZZZZZZZ3",
                              L"ZZZZZZZZZZZZZZZ4", L"ZZZZZZZZZZZZZZZ5", L"ZZZZZZZZZZZZZZZ6"};
    for (const wchar_t *name : names)
        test::SetConfigString(L"DomainList", name, L"");
    // What the registry enumerates first (Wine sorts, Windows keeps insertion order).
    std::vector<std::wstring> enumerated;
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH L"\\DomainList", 0, KEY_READ, &key));
    for (DWORD i = 0; i < 10; i++) {
        WCHAR name[260];
        DWORD chars = ARRAYSIZE(name);
        ASSERT_EQ(ERROR_SUCCESS, RegEnumValueW(key, i, name, &chars, NULL, NULL, NULL, NULL));
        CharUpperW(name);
        enumerated.push_back(name);
    }
    RegCloseKey(key);

    ASSERT_NE(nullptr, Open());
    DWORD selected = 99;
    std::vector<std::wstring> domains = Domains(&selected);
    ASSERT_EQ(11u, domains.size());
    std::wstring computer = ComputerName();
    ASSERT_FALSE(computer.empty());
    size_t at = std::find(domains.begin(), domains.end(), computer) - domains.begin();
    ASSERT_LT(at, domains.size());
    // The computer name sits before the first name that sorts after it.
    for (size_t i = 0; i < at; i++)
        EXPECT_LE(lstrcmpW(domains[i].c_str(), computer.c_str()), 0) << i;
    if (at + 1 < domains.size()) {
        EXPECT_GT(lstrcmpW(domains[at + 1].c_str(), computer.c_str()), 0);
    }
    domains.erase(domains.begin() + at);
    EXPECT_EQ(enumerated, domains);
    EXPECT_EQ(0u, selected);
    EXPECT_EQ(S_OK, credential_->SetComboBoxSelectedValue(4, 10));
    EXPECT_EQ(E_INVALIDARG, credential_->SetComboBoxSelectedValue(4, 11));
    Domains(&selected);
    EXPECT_EQ(10u, selected);
}

TEST_F(Tile, LogonImageOrBuiltInPicture)
{
    std::wstring dir = test::MakeTempDir(L"tileimage");
    // A 40 x 20 24-bit bitmap file.
    const BITMAPFILEHEADER header = {0x4D42, 54 + 40 * 3 * 20, 0, 0, 54};
    const BITMAPINFOHEADER info = {sizeof(info), 40, 20, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    std::string file(header.bfSize, '\0');
    memcpy(&file[0], &header, sizeof(header));
    memcpy(&file[sizeof(header)], &info, sizeof(info));
    struct {
        std::wstring name;
        std::string bytes;
        LONG width, height;
    } cases[] = {{L"picture.bmp", file, 40, 20},
                 {L"notes.bmp", "not a bitmap", 128, 128},
                 {L"missing.bmp", "", 128, 128}};
    // Read at each call: a changed value shows without a new tile.
    ASSERT_NE(nullptr, Open());
    for (const auto &c : cases) {
        std::wstring path = dir + L"\\" + c.name;
        if (!c.bytes.empty()) {
            ASSERT_TRUE(test::WriteBytes(path, c.bytes.data(), (DWORD)c.bytes.size()));
        }
        test::SetConfigString(NULL, VALUE_LOGON_IMAGE, path);
        EXPECT_EQ(std::make_pair(c.width, c.height), BitmapSize()) << test::Narrow(c.name);
    }
    test::RemoveTree(dir);
}

// ---- the interactive logon packed for Windows: one block, string buffers as offsets

struct PackedString {  // a UNICODE_STRING of the 64-bit KERB_INTERACTIVE_LOGON
    USHORT length, maximumLength;
    ULONG padding;
    ULONGLONG offset;  // of the buffer, from the block's start
};

PackedString ReadString(const BYTE *block, size_t at)
{
    PackedString s;
    memcpy(&s, block + at, sizeof(s));
    return s;
}

// The password, whose string sits at offset 40.
std::wstring PackedPassword(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION &serialization)
{
    const BYTE *block = serialization.rgbSerialization;
    if (block == nullptr || serialization.cbSerialization < 56)
        return L"<no logon block>";
    PackedString password = ReadString(block, 40);
    if (password.offset + password.length > serialization.cbSerialization)
        return L"<password outside the block>";
    return std::wstring(reinterpret_cast<const wchar_t *>(block + password.offset), password.length / 2);
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

// ---- submits that stop before anything reaches the service

// Answers the DLL's message boxes with OK from a thread of its own and notes what the
// user would have seen: each box's text and owner, and whether the progress dialog showed.
class BoxAnswerer {
public:
    BoxAnswerer() : thread_([this] { Run(); }) {}
    ~BoxAnswerer() { Stop(); }
    void Stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    std::vector<std::wstring> texts;
    std::vector<HWND> owners;
    std::vector<std::wstring> captions;
    HWND dialogOwner = nullptr;
    bool dialogSeen = false;

private:
    void Run()
    {
        while (!stop_) {
            for (HWND dialog : test::FindDialogs(GetCurrentProcessId(), IsWindowVisible))
                Look(dialog);
            Sleep(20);
        }
    }
    void Look(HWND hwnd)
    {
        if (GetDlgItem(hwnd, IDC_PROGRESS_BAR) != NULL) {
            dialogSeen = true;
            dialogOwner = GetWindow(hwnd, GW_OWNER);
            return;
        }
        if (!test::IsMessageBox(hwnd) || answered_ == hwnd)
            return;
        texts.push_back(test::ItemText(hwnd, test::MESSAGE_BOX_TEXT_ID));
        captions.push_back(test::WindowText(hwnd));
        HWND owner = GetWindow(hwnd, GW_OWNER);
        owners.push_back(owner);
        // A box of the workflow belongs to the progress dialog, which is up until it is answered.
        if (owner != NULL && GetDlgItem(owner, IDC_PROGRESS_BAR) != NULL) {
            dialogSeen = true;
            dialogOwner = GetWindow(owner, GW_OWNER);
        }
        answered_ = hwnd;
        PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
    }
    std::atomic<bool> stop_{false};
    HWND answered_ = nullptr;
    std::thread thread_;
};

// LogonUI's side: a window for OnCreatingWindow, and field strings pushed back.
#define IGNORED_EVENT(name, ...) \
    IFACEMETHODIMP name(ICredentialProviderCredential *, DWORD, __VA_ARGS__) override { return S_OK; }
class EventsSink : public ICredentialProviderCredentialEvents {
public:
    HWND window = nullptr;
    std::vector<std::pair<DWORD, std::wstring>> strings;
    LONG refs = 1;
    IFACEMETHODIMP QueryInterface(REFIID, void **ppv) override { return *ppv = nullptr, E_NOINTERFACE; }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    IFACEMETHODIMP_(ULONG) Release() override { return --refs; }
    IGNORED_EVENT(SetFieldState, CREDENTIAL_PROVIDER_FIELD_STATE)
    IGNORED_EVENT(SetFieldInteractiveState, CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE)
    IGNORED_EVENT(SetFieldCheckbox, BOOL, LPCWSTR)
    IGNORED_EVENT(SetFieldBitmap, HBITMAP)
    IGNORED_EVENT(SetFieldComboBoxSelectedItem, DWORD)
    IGNORED_EVENT(DeleteFieldComboBoxItem, DWORD)
    IGNORED_EVENT(AppendFieldComboBoxItem, LPCWSTR)
    IGNORED_EVENT(SetFieldSubmitButton, DWORD)
    IFACEMETHODIMP SetFieldString(ICredentialProviderCredential *, DWORD field, LPCWSTR psz) override
    {
        strings.emplace_back(field, psz != nullptr ? psz : L"<null>");
        return S_OK;
    }
    IFACEMETHODIMP OnCreatingWindow(HWND *phwndOwner) override { return *phwndOwner = window, S_OK; }
};

// LogonUI's window, acting on g_typedInto inside the tile's modal loops: a second submit
// then typing, as keystrokes would; or (inside the several-interfaces warning) the password
// replaced and the window gone, taking the box with it.
ICredentialProviderCredential *g_typedInto;
HRESULT g_reentrantResult;
enum { WM_SUBMIT_AGAIN = WM_APP + 1, WM_CHANGE_AND_GO };

LRESULT CALLBACK LogonWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SUBMIT_AGAIN && g_typedInto != nullptr) {
        CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response;
        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION serialization;
        g_reentrantResult = g_typedInto->GetSerialization(&response, &serialization, nullptr, nullptr);
        g_typedInto->SetStringValue(3, L"changed");
        return 0;
    }
    if (message == WM_CHANGE_AND_GO && g_typedInto != nullptr) {
        g_typedInto->SetStringValue(3, L"changed-in-the-box");
        DestroyWindow(hwnd);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND CreateLogonWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = LogonWindowProc;
    windowClass.hInstance = GetModuleHandleW(NULL);
    windowClass.lpszClassName = L"WardtileTestLogon";
    RegisterClassW(&windowClass);  // once per process; later calls find it registered
    return CreateWindowW(windowClass.lpszClassName, L"logon", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, NULL, NULL,
                         GetModuleHandleW(NULL), NULL);
}

class Submit : public Tile {
protected:
    void SetUp() override
    {
        Tile::SetUp();
        sink_.window = CreateLogonWindow();
        ASSERT_NE(nullptr, sink_.window);
        ASSERT_NE(nullptr, Open());
        ASSERT_EQ(S_OK, credential_->Advise(&sink_));
        EXPECT_EQ(2, sink_.refs);
    }
    void TearDown() override
    {
        EXPECT_EQ(S_OK, credential_->UnAdvise());
        EXPECT_EQ(1, sink_.refs);
        DestroyWindow(sink_.window);
        Tile::TearDown();
    }

    // The real service with dezsim as its logon server, and the words alice and "secret" typed.
    void StartServiceAndSwitch(test::Simulator *simulator)
    {
        ASSERT_TRUE(test::InstallService());
        ASSERT_TRUE(test::StartService());
        ASSERT_TRUE(test::StartSwitch(simulator, test::ShippedScript(L"logon-group.txt")));
        ASSERT_EQ(S_OK, credential_->SetStringValue(2, L"alice"));
        ASSERT_EQ(S_OK, credential_->SetStringValue(3, L"secret"));
    }
    // The switch saw what was submitted, not what was typed afterwards, and so did the packed
    // logon where "Negotiate" resolves (always in tilehost_interfaces' prefix: mustPack).
    static void ExpectSubmitted(test::Simulator *simulator, HRESULT hr,
                                CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response,
                                const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION &serialization, bool mustPack)
    {
        std::string received = test::Joined(test::Received(simulator->Finish()));
        test::UninstallService();
        EXPECT_NE(std::string::npos, received.find("[secret\\r\\n]")) << received;
        EXPECT_EQ(std::string::npos, received.find("changed")) << received;
        if (SUCCEEDED(hr) || mustPack) {
            EXPECT_EQ(S_OK, hr);
            EXPECT_EQ(CPGSR_RETURN_CREDENTIAL_FINISHED, response);
            EXPECT_TRUE(IsEqualCLSID(CLSID_WdCredentialProvider, serialization.clsidCredentialProvider));
            EXPECT_EQ(L"secret", PackedPassword(serialization));
            CoTaskMemFree(serialization.rgbSerialization);
        } else {
            // Wine knows no "Negotiate" package: the lookup's failure is returned as such.
            EXPECT_EQ(FACILITY_NT_BIT, hr & FACILITY_NT_BIT);
            EXPECT_EQ(CPGSR_NO_CREDENTIAL_NOT_FINISHED, response);
            EXPECT_EQ(nullptr, serialization.rgbSerialization);
        }
    }

    EventsSink sink_;
};

// Submits refused before anything reaches the service, each with one box of the tile's caption:
// words that break the shared client's rules (one of each), shown before the progress dialog,
// and a pipe of the service's name held by another program while the service is absent, which
// is never sent the password.
TEST_F(Submit, RefusedBeforeTheService)
{
    std::wstring longPassword(260, L'p');
    struct {
        const char *name;
        const wchar_t *password;
        UINT message;
        bool connects;
    } cases[] = {{"blank password", L"", IDS_CREDENTIALS_BLANK, false},
                 {"overlong password", longPassword.c_str(), IDS_CREDENTIALS_TOO_LONG, false},
                 {"pipe not the service's", L"secret", IDS_SERVICE_NOT_RUNNING, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        test::FakePipe pipe;
        ASSERT_TRUE(pipe.Listening()) << "is a wardhost service running? " << pipe.CreateError();
        ASSERT_EQ(S_OK, credential_->SetStringValue(2, L"alice"));
        ASSERT_EQ(S_OK, credential_->SetStringValue(3, c.password));
        BoxAnswerer boxes;
        EXPECT_EQ(S_FALSE, NoCredential());
        boxes.Stop();
        pipe.Stop();
        EXPECT_EQ(c.connects, pipe.Connections() >= 1);
        EXPECT_EQ("", pipe.Received());
        ASSERT_EQ(1u, boxes.texts.size());
        EXPECT_EQ(test::ModuleString(g_dll, c.message), boxes.texts[0]);
        EXPECT_EQ(test::ModuleString(g_dll, IDS_PROVIDER_CAPTION), boxes.captions[0]);
        // The progress dialog shows only once the words are sent, and belongs to LogonUI's window.
        EXPECT_EQ(c.connects, boxes.dialogSeen);
        EXPECT_EQ(sink_.window, c.connects ? boxes.dialogOwner : boxes.owners[0]);
    }
}

TEST_F(Submit, DeselectingWipesThePasswordOnScreen)
{
    ASSERT_EQ(S_OK, credential_->SetStringValue(3, L"secret"));
    ASSERT_EQ(S_OK, credential_->SetDeselected());
    EXPECT_EQ(L"", String(3));
    ASSERT_EQ(1u, sink_.strings.size());
    EXPECT_EQ(3u, sink_.strings[0].first);
    EXPECT_EQ(L"", sink_.strings[0].second);
}

TEST_F(Submit, TypingDuringTheWorkflowChangesNothingSubmitted)
{
    test::Simulator simulator;
    ASSERT_NO_FATAL_FAILURE(StartServiceAndSwitch(&simulator));
    BoxAnswerer boxes;
    g_typedInto = credential_;
    PostMessageW(sink_.window, WM_SUBMIT_AGAIN, 0, 0);  // runs before the logon worker starts
    CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response = CPGSR_NO_CREDENTIAL_FINISHED;
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION serialization = {};
    HRESULT hr = credential_->GetSerialization(&response, &serialization, nullptr, nullptr);
    g_typedInto = nullptr;
    boxes.Stop();
    ExpectSubmitted(&simulator, hr, response, serialization, false);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BUSY), g_reentrantResult);
    EXPECT_EQ(L"changed", String(3));
    for (const std::wstring &text : boxes.texts)
        EXPECT_NE(test::ModuleString(g_dll, IDS_SERVICE_NOT_RUNNING), text);
}

// ---- the several-interfaces warning (tilehost_interfaces runs these in a network namespace
// with two more addresses)

// A box that can no longer be shown ends the warning as OK (it is no reason to keep the
// user out, and asking again would spin on LogonUI's thread); what reaches the switch and
// Windows is what was submitted, not the strings freed meanwhile.
class SeveralInterfaces : public Submit {};

TEST_F(SeveralInterfaces, WarningWhoseOwnerGoesEndsAsOk)
{
    if (CountExternalIPv4Addresses() < 2)
        GTEST_SKIP() << "needs two IPv4 addresses besides 127.0.0.1 (tilehost_interfaces provides them)";
    test::Simulator simulator;
    ASSERT_NO_FATAL_FAILURE(StartServiceAndSwitch(&simulator));
    test::SetConfigDword(NULL, VALUE_MULTI_INTERFACE_CHECK, 1);
    test::SetConfigString(NULL, VALUE_MULTI_INTERFACE_MESSAGE, L"Unplug one cable");

    // LogonUI's thread, with a window of its own that LogonUI loses during the warning.
    HANDLE done = CreateEventW(NULL, TRUE, FALSE, NULL);
    HRESULT hr = E_PENDING;
    CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response = CPGSR_NO_CREDENTIAL_FINISHED;
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION serialization = {};
    BoxAnswerer boxes;
    HWND fixtureWindow = sink_.window;
    std::thread logonUi([&] {
        CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
        sink_.window = CreateLogonWindow();
        g_typedInto = credential_;
        PostMessageW(sink_.window, WM_CHANGE_AND_GO, 0, 0);  // handled in the warning's loop
        hr = credential_->GetSerialization(&response, &serialization, nullptr, nullptr);
        g_typedInto = nullptr;
        SetEvent(done);
        CoUninitialize();
    });
    if (WaitForSingleObject(done, 60000) != WAIT_OBJECT_0) {
        // The warning loop spins for good: nothing can end this process more gently.
        fprintf(stderr, "GetSerialization did not return within 60 s: the warning loop spins\n");
        fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 1);
    }
    logonUi.join();
    boxes.Stop();
    CloseHandle(done);
    EXPECT_FALSE(IsWindow(sink_.window));
    sink_.window = fixtureWindow;
    // The window went inside the warning's loop, which had replaced the password.
    ExpectSubmitted(&simulator, hr, response, serialization, true);
    EXPECT_EQ(L"changed-in-the-box", String(3));
}

}  // namespace
