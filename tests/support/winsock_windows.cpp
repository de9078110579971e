// Test programs link the library's objects directly, so the DLL entry point
// that starts Winsock never runs in them; this starts it instead, before
// main, as loading the DLL would.
#include <winsock2.h>

#include <cstdlib>

namespace {

struct Winsock {
  Winsock() {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(1, 1), &data) != 0) std::abort();
  }
};

const Winsock winsock;

}  // namespace
