// The address both controller channels connect to: a dotted IPv4 text or the
// controller's alias name, resolved only when connecting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltra::link {

inline constexpr std::size_t kHostAddressMaxLength = 99;

const std::string& HostAddress();
// The address with its first octet in the first byte of memory.
void SetHostAddressFromIp(std::uint32_t networkOrderAddress);
// Longer names are cut to kHostAddressMaxLength characters.
void SetHostAddressFromName(std::string_view name);
// ETH_BYIP chooses the dotted form of ETH_IP, else the text of ETH_NAME.
void ChooseHostAddress();

// Conversions between the host-order ETH_IP setting (first octet most
// significant) and the network order of SetHostAddressFromIp.
std::uint32_t HostToNetworkOrder(std::uint32_t hostOrderAddress);
std::string DottedAddress(std::uint32_t hostOrderAddress);
// Exactly four decimal fields 0..255 separated by points, nothing else.
std::optional<std::uint32_t> ParseDottedAddress(std::string_view text);

}  // namespace veltra::link
