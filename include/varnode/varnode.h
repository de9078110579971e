/*
 * varnode — control of small Ethernet I/O modules over DCP (UDP port 30000).
 *
 * Conventions shared by every function below:
 *  - Every function returns one of the VARNODE_* result codes.
 *  - A module is named by its IPv4 address as one uint32 in host order, first
 *    octet in the most significant byte: 192.168.1.10 is 0xC0A8010A.
 *    0.0.0.0 and 255.255.255.255 are refused with VARNODE_PARAMETER.
 *  - Channels count from 1. The order in which you list channels does not
 *    matter on the wire; per-channel outputs follow the order you gave.
 *    A channel listed twice is refused with VARNODE_PARAMETER.
 *  - Array inputs bring their own count, which must equal `count`.
 *    An output array comes with `size`: its capacity on entry, the number of
 *    entries written on success.
 *  - Text outputs: a buffer plus a uint32 capacity. The text is cut to the
 *    capacity without notice and never zero-terminated; the number of bytes
 *    copied is stored back. Lists of texts are joined with one tab.
 *  - bool inputs are read as bytes: any non-zero byte counts as set.
 *  - Argument checks send nothing. A failed call writes none of its outputs.
 *  - Every pointer a call would read or write must be valid: a NULL one gives
 *    VARNODE_PARAMETER before anything is sent. Only an array or buffer of
 *    which the call reads or writes nothing (its count or capacity is 0) may
 *    be NULL.
 *  - Temperatures are in kelvin.
 *
 * Threads: any function may be called from any number of threads at once.
 * The library keeps three things for the life of the process, shared by all
 * threads and guarded by one internal mutex held only for short steps: the
 * per-module time-out table, a pool of UDP sockets with one for each call in
 * flight of which at most 8 are kept open while idle (the rest are closed
 * when their calls end, so a burst of threads leaves no descriptors held),
 * and the transaction counter (which starts at a number drawn from the
 * system's random source). It also builds its temperature tables once, on
 * first use. A call that cannot get a socket descriptor gives
 * VARNODE_NETWORK and holds none afterwards. The library starts no threads,
 * reads no files or environment and writes no logs.
 */
#ifndef VARNODE_VARNODE_H
#define VARNODE_VARNODE_H

#include <stdbool.h>
#include <stdint.h>

#include "catalogue.h"

#if defined(_WIN32) && !defined(VARNODE_STATIC)
#  if defined(VARNODE_BUILDING)
#    define VARNODE_API __declspec(dllexport)
#  else
#    define VARNODE_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define VARNODE_API __attribute__((visibility("default")))
#else
#  define VARNODE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes, channel counts, sensor codes and limits: catalogue.h. */

/* ---- Library ---------------------------------------------------------- */

/* Vendor text "Tervane", version text "2.5.0" and build day 739110
 * (2023-08-13 as days since 0000-01-01). Sends nothing. Codes: 0, or 3 for
 * a NULL pointer. */
VARNODE_API uint8_t get_driver(char *vendor, uint32_t *vendor_size,
                               char *version, uint32_t *version_size,
                               uint32_t *build);

/* ---- Device management ----------------------------------------------- */

/* Broadcasts an identity request (5) from every local IPv4 address (each of
 * several addresses on one link too; an interface that vanishes meanwhile
 * is skipped). A module
 * is reported by the address in its identity, not by where the reply came
 * from; replies that do not decode are ignored.
 * Every reply that arrives within the window counts, however many come at
 * once: the listening sockets get as large a receive buffer as the system
 * allows and are emptied without pausing (1,000 modules on one link are
 * listed whole).
 * serial_count == 0: lists every module that answers within 1000 ms, sorted
 *   by address, each once; always takes the whole 1000 ms; finding none is
 *   success with *size = 0.
 * serial_count > 0: the address of each given serial number, in your order
 *   (a number listed twice is reported twice); returns as soon as the last
 *   one answered, else VARNODE_NOT_FOUND after 1000 ms. A requested module
 *   that reports 0.0.0.0 or 255.255.255.255 gives VARNODE_PARAMETER.
 * *size: capacity of `addresses` on entry, entries written on success.
 * Codes: 0, 3, 4, 5. */
