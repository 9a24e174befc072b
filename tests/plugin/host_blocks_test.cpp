#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "plugin/host_blocks.h"

namespace veltra {
namespace {

using host::Block;

struct Expected {
  std::string_view block;
  std::string_view name;
  std::uint32_t offset;
  host::FieldType type;
  std::uint32_t count;
  std::uint32_t stride;
};

// Spot checks against the host's published offsets.
constexpr Expected kSpotChecks[] = {
    {"Engine", "TrajectoryMarker", 24, host::FieldType::i32, 4096, 40},
    {"Engine", "TrajectoryTail", 163840, host::FieldType::i32, 1, 0},
    {"Engine", "AxisPosition", 163920, host::FieldType::i32, 6, 96},
    {"Engine", "AxisEnabled", 163955, host::FieldType::u8, 7, 96},
    {"Engine", "AxisSlaveMaster", 164012, host::FieldType::i32, 6, 96},
    {"Engine", "InputSignalEnabled", 164592, host::FieldType::u8, 53, 16},
    {"Engine", "InputSignalEmulated", 164601, host::FieldType::u8, 53, 16},
    {"Engine", "OutputSignalEnabled", 165440, host::FieldType::u8, 30, 5},
    {"Engine", "EncoderCount", 165616, host::FieldType::i32, 7, 104},
    {"Engine", "EStop", 166367, host::FieldType::u8, 1, 0},
    {"Engine", "EStopCause", 166736, host::FieldType::i32, 1, 0},
    {"Engine", "PostInitCleared", 167096, host::FieldType::i32, 6, 4},
    {"Engine", "DividerFrequency", 167332, host::FieldType::i32, 1, 0},
    {"Setup", "UserVariable", 1784, host::FieldType::f64, 15000, 8},
    {"Setup", "AxisWorkOffset", 122520, host::FieldType::f64, 6, 8},
    {"Planner", "AxisStepsPerUnit", 586904, host::FieldType::f64, 6, 8},
    {"Planner", "StatusMessage", 1161996, host::FieldType::u32, 1, 0},
    {"Planner", "ThreadParameter", 1162000, host::FieldType::i32, 1, 0},
    {"Planner", "JogMode", 1175600, host::FieldType::i32, 1, 0},
    {"Planner", "TrajectoryPosition", 1177832, host::FieldType::f64, 4096, 288},
    {"Planner", "CurrentPulley", 1177948, host::FieldType::i32, 1, 0},
    {"Planner", "MaxPulseRate", 2384280, host::FieldType::f64, 7, 8},
    {"Planner", "PostInitWordOne", 2384726, host::FieldType::u16, 1, 0},
    {"Planner", "FeedholdRequest", 2762540, host::FieldType::u8, 1, 0},
    {"View", "InitClearedFlag", 133936, host::FieldType::u8, 1, 0},
    {"View", "MainFrame", 133948, host::FieldType::ptr, 1, 0},
};

TEST(HostFieldTable, FieldsSitAtTheHostsOffsets) {
  for (const Expected& expected : kSpotChecks) {
    const auto* field = std::find_if(std::begin(host::kAllFields), std::end(host::kAllFields), [&](const auto& f) {
      return f.block == expected.block && f.name == expected.name;
    });
    ASSERT_NE(field, std::end(host::kAllFields)) << expected.name;
    EXPECT_EQ(field->offset, expected.offset) << expected.name;
    EXPECT_EQ(field->type, expected.type) << expected.name;
    EXPECT_EQ(field->count, expected.count) << expected.name;
    EXPECT_EQ(field->stride, expected.stride) << expected.name;
  }
  EXPECT_EQ(PlannerBlock::TrajectoryPosition.OffsetOf(2, 5), 1177832u + 2 * 288 + 5 * 8);
  EXPECT_EQ(EngineBlock::InputSignalActive.OffsetOf(22), 164592u + 22 * 16 + 8);
  EXPECT_EQ(EngineBlock::OutputSignalState.OffsetOf(7), 165440u + 7 * 5 + 4);
}

// A mistyped offset usually lands on another field: no two elements of any
// fields share a byte.
TEST(HostFieldTable, NoTwoFieldsOverlap) {
  struct Span {
    std::uint32_t begin, end;
    std::string_view name;
  };
  for (int b = 0; b < host::kBlockCount; ++b) {
    std::vector<Span> spans;
    for (const auto& field : host::kAllFields) {
      if (static_cast<int>(field.blockId) != b) continue;
      const auto size = static_cast<std::uint32_t>(host::FieldTypeSize(field.type)) * field.inner;
      for (std::uint32_t i = 0; i < field.count; ++i) {
        const std::uint32_t begin = field.offset + field.stride * i;
        spans.push_back({begin, begin + size, field.name});
      }
    }
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& c) { return a.begin < c.begin; });
    for (std::size_t i = 1; i < spans.size(); ++i) {
      EXPECT_LE(spans[i - 1].end, spans[i].begin) << spans[i - 1].name << " overlaps " << spans[i].name;
    }
  }
}

TEST(HostFieldAccess, ReadsAndWritesLittleEndianAtTheOffsetAndNeverOutsideTheField) {
  std::vector<std::byte> engine(host::RequiredBlockSize(Block::Engine));
  std::vector<std::byte> planner(host::RequiredBlockSize(Block::Planner));
  host::SetBlockBases(engine.data(), nullptr, planner.data(), nullptr);

  EngineBlock::AxisPosition.Set(2, 0x01020304);
  EXPECT_EQ(engine[163920 + 192], std::byte{0x04});
  EXPECT_EQ(engine[163920 + 195], std::byte{0x01});
  EXPECT_EQ(EngineBlock::AxisPosition.Get(2), 0x01020304);

  PlannerBlock::TrajectoryPosition.Set(4095, 5, -1.5);
  EXPECT_EQ(PlannerBlock::TrajectoryPosition.Get(4095, 5), -1.5);

  // Out of range: reads 0, writes nothing anywhere.
  const std::vector<std::byte> before = engine;
  EngineBlock::AxisPosition.Set(6, 99);
  EngineBlock::AxisPosition.Set(-1, 99);
  EngineBlock::InputSignalActive.Set(53, 1);
  EXPECT_EQ(engine, before);
  EXPECT_EQ(EngineBlock::AxisPosition.Get(200), 0);
  EXPECT_EQ(PlannerBlock::TrajectoryPosition.Get(0, 6), 0.0);
  // A block the host never gave reads as 0.
  EXPECT_EQ(SetupBlock::JogPercent.Get(), 0.0);
  SetupBlock::JogPercent.Set(50.0);
  host::SetBlockBases(nullptr, nullptr, nullptr, nullptr);
}

TEST(HostFieldTable, RequiredSizesCoverTheLastFields) {
  EXPECT_EQ(host::RequiredBlockSize(Block::Engine), 167336u);
  EXPECT_EQ(host::RequiredBlockSize(Block::Setup), 122592u);
  EXPECT_EQ(host::RequiredBlockSize(Block::Planner), 2762541u);
  EXPECT_EQ(host::RequiredBlockSize(Block::View), 133948u + sizeof(void*));
}

}  // namespace
}  // namespace veltra
