#include "soak_operation.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace kestova::soak {
namespace {

constexpr std::array kAllFamilies{DeviceFamily::X,  DeviceFamily::Y,  DeviceFamily::M,  DeviceFamily::B,
                                  DeviceFamily::SB, DeviceFamily::SM, DeviceFamily::L,  DeviceFamily::F,
                                  DeviceFamily::S,  DeviceFamily::D,  DeviceFamily::SD, DeviceFamily::W,
                                  DeviceFamily::SW, DeviceFamily::ZR};
constexpr std::array kBitWriteFamilies{DeviceFamily::M, DeviceFamily::Y, DeviceFamily::B,
                                       DeviceFamily::L, DeviceFamily::F, DeviceFamily::S};
constexpr std::array kWordWriteFamilies{DeviceFamily::D, DeviceFamily::W, DeviceFamily::ZR};

template <typename T>
T Pick(std::mt19937_64& random, T low, T high) {
  return static_cast<T>(std::uniform_int_distribution<long long>(low, high)(random));
}

// Values that exercise DLE doubling as well as plain ones.
std::int16_t RandomWord(std::mt19937_64& random) {
  switch (Pick(random, 0, 7)) {
    case 0: return 0x1010;
    case 1: return 0x0010;
    case 2: return -1;
    default: return static_cast<std::int16_t>(Pick(random, -32768, 32767));
  }
}

std::int32_t BitWriteLimit(DeviceFamily family) {
  switch (family) {
    case DeviceFamily::M: return 20000;
    case DeviceFamily::B: return 12287;
    default: return 8191;
  }
}

std::string FamilyName(DeviceFamily family) {
  static const char* names[] = {"X", "Y", "M", "B", "SM", "SB", "L", "F", "S", "D", "W", "ZR", "SD", "SW"};
  return names[static_cast<int>(family)];
}

}  // namespace

std::uint8_t DeviceCodeOf(DeviceFamily family) {
  switch (family) {
    case DeviceFamily::X: return 0x9C;
    case DeviceFamily::Y: return 0x9D;
    case DeviceFamily::M: return 0x90;
    case DeviceFamily::B: return 0xA0;
    case DeviceFamily::SB: return 0xA1;
    case DeviceFamily::SM: return 0x91;
    case DeviceFamily::L: return 0x92;
    case DeviceFamily::F: return 0x93;
    case DeviceFamily::S: return 0x98;
    case DeviceFamily::D: return 0xA8;
    case DeviceFamily::SD: return 0xA9;
    case DeviceFamily::W: return 0xB4;
    case DeviceFamily::SW: return 0xB5;
    case DeviceFamily::ZR: return 0xB0;
  }
  return 0;
}

sim::Family StationFamily(DeviceFamily family) { return *sim::FamilyFromCode(DeviceCodeOf(family)); }

std::int32_t ReadLimit(DeviceFamily family) {
  switch (family) {
    case DeviceFamily::X:
    case DeviceFamily::Y:
    case DeviceFamily::L:
    case DeviceFamily::F:
    case DeviceFamily::S: return 8191;
    case DeviceFamily::M:
    case DeviceFamily::D:
    case DeviceFamily::W: return 20000;
    case DeviceFamily::B: return 12287;
    case DeviceFamily::ZR: return 64000;
    default: return 2047;
  }
}

std::string Operation::record_name() const {
  switch (kind) {
    case Kind::Read: return "ReadWord";
    case Kind::WordWrite: return "WriteSingleWord";
    case Kind::BitWrite: return "WriteSingleBit";
    case Kind::BlockWrite: return "WriteBlock";
    case Kind::RemoteRun: return "RemoteRun";
    case Kind::RemoteStop:
    case Kind::RemoteReset: return "RemoteOperation";
  }
  return "";
}

std::string Operation::timeout_text() const {
  switch (kind) {
    case Kind::Read: {
      char code[4];
      std::snprintf(code, sizeof code, "%X", DeviceCodeOf(family));
      return std::string("ReadWord Time Out ") + code;
    }
    case Kind::WordWrite: return "WriteSingleWord Time Out";
    case Kind::RemoteStop:
    case Kind::RemoteReset:
    case Kind::BitWrite: return "WriteSingleBit Time Out";
    case Kind::BlockWrite: return "WriteBlock Time Out";
    case Kind::RemoteRun: return "RemoteRun Time Out";
  }
  return "";
}

