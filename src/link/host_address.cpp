#include "link/host_address.h"

#include <cstdio>
#include <cstring>

#include "settings/process_settings.h"

namespace veltra::link {
namespace {
std::string hostAddress = "192.168.1.222";
}

const std::string& HostAddress() { return hostAddress; }

void SetHostAddressFromIp(std::uint32_t networkOrderAddress) {
  unsigned char octets[4];
  std::memcpy(octets, &networkOrderAddress, sizeof octets);
  hostAddress = DottedAddress(static_cast<std::uint32_t>(octets[0]) << 24 | static_cast<std::uint32_t>(octets[1]) << 16 |
                              static_cast<std::uint32_t>(octets[2]) << 8 | octets[3]);
}

void SetHostAddressFromName(std::string_view name) {
  hostAddress = std::string(name.substr(0, kHostAddressMaxLength));
}

void ChooseHostAddress() {
  const settings::NetworkSettings& network = settings::Process().network;
  if (network.ETH_BYIP) {
    SetHostAddressFromIp(HostToNetworkOrder(network.ETH_IP));
  } else {
    SetHostAddressFromName(network.ETH_NAME);
  }
}

std::uint32_t HostToNetworkOrder(std::uint32_t hostOrderAddress) {
  const unsigned char octets[4] = {
      static_cast<unsigned char>(hostOrderAddress >> 24), static_cast<unsigned char>(hostOrderAddress >> 16),
      static_cast<unsigned char>(hostOrderAddress >> 8), static_cast<unsigned char>(hostOrderAddress)};
  std::uint32_t network = 0;
  std::memcpy(&network, octets, sizeof network);
  return network;
}

std::string DottedAddress(std::uint32_t hostOrderAddress) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", hostOrderAddress >> 24, (hostOrderAddress >> 16) & 0xFF,
                (hostOrderAddress >> 8) & 0xFF, hostOrderAddress & 0xFF);
  return text;
}

std::optional<std::uint32_t> ParseDottedAddress(std::string_view text) {
  std::uint32_t address = 0;
  std::size_t position = 0;
  for (int field = 0; field < 4; ++field) {
    if (field > 0) {
      if (position >= text.size() || text[position] != '.') return std::nullopt;
      ++position;
    }
    const std::size_t start = position;
    std::uint32_t value = 0;
    while (position < text.size() && position - start < 3 && text[position] >= '0' && text[position] <= '9') {
      value = value * 10 + static_cast<std::uint32_t>(text[position++] - '0');
    }
    if (position == start || value > 255) return std::nullopt;
    address = address << 8 | value;
  }
  if (position != text.size()) return std::nullopt;
  return address;
}

}  // namespace veltra::link
