// The four host data blocks. Every field the plugin touches is listed once in
// the table below (block, byte offset, type, count, stride); the typed
// accessors and the table that the host stand-in's script reads are both
// derived from it. Fields are reached by memcpy at byte offsets,
// little-endian, never by laying a struct over host memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace veltra::host {

enum class Block : std::uint8_t { Engine, Setup, Planner, View };
inline constexpr int kBlockCount = 4;

enum class FieldType : std::uint8_t { u8, i8, u16, i32, u32, f64, ptr };

// X(block, name, offset, type, count, stride, inner):
// element i of an array is at offset + stride * i; an entry with inner > 1
// holds that many consecutive values (element (i, j) at + j * the type size).
// The input and output signal records and the trajectory entries are listed
// by the bytes of their records that the plugin uses.
#define VELTRA_HOST_FIELDS(X)                                   \
  X(Engine, TrajectoryMarker, 24, i32, 4096, 40, 1)             \
  X(Engine, TrajectoryLine, 28, i32, 4096, 40, 1)               \
  X(Engine, TrajectoryTail, 163840, i32, 1, 0, 1)               \
  X(Engine, TrajectoryHead, 163844, i32, 1, 0, 1)               \
  X(Engine, AxisWorkPosition, 163856, f64, 6, 8, 1)             \
  X(Engine, Jogging, 163908, u8, 1, 0, 1)                       \
  X(Engine, PositionResync, 163910, u8, 1, 0, 1)                \
  X(Engine, AxisPosition, 163920, i32, 6, 96, 1)                \
  X(Engine, AxisStepPin, 163928, u8, 7, 96, 1)                  \
  X(Engine, AxisDirPin, 163929, u8, 7, 96, 1)                   \
  X(Engine, AxisStepPort, 163930, u8, 7, 96, 1)                 \
  X(Engine, AxisStepActiveLow, 163932, u8, 7, 96, 1)            \
  X(Engine, AxisDirActiveLow, 163933, u8, 7, 96, 1)             \
  X(Engine, AxisEnabled, 163955, u8, 7, 96, 1)                  \
  X(Engine, AxisJogging, 163956, u8, 6, 96, 1)                  \
  X(Engine, AxisJogDirection, 163960, i32, 6, 96, 1)            \
  X(Engine, AxisHoming, 163964, u8, 6, 96, 1)                   \
  X(Engine, AxisProbeDistance, 164000, i32, 6, 96, 1)           \
  X(Engine, AxisProbePosition, 164004, i32, 6, 96, 1)           \
  X(Engine, AxisProbing, 164008, u8, 6, 96, 1)                  \
  X(Engine, AxisSlave, 164009, u8, 6, 96, 1)                    \
  X(Engine, AxisSlaveMaster, 164012, i32, 6, 96, 1)             \
  X(Engine, InputSignalEnabled, 164592, u8, 53, 16, 1)          \
  X(Engine, InputSignalPin, 164593, i8, 53, 16, 1)              \
  X(Engine, InputSignalPort, 164594, u8, 53, 16, 1)             \
  X(Engine, InputSignalActiveLow, 164595, u8, 53, 16, 1)        \
  X(Engine, InputSignalActive, 164600, u8, 53, 16, 1)           \
  X(Engine, InputSignalEmulated, 164601, u8, 53, 16, 1)         \
  X(Engine, OutputSignalEnabled, 165440, u8, 30, 5, 1)          \
  X(Engine, OutputSignalPin, 165441, u8, 30, 5, 1)              \
  X(Engine, OutputSignalPort, 165442, u8, 30, 5, 1)             \
  X(Engine, OutputSignalActiveLow, 165443, u8, 30, 5, 1)        \
  X(Engine, OutputSignalState, 165444, u8, 30, 5, 1)            \
  X(Engine, EncoderEnabled, 165592, u8, 7, 104, 1)              \
  X(Engine, EncoderPinA, 165596, i32, 7, 104, 1)                \
  X(Engine, EncoderPinB, 165600, i32, 7, 104, 1)                \
  X(Engine, EncoderPortA, 165604, i32, 7, 104, 1)               \
  X(Engine, EncoderPortB, 165608, i32, 7, 104, 1)               \
  X(Engine, EncoderCount, 165616, i32, 7, 104, 1)               \
  X(Engine, EStop, 166367, u8, 1, 0, 1)                         \
  X(Engine, AxisVelocity, 166440, i32, 6, 4, 1)                 \
  X(Engine, DwellBusy, 166476, i32, 1, 0, 1)                    \
  X(Engine, AxisDirFlip, 166484, u8, 7, 1, 1)                   \
  X(Engine, RunState, 166492, i32, 1, 0, 1)                     \
  X(Engine, ExecutingLine, 166500, i32, 1, 0, 1)                \
  X(Engine, AxisReferenced, 166553, u8, 6, 1, 1)                \
  X(Engine, AxisParamRaw, 166572, i32, 6, 4, 1)                 \
  X(Engine, AxisParamScaled, 166596, i32, 6, 4, 1)              \
  X(Engine, ControllerOptionBit6, 166632, u8, 1, 0, 1)          \
  X(Engine, AxisOptionBit1, 166633, u8, 6, 1, 1)                \
  X(Engine, LimitOverrideSeen, 166709, u8, 1, 0, 1)             \
  X(Engine, EStopCause, 166736, i32, 1, 0, 1)                   \
  X(Engine, Homing, 166784, u8, 1, 0, 1)                        \
  X(Engine, SoftLimitsOn, 167039, u8, 1, 0, 1)                  \
  X(Engine, LimitFaultLatch, 167040, u8, 1, 0, 1)               \
  X(Engine, ThcZOffset, 167068, i32, 1, 0, 1)                   \
  X(Engine, PlasmaMode, 167080, u8, 1, 0, 1)                    \
  X(Engine, HostRequest, 167088, u8, 1, 0, 1)                   \
  X(Engine, PostInitCleared, 167096, i32, 6, 4, 1)              \
  X(Engine, VerifyPosition, 167160, i32, 6, 4, 1)               \
  X(Engine, ThreadingRequest, 167192, u8, 1, 0, 1)              \
  X(Engine, ThreadingActive, 167208, u8, 1, 0, 1)               \
  X(Engine, ControlFlag2, 167278, u8, 1, 0, 1)                  \
  X(Engine, CompareValue, 167288, i32, 1, 0, 1)                 \
  X(Engine, CompareLimit, 167292, i32, 1, 0, 1)                 \
  X(Engine, CompareEnable, 167296, u8, 1, 0, 1)                 \
  X(Engine, ControllerOptionBit1, 167311, u8, 1, 0, 1)          \
  X(Engine, ThcOnFromSpindle, 167312, u8, 1, 0, 1)              \
  X(Engine, DividerFrequency, 167332, i32, 1, 0, 1)             \
  X(Setup, UserVariable, 1784, f64, 15000, 8, 1)                \
  X(Setup, TapSelector, 122396, i32, 1, 0, 1)                   \
  X(Setup, AxisWorkOffset, 122520, f64, 6, 8, 1)                \
  X(Setup, JogPercent, 122584, f64, 1, 0, 1)                    \
  X(Planner, ThreadEnd, 527080, f64, 6, 8, 1)                   \
  X(Planner, MpgFeedRate, 552080, f64, 1, 0, 1)                 \
  X(Planner, FeedRate, 586856, f64, 1, 0, 1)                    \
  X(Planner, AxisStepsPerUnit, 586904, f64, 6, 8, 1)            \
  X(Planner, AxisMaxVelocity, 586952, f64, 6, 8, 1)             \
  X(Planner, AxisAcceleration, 587000, f64, 6, 8, 1)            \
  X(Planner, ThcRate, 801432, f64, 1, 0, 1)                     \
  X(Planner, ThcZMin, 801448, f64, 1, 0, 1)                     \
  X(Planner, ThcZMax, 801456, f64, 1, 0, 1)                     \
  X(Planner, AxisSpeedPercent, 801584, i32, 6, 4, 1)            \
  X(Planner, AxisOptionBit0, 801656, u8, 6, 1, 1)               \
  X(Planner, VerifyActive, 801736, u8, 1, 0, 1)                 \
  X(Planner, ProbeTarget, 801776, f64, 6, 8, 1)                 \
  X(Planner, JogIncrement, 801872, f64, 1, 0, 1)                \
  X(Planner, StatusMessage, 1161996, u32, 1, 0, 1)              \
  X(Planner, ThreadParameter, 1162000, i32, 1, 0, 1)            \
  X(Planner, FeedPercent, 1162048, f64, 1, 0, 1)                \
  X(Planner, SelectedAxis, 1162188, i32, 1, 0, 1)               \
  X(Planner, Mpg2Axis, 1162204, i32, 1, 0, 1)                   \
  X(Planner, Mpg3Axis, 1162208, i32, 1, 0, 1)                   \
  X(Planner, AxisDistanceB, 1170800, f64, 6, 8, 1)              \
  X(Planner, AxisDistanceA, 1170904, f64, 6, 8, 1)              \
  X(Planner, AxisSoftMax, 1170952, f64, 6, 8, 1)                \
  X(Planner, AxisSoftMin, 1171000, f64, 6, 8, 1)                \
  X(Planner, DwellInMilliseconds, 1171517, u8, 1, 0, 1)         \
  X(Planner, JogMode, 1175600, i32, 1, 0, 1)                    \
  X(Planner, SpindleOn, 1175696, u8, 1, 0, 1)                   \
  X(Planner, SpindleMotorEnabled, 1175732, u8, 1, 0, 1)         \
  X(Planner, SpindlePwmControl, 1175733, u8, 1, 0, 1)           \
  X(Planner, SpindleOptionByte, 1176560, u8, 1, 0, 1)           \
  X(Planner, SpindlePwmPercent, 1176584, i32, 1, 0, 1)          \
  X(Planner, PostInitPercent, 1176592, f64, 1, 0, 1)            \
  X(Planner, SpindlePwmFrequency, 1176600, i32, 1, 0, 1)        \
  X(Planner, SpindleDirection, 1176604, i32, 1, 0, 1)           \
  X(Planner, SpindleSpeed, 1176616, f64, 1, 0, 1)               \
  X(Planner, SpindleRatio, 1176624, f64, 1, 0, 1)               \
  X(Planner, TrueSpindleSpeed, 1176632, f64, 1, 0, 1)           \
  X(Planner, PulleyMaxSpeed, 1176664, i32, 25, 4, 1)            \
  X(Planner, PulleyReversed, 1176864, u8, 25, 1, 1)             \
  X(Planner, EncoderScale, 1176992, f64, 7, 8, 1)               \
  X(Planner, ControllerOptionBit0, 1177643, u8, 1, 0, 1)        \
  X(Planner, FeedholdActive, 1177704, u8, 1, 0, 1)              \
  X(Planner, TrajectoryPosition, 1177832, f64, 4096, 288, 6)    \
  X(Planner, CurrentPulley, 1177948, i32, 1, 0, 1)              \
  X(Planner, MaxPulseRate, 2384280, f64, 7, 8, 1)               \
  X(Planner, MotionIdle, 2384336, u8, 1, 0, 1)                  \
  X(Planner, MarkersEnabled, 2384348, i32, 1, 0, 1)             \
  X(Planner, MotionFlags, 2384616, u32, 1, 0, 1)                \
  X(Planner, MotionFlagsHigh, 2384620, u32, 1, 0, 1)            \
  X(Planner, PostInitByteOne, 2384624, u8, 1, 0, 1)             \
  X(Planner, ReferencedMask, 2384628, u32, 1, 0, 1)             \
  X(Planner, PostInitWordOne, 2384726, u16, 1, 0, 1)            \
  X(Planner, StopPending, 2745176, u8, 1, 0, 1)                 \
  X(Planner, PostInitRealMilli, 2745184, f64, 1, 0, 1)          \
  X(Planner, PostInitCount350, 2745192, i32, 1, 0, 1)           \
  X(Planner, PostInitByteZero, 2745206, u8, 1, 0, 1)            \
  X(Planner, HardwareFeedhold, 2754343, u8, 1, 0, 1)            \
  X(Planner, FeedholdRequest, 2762540, u8, 1, 0, 1)             \
  X(View, InitClearedFlag, 133936, u8, 1, 0, 1)                 \
  X(View, FullSpeedJog, 133940, ptr, 1, 0, 1)                   \
  X(View, MainFrame, 133948, ptr, 1, 0, 1)

