/* The README's example, kept compiling. */
#include <stdio.h>
#include <varnode/varnode.h>

int main(void) {
  char vendor[32], version[16];
  uint32_t vendor_size = sizeof vendor, version_size = sizeof version, build = 0;
  uint16_t timeout = 0;
  get_driver(vendor, &vendor_size, version, &version_size, &build);
  printf("%.*s %.*s (build %u)\n", (int)vendor_size, vendor, (int)version_size, version, (unsigned)build);
  /* 0.0.0.0 is never a module: the library refuses it without sending. */
  if (get_timeout(0, &timeout) != VARNODE_PARAMETER) return 1;
  return 0;
}
