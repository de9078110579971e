/* A user's program: it asks the installed library for its version and for a
 * module's time-out, neither of which sends anything. */
#include <stdio.h>
#include <string.h>
#include <varnode/varnode.h>

int main(void) {
  char vendor[32], version[32];
  uint32_t vendor_size = sizeof vendor, version_size = sizeof version, build = 0;
  if (get_driver(vendor, &vendor_size, version, &version_size, &build) != VARNODE_SUCCESS) return 1;
  if (version_size != strlen(EXPECTED_VERSION) || memcmp(version, EXPECTED_VERSION, version_size) != 0) {
    fprintf(stderr, "library version %.*s, package version %s\n", (int)version_size, version, EXPECTED_VERSION);
    return 1;
  }
  uint16_t timeout = 0;
  if (get_timeout(0xC0A8010A, &timeout) != VARNODE_SUCCESS || timeout != 1000) return 1;
  if (set_timeout(0xC0A8010A, 250) != VARNODE_SUCCESS || get_timeout(0xC0A8010A, &timeout) != 0 || timeout != 250)
    return 1;
  printf("varnode %.*s\n", (int)version_size, version);
  return 0;
}
