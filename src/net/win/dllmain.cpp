#include <winsock2.h>
#include <windows.h>

// Winsock must be started before any socket call.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(1, 1), &data) != 0) return FALSE;
  }
  return TRUE;
}