VARNODE_API uint8_t find(uint32_t *addresses, uint32_t *size,
                         const uint32_t *serial_numbers, uint32_t serial_count);

/* Identity of one module (request 5, reply 6), its fields named after their
 * tags. Each text comes as a buffer and an in/out size; dates are days since
 * 0000-01-01 (0 when the module sent none); addresses in host order;
 * mac_address receives 6 bytes. An identity without text_1, text_2, text_3
 * or a non-zero serial number gives VARNODE_FAILED. Codes: 0, 2, 3, 4, 6.
 * The library reads only serial_number and ip_address; every other field is
 * passed on as the module sent it. What modules put there: text_1 maker,
 * text_2 module type ("KL01" ...), text_3 description, text_5 hardware
 * revision, text_6 microcontroller, text_7 firmware version, date_11 to
 * date_13 dates of production, calibration and firmware, number_14 resets
 * since power-up, number_15 the module's DCP port, mac_address, ip_address,
 * address_19 netmask, address_20 gateway, text_21 the text and flag_23 the
 * flag of the last configure, text_22 the module's name, text_24 the last
 * burned bytes. number_8, number_9, text_10, number_16 and text_25 hold
 * values of the module's own; a module with the older tag layout sends no
 * number_16, flag_23, text_24 or text_25 (they come back 0 or empty).
 * The parameter order follows the tags but for text_7, text_10 and flag_23;
 * it is the interface callers were built against, so it stays as it is. */
VARNODE_API uint8_t get_info(uint32_t address,
                             char *text_1, uint32_t *text_1_size,
                             char *text_2, uint32_t *text_2_size,
                             char *text_3, uint32_t *text_3_size,
                             uint32_t *serial_number,
                             char *text_5, uint32_t *text_5_size,
                             char *text_6, uint32_t *text_6_size,
                             uint32_t *number_8, uint32_t *number_9,
                             char *text_7, uint32_t *text_7_size,
                             char *text_10, uint32_t *text_10_size,
                             uint32_t *date_11, uint32_t *date_12, uint32_t *date_13,
                             uint32_t *number_14, uint32_t *number_15, uint32_t *number_16,
                             uint8_t *mac_address, uint32_t *ip_address,
                             uint32_t *address_19, uint32_t *address_20,
                             uint8_t *flag_23,
                             char *text_21, uint32_t *text_21_size,
                             char *text_22, uint32_t *text_22_size,
                             char *text_24, uint32_t *text_24_size,
                             char *text_25, uint32_t *text_25_size);

/* Status items of one module (request 7, reply 8), in ascending byte order
 * of their names, one item per name (the first sent).
 * names, texts_2, texts_3: tab-separated lists (every item, cut only by each
 * list's own capacity). The four float arrays get one entry per item up to
 * *size; a number the module did not send for an item is NaN. *ok = 1 when
 * every item sent was in range: a NaN limit imposes nothing, a missing or
 * NaN value fails any limit that is a number. A name or text that contains
 * a tab would break the lists: such a reply gives VARNODE_FAILED.
 * Codes: 0, 2, 3, 4, 6. */
VARNODE_API uint8_t get_status(uint32_t address,
                               char *names, uint32_t *names_size,
                               char *texts_2, uint32_t *texts_2_size,
                               char *texts_3, uint32_t *texts_3_size,
                               float *numbers_4, float *lower_limits,
                               float *upper_limits, float *values,
                               uint32_t *size, uint8_t *ok);

/* Broadcasts a new network configuration for the module with this serial
 * number on every local interface (request 9). Waits for no answer: 0 means
 * sent. text_size <= 64 and flag <= 1, else VARNODE_PARAMETER. The payload
 * carries flag, first, second and third address, then the text, in this
 * order whatever the order of the arguments. Codes: 0, 3, 4. */
VARNODE_API uint8_t configure(uint32_t serial_number, const char *text,
                              uint32_t text_size, uint8_t flag,
                              uint32_t first_address, uint32_t second_address,
                              uint32_t third_address);

