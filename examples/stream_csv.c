/* Streams channels 1 and 2 of an RE01 voltage input module and writes the
 * samples as CSV (time in seconds, then one column per channel).
 * Usage: stream_csv ADDRESS [SAMPLES [HZ]] > samples.csv
 * An RA01 current input works the same with ra01_measure. */
#include <stdio.h>
#include <stdlib.h>
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
  if (argc < 2 || argc > 4 || !parse_address(argv[1], &module)) {
    fprintf(stderr, "usage: %s ADDRESS [SAMPLES [HZ]]\n", argv[0]);
    return 2;
  }
  const uint32_t samples = argc > 2 ? (uint32_t)strtoul(argv[2], NULL, 10) : 1000;
  const float frequency = argc > 3 ? strtof(argv[3], NULL) : 1000.0f;
  const uint8_t channels[] = {1, 2};
  const uint8_t count = 2;

  /* values[s * count + i] is sample s of channels[i]. */
  uint32_t size = samples * count;
  float *values = malloc((size_t)size * sizeof *values);
  if (values == NULL) {
    fprintf(stderr, "out of memory\n");
    return 1;
  }
  uint8_t rc = re01_measure(module, channels, count, samples, frequency, values, &size);
  if (rc != VARNODE_SUCCESS) {
    fprintf(stderr, "re01_measure: %u\n", rc);
    free(values);
    return 1;
  }
  printf("time_s,channel_%u,channel_%u\n", channels[0], channels[1]);
  for (uint32_t s = 0; s < size / count; ++s)
    printf("%.6f,%g,%g\n", s / frequency, values[s * count], values[s * count + 1]);
  free(values);
  return 0;
}
