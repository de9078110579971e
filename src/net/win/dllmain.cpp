#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <ctime>

// Winsock must be started before any socket call; the transaction counter's
// first value comes from rand, so the generator is seeded here as well.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(1, 1), &data) != 0) return FALSE;
    std::srand(static_cast<unsigned>(std::time(nullptr)));
  }
  return TRUE;
}
