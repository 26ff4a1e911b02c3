// The names the service is known by: its pipe, which both clients call, and its name with
// the service control manager. One definition for the service and its clients.
#pragma once

#define WARD_PIPE_NAME    L"\\\\.\\pipe\\wardhost"
#define WARD_SERVICE_NAME L"wardhost"
