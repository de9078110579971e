#include "rig.hpp"

#include <gtest/gtest.h>

namespace varnode::sim::test {

Rig::Rig(const nlohmann::json& description, Placement placement, Server::Options options)
    : server_(parse_rack(description, placement), std::move(options)) {
  server_.bind();
  thread_ = std::thread([this] { server_.run(); });
}

Rig::~Rig() {
  server_.stop();
  thread_.join();
}

Client::Client() : socket_(IP::unspecified_address, 0) {}

std::uint32_t Client::send(IP::Address to, std::uint16_t code, const Bytes& payload) {
  const std::uint32_t id = next_id_++;
  DCP::send(socket_, to, code, id, payload);
  return id;
}

std::vector<Answer> Client::listen(unsigned window_ms) {
  std::vector<Answer> answers;
  const std::uint64_t end = current_milliseconds() + window_ms;
  Bytes buffer;
  while (current_milliseconds() < end) {
    try {
      const DCP::Received r = DCP::receive(socket_, 5, buffer);
      answers.push_back({r.source, r.message.code, r.message.transaction_id,
                         Bytes(r.message.payload.begin(), r.message.payload.end()), current_milliseconds()});
    } catch (const DCP::Exception::Timeout&) {
    }
  }
  return answers;
}

std::optional<Answer> Client::await(std::uint32_t id, unsigned limit_ms) {
  const std::uint64_t end = current_milliseconds() + limit_ms;
  Bytes buffer;
  while (current_milliseconds() < end) {
    try {
      const DCP::Received r = DCP::receive(socket_, 5, buffer);
      if (r.message.transaction_id != id) continue;
      return Answer{r.source, r.message.code, r.message.transaction_id,
                    Bytes(r.message.payload.begin(), r.message.payload.end()), current_milliseconds()};
    } catch (const DCP::Exception::Timeout&) {
    }
  }
  return std::nullopt;
}

Answer Client::ask(IP::Address to, std::uint16_t code, const Bytes& payload) {
  const auto answer = await(send(to, code, payload));
  EXPECT_TRUE(answer.has_value()) << "no answer to " << code;
  return answer.value_or(Answer{});
}

std::vector<Answer> Client::stream(std::uint32_t id, std::size_t bytes, unsigned gap_ms) {
  std::vector<Answer> chunks;
  std::size_t received = 0;
  while (received < bytes) {
    const auto answer = await(id, gap_ms);
    if (!answer) break;
    chunks.push_back(*answer);
    if ((answer->code & 0xFF) != 0x01 || answer->payload.size() < 4) break;
    received += answer->payload.size() - 4;
  }
  return chunks;
}

std::map<std::uint8_t, Bytes> elements(const Bytes& payload) {
  std::map<std::uint8_t, Bytes> found;
  DCP::View rest(payload);
  while (!rest.empty()) {
    const DCP::Element e = DCP::take_element(rest);
    found[e.tag] = Bytes(e.value.begin(), e.value.end());
  }
  return found;
}

float f32(const Bytes& bytes, std::size_t at) { return DCP::get_f32(bytes.data() + at); }

}  // namespace varnode::sim::test
