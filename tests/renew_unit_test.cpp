// In-process tests of "iprenew" and "finddomain": the real dialog procedures run in the
// real operation window, with adapters, domain controllers and the tick clock
// scripted through the platform table, and the time limits scaled down.
#include "test_support.h"
#include "string_tables.h"
#include "net_platform.h"
#include "operation_window.h"
#include "product_key.h"
#include "time_limits.h"
#include "wardhost.h"
#include "wardhost_res.h"

#include <gtest/gtest.h>

#include <limits.h>
#include <regex>
#include <set>
#include <stddef.h>
#include <string>
#include <vector>

namespace {

// ---- the scripted platform

struct ScriptedAdapter {
    ULONG index;
    DWORD release;  // what IpReleaseAddress answers for it
    DWORD renew;
};

const LONG TRUE_COUNT = LONG_MIN;

struct Script {
    // Interface table.
    DWORD sizeAnswer = ERROR_INSUFFICIENT_BUFFER;  // answer to the size query
    DWORD fetchAnswer = NO_ERROR;
    LONG claimedAdapters = TRUE_COUNT;  // the count written into the table
    std::vector<ScriptedAdapter> adapters;
    // Domain controllers: the probe (1-based) from which one answers; 0: never.
    int controllerFromProbe = 0;
    NET_API_STATUS foundStatus = NERR_Success;
    NET_API_STATUS missingStatus = ERROR_NO_BROWSER_SERVERS_FOUND;
    bool bufferWhenMissing = false;
    bool switchOffAtProbe = false;  // NotFindDomain set by the first probe
    // Tick clock (ms): one reading per call, the last one repeated.
    std::vector<ULONGLONG> clock = {1000000};
};

Script g_script;
std::vector<std::string> g_calls;  // every platform call in order
std::vector<DWORD> g_probeTicks;   // GetTickCount() at each enumeration
size_t g_clockReads;
PIP_INTERFACE_INFO g_table;  // the block handed to the fetch
ULONG g_tableBytes;
std::set<void *> g_enumBuffers;  // handed out and not yet freed
int g_enumAllocations, g_enumFrees;

ULONG TableBytes(size_t adapters)
{
    return (ULONG)(offsetof(IP_INTERFACE_INFO, Adapter) + adapters * sizeof(IP_ADAPTER_INDEX_MAP));
}

DWORD WINAPI ScriptedGetInterfaceInfo(PIP_INTERFACE_INFO table, PULONG size)
{
    ULONG needed = TableBytes(g_script.adapters.size());
    if (table == NULL) {
        g_calls.push_back("size");
        EXPECT_EQ(0u, *size) << "the size query passes no buffer and size 0";
        if (g_script.sizeAnswer == ERROR_INSUFFICIENT_BUFFER)
            *size = needed;
        return g_script.sizeAnswer;
    }
    g_calls.push_back("fetch");
    if (g_script.fetchAnswer != NO_ERROR)
        return g_script.fetchAnswer;
    if (*size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    ZeroMemory(table, *size);
    table->NumAdapters =
        g_script.claimedAdapters != TRUE_COUNT ? g_script.claimedAdapters
                                               : (LONG)g_script.adapters.size();
    for (size_t i = 0; i < g_script.adapters.size(); i++) {
        table->Adapter[i].Index = g_script.adapters[i].index;
        swprintf(table->Adapter[i].Name, MAX_ADAPTER_NAME, L"\\DEVICE\\TCPIP_{adapter-%lu}",
                 g_script.adapters[i].index);
    }
    g_table = table;
    g_tableBytes = *size;
    return NO_ERROR;
}

// The adapter of an entry, which must lie in the fetched table; the call is recorded.
const ScriptedAdapter *AdapterOf(const char *call, PIP_ADAPTER_INDEX_MAP entry)
{
    static const ScriptedAdapter NONE = {0, ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER};
    g_calls.push_back(call + std::to_string(entry->Index));
    const BYTE *first = reinterpret_cast<const BYTE *>(g_table ? g_table->Adapter : NULL);
    const BYTE *at = reinterpret_cast<const BYTE *>(entry);
    if (g_table == NULL || at < first ||
        at + sizeof(*entry) > reinterpret_cast<const BYTE *>(g_table) + g_tableBytes ||
        (at - first) % sizeof(*entry) != 0) {
        ADD_FAILURE() << "adapter entry outside the fetched table";
        return &NONE;
    }
    for (const ScriptedAdapter &adapter : g_script.adapters) {
        if (adapter.index == entry->Index)
            return &adapter;
    }
    return &NONE;
}

DWORD WINAPI ScriptedIpReleaseAddress(PIP_ADAPTER_INDEX_MAP entry)
{
    return AdapterOf("release ", entry)->release;
}

DWORD WINAPI ScriptedIpRenewAddress(PIP_ADAPTER_INDEX_MAP entry)
{
    return AdapterOf("renew ", entry)->renew;
}

NET_API_STATUS WINAPI ScriptedNetServerEnum(LMCSTR serverName, DWORD level, LPBYTE *buffer,
                                            DWORD preferredMaximum, LPDWORD entriesRead,
                                            LPDWORD totalEntries, DWORD serverType,
                                            LMCSTR domain, LPDWORD resumeHandle)
{
    g_calls.push_back("enum");
    g_probeTicks.push_back(GetTickCount());
    if (g_script.switchOffAtProbe)
        test::SetConfigDword(NULL, VALUE_NOT_FIND_DOMAIN, 1);
    EXPECT_EQ(nullptr, serverName);
    EXPECT_EQ(101u, level);
    EXPECT_EQ(MAX_PREFERRED_LENGTH, preferredMaximum);
    EXPECT_EQ(0x18u, serverType);
    EXPECT_EQ(nullptr, domain) << "the workstation's primary domain";
    EXPECT_TRUE(resumeHandle != NULL && *resumeHandle == 0);
    if (buffer == NULL || entriesRead == NULL || totalEntries == NULL)
        return ERROR_INVALID_PARAMETER;
    *buffer = NULL;
    *entriesRead = *totalEntries = 0;
    bool found = g_script.controllerFromProbe > 0 &&
                 (int)g_probeTicks.size() >= g_script.controllerFromProbe;
    if (found || g_script.bufferWhenMissing) {
        auto info = static_cast<SERVER_INFO_101 *>(
            HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(SERVER_INFO_101)));
        info->sv101_name = const_cast<LMSTR>(L"DC1");
        info->sv101_type = SV_TYPE_DOMAIN_CTRL;
        *buffer = reinterpret_cast<LPBYTE>(info);
        g_enumBuffers.insert(info);
        g_enumAllocations++;
        *entriesRead = *totalEntries = found ? 1 : 0;
    }
    return found ? g_script.foundStatus : g_script.missingStatus;
}

NET_API_STATUS WINAPI ScriptedNetApiBufferFree(LPVOID buffer)
{
    g_calls.push_back("free");
    if (g_enumBuffers.erase(buffer) != 1) {
        ADD_FAILURE() << "freed a buffer the enumeration did not hand out";
        return ERROR_INVALID_PARAMETER;
    }
    g_enumFrees++;
    HeapFree(GetProcessHeap(), 0, buffer);
    return NERR_Success;
}

ULONGLONG ScriptedTickCount()
{
    size_t at = g_clockReads < g_script.clock.size() ? g_clockReads : g_script.clock.size() - 1;
    g_clockReads++;
    return g_script.clock[at];
}

using test::Joined;

const NetPlatform SCRIPTED_PLATFORM = {
    ScriptedGetInterfaceInfo, ScriptedIpReleaseAddress, ScriptedIpRenewAddress,
    ScriptedNetServerEnum,    ScriptedNetApiBufferFree, ScriptedTickCount,
    getaddrinfo,              freeaddrinfo,             GetAdaptersAddresses,
};

// The renewal delay and the probe interval at a twentieth; the budget is measured by the
// scripted clock.
const TimeLimitTable SCALED_LIMITS = [] {
    TimeLimitTable limits = REAL_TIME_LIMITS;
    limits.renewDelayMs = 200;
    limits.searchNextProbeMs = 250;
    limits.searchBudgetMs = 6000;
    return limits;
}();
// GetTickCount and the timers need not agree to the millisecond.
const DWORD TICK_SLACK_MS = 20;

// A case of a table starts from its script with nothing called yet. The buffers handed
// out stay counted across cases: the tear-down finds any left.
void Reset()
{
    g_script = Script();
    g_calls.clear();
    g_probeTicks.clear();
    g_clockReads = 0;
    g_table = NULL;
    g_tableBytes = 0;
    g_enumAllocations = g_enumFrees = 0;
}

// Every case starts from an empty script and key, with the scripted calls and the scaled
// limits installed.
class Scripted : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetTimeLimits(&SCALED_LIMITS);
        Reset();
        g_enumBuffers.clear();
        test::ClearProductKey();
        SetNetPlatform(&SCRIPTED_PLATFORM);
    }
    void TearDown() override
    {
        SetNetPlatform(NULL);
        SetTimeLimits(NULL);
        EXPECT_TRUE(g_enumBuffers.empty()) << g_enumBuffers.size() << " buffers not freed";
        for (void *buffer : g_enumBuffers)
            HeapFree(GetProcessHeap(), 0, buffer);
        LogClose();
        test::ClearProductKey();
        if (!logDir_.empty())
            test::RemoveTree(logDir_);
    }
    // Logs to a fresh file; TraceLines() then returns the messages after the banner.
    void StartLog()
    {
        logPath_ = test::LogToTempFile(L"portgate-renew", &logDir_);
        LogOpen();
    }
    std::vector<std::string> TraceLines()
    {
        std::vector<std::string> lines;
        std::string log = test::ReadFileBytes(logPath_);
        std::regex line("\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[SERVICE \\] ([^\r\n]*)\r\n");
        for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) {
            if ((*it)[1] != "*** START Portgate for Vista Service ***")
                lines.push_back((*it)[1]);
        }
        return lines;
    }
    std::wstring logDir_, logPath_;
};

