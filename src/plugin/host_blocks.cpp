#include "plugin/host_blocks.h"

#include <array>

namespace veltra::host {
namespace {
std::array<std::byte*, kBlockCount> bases{};
}

std::byte* BlockBase(Block block) { return bases[static_cast<std::size_t>(block)]; }

void SetBlockBases(std::byte* engine, std::byte* setup, std::byte* planner, std::byte* view) {
  bases = {engine, setup, planner, view};
}

}  // namespace veltra::host
