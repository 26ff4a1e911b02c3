// "iprenew" and "finddomain" against the installed service at their real time limits,
// and the one pipe instance held while an operation runs. What the renewal and the search
// answer is tested in-process, with the platform's calls stood in for.
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

namespace {

struct Answer {
    std::wstring reply;
    DWORD elapsedMs;
};

// A call on a thread of its own, so that the test can try other clients while the service
// holds this one. Detached: a call the service never answers ends with the service, in the
// tear-down.
std::shared_future<Answer> Call(const std::wstring &request)
{
    auto answer = std::make_shared<std::promise<Answer>>();
    std::thread([answer, request] {
        DWORD start = GetTickCount();
        std::wstring reply = test::CallPipe(request);
        answer->set_value({reply, GetTickCount() - start});
    }).detach();
    return answer->get_future().share();
}

class RenewService : public test::ServiceTestBase {
protected:
    void TearDown() override
    {
        ServiceTestBase::TearDown();
        if (!logDir_.empty())
            test::RemoveTree(logDir_);
    }
    size_t LogCount(const char *line)
    {
        std::string log = test::ReadFileBytes(logPath_);
        size_t count = 0;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
            count++;
        return count;
    }
    // Polls the log, at most timeoutMs, until it holds `line`.
    bool WaitForLog(const char *line, DWORD timeoutMs)
    {
        for (DWORD start = GetTickCount(); LogCount(line) == 0; Sleep(20)) {
            if (GetTickCount() - start > timeoutMs)
                return false;
        }
        return true;
    }
    std::wstring logDir_, logPath_;
};

// The shipped delay of 4 s: not before it, with the renewal switched off (EnableDHCP
// missing), which touches no adapter. Then a search that found nothing at its first probe
// is ended by switching it off, which its next tick reads: that tick comes no earlier than
// the shipped interval of 5 s. Until then the only instance is held, and a second client
// is refused at once.
TEST_F(RenewService, OperationsWaitTheirTimesAndHoldThePipe)
{
    logPath_ = test::LogToTempFile(L"portgate-renew-service", &logDir_);  // read at the start
    InstallAndStart();
    std::shared_future<Answer> call = Call(L"iprenew");
    ASSERT_EQ(std::future_status::ready, call.wait_for(std::chrono::seconds(15)));
    EXPECT_EQ(L"OK", call.get().reply);
    EXPECT_GE(call.get().elapsedMs, 4000u);
    const char TICK_END[] = "FindDomainDlgOnTimer() --- end ---";
    test::SetConfigDword(NULL, VALUE_NOT_FIND_DOMAIN, 0);
    call = Call(L"finddomain");
    // The search has begun: the service holds this client's instance.
    ASSERT_TRUE(WaitForLog("FindDomainDlgInit() --- start ---", 10000));

    std::wstring reply;
    DWORD error;
    DWORD start = GetTickCount();
    EXPECT_FALSE(test::CallPipeRaw(L"hello", 10, &reply, &error, NMPWAIT_NOWAIT));
    EXPECT_LT(GetTickCount() - start, 3000u) << "the search's next probe is 5 s later";
    // Windows reports the busy instance; Wine's CallNamedPipeW reports the failed
    // NOWAIT wait it makes after it.
    EXPECT_TRUE(error == ERROR_PIPE_BUSY || error == ERROR_SEM_TIMEOUT) << error;
    SetLastError(0xdeadbeef);
    HANDLE second = CreateFileW(WARD_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(INVALID_HANDLE_VALUE, second);
    EXPECT_EQ((DWORD)ERROR_PIPE_BUSY, GetLastError());
    if (second != INVALID_HANDLE_VALUE)
        CloseHandle(second);

    ASSERT_TRUE(WaitForLog(TICK_END, 5000));
    test::SetConfigDword(NULL, VALUE_NOT_FIND_DOMAIN, 1);
    ASSERT_EQ(std::future_status::ready, call.wait_for(std::chrono::seconds(15)));
    EXPECT_EQ(L"OK", call.get().reply);
    EXPECT_GE(call.get().elapsedMs, 5000u);
    EXPECT_EQ(2u, LogCount(TICK_END));
    EXPECT_EQ(L"NG", test::CallPipe(L"hello"));
}

}  // namespace