// The trace of the handlers run, in order: each handler's first word is its name, which
// opens and closes its lines; the others are what it logs in between.
std::vector<std::string> Trace(std::initializer_list<std::vector<std::string>> handlers)
{
    std::vector<std::string> lines;
    for (const std::vector<std::string> &handler : handlers) {
        lines.push_back(handler[0] + "() --- start ---");
        lines.insert(lines.end(), handler.begin() + 1, handler.end());
        lines.push_back(handler[0] + "() --- end ---");
    }
    return lines;
}

// ---- the operation window, bounded

// Runs `procedure` in the operation window. The harness adds what a test needs around
// it: a bound after which the window ends with OUT_OF_TIME, a foreign timer and a
// Cancel command that the procedure must ignore, and the window text at each tick.
const INT_PTR OUT_OF_TIME = 99;
const UINT_PTR BOUND_TIMER = 1;
const UINT_PTR FOREIGN_TIMER = 7;

struct Harness {
    DLGPROC procedure;
    DWORD boundMs;
    bool foreignTimerAndCancel;
    std::vector<std::wstring> textsAtTicks;
} g_harness;

INT_PTR CALLBACK HarnessProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetTimer(window, BOUND_TIMER, g_harness.boundMs, NULL);
        if (g_harness.foreignTimerAndCancel) {
            SetTimer(window, FOREIGN_TIMER, 10, NULL);
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        }
    } else if (message == WM_TIMER && wParam == BOUND_TIMER) {
        EndDialog(window, OUT_OF_TIME);
        return TRUE;
    } else if (message == WM_TIMER) {
        if (wParam == FOREIGN_TIMER)
            KillTimer(window, FOREIGN_TIMER);  // one foreign tick is enough
        wchar_t text[260] = L"";
        GetDlgItemTextW(window, IDC_MESSAGE, text, ARRAYSIZE(text));
        g_harness.textsAtTicks.push_back(text);
    }
    return g_harness.procedure(window, message, wParam, lParam);
}

