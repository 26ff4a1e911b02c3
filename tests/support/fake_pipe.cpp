// The test's own server under the service's pipe name; see fake_pipe.h.
#include "fake_pipe.h"

#include "ward_names.h"

namespace test {

FakePipe::FakePipe(std::vector<PipeReply> replies) : replies_(std::move(replies))
{
    stop_ = CreateEventW(NULL, TRUE, FALSE, NULL);
    release_ = CreateEventW(NULL, TRUE, FALSE, NULL);
    ioEvent_ = CreateEventW(NULL, TRUE, FALSE, NULL);
    pipe_ = CreateNamedPipeW(WARD_PIPE_NAME, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                             1 /* instances */, 1024, 1024, 0, NULL);
    if (pipe_ == INVALID_HANDLE_VALUE)
        createError_ = GetLastError();
    else
        thread_ = std::thread([this] { Serve(); });
}

FakePipe::~FakePipe()
{
    Stop();
    if (pipe_ != INVALID_HANDLE_VALUE)
        CloseHandle(pipe_);
    CloseHandle(ioEvent_);
    CloseHandle(release_);
    CloseHandle(stop_);
}

std::string FakePipe::Received()
{
    std::lock_guard<std::mutex> guard(lock_);
    return received_;
}

void FakePipe::Stop()
{
    SetEvent(stop_);
    if (thread_.joinable())
        thread_.join();
}

// Completes an overlapped call that went pending; false when stopped or when it failed.
// A message longer than the buffer counts as read, its rest comes with the next read.
bool FakePipe::Wait(OVERLAPPED *io, DWORD *bytes)
{
    if (GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA)
        return false;
    HANDLE waits[] = {io->hEvent, stop_};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelIo(pipe_);
        GetOverlappedResult(pipe_, io, bytes, TRUE);
        return false;
    }
    SetLastError(0);
    return GetOverlappedResult(pipe_, io, bytes, FALSE) || GetLastError() == ERROR_MORE_DATA;
}

void FakePipe::Serve()
{
    size_t answered = 0;
    while (WaitForSingleObject(stop_, 0) != WAIT_OBJECT_0) {
        OVERLAPPED io = {};
        io.hEvent = ioEvent_;
        DWORD bytes = 0;
        ResetEvent(ioEvent_);
        if (!ConnectNamedPipe(pipe_, &io) && GetLastError() != ERROR_PIPE_CONNECTED &&
            !Wait(&io, &bytes))
            break;
        connections_++;
        // A client sends its request and waits; it closes its end after the reply, or at
        // once when it refused the server: read until then.
        for (;;) {
            char buffer[1024];
            bytes = 0;
            ResetEvent(ioEvent_);
            BOOL whole = ReadFile(pipe_, buffer, sizeof(buffer), &bytes, &io);
            if (!whole && !Wait(&io, &bytes))
                break;
            whole = whole || GetLastError() != ERROR_MORE_DATA;
            {
                std::lock_guard<std::mutex> guard(lock_);
                received_.append(buffer, bytes);
            }
            if (!whole || answered >= replies_.size())
                continue;
            const PipeReply &reply = replies_[answered++];
            HANDLE waits[] = {release_, stop_};
            if (reply.held && WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
                break;
            ResetEvent(ioEvent_);
            if (!WriteFile(pipe_, reply.bytes.data(), (DWORD)reply.bytes.size(), &bytes, &io) &&
                !Wait(&io, &bytes))
                break;
        }
        DisconnectNamedPipe(pipe_);
    }
}

}  // namespace test
