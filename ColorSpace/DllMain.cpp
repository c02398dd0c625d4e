// Load entry of the Windows DLL. The library keeps no state, so there is
// nothing to set up at load or to release at unload, for any reason.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD /*reason*/, LPVOID /*reserved*/) { return TRUE; }