struct WindowRun {
    INT_PTR result;
    DWORD elapsedMs;
    std::wstring message;
};

WindowRun RunBounded(DLGPROC procedure, DWORD boundMs, bool foreignTimerAndCancel = false)
{
    g_harness = Harness{procedure, boundMs, foreignTimerAndCancel, {}};
    SetResultMessage(L"");
    DWORD start = GetTickCount();
    INT_PTR result = RunOperationWindow(HarnessProc, 0);
    return WindowRun{result, GetTickCount() - start, ResultMessage};
}

// ---- RenewAllAdapters

struct RenewCase {
    const char *name;
    std::vector<ScriptedAdapter> adapters;
    DWORD expected;
    const char *calls;
    DWORD sizeAnswer = ERROR_INSUFFICIENT_BUFFER;
    DWORD fetchAnswer = NO_ERROR;
    LONG claimedAdapters = TRUE_COUNT;
};

const ScriptedAdapter A11 = {11, NO_ERROR, NO_ERROR}, A12 = {12, NO_ERROR, NO_ERROR};
const char ALL_FOUR[] = "[size][fetch][release 11][release 12][renew 11][renew 12]";

const RenewCase RENEW_CASES[] = {
    {"two adapters", {A11, A12}, NO_ERROR, ALL_FOUR},
    {"no lease to act on counts as done",
     {{11, ERROR_FILE_NOT_FOUND, NO_ERROR}, {12, NO_ERROR, ERROR_FILE_NOT_FOUND}}, NO_ERROR, ALL_FOUR},
    {"second release fails: the first stays released, nothing renewed",
     {A11, {12, ERROR_ACCESS_DENIED, NO_ERROR}, {13, NO_ERROR, NO_ERROR}}, ERROR_ACCESS_DENIED,
     "[size][fetch][release 11][release 12]"},
    {"first renewal fails and stops the rest", {{11, NO_ERROR, ERROR_GEN_FAILURE}, A12}, ERROR_GEN_FAILURE,
     "[size][fetch][release 11][release 12][renew 11]"},
    {"platform without DHCP control", {{11, ERROR_NOT_SUPPORTED, ERROR_NOT_SUPPORTED}}, ERROR_NOT_SUPPORTED,
     "[size][fetch][release 11]"},
    {"an empty table", {}, NO_ERROR, "[size][fetch]"},
    {"no adapters at all", {}, ERROR_NO_DATA, "[size]", ERROR_NO_DATA},
    {"size query refused", {A11}, ERROR_NOT_SUPPORTED, "[size]", ERROR_NOT_SUPPORTED},
    {"size query answers success without a size", {A11}, ERROR_NO_DATA, "[size]", NO_ERROR},
    {"fetch fails", {A11}, ERROR_INVALID_PARAMETER, "[size][fetch]", ERROR_INSUFFICIENT_BUFFER,
     ERROR_INVALID_PARAMETER},
    {"count beyond the block is not believed", {A11, A12}, NO_ERROR, ALL_FOUR, ERROR_INSUFFICIENT_BUFFER,
     NO_ERROR, 40},
    {"negative count", {A11}, NO_ERROR, "[size][fetch]", ERROR_INSUFFICIENT_BUFFER, NO_ERROR, -5},
};

