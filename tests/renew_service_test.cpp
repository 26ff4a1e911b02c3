// "iprenew" and "finddomain" against the installed service at their real time limits,
// and the one pipe instance held while an operation runs. What the renewal and the search
// answer is tested in-process, with the platform's calls stood in for.
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {


// A client that has sent its request and waits for the reply with an overlapped read.
// Once Start() returns, the service holds this connection, so the test can try others.
class PendingCall {
public:
    ~PendingCall()
    {
        if (pipe_ != INVALID_HANDLE_VALUE) {
            CancelIo(pipe_);
            DWORD ignored;
            GetOverlappedResult(pipe_, &read_, &ignored, TRUE);
            CloseHandle(pipe_);
        }
        if (event_ != NULL)
            CloseHandle(event_);
    }

    bool Start(const std::wstring &request)
    {
        start_ = GetTickCount();
        while ((pipe_ = CreateFileW(WARD_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL)) ==
               INVALID_HANDLE_VALUE) {
            if (GetLastError() != ERROR_PIPE_BUSY || GetTickCount() - start_ > 10000)
                return false;
            WaitNamedPipeW(WARD_PIPE_NAME, 1000);
        }
        DWORD mode = PIPE_READMODE_MESSAGE;
        event_ = CreateEventW(NULL, TRUE, FALSE, NULL);
        if (event_ == NULL || !SetNamedPipeHandleState(pipe_, &mode, NULL, NULL))
            return false;
        OVERLAPPED write = {};
        write.hEvent = event_;
        if (!WriteFile(pipe_, request.data(), (DWORD)(request.size() * sizeof(wchar_t)), NULL,
                       &write) &&
            GetLastError() != ERROR_IO_PENDING)
            return false;
        DWORD written;
        if (WaitForSingleObject(event_, 5000) != WAIT_OBJECT_0 ||
            !GetOverlappedResult(pipe_, &write, &written, FALSE))
            return false;
        // The read is pending before the service can answer, as in CallNamedPipeW, so
        // the reply can't be lost to the service's disconnect.
        ResetEvent(event_);
        read_.hEvent = event_;
        return ReadFile(pipe_, buffer_, sizeof(buffer_), NULL, &read_) ||
               GetLastError() == ERROR_IO_PENDING;
    }

    // Waits at most timeoutMs for the reply.
    std::wstring Reply(DWORD timeoutMs)
    {
        if (WaitForSingleObject(event_, timeoutMs) != WAIT_OBJECT_0)
            return L"<no reply>";
        elapsed_ = GetTickCount() - start_;
        DWORD bytes;
        if (!GetOverlappedResult(pipe_, &read_, &bytes, FALSE))
            return L"<error " + std::to_wstring(GetLastError()) + L">";
        return std::wstring(buffer_, bytes / sizeof(wchar_t));
    }
    // From the start of the call to the reply.
    DWORD ElapsedMs() const { return elapsed_; }

private:
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = NULL;
    OVERLAPPED read_ = {};
    wchar_t buffer_[260] = {};
    DWORD start_ = 0, elapsed_ = 0;
};

class RenewService : public test::ServiceTestBase {
protected:
    void TearDown() override
    {
        ServiceTestBase::TearDown();
        if (!logDir_.empty())
            test::RemoveTree(logDir_);
    }
    // The service reads the log path when it starts.
    void LogToFile()
    {
        logPath_ = test::LogToTempFile(L"portgate-renew-service", &logDir_);
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
// missing), which touches no adapter.
TEST_F(RenewService, IpRenewAnswersNoEarlierThanItsDelay)
{
    InstallAndStart();
    PendingCall call;
    ASSERT_TRUE(call.Start(L"iprenew"));
    EXPECT_EQ(L"OK", call.Reply(15000));
    EXPECT_GE(call.ElapsedMs(), 4000u);
}

TEST_F(RenewService, FindDomainSwitchedOffAnswersAtTheFirstTick)
{
    test::SetConfigDword(NULL, VALUE_NOT_FIND_DOMAIN, 1);
    InstallAndStart();
    PendingCall call;
    ASSERT_TRUE(call.Start(L"finddomain"));
    EXPECT_EQ(L"OK", call.Reply(5000));
    EXPECT_LT(call.ElapsedMs(), 3000u) << "the search's next probe is 5 s later";
}

// A search that found nothing at its first probe is ended by switching it off, which its
// next tick reads: that tick comes no earlier than the shipped interval of 5 s. Until
// then the only instance is held, and a second client is refused at once.
TEST_F(RenewService, SecondClientIsRefusedAtOnceWhileAnOperationRuns)
{
    LogToFile();
    InstallAndStart();
    const char TICK_END[] = "FindDomainDlgOnTimer() --- end ---";
    {
        test::SetConfigDword(NULL, VALUE_NOT_FIND_DOMAIN, 0);
        PendingCall call;
        ASSERT_TRUE(call.Start(L"finddomain"));

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
