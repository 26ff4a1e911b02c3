// "iprenew" and "finddomain" against the installed service at their real time limits,
// and the one pipe instance held while an operation runs. What the renewal and the search
// answer is tested in-process, with the platform's calls stood in for.
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

// A call made on a thread of its own, so that the test can try other clients while the
// service holds this one.
class PendingCall {
public:
    explicit PendingCall(const std::wstring &request) : state_(std::make_shared<State>())
    {
        // Detached: a call the service never answers ends with the service, in the tear-down.
        std::thread([state = state_, request] {
            DWORD start = GetTickCount(), error;
            std::wstring reply;
            if (!test::CallPipeRaw(request.data(), (DWORD)(request.size() * sizeof(wchar_t)), &reply,
                                   &error, 10000))
                reply = L"<error " + std::to_wstring(error) + L">";
            std::lock_guard<std::mutex> hold(state->lock);
            state->elapsedMs = GetTickCount() - start;
            state->reply = reply;
            state->done.notify_all();
        }).detach();
    }
    // Waits at most timeoutMs for the reply.
    std::wstring Reply(DWORD timeoutMs)
    {
        std::unique_lock<std::mutex> hold(state_->lock);
        state_->done.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                              [this] { return !state_->reply.empty(); });
        return state_->reply.empty() ? L"<no reply>" : state_->reply;
    }
    // From the start of the call to the reply.
    DWORD ElapsedMs() const { return state_->elapsedMs; }

private:
    struct State {
        std::mutex lock;
        std::condition_variable done;
        std::wstring reply;
        DWORD elapsedMs = 0;
    };
    std::shared_ptr<State> state_;
};

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
    // Polls the log, at most timeoutMs, until `line` has been written `count` times.
    bool WaitForLogCount(const char *line, size_t count, DWORD timeoutMs)
    {
        DWORD start = GetTickCount();
        while (LogCount(line) < count) {
            if (GetTickCount() - start > timeoutMs)
                return false;
            Sleep(20);
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
    {
        PendingCall call(L"iprenew");
        EXPECT_EQ(L"OK", call.Reply(15000));
        EXPECT_GE(call.ElapsedMs(), 4000u);
    }
    const char TICK_END[] = "FindDomainDlgOnTimer() --- end ---";
    {
        test::SetConfigDword(NULL, VALUE_NOT_FIND_DOMAIN, 0);
        PendingCall call(L"finddomain");
        // The search has begun: the service holds this client's instance.
        ASSERT_TRUE(WaitForLogCount("FindDomainDlgInit() --- start ---", 1, 10000));

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

        ASSERT_TRUE(WaitForLogCount(TICK_END, 1, 5000));
        test::SetConfigDword(NULL, VALUE_NOT_FIND_DOMAIN, 1);
        EXPECT_EQ(L"OK", call.Reply(15000));
        EXPECT_GE(call.ElapsedMs(), 5000u);
        EXPECT_EQ(2u, LogCount(TICK_END));
    }
    EXPECT_EQ(L"NG", test::CallPipe(L"hello"));
}

}  // namespace