// Each case runs again as "iprenew" switched on (any non-zero value is on): the window
// answers after its delay by what the renewal returned.
TEST_F(Scripted, RenewAllAdaptersReleasesAllThenRenewsAll)
{
    DWORD enableDhcp = 1;
    for (const RenewCase &c : RENEW_CASES) {
        for (bool inWindow : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (inWindow ? ", in the window" : ""));
            Reset();
            g_script.sizeAnswer = c.sizeAnswer;
            g_script.fetchAnswer = c.fetchAnswer;
            g_script.adapters = c.adapters;
            g_script.claimedAdapters = c.claimedAdapters;
            if (!inWindow) {
                EXPECT_EQ(c.expected, RenewAllAdapters());
            } else {
                test::SetConfigDword(NULL, VALUE_ENABLE_DHCP, enableDhcp++);
                WindowRun run = RunBounded(IpRenewDlgProc, 15000);
                EXPECT_EQ(c.expected == NO_ERROR ? OPERATION_SUCCESS : OPERATION_FAILURE, run.result);
                EXPECT_EQ(c.expected == NO_ERROR ? L"" : test::ModuleString(NULL, IDS_DHCP_ERROR),
                          run.message);
                EXPECT_GE(run.elapsedMs, SCALED_LIMITS.renewDelayMs - TICK_SLACK_MS);
            }
            EXPECT_EQ(c.calls, Joined(g_calls));
        }
    }
}

