// Process start-up: the command line the saver acts on is whatever follows
// the program's own name, quoted or not, without the blanks and control
// characters in between.
#include "host/host.h"

LPCSTR SaverCommandTail(LPCSTR fullCommandLine)
{
    const unsigned char *scan = reinterpret_cast<const unsigned char *>(fullCommandLine ? fullCommandLine : "");
    if (*scan == '"') {
        ++scan;
        while (*scan && *scan != '"')
            ++scan;
        if (*scan == '"')
            ++scan;
    } else {
        while (*scan > ' ')
            ++scan;
    }
    while (*scan >= 0x01 && *scan <= 0x20)
        ++scan;
    return reinterpret_cast<LPCSTR>(scan);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR, int showCommand)
{
    return SaverMain(instance, previousInstance, SaverCommandTail(GetCommandLineA()), showCommand);
}