std::string Operation::Describe() const {
  switch (kind) {
    case Kind::Read: return "Read" + FamilyName(family) + "(" + std::to_string(address) + ", " + std::to_string(points) + ")";
    case Kind::WordWrite: return "Write" + FamilyName(family) + "(" + std::to_string(address) + ", " + std::to_string(value) + ")";
    case Kind::BitWrite: return std::string(on ? "Set" : "Reset") + FamilyName(family) + "(" + std::to_string(address) + ")";
    case Kind::BlockWrite: return "WriteBlock(\"" + device_text + "\", " + std::to_string(points) + ")";
    case Kind::RemoteRun: return "RemoteRun(1, " + std::to_string(clear_mode) + ")";
    case Kind::RemoteStop: return "RemoteStop()";
    case Kind::RemoteReset: return "RemoteReset()";
  }
  return "";
}

Operation RandomOperation(std::mt19937_64& random, bool small) {
  Operation op;
  const int draw = Pick(random, 0, 99);
  const int most_words = small ? 20 : (Pick(random, 0, 19) == 0 ? 480 : 40);
  if (draw < 45) {
    op.kind = Operation::Kind::Read;
    op.family = kAllFamilies[Pick<std::size_t>(random, 0, kAllFamilies.size() - 1)];
    const std::int32_t limit = ReadLimit(op.family);
    const int per_word = IsBitFamily(op.family) ? 16 : 1;
    op.points = static_cast<std::int16_t>(Pick(random, 1, std::min(most_words, (limit + 1) / per_word)));
    op.address = Pick(random, 0, limit + 1 - op.points * per_word);
  } else if (draw < 60) {
    op.kind = Operation::Kind::WordWrite;
    op.family = kWordWriteFamilies[Pick<std::size_t>(random, 0, 2)];
    op.address = Pick(random, 0, ReadLimit(op.family));
    op.value = RandomWord(random);
  } else if (draw < 80) {
    op.kind = Operation::Kind::BitWrite;
    op.family = kBitWriteFamilies[Pick<std::size_t>(random, 0, kBitWriteFamilies.size() - 1)];
    op.address = Pick(random, 0, BitWriteLimit(op.family));
    op.on = Pick(random, 0, 1) == 1;
  } else if (draw < 97) {
    op.kind = Operation::Kind::BlockWrite;
    op.family = kWordWriteFamilies[Pick<std::size_t>(random, 0, 2)];
    op.points = static_cast<std::int16_t>(Pick(random, 1, most_words));
    // The last device a block may end on is the family's limit itself.
    op.address = Pick(random, 0, ReadLimit(op.family) + 1 - op.points);
    static const char* prefixes[3][4] = {{"D", "d", "D", "d"}, {"W", "w", "W", "w"}, {"ZR", "zr", "Zr", "zR"}};
    const int row = op.family == DeviceFamily::D ? 0 : op.family == DeviceFamily::W ? 1 : 2;
    op.device_text = prefixes[row][Pick(random, 0, 3)] + std::to_string(op.address);
    for (int k = 0; k < op.points; ++k) op.data.push_back(RandomWord(random));
  } else if (draw == 97) {
    op.kind = Operation::Kind::RemoteRun;
    op.clear_mode = static_cast<std::int16_t>(Pick(random, 0, 3) == 0 ? 1 : 0);
  } else if (draw == 98) {
    op.kind = Operation::Kind::RemoteStop;
  } else {
    op.kind = Operation::Kind::RemoteReset;
  }
  return op;
}

std::int16_t Invoke(Tarvane& control, const Operation& op) {
  using K = Operation::Kind;
  switch (op.kind) {
    case K::Read: return control.Read(op.family, op.address, op.points);
    case K::WordWrite: return control.WriteWord(op.family, op.address, op.value);
    case K::BitWrite: return control.SwitchBit(op.family, op.address, op.on);
    case K::BlockWrite:
      return control.WriteBlock(op.device_text, op.points, IntegerArray::ZeroBased(op.data));
    case K::RemoteRun: return control.RemoteRun(1, op.clear_mode);
    case K::RemoteStop: return control.RemoteStop(1);
    case K::RemoteReset: return control.RemoteReset(1);
  }
  return -1;
}

int ImageElement(const Tarvane& control, DeviceFamily family, std::int32_t index) {
  const int value = control.Image(family, index);
  return IsBitFamily(family) ? value : static_cast<std::uint16_t>(value);
}

int MemoryElement(const sim::DeviceMemory& memory, DeviceFamily family, std::int32_t index) {
  const sim::Family f = StationFamily(family);
  return IsBitFamily(family) ? (memory.Bit(f, index) ? 1 : 0) : memory.Word(f, index);
}

}  // namespace kestova::soak
