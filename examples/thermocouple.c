/* Measures a type K thermocouple on channel 1 of an HX01 module.
 * Usage: thermocouple ADDRESS */
#include <math.h>
#include <stdio.h>
#include <varnode/varnode.h>

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
  const uint8_t channel[] = {1};
  const uint8_t sensor[] = {VARNODE_HX01_TYPE_K};
  uint8_t rc = hx01_set_sensor(module, channel, 1, sensor, 1);
  if (rc != VARNODE_SUCCESS) {
    fprintf(stderr, "hx01_set_sensor: %u\n", rc);
    return 1;
  }
  float kelvin[1];
  uint8_t size = 1;
  rc = hx01_measure(module, channel, 1, kelvin, &size);
  if (rc != VARNODE_SUCCESS) {
    fprintf(stderr, "hx01_measure: %u\n", rc);
    return 1;
  }
  /* Beyond the thermocouple's table the library gives an infinity. */
  if (isinf(kelvin[0])) {
    printf("channel 1: %s the range of a type K thermocouple\n", kelvin[0] < 0 ? "below" : "above");
    return 1;
  }
  printf("channel 1: %.2f K (%.2f degrees C)\n", kelvin[0], kelvin[0] - 273.15);
  return 0;
}
