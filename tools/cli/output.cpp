#include "output.hpp"

#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>

#include "catalogue.hpp"

namespace varnode::cli {
namespace {

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

// The catalogue's texts are string literals, so data() ends in a zero.
constexpr std::size_t known_codes = std::size(catalogue::results);
const char* code_name(std::uint8_t code) {
  return code < known_codes ? catalogue::results[code].word.data() : "unknown";
}
const char* code_meaning(std::uint8_t code) {
  return code < known_codes ? catalogue::results[code].meaning.data() : "an unknown result code";
}

void check(std::uint8_t code, const std::string& what, std::uint32_t address) {
  if (code != 0) throw Failure{code, what, address, {}};
}

Table::Table(std::vector<std::string> headers) : headers_(std::move(headers)) {
  for (std::string& cell : headers_) cell = visible(cell);
}

void Table::add(std::vector<std::string> row) {
  for (std::string& cell : row) cell = visible(cell);
  rows_.push_back(std::move(row));
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
      out += nlohmann::json(key).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
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
    out += value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
}

}  // namespace

std::string json_text(const nlohmann::json& value) {
  std::string out;
  write_json(out, value, 0);
  return out;
}

void print_json(const nlohmann::json& value) { std::cout << json_text(value) << "\n"; }

namespace {

// Length of the valid UTF-8 sequence at the start of `text`, 0 if none
// (overlong forms, surrogates and values past U+10FFFF are invalid).
std::size_t utf8_length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  std::uint32_t point = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, point = lead & 0x1Fu;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, point = lead & 0x0Fu;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, point = lead & 0x07u;
  else return 0;
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    point = (point << 6) | (byte(i) & 0x3Fu);
  }
  const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
  if (overlong || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF) return 0;
  return length;
}

}  // namespace

std::string visible(std::string_view text) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  const auto escaped = [&](unsigned char c) {
    out += "\\x";
    out += digits[c >> 4];
    out += digits[c & 0xF];
  };
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = utf8_length(text.substr(i));
    if (length == 0) {
      escaped(c);
      ++i;
    } else if (length == 1) {
      if (c == '\\') out += "\\\\";
      else if (c == '\n') out += "\\n";
      else if (c == '\t') out += "\\t";
      else if (c == '\r') out += "\\r";
      else if (c < 0x20 || c == 0x7F) escaped(c);
      else out += static_cast<char>(c);
      ++i;
    } else if (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      // U+0080 to U+009F: C1 controls, CSI among them.
      escaped(c), escaped(static_cast<unsigned char>(text[i + 1]));
      i += 2;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

}  // namespace varnode::cli
