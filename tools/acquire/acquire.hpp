#pragma once
// Reading modules for programs that record or forward their values (the
// logger, the MQTT bridge): "read these channels of this module" for every
// family, a module's identity, and the log format's encodings (CSV, JSON
// Lines, InfluxDB line protocol; docs/log-format.md). Uses only the public C
// header. Every function may be called from any thread; none keeps state.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace varnode::acquire {

// ---- Families ----------------------------------------------------------

enum class Family : std::uint8_t { KL01, KL02, KS01, KS02, QU01, RA01, RE01, WE01, HX01, HX02 };

struct FamilyInfo {
  Family family;
  const char* name;      // "KL01", as the module's identity gives its kind
  unsigned channels;     // numbered 1 to channels
  bool readable;         // has a call that reads its channels (KS02 and WE01 are outputs only)
  bool streams;          // RA01/RE01: blocks of samples at a frequency
  const char* quantity;  // what a channel's reading is: level, measured, count, current, voltage, temperature
  const char* unit;      // its unit, "" when it has none or depends on the sensor
};

const FamilyInfo& info(Family family);
std::span<const FamilyInfo> families();
// "hx01", "HX01": case does not matter.
std::optional<Family> family_named(std::string_view name);
// Not a library code: a logger's call for an interval could not be made
// before the next deadline (its word is "missed").
constexpr std::uint8_t missed = 255;
// The word of a result code: "ok", "timeout", ..., "missed", "code_<n>" for others beyond 9.
const char* status_word(std::uint8_t code);

// ---- Channels and readings ---------------------------------------------

// One thing to read of a module: a numbered channel, QU01's reference value,
// or the value of one of the module's status items (any family).
struct Channel {
  enum class Kind : std::uint8_t { number, reference, status };
  Kind kind = Kind::number;
  std::uint8_t number = 0;  // Kind::number: 1 to the family's channel count
  std::string item;         // Kind::status: the item's name
  // "3", "reference", "status.supply": the column suffix in a log.
  std::string name() const;
};

// "3", "reference" (QU01) or "status.ITEM". On refusal returns why ("channel
// 9: KL01 has channels 1 to 8"); on success an empty text.
std::string parse_channel(Family family, std::string_view text, Channel& out);

// A value as the library gives it: none (the item was not sent, or the call
// failed), an integer (levels 0/1, counts, the reference) or a float.
using Value = std::variant<std::monostate, std::int64_t, double>;

struct Reading {
  std::uint8_t code = 0;      // 0, or the first failing call's result code
  std::vector<Value> values;  // one per channel asked for; all empty when code != 0
};

// Reads the listed channels of one module: one call for the numbered
// channels and the reference, one status request for status items (made
// only when some are listed). A channel listed twice is read once and
// reported twice. Families without a read call give 3 for numbered
// channels (parse_channel refuses them first).
Reading read(std::uint32_t address, Family family, std::span<const Channel> channels);

// ---- Streams (RA01, RE01) ----------------------------------------------

struct Block {
  std::uint8_t code = 0;
  std::vector<float> values;  // values[s * channels + i]: sample s of channel i; empty when code != 0
};
// One block of `samples` samples of each channel at `frequency` Hz.
Block stream(std::uint32_t address, Family family, std::span<const std::uint8_t> channels, std::uint32_t samples,
             float frequency);
// Ends a running stream on the module (3 for a family that does not stream).
std::uint8_t stop(std::uint32_t address, Family family);

// ---- Identity ----------------------------------------------------------

struct Identity {
  std::string kind;         // "HX01"
  std::uint32_t serial = 0;
  std::string name;         // the name the module was configured with
  std::string firmware;
  std::string maker;
  std::string description;
  std::uint32_t address = 0;  // the address the module reports for itself
};
std::uint8_t identify(std::uint32_t address, Identity& out);
// 0xC0A8010A as "192.168.1.10".
std::string dotted(std::uint32_t address);

// ---- The log format ----------------------------------------------------

enum class Encoding : std::uint8_t { csv, jsonl, influx };
std::optional<Encoding> encoding_named(std::string_view name);

struct ModuleHeader {
  std::string id;  // [A-Za-z0-9_-]+, unique in a file
  std::string kind;
  std::string address;
  std::uint32_t serial = 0;
  std::string name;
  std::string firmware;
};
struct ChannelHeader {
  std::string column;   // "<module id>.<channel name>"
  std::string module;   // its module's id
  std::string channel;  // Channel::name()
  std::string quantity;
  std::string sensor;   // "" when none applies or it is not known
  std::string unit;
};
struct Header {
  std::int64_t start_us = 0;  // UTC, microseconds since the epoch
  std::string tool;
  std::string library;
  bool streamed = false;
  double interval = 0;   // polled: seconds
  double frequency = 0;  // streamed: Hz
  std::uint32_t samples = 0;
  std::vector<ModuleHeader> modules;
  std::vector<ChannelHeader> channels;  // in column order
};

// When something was taken: UTC and seconds since start on the monotonic clock.
struct Stamp {
  std::int64_t utc_us = 0;
  double seconds = 0;
};

// The current time as the format's stamps: system clock microseconds and the
// monotonic clock in seconds (any origin; subtract the run's start).
std::int64_t utc_now_us();
double monotonic_seconds();
// Microseconds since the epoch as "2026-12-09T07:40:00.123456Z".
std::string iso_utc(std::int64_t utc_us);
// Refuses a header that would not read back (ids, duplicates, channels of
// modules not listed); empty text when sound.
std::string check_header(const Header& header);

// Turns records into text; the caller writes and flushes it. The text of a
// record always ends in a line end, and one record is never split, so a file
// cut short keeps every whole record.
class Encoder {
 public:
  Encoder(Encoding encoding, Header header);
  Encoding encoding() const { return encoding_; }
  const Header& header() const { return header_; }

  // The file's first lines (nothing for influx). A rotated file starts with
  // the same header.
  std::string header_text() const;
  // One polled row: values per channel in column order, a result code per
  // module in header order. A module whose code is not 0 gets empty cells.
  std::string row(const Stamp& at, std::int64_t index, std::span<const Value> values,
                  std::span<const std::uint8_t> codes) const;
  // One streamed block of the header's (single) module: `values` holds
  // samples × channels floats (sample-major); `first` is the stamp of sample
  // 0; gap is the seconds since the previous block ended, absent for the
  // first. A failed block (code != 0) is one row with empty cells.
  std::string block(const Stamp& first, std::int64_t index, std::optional<double> gap, std::span<const float> values,
                    std::uint8_t code) const;
  // An event line: lost, back, rotate (pair next=), stop (pair reason=).
  // Nothing for influx. `module` empty: none.
  std::string event(const Stamp& at, std::string_view what, std::string_view module,
                    std::span<const std::pair<std::string, std::string>> pairs = {}) const;

 private:
  std::string cells(const Stamp& at, std::int64_t index, std::span<const Value> values,
                    std::span<const std::uint8_t> codes) const;
  Encoding encoding_;
  Header header_;
  std::vector<std::size_t> channel_module_;  // per channel, its module's position
};

// A value in the format's number text: %.9g for floats, integers as they
// are, "inf"/"-inf"; empty for none and NaN.
std::string value_text(const Value& value);

}  // namespace varnode::acquire
