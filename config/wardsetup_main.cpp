// wardsetup.exe: the administrator's configuration tool.
#include "wardsetup.h"
#include "ward_client.h"

#include <stdlib.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    return RunWardsetup(instance, __argc, __wargv, IsAdministrator());
}
