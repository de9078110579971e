#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <cstring>
#include <vector>

#include "net/ip.hpp"

namespace varnode::IP {
namespace {

Address from_sockaddr(const SOCKADDR* address) {
  std::array<std::uint8_t, 4> bytes{};
  if (address != nullptr && address->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    std::memcpy(bytes.data(), &in->sin_addr.s_addr, 4);
  }
  return Address{bytes};
}

Address prefix_mask(unsigned prefix) {
  if (prefix == 0) return Address{};
  if (prefix >= 32) return Address{0xFFFFFFFFu};
  return Address{~((std::uint32_t{1} << (32 - prefix)) - 1)};
}

constexpr ULONG include_gateways = 0x80;

}  // namespace

InterfaceTable interfaces() {
  // Start with the customary size and grow to what the system asks for: a
  // machine with many adapters must still be enumerated.
  ULONG size = 28672;
  std::vector<unsigned char> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_INET, include_gateways, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) throw Exception::Internal{};

  InterfaceTable table;
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
       adapter = adapter->Next) {
    Address gateway;
    if (adapter->FirstGatewayAddress != nullptr)
      gateway = from_sockaddr(adapter->FirstGatewayAddress->Address.lpSockaddr);
    // Every address of the adapter, not only its first.
    for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next)
      table.emplace(adapter->AdapterName,
                    Interface{from_sockaddr(unicast->Address.lpSockaddr), prefix_mask(unicast->OnLinkPrefixLength),
                              gateway});
  }
  return table;
}

bool Address::is_broadcast() const {
  if (*this == broadcast_address) return true;
  MIB_UNICASTIPADDRESS_TABLE* rows = nullptr;
  if (GetUnicastIpAddressTable(AF_INET, &rows) != NO_ERROR) throw Exception::Internal{};
  bool found = false;
  for (ULONG i = 0; i < rows->NumEntries && !found; ++i) {
    const MIB_UNICASTIPADDRESS_ROW& row = rows->Table[i];
    const Address address = from_sockaddr(reinterpret_cast<const SOCKADDR*>(&row.Address.Ipv4));
    const unsigned prefix = row.OnLinkPrefixLength;
    if (address == Address{} || prefix < 1 || prefix > 32) continue;
    found = is_directed_broadcast(*this, Interface{address, prefix_mask(prefix), Address{}});
  }
  FreeMibTable(rows);
  return found;
}

}  // namespace varnode::IP