TEST_F(Scripted, FindDomainControllerAnswersAndFreesTheBuffer)
{
    struct {
        const char *name;
        int controllerFromProbe;  // 1: found at this probe, 0: not
        NET_API_STATUS foundStatus, missingStatus;
        bool bufferWhenMissing;
        bool expected;
    } cases[] = {
        {"success with a list", 1, NERR_Success, 0, false, true},
        {"partial list", 1, ERROR_MORE_DATA, 0, false, true},
        {"no browser servers", 0, 0, ERROR_NO_BROWSER_SERVERS_FOUND, false, false},
        {"success without a buffer", 0, 0, NERR_Success, false, false},
        {"failure that still hands back a buffer", 0, 0, ERROR_ACCESS_DENIED, true, false},
        {"more data without a buffer", 0, 0, ERROR_MORE_DATA, false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        g_script.controllerFromProbe = c.controllerFromProbe;
        g_script.foundStatus = c.foundStatus;
        g_script.missingStatus = c.missingStatus;
        g_script.bufferWhenMissing = c.bufferWhenMissing;
        EXPECT_EQ(c.expected, FindDomainController());
        EXPECT_EQ(g_enumAllocations, g_enumFrees);
        EXPECT_EQ(1u, g_probeTicks.size());
    }
}

// ---- "iprenew" in its window

TEST_F(Scripted, IpRenewSwitchedOffEndsAfterItsDelayTouchingNothing)
{
    StartLog();
    g_script.adapters = {{11, NO_ERROR, NO_ERROR}};
    // The foreign timer and the Cancel command must not end the window.
    WindowRun run = RunBounded(IpRenewDlgProc, 15000, /*foreignTimerAndCancel*/ true);
    EXPECT_EQ(OPERATION_SUCCESS, run.result);
    EXPECT_GE(run.elapsedMs, SCALED_LIMITS.renewDelayMs - TICK_SLACK_MS);
    EXPECT_EQ(L"", run.message);
    EXPECT_EQ("", Joined(g_calls));
    std::vector<std::wstring> texts(2, test::ModuleString(NULL, IDS_REQUESTING_ADDRESS));
    EXPECT_EQ(texts, g_harness.textsAtTicks);
    EXPECT_EQ(Trace({{"IpRenewDlgInit"},
                     {"IpRenewDlgOnTimer", "  nTimerID = 7"},
                     {"IpRenewDlgOnTimer", "  nTimerID = 30000"}}),
              TraceLines());
}

// ---- "finddomain" in its window

TEST_F(Scripted, FindDomainProbesAtOnceThenAtItsIntervalWithinTheBudget)
{
    const ULONGLONG budget = SCALED_LIMITS.searchBudgetMs;
    struct {
        const char *name;
        int controllerFromProbe;
        std::vector<ULONGLONG> clock;  // start, then one reading per tick (ms)
        INT_PTR result;
        UINT message;
        size_t probes;
    } cases[] = {
        {"found at the first probe", 1, {1000000}, OPERATION_SUCCESS, 0, 1},
        {"found at the second probe", 2, {1000000}, OPERATION_SUCCESS, 0, 2},
        {"budget spent after two probes", 0,
         {1000000, 1000000, 1000000 + budget - 1, 1000000 + budget}, OPERATION_FAILURE,
         IDS_DC_NOT_FOUND, 2},
        {"budget spent at the first tick", 0, {5000, 5000 + budget + 5000}, OPERATION_FAILURE,
         IDS_DC_NOT_FOUND, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        g_script.controllerFromProbe = c.controllerFromProbe;
        g_script.clock = c.clock;
        WindowRun run = RunBounded(FindDomainDlgProc, 30000);
        ASSERT_NE(OUT_OF_TIME, run.result) << "still searching after 30 s";
        EXPECT_EQ(c.result, run.result);
        EXPECT_EQ(c.message ? test::ModuleString(NULL, c.message) : L"", run.message);
        ASSERT_EQ(c.probes, g_probeTicks.size()) << Joined(g_calls);
        EXPECT_EQ(g_enumAllocations, g_enumFrees);
        // No probe before the interval has passed since the last one.
        for (size_t i = 1; i < g_probeTicks.size(); i++) {
            DWORD gap = g_probeTicks[i] - g_probeTicks[i - 1];
            EXPECT_GE(gap, SCALED_LIMITS.searchNextProbeMs - TICK_SLACK_MS) << "probe " << i + 1;
        }
    }
}

// The setting is read at every tick: set before the start, the search ends at its first
// tick unprobed; set by the first probe, at the next tick, the interval later.
TEST_F(Scripted, FindDomainSwitchedOffEndsAtTheNextTick)
{
    StartLog();
    test::SetConfigDword(NULL, VALUE_NOT_FIND_DOMAIN, 1);
    g_script.controllerFromProbe = 1;
    WindowRun run = RunBounded(FindDomainDlgProc, 5000);
    EXPECT_EQ(OPERATION_SUCCESS, run.result);
    EXPECT_LT(run.elapsedMs, 1000u);
    EXPECT_EQ("", Joined(g_calls));
    EXPECT_EQ(std::vector<std::wstring>{test::ModuleString(NULL, IDS_SEARCHING_DC)}, g_harness.textsAtTicks);

    Reset();
    test::SetConfigDword(NULL, VALUE_NOT_FIND_DOMAIN, 0);
    g_script.switchOffAtProbe = true;
    run = RunBounded(FindDomainDlgProc, 15000);
    EXPECT_EQ(OPERATION_SUCCESS, run.result);
    EXPECT_EQ(L"", run.message);
    EXPECT_EQ("[enum]", Joined(g_calls));
    EXPECT_GE(run.elapsedMs, SCALED_LIMITS.searchNextProbeMs - TICK_SLACK_MS);
    EXPECT_EQ(Trace({{"FindDomainDlgInit"}, {"FindDomainDlgOnTimer"},  // switched off before
                     {"FindDomainDlgInit"}, {"FindDomainDlgOnTimer"}, {"FindDomainDlgOnTimer"}}),
              TraceLines());
}

}  // namespace
