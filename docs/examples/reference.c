/* The examples of the C reference, one function per export between its
 * "[name]" markers; the docs show each one, and the build compiles them all
 * so that none can fall out of step with the header. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <varnode/varnode.h>

#define ADDRESS(a, b, c, d) (((uint32_t)(a) << 24) | ((uint32_t)(b) << 16) | ((uint32_t)(c) << 8) | (uint32_t)(d))

/* [get_driver] */
int show_driver(void) {
  char vendor[32], version[16];
  uint32_t vendor_size = sizeof vendor, version_size = sizeof version, build = 0;
  uint8_t rc = get_driver(vendor, &vendor_size, version, &version_size, &build);
  if (rc != VARNODE_SUCCESS) return rc;
  printf("%.*s %.*s, built on day %u\n", (int)vendor_size, vendor, (int)version_size, version, build);
  return 0;
}
/* [get_driver] */

/* [find] */
int list_modules(void) {
  uint32_t addresses[256];
  uint32_t size = 256;
  uint8_t rc = find(addresses, &size, NULL, 0); /* every module, 1000 ms */
  if (rc != VARNODE_SUCCESS) return rc;
  for (uint32_t i = 0; i < size; ++i)
    printf("%u.%u.%u.%u\n", addresses[i] >> 24, (addresses[i] >> 16) & 255, (addresses[i] >> 8) & 255,
           addresses[i] & 255);
  return 0;
}

int address_of(uint32_t serial, uint32_t *address) {
  uint32_t size = 1;
  return find(address, &size, &serial, 1); /* VARNODE_NOT_FOUND when it stays silent */
}
/* [find] */

/* [get_info] */
int show_identity(uint32_t module) {
  char t1[64], t2[16], t3[64], t5[16], t6[32], t7[16], t10[32], t21[65], t22[64], t24[65], t25[64];
  uint32_t s1 = sizeof t1, s2 = sizeof t2, s3 = sizeof t3, s5 = sizeof t5, s6 = sizeof t6, s7 = sizeof t7,
           s10 = sizeof t10, s21 = sizeof t21, s22 = sizeof t22, s24 = sizeof t24, s25 = sizeof t25;
  uint32_t serial, n8, n9, d11, d12, d13, n14, n15, n16, ip, netmask, gateway;
  uint8_t mac[6], flag;
  uint8_t rc = get_info(module, t1, &s1, t2, &s2, t3, &s3, &serial, t5, &s5, t6, &s6, &n8, &n9, t7, &s7,
                        t10, &s10, &d11, &d12, &d13, &n14, &n15, &n16, mac, &ip, &netmask, &gateway, &flag,
                        t21, &s21, t22, &s22, t24, &s24, t25, &s25);
  if (rc != VARNODE_SUCCESS) return rc;
  /* Texts are not zero-terminated: print them with their sizes. */
  printf("%.*s serial %u, firmware %.*s, name %.*s\n", (int)s2, t2, serial, (int)s7, t7, (int)s22, t22);
  return 0;
}
/* [get_info] */

/* [get_status] */
int check_status(uint32_t module) {
  char names[1024], units[256], texts[2048];
  uint32_t names_size = sizeof names, units_size = sizeof units, texts_size = sizeof texts;
  float number[32], lower[32], upper[32], value[32];
  uint32_t size = 32;
  uint8_t ok = 0;
  uint8_t rc = get_status(module, names, &names_size, units, &units_size, texts, &texts_size, number, lower,
                          upper, value, &size, &ok);
  if (rc != VARNODE_SUCCESS) return rc;
  printf("%u items, %s; names: %.*s\n", size, ok ? "all in range" : "some out of range", (int)names_size,
         names);
  return 0;
}
/* [get_status] */

/* [configure] */
int move_module(uint32_t serial) {
  const char text[] = "bench 3";
  /* New address, netmask, gateway for the module with this serial number. */
  return configure(serial, text, sizeof text - 1, 0, ADDRESS(198, 18, 0, 50), ADDRESS(255, 255, 255, 0),
                   ADDRESS(198, 18, 0, 1));
}
/* [configure] */

/* [burn] */
int store_bytes(uint32_t module) {
  const uint8_t data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  return burn(module, data, sizeof data);
}
/* [burn] */

/* [reset] */
int restart(uint32_t module) {
  uint8_t rc = reset(module);
  if (rc == VARNODE_TIMEOUT) fprintf(stderr, "the module did not acknowledge the reset\n");
  return rc;
}
/* [reset] */

