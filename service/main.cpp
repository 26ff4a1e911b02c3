// wardhost.exe entry point; everything else is in the service library.
#include "wardhost.h"

int main(int argc, char **argv)
{
    return WardhostMain(argc, argv);
}
