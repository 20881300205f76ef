// Waits until it is ended (wineserver -k). Under Wine, once the last
// Windows program of a prefix has ended, Wine stops its own services, and
// the next program waits some two seconds for them to start again; Windows
// never stops them. Left running by the Wine tests' fixture and by
// bench/wine_upgrade_bench, it keeps them up, so that each program run
// there costs what it would on Windows.

#include <windows.h>

int main()
{
    ::Sleep(INFINITE);
    return 0;
}
