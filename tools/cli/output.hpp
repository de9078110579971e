#pragma once
// How the tool speaks: aligned tables and sentences for people, JSON (and
// CSV for samples) for programs, and result codes turned into words.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace varnode::cli {

// A library call that did not succeed; the exit status is its code.
struct Failure {
  std::uint8_t code;
  std::string what;
  std::uint32_t address = 0;  // the module spoken to, 0 for none
  std::string cause;          // what the tool found out about why, if anything
};

// An argument the tool refuses before anything is sent (exit status 64).
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

const char* code_name(std::uint8_t code);
const char* code_meaning(std::uint8_t code);
// Throws Failure unless `code` is 0.
void check(std::uint8_t code, const std::string& what, std::uint32_t address = 0);

// Ctrl-C or SIGTERM ended the command (exit status 130).
struct Interrupted {};

enum class Format { text, json, csv };

// Text from a module made safe for a terminal: control characters (C0, DEL,
// C1) become \xNN or \n, \t, \r, and a backslash becomes \\, so no escape
// sequence reaches the terminal; bytes that are not valid UTF-8 become \xNN.
std::string visible(std::string_view text);

// Every cell passes through visible(): a module's texts land in tables.
class Table {
 public:
  explicit Table(std::vector<std::string> headers);
  void add(std::vector<std::string> row);
  // Columns padded to their widest cell; numbers right-aligned.
  void print() const;

 private:
  std::vector<std::string> headers_;
  std::vector<std::vector<std::string>> rows_;
};

std::string format_address(std::uint32_t host);
std::string format_number(double value, int precision = 6);
// A module's single-precision value as the shortest text that reads back to
// the same float: 100.00015, not 100.00015258789063.
std::string format_float(float value);
// The same for JSON: the float's exact value as a double, which
// print_json writes as that short text. Null for NaN and infinities.
nlohmann::json json_float(float value);
// Kelvin to a JSON value: a number, or null for an infinite reading.
nlohmann::json kelvin_json(float kelvin);
// JSON text of `value`. A module's texts are bytes that need not be UTF-8:
// each byte that is not part of valid UTF-8 becomes U+FFFD, and control
// characters are \u00XX escapes, so no reply can stop the output.
std::string json_text(const nlohmann::json& value);
void print_json(const nlohmann::json& value);

}  // namespace varnode::cli
