/* Loading the DLL starts Winsock. This program never calls WSAStartup
 * itself, so WSACleanup succeeds only if the library's start-up ran. */
#include <winsock2.h>
#include <varnode/varnode.h>

int main(void) {
  uint16_t timeout = 0;
  /* Any call will do: it makes the program import the DLL. */
  if (get_timeout(0, &timeout) != VARNODE_PARAMETER) return 1;
  return WSACleanup() == 0 ? 0 : 2;
}