/* Hands 0 to 64 bytes to a module (request 10) and waits for its
 * acknowledgement. Codes: 0, 2, 3, 4, 6. */
VARNODE_API uint8_t burn(uint32_t address, const uint8_t *data, uint32_t data_size);

/* Restarts a module (request 3) once it acknowledges. Codes: 0, 2, 3, 4, 6. */
VARNODE_API uint8_t reset(uint32_t address);

/* The reply time-out of a module in milliseconds (1000 until set). Sends
 * nothing. Codes: 0, 3. */
VARNODE_API uint8_t get_timeout(uint32_t address, uint16_t *timeout);

/* Sets the reply time-out of a module, 1 to 65535 ms (0 is refused). It
 * applies to calls that start afterwards, from any thread. Sends nothing.
 * Codes: 0, 3. */
VARNODE_API uint8_t set_timeout(uint32_t address, uint16_t timeout);

/* ---- KL01 / KL02 digital I/O (8 channels) ----------------------------- */
/* KL02 takes the same arguments and gives the same results as KL01.
 * count: 1 to 8 channels, each 1 to 8; the flag and value arrays hold one
 * entry per channel (direction_count, value_count == count). */

/* Sets each listed channel's direction bit (request 0x0300 / 0x0B00), set
 * when its flag is non-zero; which direction that selects is the module's
 * convention. Codes: 0, 2, 3, 4, 6. */
VARNODE_API uint8_t kl01_set_direction(uint32_t address, const uint8_t *channels, uint8_t count,
                                       const bool *directions, uint8_t direction_count);
VARNODE_API uint8_t kl02_set_direction(uint32_t address, const uint8_t *channels, uint8_t count,
                                       const bool *directions, uint8_t direction_count);
/* Sets the level bit of each listed channel (request 0x0302 / 0x0B02), set
 * when its value is non-zero.
 * Codes: 0, 2, 3, 4, 6, and 9 when the module refuses the write. */
VARNODE_API uint8_t kl01_write(uint32_t address, const uint8_t *channels, uint8_t count,
                               const bool *values, uint8_t value_count);
VARNODE_API uint8_t kl02_write(uint32_t address, const uint8_t *channels, uint8_t count,
                               const bool *values, uint8_t value_count);
/* Reads the level of each listed channel (request 0x0301 / 0x0B01) into
 * values, in your order, as 0 or 1.
 * *size: capacity on entry (>= count), count on success.
 * Codes: 0, 2, 3, 4, 6, and 9 when the module refuses the read. */
VARNODE_API uint8_t kl01_read(uint32_t address, const uint8_t *channels, uint8_t count,
                              bool *values, uint8_t *size);
VARNODE_API uint8_t kl02_read(uint32_t address, const uint8_t *channels, uint8_t count,
                              bool *values, uint8_t *size);

/* ---- KS01 / KS02 digital outputs (8 channels) ------------------------- */
/* count: 1 to 8 channels, each 1 to 8. */

/* Switches each listed output on (non-zero) or off (request 0x0100 /
 * 0x0A00); value_count == count.
 * Codes: 0, 2, 3, 4, 6. */
VARNODE_API uint8_t ks01_write(uint32_t address, const uint8_t *channels, uint8_t count,
                               const bool *values, uint8_t value_count);
VARNODE_API uint8_t ks02_write(uint32_t address, const uint8_t *channels, uint8_t count,
                               const bool *values, uint8_t value_count);
/* Reads one measured value per listed KS01 channel (request 0x0101) into
 * values, in your order, unscaled; its meaning is the module's.
 * *size: capacity on entry (>= count), count on success.
 * Codes: 0, 2, 3, 4, 6. */
VARNODE_API uint8_t ks01_measure(uint32_t address, const uint8_t *channels, uint8_t count,
                                 float *values, uint8_t *size);

/* ---- QU01 counter (4 channels) ---------------------------------------- */
/* count: 0 to 4 channels, each 1 to 4. An empty list is sent as such; what
 * the module makes of it is its own business. */

