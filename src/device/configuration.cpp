#include "device/configuration.hpp"

#include "dcp/broadcast.hpp"
#include "dcp/transaction_id.hpp"
#include "device/commands.hpp"
#include "varnode/catalogue.h"

namespace varnode {
namespace {

DCP::View checked(DCP::View text, std::uint8_t flag) {
  if (text.size() > VARNODE_CONFIGURE_TEXT_LIMIT || flag > 1) throw Device::Exception::Parameter{};
  return text;
}

}  // namespace

Device::NetworkConfiguration::NetworkConfiguration(DCP::View text, std::uint8_t flag, IP::Address first,
                                                   IP::Address second, IP::Address third)
    : flag_(flag),
      text_(Bytes(checked(text, flag).begin(), text.end())),
      third_address_(third),
      first_address_(first),
      second_address_(second) {}

Bytes Device::NetworkConfiguration::payload(std::uint32_t serial_number) const {
  Bytes out;
  out.reserve(27 + text_.size());
  DCP::put_u32(out, serial_number);
  const std::uint8_t flag = flag_ != 0 ? 1 : 0;
  DCP::append_element(out, 1, DCP::View(&flag, 1));
  DCP::append_element(out, 2, first_address_.bytes());
  DCP::append_element(out, 3, second_address_.bytes());
  DCP::append_element(out, 4, third_address_.bytes());
  DCP::append_element(out, 5, text_);
  return out;
}

void Device::configure(std::uint32_t serial_number, const NetworkConfiguration& configuration) {
  const Bytes payload = configuration.payload(serial_number);
  const std::uint32_t id = DCP::next_transaction_id();
  try {
    const DCP::InterfaceSockets sockets;
    DCP::broadcast(sockets, commands::configure_command, id, payload);
  } catch (const DCP::Exception&) {
    throw Exception::Network{};
  }
}

}  // namespace varnode
