/*
 * Preloaded into the Wine server only, when the tests run under Wine.
 *
 * Wine 8's server binds a datagram socket to the wildcard address whenever
 * the requested address is neither 127.0.0.1 nor found among the interfaces
 * it lists; so a socket bound to 127.0.0.2 also takes datagrams for every
 * other loopback address, a bind to an address the machine does not have
 * succeeds, and replies leave from 127.0.0.1. Windows binds the exact
 * address, and so does the server once it cannot list interfaces: it then
 * passes every bind through unchanged. The programs' own interface
 * enumeration runs in their processes and is not affected.
 */
#include <errno.h>
#include <ifaddrs.h>

int getifaddrs(struct ifaddrs** list) {
  (void)list;
  errno = ENOSYS;
  return -1;
}
