// wardsetup.exe: the administrator's configuration tool.
#include "wardsetup.h"
#include "ward_client.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    return RunWardsetup(instance, GetCommandLineW(), IsAdministrator());
}
