#include "api/frame.hpp"

#include <algorithm>
#include <cstring>
#include <typeindex>

#include "modules/analog_input.hpp"
#include "modules/analog_output.hpp"
#include "modules/digital_io.hpp"
#include "temperature/hx01.hpp"
#include "temperature/hx02.hpp"

namespace varnode::api {
namespace {

struct Mapping {
  const std::type_info& type;
  Result code;
};

// In the order of the result-code table: Failed, Parameter, Network,
// NotFound, Timeout, the Aborted kinds, the Reserved kinds, the
// Configuration kinds.
const Mapping mappings[] = {
    {typeid(Device::Exception::Failed), VARNODE_FAILED},
    {typeid(Device::Exception::Parameter), VARNODE_PARAMETER},
    {typeid(Device::Exception::Network), VARNODE_NETWORK},
    {typeid(Device::Exception::NotFound), VARNODE_NOT_FOUND},
    {typeid(Device::Exception::Timeout), VARNODE_TIMEOUT},
    {typeid(RA01::Exception::Aborted), VARNODE_ABORTED},
    {typeid(HX01::Exception::Aborted), VARNODE_ABORTED},
    {typeid(HX02::Exception::Aborted), VARNODE_ABORTED},
    {typeid(RE01::Exception::Aborted), VARNODE_ABORTED},
    {typeid(WE01::Exception::Aborted), VARNODE_ABORTED},
    {typeid(RA01::Exception::Reserved), VARNODE_RESERVED},
    {typeid(HX01::Exception::Reserved), VARNODE_RESERVED},
    {typeid(HX02::Exception::Reserved), VARNODE_RESERVED},
    {typeid(RE01::Exception::Reserved), VARNODE_RESERVED},
    {typeid(WE01::Exception::Reserved), VARNODE_RESERVED},
    {typeid(RA01::Exception::Configuration), VARNODE_CONFIGURATION},
    {typeid(KL01::Exception::Configuration), VARNODE_CONFIGURATION},
    {typeid(KL02::Exception::Configuration), VARNODE_CONFIGURATION},
    {typeid(HX01::Exception::Configuration), VARNODE_CONFIGURATION},
    {typeid(HX02::Exception::Configuration), VARNODE_CONFIGURATION},
    {typeid(RE01::Exception::Configuration), VARNODE_CONFIGURATION},
};

}  // namespace

Result result_code(const Device::Exception& exception) noexcept {
  const std::type_info& type = typeid(exception);
  for (const Mapping& mapping : mappings)
    if (mapping.type == type) return mapping.code;
  return VARNODE_ERROR;
}

void write_text(std::span<const std::uint8_t> text, char* buffer, std::uint32_t* size) noexcept {
  const std::size_t n = std::min<std::size_t>(*size, text.size());
  if (n > 0) std::memcpy(buffer, text.data(), n);
  *size = static_cast<std::uint32_t>(n);
}

}  // namespace varnode::api