/* [get_timeout] */
int show_timeout(uint32_t module) {
  uint16_t ms = 0;
  uint8_t rc = get_timeout(module, &ms);
  if (rc == VARNODE_SUCCESS) printf("time-out %u ms\n", ms);
  return rc;
}
/* [get_timeout] */

/* [set_timeout] */
int impatient(uint32_t module) {
  return set_timeout(module, 200); /* calls started from now on wait 200 ms */
}
/* [set_timeout] */

/* [kl01_set_direction] */
int outputs_1_to_4(uint32_t module) {
  const uint8_t channels[4] = {1, 2, 3, 4};
  const bool output[4] = {true, true, true, true};
  return kl01_set_direction(module, channels, 4, output, 4);
}
/* [kl01_set_direction] */

/* [kl02_set_direction] */
int kl02_inputs_5_to_8(uint32_t module) {
  const uint8_t channels[4] = {5, 6, 7, 8};
  const bool output[4] = {false, false, false, false};
  return kl02_set_direction(module, channels, 4, output, 4);
}
/* [kl02_set_direction] */

/* [kl01_write] */
int lamp_on(uint32_t module) {
  const uint8_t channel = 2;
  const bool on = true;
  uint8_t rc = kl01_write(module, &channel, 1, &on, 1);
  if (rc == VARNODE_CONFIGURATION) fprintf(stderr, "channel 2 is an input\n");
  return rc;
}
/* [kl01_write] */

/* [kl02_write] */
int kl02_pattern(uint32_t module) {
  const uint8_t channels[3] = {1, 2, 3};
  const bool levels[3] = {true, false, true};
  return kl02_write(module, channels, 3, levels, 3);
}
/* [kl02_write] */

/* [kl01_read] */
int read_levels(uint32_t module) {
  const uint8_t channels[2] = {3, 1};
  bool levels[2];
  uint8_t size = 2;
  uint8_t rc = kl01_read(module, channels, 2, levels, &size);
  if (rc != VARNODE_SUCCESS) return rc;
  printf("channel 3: %d, channel 1: %d\n", levels[0], levels[1]);
  return 0;
}
/* [kl01_read] */

