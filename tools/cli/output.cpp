#include "output.hpp"

#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace varnode::cli {
namespace {

constexpr const char* names[] = {"success", "error",    "failed",  "parameter", "network",
                                 "not found", "time-out", "aborted", "reserved",  "configuration"};
constexpr const char* meanings[] = {
    "done",
    "an unexpected failure inside the library",
    "the module answered, but not as the command expects",
    "an argument was refused; nothing was sent",
    "sockets, interfaces or sending failed",
    "a requested serial number did not answer",
    "no matching reply within the module's time-out",
    "the module aborted the operation",
    "the module is busy (reserved)",
    "the module's configuration forbids the operation",
};

// Display width of UTF-8 text: continuation bytes take no column.
std::size_t width(const std::string& text) {
  std::size_t columns = 0;
  for (unsigned char c : text) columns += (c & 0xC0) != 0x80;
  return columns;
}

// Right-aligned cells: whole numbers and decimals, not addresses or dates.
bool numeric(const std::string& text) {
  if (text.empty() || text == "-") return false;
  char* end = nullptr;
  std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size();
}

}  // namespace

const char* code_name(std::uint8_t code) { return code < 10 ? names[code] : "unknown"; }
const char* code_meaning(std::uint8_t code) { return code < 10 ? meanings[code] : "an unknown result code"; }

void check(std::uint8_t code, const std::string& what, std::uint32_t address) {
  if (code != 0) throw Failure{code, what, address, {}};
}

void Table::print() const {
  std::vector<std::size_t> widths(headers_.size(), 0);
  for (std::size_t i = 0; i < headers_.size(); ++i) widths[i] = width(headers_[i]);
  for (const auto& row : rows_) {
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) widths[i] = std::max(widths[i], width(row[i]));
  }
  const auto line = [&](const std::vector<std::string>& cells, bool header) {
    std::string out;
    for (std::size_t i = 0; i < cells.size() && i < widths.size(); ++i) {
      const std::string pad(widths[i] - width(cells[i]), ' ');
      const bool right = !header && numeric(cells[i]);
      out += right ? pad + cells[i] : cells[i] + (i + 1 < cells.size() ? pad : "");
      if (i + 1 < cells.size()) out += "  ";
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    std::cout << out << "\n";
  };
  line(headers_, true);
  for (const auto& row : rows_) line(row, false);
}

std::string format_address(std::uint32_t host) {
  return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 0xFF) + "." +
         std::to_string((host >> 8) & 0xFF) + "." + std::to_string(host & 0xFF);
}

std::string format_number(double value, int precision) {
  if (std::isnan(value)) return "-";
  if (std::isinf(value)) return value > 0 ? "+inf" : "-inf";
  char text[64];
  std::snprintf(text, sizeof text, "%.*g", precision, value);
  return text;
}

std::string format_float(float value) {
  if (std::isnan(value)) return "-";
  if (std::isinf(value)) return value > 0 ? "+inf" : "-inf";
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

nlohmann::json json_float(float value) {
  if (!std::isfinite(value)) return nullptr;
  return static_cast<double>(value);
}

nlohmann::json kelvin_json(float kelvin) { return json_float(kelvin); }

namespace {

// nlohmann's dump with every floating-point number written as the shortest
// text of its float: nlohmann's own shortest double text is not always the
// shortest (2.9660859999999998 for the float 2.966086), and every
// fractional number the tool prints comes from a float.
void write_json(std::string& out, const nlohmann::json& value, int depth) {
  const std::string indent(static_cast<std::size_t>(depth + 1) * 2, ' ');
  const std::string closing(static_cast<std::size_t>(depth) * 2, ' ');
  if (value.is_object() && !value.empty()) {
    out += "{\n";
    bool first = true;
    for (const auto& [key, item] : value.items()) {
      out += first ? "" : ",\n";
      out += indent;
      out += nlohmann::json(key).dump();
      out += ": ";
      write_json(out, item, depth + 1);
      first = false;
    }
    out += "\n" + closing + "}";
  } else if (value.is_array() && !value.empty()) {
    out += "[\n";
    bool first = true;
    for (const auto& item : value) {
      out += first ? "" : ",\n";
      out += indent;
      write_json(out, item, depth + 1);
      first = false;
    }
    out += "\n" + closing + "]";
  } else if (value.is_number_float() && std::isfinite(value.get<double>())) {
    std::string text = format_float(static_cast<float>(value.get<double>()));
    if (text.find_first_of(".e") == std::string::npos) text += ".0";  // stays a fraction for the reader
    out += text;
  } else {
    out += value.dump();
  }
}

}  // namespace

void print_json(const nlohmann::json& value) {
  std::string out;
  write_json(out, value, 0);
  std::cout << out << "\n";
}

}  // namespace varnode::cli
