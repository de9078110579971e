#include "traffic.hpp"

#include <array>
#include <cinttypes>
#include <cstring>
#include <stdexcept>

#include "rack.hpp"

namespace varnode::sim {
namespace {

std::uint32_t u16(std::span<const std::uint8_t> b, std::size_t at) { return wire::get_u16(b.data() + at); }
std::uint32_t u32(std::span<const std::uint8_t> b, std::size_t at) { return wire::get_u32(b.data() + at); }
float f32(std::span<const std::uint8_t> b, std::size_t at) { return wire::get_f32(b.data() + at); }

std::string text(const char* format, auto... values) {
  char line[160];
  std::snprintf(line, sizeof line, format, values...);
  return line;
}

std::string channels(std::uint8_t mask) {
  std::string list;
  for (int n = 1; n <= 8; ++n) {
    if ((mask >> (n - 1) & 1) == 0) continue;
    if (!list.empty()) list += ',';
    list += std::to_string(n);
  }
  return list.empty() ? "none" : list;
}

const char* family_name(std::uint32_t high) {
  for (const Kind kind : all_kinds)
    if (family_code(kind) == high) return kind_name(kind);
  return nullptr;
}

// The operation's name within its family, for requests and for replies.
const char* operation(std::uint32_t code, bool request) {
  const std::uint32_t high = code >> 8, low = code & 0xFF;
  if (high == 0) {
    if (request) {
      switch (code) {
        case 3: return "reset";
        case 5: return "identity";
        case 7: return "status";
        case 9: return "configure";
        case 10: return "burn";
        default: return nullptr;
      }
    }
    switch (code) {
      case 1: return "acknowledged";
      case 2: return "failed";
      case 6: return "identity";
      case 8: return "status";
      default: return nullptr;
    }
  }
  switch (high) {
    case 0x03: case 0x0B:  // digital I/O
      switch (low) {
        case 0x00: return "set direction";
        case 0x01: return "read";
        case 0x02: return "write";
        case 0x03: return "refused (configuration)";
        case 0x04: return "levels";
        default: return nullptr;
      }
    case 0x01: case 0x0A:  // digital output
      switch (low) {
        case 0x00: return "write";
        case 0x01: return "measure";
        case 0x02: return "values";
        default: return nullptr;
      }
    case 0x07:
      switch (low) {
        case 0x00: return "disable";
        case 0x01: return "enable";
        case 0x02: return "read";
        case 0x03: return "counts";
        case 0x04: return "clear";
        case 0x05: return "set mode";
        default: return nullptr;
      }
    case 0x04: case 0x09:  // analog input
      switch (low) {
        case 0x00: return "measure";
        case 0x01: return "chunk";
        case 0x02: return "refused (reserved)";
        case 0x03: return "refused (configuration)";
        case 0x04: return "stop";
        case 0x05: return "aborted";
        case 0x08: return "set frequency";
        default: return nullptr;
      }
    case 0x08: return low == 0x00 ? "control" : nullptr;
    case 0x06: case 0x02:  // temperature
      switch (low) {
        case 0x00: return "measure";
        case 0x01: return "readings";
        case 0x02: return "refused (configuration)";
        case 0x08: return "set frequency";
        case 0x09: return "set sensor";
        default: return nullptr;
      }
    default: return nullptr;
  }
}

std::string name(std::uint32_t code, bool request) {
  const char* family = family_name(code >> 8);
  const char* op = operation(code, request);
  if (op == nullptr) return text("code 0x%04X", code);
  return family != nullptr ? std::string(family) + " " + op : op;
}

// Finds the identity's serial number and address (either tag layout).
std::string identity_summary(std::span<const std::uint8_t> p) {
  int highest = -1;
  for (std::size_t at = 0; at + 2 <= p.size() && at + 2 + p[at + 1] <= p.size(); at += 2 + p[at + 1])
    highest = std::max<int>(highest, p[at]);
  const int ip_tag = highest == 21 ? 17 : 18;
  std::string out;
  for (std::size_t at = 0; at + 2 <= p.size() && at + 2 + p[at + 1] <= p.size(); at += 2 + p[at + 1]) {
    const std::size_t length = p[at + 1];
    if (p[at] == 4 && length == 4) out += text(" serial %" PRIu32, u32(p, at + 2));
    if (p[at] == ip_tag && length == 4)
      out += " at " + format_address(Address(std::array{p[at + 2], p[at + 3], p[at + 4], p[at + 5]}));
  }
  return highest == 21 ? out + " (legacy tags)" : out;
}

std::string payload_summary(std::uint32_t code, bool request, std::span<const std::uint8_t> p) {
  const std::uint32_t high = code >> 8, low = code & 0xFF;
  if (high == 0) {
    if (!request && code == 6) return identity_summary(p);
    if (request && code == 9 && p.size() >= 4) return text(" for serial %" PRIu32, u32(p, 0));
    if (request && code == 10) return text(" %zu bytes", p.size());
    return {};
  }
  const bool analog = high == 0x04 || high == 0x09;
  if (analog && request && low == 0x00 && p.size() == 9)
    return text(" channels %s, %" PRIu32 " samples at %g Hz", channels(p[0]).c_str(), u32(p, 1), f32(p, 5));
  if (analog && !request && low == 0x01 && p.size() >= 4)
    return text(" offset %" PRIu32 ", %zu bytes", u32(p, 0), p.size() - 4);
  if ((low == 0x08) && request && p.size() == 2) return text(" %" PRIu32, u16(p, 0));
  if ((high == 0x06) && request && low == 0x09 && !p.empty()) {
    std::string codes;
    for (std::size_t i = 1; i < p.size(); ++i) codes += (i > 1 ? "," : "") + std::to_string(p[i]);
    return text(" channels %s, codes %s", channels(p[0]).c_str(), codes.c_str());
  }
  if ((high == 0x03 || high == 0x0B) && !request && low == 0x04 && p.size() == 1) return text(" %02X", p[0]);
  if (request && !p.empty()) return " channels " + channels(p[0]);
  return {};
}

template <typename T>
void put(std::FILE* file, T value) {
  std::fwrite(&value, sizeof value, 1, file);
}

}  // namespace

std::string summarise(std::span<const std::uint8_t> datagram, bool request) {
  if (datagram.size() < 8) return text("malformed (%zu bytes)", datagram.size());
  const std::uint32_t code = u16(datagram, 0), length = u16(datagram, 2), id = u32(datagram, 4);
  std::string line = name(code, request) + text("  id %08" PRIX32, id);
  if (length + 8 > datagram.size())
    return line + text("  malformed (length %" PRIu32 ", %zu bytes follow)", length, datagram.size() - 8);
  return line + payload_summary(code, request, datagram.subspan(8, length));
}

PcapWriter::PcapWriter(const std::string& path) {
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
  put<std::uint32_t>(file_, 0xA1B2C3D4);  // microsecond stamps, this machine's byte order
  put<std::uint16_t>(file_, 2);
  put<std::uint16_t>(file_, 4);
  put<std::int32_t>(file_, 0);
  put<std::uint32_t>(file_, 0);
  put<std::uint32_t>(file_, 65535);
  put<std::uint32_t>(file_, 101);  // raw IP: no link layer to invent
  std::fflush(file_);
}

PcapWriter::~PcapWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

void PcapWriter::write(const Hop& hop, std::span<const std::uint8_t> datagram) {
  // A datagram too large for one IPv4 packet cannot have crossed a socket.
  if (datagram.size() > 65535 - 28) return;
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  const auto size = static_cast<std::uint32_t>(datagram.size() + 28);

  std::array<std::uint8_t, 28> header{};
  header[0] = 0x45;  // version 4, 20-byte header
  header[2] = static_cast<std::uint8_t>(size >> 8);
  header[3] = static_cast<std::uint8_t>(size);
  header[4] = static_cast<std::uint8_t>(ip_id_ >> 8);
  header[5] = static_cast<std::uint8_t>(ip_id_);
  ++ip_id_;
  header[8] = 64;  // time to live
  header[9] = 17;  // UDP
  std::memcpy(&header[12], hop.from.bytes().data(), 4);
  std::memcpy(&header[16], hop.to.bytes().data(), 4);
  std::uint32_t sum = 0;
  for (int i = 0; i < 20; i += 2) sum += static_cast<std::uint32_t>(header[i]) << 8 | header[i + 1];
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  header[10] = static_cast<std::uint8_t>(~sum >> 8);
  header[11] = static_cast<std::uint8_t>(~sum);
  const std::uint32_t udp_size = size - 20;
  header[20] = static_cast<std::uint8_t>(hop.from_port >> 8);
  header[21] = static_cast<std::uint8_t>(hop.from_port);
  header[22] = static_cast<std::uint8_t>(hop.to_port >> 8);
  header[23] = static_cast<std::uint8_t>(hop.to_port);
  header[24] = static_cast<std::uint8_t>(udp_size >> 8);
  header[25] = static_cast<std::uint8_t>(udp_size);
  // UDP checksum 0: "not computed", which IPv4 allows.

  put<std::uint32_t>(file_, static_cast<std::uint32_t>(micros / 1000000));
  put<std::uint32_t>(file_, static_cast<std::uint32_t>(micros % 1000000));
  put<std::uint32_t>(file_, size);
  put<std::uint32_t>(file_, size);
  std::fwrite(header.data(), 1, header.size(), file_);
  std::fwrite(datagram.data(), 1, datagram.size(), file_);
  // Whole records on disk at every moment: the rack usually ends by a signal.
  std::fflush(file_);
}

Tracer::Tracer(std::FILE* out) : out_(out), start_(std::chrono::steady_clock::now()) {}

void Tracer::write(const Hop& hop, std::span<const std::uint8_t> datagram, bool incoming) {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const std::string from = format_address(hop.from) + (incoming ? text(":%u", hop.from_port) : "");
  const std::string to = format_address(hop.to) + (incoming ? "" : text(":%u", hop.to_port));
  std::fprintf(out_, "%10.6f %s %s > %s  %s\n", seconds, incoming ? "in " : "out", from.c_str(), to.c_str(),
               summarise(datagram, incoming).c_str());
  std::fflush(out_);
}

}  // namespace varnode::sim