/* [kl02_read] */
int kl02_all(uint32_t module) {
  const uint8_t channels[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  bool levels[8];
  uint8_t size = 8;
  uint8_t rc = kl02_read(module, channels, 8, levels, &size);
  for (uint8_t i = 0; rc == VARNODE_SUCCESS && i < size; ++i) printf("%u: %d\n", channels[i], levels[i]);
  return rc;
}
/* [kl02_read] */

/* [ks01_write] */
int heater(uint32_t module, bool on) {
  const uint8_t channel = 1;
  return ks01_write(module, &channel, 1, &on, 1);
}
/* [ks01_write] */

/* [ks02_write] */
int all_off(uint32_t module) {
  const uint8_t channels[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const bool off[8] = {false};
  return ks02_write(module, channels, 8, off, 8);
}
/* [ks02_write] */

/* [ks01_measure] */
int load(uint32_t module) {
  const uint8_t channels[2] = {1, 2};
  float values[2];
  uint8_t size = 2;
  uint8_t rc = ks01_measure(module, channels, 2, values, &size);
  if (rc == VARNODE_SUCCESS) printf("1: %g, 2: %g\n", values[0], values[1]);
  return rc;
}
/* [ks01_measure] */

/* [qu01_enable] */
int start_counting(uint32_t module) {
  const uint8_t channels[2] = {1, 2};
  return qu01_enable(module, channels, 2);
}
/* [qu01_enable] */

/* [qu01_disable] */
int stop_counting(uint32_t module) {
  const uint8_t channels[4] = {1, 2, 3, 4};
  return qu01_disable(module, channels, 4);
}
/* [qu01_disable] */

/* [qu01_clear] */
int zero_counter(uint32_t module) {
  const uint8_t channel = 3;
  return qu01_clear(module, &channel, 1);
}
/* [qu01_clear] */

/* [qu01_set_mode] */
int both_edges(uint32_t module) {
  const uint8_t channel = 1, mode = 2;
  return qu01_set_mode(module, &channel, 1, &mode, 1);
}
/* [qu01_set_mode] */

/* [qu01_read] */
int read_counts(uint32_t module) {
  const uint8_t channels[2] = {1, 4};
  int64_t counts[2], reference = 0;
  uint8_t size = 2;
  uint8_t rc = qu01_read(module, channels, 2, counts, &size, &reference);
  if (rc == VARNODE_SUCCESS)
    printf("1: %lld, 4: %lld (reference %lld)\n", (long long)counts[0], (long long)counts[1], (long long)reference);
  return rc;
}
/* [qu01_read] */

/* [ra01_set_frequency] */
int ra01_fast(uint32_t module) {
  return ra01_set_frequency(module, 3000);
}
/* [ra01_set_frequency] */

/* [re01_set_frequency] */
int re01_quiet(uint32_t module) {
  return re01_set_frequency(module, 50); /* 50 Hz rejects mains hum */
}
/* [re01_set_frequency] */

/* [ra01_stop] */
int ra01_halt(uint32_t module) {
  return ra01_stop(module);
}
/* [ra01_stop] */

/* [re01_stop] */
int re01_halt(uint32_t module) {
  return re01_stop(module);
}
/* [re01_stop] */

/* [ra01_measure] */
int ra01_mean(uint32_t module) {
  enum { samples = 1000 };
  static float values[samples * 2]; /* samples x channels, interleaved */
  const uint8_t channels[2] = {1, 2};
  uint32_t size = samples * 2;
  uint8_t rc = ra01_measure(module, channels, 2, samples, 1000.0f, values, &size);
  if (rc != VARNODE_SUCCESS) return rc;
  double sum = 0;
  for (uint32_t s = 0; s < samples; ++s) sum += values[s * 2 + 0];
  printf("channel 1: mean %g A\n", sum / samples);
  return 0;
}
/* [ra01_measure] */

/* [re01_measure] */
int re01_one(uint32_t module, float *volts) {
  const uint8_t channel = 1;
  uint32_t size = 1;
  /* One sample: the frequency does not matter, NaN lets the module choose. */
  return re01_measure(module, &channel, 1, 1, NAN, volts, &size);
}
/* [re01_measure] */

/* [we01_control] */
int set_outputs(uint32_t module) {
  const uint8_t channels[2] = {1, 2};
  const float volts[2] = {2.5f, -1.0f};
  return we01_control(module, channels, 2, volts, 2);
}
/* [we01_control] */

/* [hx01_set_sensor] */
int type_k_and_j(uint32_t module) {
  const uint8_t channels[2] = {1, 2};
  const uint8_t sensors[2] = {8, 7}; /* K, J */
  return hx01_set_sensor(module, channels, 2, sensors, 2);
}
/* [hx01_set_sensor] */

/* [hx01_set_frequency] */
int hx01_mains(uint32_t module) {
  return hx01_set_frequency(module, 50);
}
/* [hx01_set_frequency] */

/* [hx01_measure] */
int thermocouples(uint32_t module) {
  const uint8_t channels[2] = {1, 2};
  float kelvin[2];
  uint8_t size = 2;
  uint8_t rc = hx01_measure(module, channels, 2, kelvin, &size);
  if (rc != VARNODE_SUCCESS) return rc;
  for (uint8_t i = 0; i < size; ++i) {
    if (isinf(kelvin[i])) printf("%u: beyond the table\n", channels[i]);
    else printf("%u: %.2f °C\n", channels[i], kelvin[i] - 273.15f);
  }
  return 0;
}
/* [hx01_measure] */

/* [hx02_set_sensor] */
int pt100_on_1(uint32_t module) {
  const uint8_t channel = 1, sensor = 2; /* platinum */
  const float range = NAN, current = NAN, nominal = 100.0f; /* range and current by code */
  return hx02_set_sensor(module, &channel, 1, &sensor, 1, &range, 1, &current, 1, &nominal, 1);
}
/* [hx02_set_sensor] */

/* [hx02_set_frequency] */
int hx02_slow(uint32_t module) {
  return hx02_set_frequency(module, 6);
}
/* [hx02_set_frequency] */

/* [hx02_measure] */
int platinum(uint32_t module) {
  const uint8_t channels[4] = {1, 2, 3, 4};
  float kelvin[4];
  uint8_t size = 4;
  uint8_t rc = hx02_measure(module, channels, 4, kelvin, &size);
  for (uint8_t i = 0; rc == VARNODE_SUCCESS && i < size; ++i) printf("%u: %.3f K\n", channels[i], kelvin[i]);
  return rc;
}
/* [hx02_measure] */