namespace detail {
using u8 = std::uint8_t;
using i8 = std::int8_t;
using u16 = std::uint16_t;
using i32 = std::int32_t;
using u32 = std::uint32_t;
using f64 = double;
using ptr = std::uintptr_t;  // a pointer of the host's own width
}  // namespace detail

// The block pointers handed over by InitControl; null before it.
std::byte* BlockBase(Block block);
void SetBlockBases(std::byte* engine, std::byte* setup, std::byte* planner, std::byte* view);

template <typename T>
struct Field {
  Block block;
  std::uint32_t offset;
  std::uint32_t count;
  std::uint32_t stride;
  std::uint32_t inner;

  constexpr bool Contains(std::int64_t i, std::int64_t j = 0) const {
    return i >= 0 && i < count && j >= 0 && j < inner;
  }
  constexpr std::uint32_t OffsetOf(std::uint32_t i, std::uint32_t j = 0) const {
    return offset + stride * i + static_cast<std::uint32_t>(sizeof(T)) * j;
  }

  // An element outside the field reads as 0 and is never written: indices
  // that come from the network or the profile cannot reach other host memory.
  T Get(std::int64_t i = 0, std::int64_t j = 0) const {
    T value{};
    std::byte* base = BlockBase(block);
    if (base && Contains(i, j)) {
      std::memcpy(&value, base + OffsetOf(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j)),
                  sizeof(T));
    }
    return value;
  }
  void Set(T value) const { SetAt(0, 0, value); }
  void Set(std::int64_t i, T value) const { SetAt(i, 0, value); }
  void Set(std::int64_t i, std::int64_t j, T value) const { SetAt(i, j, value); }

 private:
  void SetAt(std::int64_t i, std::int64_t j, T value) const {
    std::byte* base = BlockBase(block);
    if (base && Contains(i, j)) {
      std::memcpy(base + OffsetOf(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j)), &value,
                  sizeof(T));
    }
  }
};

