// wardhost.exe entry point; everything else is in the service library.
#include "wardhost.h"

int main(int argc, char **argv)
{
    int checked = SelfCheckCommand(argc, argv);
    if (checked != SELF_CHECK_NOT_ASKED)
        return checked;
    return WardhostMain(argc, argv);
}