/* Enable, disable or clear the listed counters (requests 0x0701, 0x0700,
 * 0x0704). Codes: 0, 2, 3, 4, 6. */
VARNODE_API uint8_t qu01_enable(uint32_t address, const uint8_t *channels, uint8_t count);
VARNODE_API uint8_t qu01_disable(uint32_t address, const uint8_t *channels, uint8_t count);
VARNODE_API uint8_t qu01_clear(uint32_t address, const uint8_t *channels, uint8_t count);
/* Sets the mode (0 to 3) of each listed counter (request 0x0705);
 * mode_count == count.
 * Codes: 0, 2, 3, 4, 6. */
VARNODE_API uint8_t qu01_set_mode(uint32_t address, const uint8_t *channels, uint8_t count,
                                  const uint8_t *modes, uint8_t mode_count);
/* Reads each listed counter (request 0x0702) into values, in your order,
 * and the 64-bit reference value the module sends ahead of the counts, its
 * bits unchanged.
 * *size: capacity on entry (>= count), count on success.
 * Codes: 0, 2, 3, 4, 6. */
VARNODE_API uint8_t qu01_read(uint32_t address, const uint8_t *channels, uint8_t count,
                              int64_t *values, uint8_t *size, int64_t *reference);

/* ---- RA01 current input / RE01 voltage input (8 channels) ------------- */

/* Frequency setting (request 0x0408 / 0x0908): one of 6, 12, 25, 50, 100,
 * 200, 400, 800, 1500, 3000; any other is VARNODE_PARAMETER before sending.
 * Codes: 0, 2, 3, 4, 6. */
VARNODE_API uint8_t ra01_set_frequency(uint32_t address, uint16_t frequency);
VARNODE_API uint8_t re01_set_frequency(uint32_t address, uint16_t frequency);
/* Stops a running measurement. Codes: 0, 2, 3, 4, 6. */
VARNODE_API uint8_t ra01_stop(uint32_t address);
VARNODE_API uint8_t re01_stop(uint32_t address);
/* Streams `samples` (1 to 1,000,000) samples of each listed channel at
 * `frequency` Hz (6 to 3000 when samples > 1). values[s * count + i] is
 * sample s of channels[i]; *size: capacity in floats on entry (>= count *
 * samples), count * samples on success. The time-out restarts with every
 * chunk received; an exact repeat of a chunk is dropped (and does not
 * restart it), any other overlap fails with VARNODE_FAILED. Loopback and
 * broadcast addresses are refused with VARNODE_NETWORK. Codes: 0 to 9 but 5. */
VARNODE_API uint8_t ra01_measure(uint32_t address, const uint8_t *channels, uint8_t count,
                                 uint32_t samples, float frequency, float *values, uint32_t *size);
VARNODE_API uint8_t re01_measure(uint32_t address, const uint8_t *channels, uint8_t count,
                                 uint32_t samples, float frequency, float *values, uint32_t *size);

/* ---- WE01 voltage output (8 channels) --------------------------------- */

/* Sets the output value of each listed channel (request 0x0800; count 1 to
 * 8, channels 1 to 8, value_count == count), sent unchanged: no scaling, no
 * range check.
 * Codes: 0, 2, 3, 4, 6. */
VARNODE_API uint8_t we01_control(uint32_t address, const uint8_t *channels, uint8_t count,
                                 const float *values, uint8_t value_count);

/* ---- HX01 thermocouple module (8 channels) ---------------------------- */
/* count: 1 to 8 channels, each 1 to 8.
 * Sensor codes: 0 none, 1 voltage input (volts, unconverted), 2 to 14 the
 * thermocouple types B, C, D, E, G, J, K, M, N, P, R, S, T (kelvin). */

/* Chooses each listed channel's sensor code (request 0x0609);
 * sensor_count == count, codes 0 to 14.
 * Codes: 0, 2, 3, 4, 6. */
VARNODE_API uint8_t hx01_set_sensor(uint32_t address, const uint8_t *channels, uint8_t count,
                                    const uint8_t *sensors, uint8_t sensor_count);
