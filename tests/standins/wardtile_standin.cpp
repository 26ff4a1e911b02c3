// Stand-in for wardtile.dll in the About-box tests: nothing but a version resource.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