#define VELTRA_DECLARE_FIELD(block, name, offset, type, count, stride, inner) \
  namespace block##Block {                                                     \
  inline constexpr Field<detail::type> name{Block::block, offset, count, stride, inner}; \
  }
VELTRA_HOST_FIELDS(VELTRA_DECLARE_FIELD)
#undef VELTRA_DECLARE_FIELD

// The same table at run time, for the script of the host stand-in and for
// the checks of the table itself.
struct FieldDescriptor {
  std::string_view block;  // "Engine", "Setup", "Planner", "View"
  std::string_view name;
  Block blockId;
  std::uint32_t offset;
  FieldType type;
  std::uint32_t count;
  std::uint32_t stride;
  std::uint32_t inner;
};

#define VELTRA_DESCRIBE_FIELD(block, name, offset, type, count, stride, inner) \
  FieldDescriptor{#block, #name, Block::block, offset, FieldType::type, count, stride, inner},
inline constexpr FieldDescriptor kAllFields[] = {VELTRA_HOST_FIELDS(VELTRA_DESCRIBE_FIELD)};
#undef VELTRA_DESCRIBE_FIELD

constexpr std::size_t FieldTypeSize(FieldType type) {
  switch (type) {
    case FieldType::u8:
    case FieldType::i8:
      return 1;
    case FieldType::u16:
      return 2;
    case FieldType::i32:
    case FieldType::u32:
      return 4;
    case FieldType::f64:
      return 8;
    case FieldType::ptr:
      return sizeof(std::uintptr_t);
  }
  return 0;
}

// Bytes a block must have so that every field fits.
constexpr std::uint32_t RequiredBlockSize(Block block) {
  std::uint32_t size = 0;
  for (const FieldDescriptor& field : kAllFields) {
    if (field.blockId != block) continue;
    const auto elementSize = static_cast<std::uint32_t>(FieldTypeSize(field.type));
    const std::uint32_t end = field.offset + field.stride * (field.count - 1) + elementSize * field.inner;
    if (end > size) size = end;
  }
  return size;
}

}  // namespace veltra::host

// Host blocks are addressed as EngineBlock::EStop and so on.
namespace veltra {
namespace EngineBlock = host::EngineBlock;
namespace SetupBlock = host::SetupBlock;
namespace PlannerBlock = host::PlannerBlock;
namespace ViewBlock = host::ViewBlock;
}  // namespace veltra