/* Sets the converter's sampling frequency (request 0x0608): one of 6, 12,
 * 25, 50, 100, 200, 400, 800, 1500, 3000.
 * Codes: 0, 2, 3, 4, 6. */
VARNODE_API uint8_t hx01_set_frequency(uint32_t address, uint16_t frequency);
/* Measures each listed channel (request 0x0600) into values, in your order:
 * thermocouples in kelvin, compensated for the module's cold junction, with
 * the sensor code the module reports for the channel; a channel set as a
 * voltage input gives its voltage as sent. A thermocouple voltage beyond its
 * table gives -INFINITY or +INFINITY for that channel.
 * *size: capacity on entry (>= count), count on success.
 * Codes: 0; 2 when the reply is malformed, a channel has no sensor, or for
 * a thermocouple when the cold-junction reading lies outside the cold-junction
 * table or is NaN (0 V from a shorted sensor), the cold junction lies outside
 * the thermocouple's table, or a temperature would be NaN;
 * 3, 4, 6; 9 when the module refuses the measurement. */
VARNODE_API uint8_t hx01_measure(uint32_t address, const uint8_t *channels, uint8_t count,
                                 float *values, uint8_t *size);

/* ---- HX02 platinum / diode / PTC module (4 channels) ------------------ */
/* count: 1 to 4 channels, each 1 to 4.
 * Sensor codes: 0 none, 1 voltage input (volts, unconverted), 2 platinum
 * resistance thermometer, 3 and 4 silicon diode curves, 5 and 7 PTC
 * 1000 ohms at 25 C, 6 and 8 PTC 2000 ohms at 25 C, 9 PTC 1000 ohms at 25 C
 * up to 180 C, 10 PTC 1000 ohms at 100 C. */

/* Sets each listed channel's sensor (request 0x0209); entry i of every array
 * belongs to channels[i] and every count equals count.
 *  sensors:  codes 0 to 10.
 *  ranges:   0.5, 1, 2.5 or 5 V, or NaN to choose by code (a platinum
 *            thermometer gets the smallest range that holds its voltage at
 *            the top of its table).
 *  currents: 0, 0.00001 or 0.001 A, or NaN to choose by code (0 for codes 0
 *            and 1, 0.00001 for the diodes, 0.001 otherwise); 0 is refused
 *            for codes 2 to 10.
 *  nominals: R0 of a platinum thermometer, 1 to 1000 ohms, checked for
 *            every code.
 * Each channel travels as code, range, current, nominal: the order of the
 * arguments is the wire's, and the measure reply repeats it.
 * Codes: 0, 2, 3, 4, 6. */
VARNODE_API uint8_t hx02_set_sensor(uint32_t address, const uint8_t *channels, uint8_t count,
                                    const uint8_t *sensors, uint8_t sensor_count,
                                    const float *ranges, uint8_t range_count,
                                    const float *currents, uint8_t current_count,
                                    const float *nominals, uint8_t nominal_count);
/* Sets the converter's sampling frequency (request 0x0208): one of 6, 12,
 * 25, 50, 100, 200, 400, 800, 1500, 3000.
 * Codes: 0, 2, 3, 4, 6. */
VARNODE_API uint8_t hx02_set_frequency(uint32_t address, uint16_t frequency);
/* Measures each listed channel (request 0x0200) into values, in your order,
 * in kelvin, with the configuration the module reports for the channel. A
 * reading beyond its sensor's table gives -INFINITY or +INFINITY for that
 * channel (for a diode, a higher voltage is colder); a voltage input gives
 * its voltage as sent.
 * *size: capacity on entry (>= count), count on success.
 * Codes: 0; 2 when the reply is malformed, a channel has no sensor, no
 * current or an open range or current, or a temperature would be NaN; 3, 4,
 * 6; 9
 * when the module refuses the measurement. */
VARNODE_API uint8_t hx02_measure(uint32_t address, const uint8_t *channels, uint8_t count,
                                 float *values, uint8_t *size);

#ifdef __cplusplus
}
#endif

#endif /* VARNODE_VARNODE_H */
