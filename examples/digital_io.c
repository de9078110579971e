/* Switches two outputs of a KL01 digital I/O module, then reads all eight
 * channels back.
 * Usage: digital_io ADDRESS      e.g. digital_io 192.168.1.10 */
#include <stdio.h>
#include <varnode/varnode.h>

/* "a.b.c.d" to the library's form: host order, first octet on top. */
static int parse_address(const char *text, uint32_t *address) {
  unsigned a, b, c, d;
  char end;
  if (sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &end) != 4 || a > 255 || b > 255 || c > 255 || d > 255)
    return 0;
  *address = (uint32_t)a << 24 | (uint32_t)b << 16 | (uint32_t)c << 8 | (uint32_t)d;
  return 1;
}

int main(int argc, char **argv) {
  uint32_t module;
  if (argc != 2 || !parse_address(argv[1], &module)) {
    fprintf(stderr, "usage: %s ADDRESS\n", argv[0]);
    return 2;
  }
  set_timeout(module, 500); /* ms, for this module only */

  const uint8_t outputs[] = {1, 2};
  const bool levels[] = {true, false};
  uint8_t rc = kl01_write(module, outputs, 2, levels, 2);
  if (rc != VARNODE_SUCCESS) {
    fprintf(stderr, "kl01_write: %u\n", rc);
    return 1;
  }

  const uint8_t channels[] = {1, 2, 3, 4, 5, 6, 7, 8};
  bool values[8];
  uint8_t size = 8; /* capacity in, entries written out */
  rc = kl01_read(module, channels, 8, values, &size);
  if (rc != VARNODE_SUCCESS) {
    fprintf(stderr, "kl01_read: %u\n", rc);
    return 1;
  }
  for (uint8_t i = 0; i < size; ++i) printf("channel %u: %s\n", channels[i], values[i] ? "high" : "low");
  return 0;
}
