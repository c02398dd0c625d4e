// Load entry of the Windows DLL. The library keeps no state, so there is
// nothing to set up at load or to release at unload, for any reason.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD /*reason*/, LPVOID /*reserved*/) { return TRUE; }

#if defined(_MSC_VER)
// The platform compiler's objects refer to this symbol whenever they use
// floating point; its C runtime would define it, and this DLL links none.
extern "C" {
// NOLINTNEXTLINE(bugprone-reserved-identifier): the name is fixed by the platform.
int _fltused = 0;
}
#endif
