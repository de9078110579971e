/* The C side of measure_bench.py: times re01_measure on channels 1 to 8,
 * allocating the buffer for each call as the Python package does.
 * Usage: re01_measure_bench ADDRESS SAMPLES FREQUENCY RUNS
 * Prints one duration in nanoseconds per run, or "error N". */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <arpa/inet.h>
#include <varnode/varnode.h>

static long long now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

int main(int argc, char **argv) {
  if (argc != 5) return 64;
  struct in_addr where;
  if (inet_pton(AF_INET, argv[1], &where) != 1) return 64;
  const uint32_t address = ntohl(where.s_addr);
  const uint32_t samples = (uint32_t)strtoul(argv[2], NULL, 10);
  const float frequency = strtof(argv[3], NULL);
  const int runs = atoi(argv[4]);
  const uint8_t channels[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (int run = 0; run < runs; ++run) {
    const long long start = now_ns();
    float *values = malloc(sizeof(float) * 8 * samples);
    uint32_t size = 8 * samples;
    const uint8_t rc = re01_measure(address, channels, 8, samples, frequency, values, &size);
    const long long took = now_ns() - start;
    free(values);
    if (rc != 0) {
      printf("error %u\n", rc);
      return 1;
    }
    printf("%lld\n", took);
  }
  return 0;
}
