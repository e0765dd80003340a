// Capteur: the base of every sensor and the command set of family B
// (libcom72800.so). Family A is in Capteur72500.cpp.
#include "Capteur.h"

#include <cmath>
#include <random>

#include "CapteurOutils.h"
#include "DefCom72800.h"
#include "UtilCapt.h"

using namespace capteur;

namespace {

// One generator for the whole program: the family B retries spread their
// waits so that two masters on a line do not keep colliding.
std::mt19937 &RandomGenerator() {
  static std::mt19937 generator{std::random_device{}()};
  return generator;
}

// 225 to 275 ms, centred on 250.
int FamilyBRetryWaitMs() {
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  const double r = uniform(RandomGenerator());
  return static_cast<int>(std::lround((r - 0.5) * 50.0 + 250.0));
}

constexpr int FamilyBCalls = 3;          // a read is tried this many times
constexpr int FamilyBStoreWaitMs = 100;  // a family B sensor stores each value before the next frame

// Registers of a family B sensor.
enum FamilyBRegister : uint8_t {
  RegRange = 0x00,
  RegIdentifier = 0x02,
  RegCommType = 0x04,
  RegFilter = 0x0B,
  RegReference = 0x10,     // six characters, one per register
  RegSerialNumber = 0x20,  // five characters, one per register
};
constexpr int ReferenceRegisters = 6;
constexpr int SerialNumberRegisters = 5;

// A write the sensor took but did not confirm in time, or whose
// acknowledgement never came, is taken as done.
bool WriteTaken(uint8_t failure) {
  return failure == FailSuccess || failure == FailNotConfirmed;
}

// ---- Family B encodings -------------------------------------------------------

// Family B answers carry one byte, as the first two digits.
bool FirstByte(const std::string &answer, int32_t &byte) {
  if (answer.size() < 2) return false;
  byte = HexToInt(answer.substr(0, 2));
  return true;
}

// Filter code of a cut-off frequency: tenths of Hz, halves to even, against
// the bounds the sensor knows. False when f is not a finite number.
bool FamilyBFilterCode(double f, std::string &code) {
  const double tenths = std::nearbyint(f * 10.0);  // default rounding: halves to even
  if (!std::isfinite(tenths)) return false;
  static const struct { double bound; const char *code; } table[] = {
      {1, "FD"},  {5, "EE"},  {10, "DB"}, {15, "CB"}, {20, "BC"},
      {25, "AA"}, {30, "90"}, {35, "86"}, {40, "6F"}, {45, "5F"}};
  for (const auto &row : table) {
    if (tenths <= row.bound) {
      code = row.code;
      return true;
    }
  }
  code = "4F";
  return true;
}

// Frequency of a filter code read back: the codes written above read as
// thresholds, and the factory code 0xFF as 3 Hz.
double FamilyBFilterFrequency(int32_t code) {
  if (code == 0xFF) return 3.0;
  static const struct { int32_t atLeast; double hz; } table[] = {
      {253, 0.1}, {238, 0.5}, {219, 1.0}, {203, 1.5}, {188, 2.0}, {170, 2.5},
      {144, 3.0}, {134, 3.5}, {111, 4.0}, {95, 4.5}};
  for (const auto &row : table)
    if (code >= row.atLeast) return row.hz;
  return 5.0;
}

// Measuring range of a family B range code, in mRad; false for an unknown code.
bool FamilyBRange(int32_t code, double &range) {
  switch (code) {
    case 0: range = 17.45329; return true;
    case 1: range = 52.35988; return true;
    case 2: range = 100.3564; return true;
    case 3: range = 253.0727; return true;
    case 4: range = 523.599; return true;
    case 7: range = 1221.73; return true;
    default: range = 1221.73; return false;
  }
}

// The lenient integer reading of family B serial numbers: leading blanks,
// an optional sign, then decimal digits, or hexadecimal ones after "$", "x"
// or "0x"; it stops at the first character that is not a digit and keeps
// what it has read. No digits give 0.
int32_t LenientToInt(const std::string &text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  uint32_t value = 0;  // wraps like the 32-bit integer it ends in
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i], base);
    if (digit < 0) break;
    value = value * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

}  // namespace

// ==== TCapteur: the base, and the family B sensor ==============================

TCapteur::TCapteur() {
  SetPort(1);
  SetConnected(false);
}

TCapteur::~TCapteur() = default;

void TCapteur::SetPort(uint8_t port) { Port = port; }

void TCapteur::SetConnected(bool flag) {
  if (flag != Connected) {
    if (flag)
      OpenPort();
    else
      ClosePort();
  }
  Connected = flag;
}

uint8_t TCapteur::OpenPort() {
  return Guarded([&]() -> uint8_t {
    if (!PortOwned(Port)) return FailPort;
    return LinkResultToCode(Com72800_OpenPort(Port));
  });
}

void TCapteur::ClosePort() { Com72800_ClosePort(); }

uint8_t TCapteur::ExchangeFrames(std::string &frame, int32_t expectedLength,
                                 int32_t &receivedCount) {
  return Guarded([&]() -> uint8_t {
    if (!PortOwned(Port)) {
      receivedCount = 0;
      return FailPort;
    }
    char command[LINK_BUFFER_SIZE];
    char answer[LINK_BUFFER_SIZE] = {};
    CopyToLinkBuffer(frame, command);
    TLinkResult result = LINK_OK;
    for (int call = 1;; ++call) {
      result = Com72800_EchangeTrames(command, answer, expectedLength, &receivedCount, Port,
                                      Data.Protocol, Address());
      // A write may already have been taken by the sensor: it is never repeated.
      if (result == LINK_OK || call == FamilyBCalls || expectedLength == 0) break;
      WaitMs(FamilyBRetryWaitMs());
    }
    frame = FromLinkBuffer(answer);
    return LinkResultToCode(result);
  });
}

uint8_t TCapteur::ReadAngle(double &angle) {
  return Guarded([&]() -> uint8_t {
    if (!PortOwned(Port)) {
      angle = 0.0;
      return FailPort;
    }
    return LinkResultToCode(Com72800_LitMesure(&angle, Port, Data.Protocol, Address()));
  });
}

uint8_t TCapteur::TestPresence() {
  return Guarded([&]() -> uint8_t {
    if (!PortOwned(Port)) return FailPort;
    return LinkResultToCode(Com72800_Presence(Port, Data.Protocol, Address()));
  });
}

uint8_t TCapteur::GetStatusFlag() { return StatusFlag; }

uint8_t TCapteur::WriteIdentifier(uint8_t id) {
  return Guarded([&]() -> uint8_t {
    if (!Connected || id == Data.Identifier) return FailSuccess;
    const uint8_t failure = SendCommand("C2" + IntToHexBytes(id) + "00");
    // The sensor takes the identifier and may already listen at the new
    // address: a missing or unconfirmed acknowledgement is normal.
    return (WriteTaken(failure) || failure == FailNoAck) ? FailSuccess : FailMalformed;
  });
}

uint8_t TCapteur::WriteProtocol(uint8_t p) {
  return Guarded([&]() -> uint8_t {
    if (!Connected || p == Data.Protocol) {
      Data.Protocol = p;
      return FailSuccess;
    }
    if (!WriteTaken(SendCommand(p != 0 ? "C10000" : "C00000"))) return FailMalformed;
    Data.Protocol = p;
    return FailSuccess;
  });
}

uint8_t TCapteur::WriteCommType(uint8_t t) {
  return Guarded([&]() -> uint8_t {
    if (!Connected || t == Data.CommType) {
      Data.CommType = t;
      return FailSuccess;
    }
    Data.CommType = t;
    SendCommand(t == 0 ? "C50000" : "C40000");  // the sensor's answer to it is not trusted either way
    return FailSuccess;
  });
}

uint8_t TCapteur::WriteFilter(double f) {
  return WhenConnected(Connected, [&]() -> uint8_t {
    std::string code;
    if (!FamilyBFilterCode(f, code)) return FailConfiguration;
    if (!WriteTaken(SendCommand("DA" + code + "00"))) return FailMalformed;
    Data.Filter = f;
    return FailSuccess;
  });
}

// Family B reads: an answer without its byte is malformed (2), whatever the
// exchange gave; else the exchange's failure number.

uint8_t TCapteur::ReadIdentifier(int32_t &identifier) {
  return GuardedRead(
      Connected, [&](std::string &answer) -> uint8_t { return ReadRegister(RegIdentifier, answer); },
      [&](const std::string &answer, uint8_t failure) -> uint8_t {
        int32_t byte = 0;
        if (!FirstByte(answer, byte)) return FailMalformed;
        identifier = byte;
        return failure;
      });
}

uint8_t TCapteur::ReadFullScale(double &range) {
  return GuardedRead(
      Connected, [&](std::string &answer) -> uint8_t { return ReadRegister(RegRange, answer); },
      [&](const std::string &answer, uint8_t failure) -> uint8_t {
        int32_t code = 0;
        if (!FirstByte(answer, code)) {
          // No range code: a failed exchange tells why (and leaves the range as
          // it was); an exchange that succeeded without a byte is a malformed
          // answer, read as the widest range so that angles are never cut.
          if (failure != FailSuccess) return failure;
          range = 1221.73;
          return FailMalformed;
        }
        if (!FamilyBRange(code, range)) return FailMalformed;
        return failure;
      });
}

uint8_t TCapteur::ReadFilter(double &frequency) {
  return GuardedRead(
      Connected, [&](std::string &answer) -> uint8_t { return ReadRegister(RegFilter, answer); },
      [&](const std::string &answer, uint8_t failure) -> uint8_t {
        int32_t code = 0;
        if (!FirstByte(answer, code)) return FailMalformed;
        frequency = FamilyBFilterFrequency(code);
        return failure;
      });
}

uint8_t TCapteur::ReadCommType(uint8_t &type) {
  return GuardedRead(
      Connected, [&](std::string &answer) -> uint8_t { return ReadRegister(RegCommType, answer); },
      [&](const std::string &answer, uint8_t failure) -> uint8_t {
        type = 1;
        if (answer.size() < 2) return FailMalformed;
        if (answer.compare(0, 2, "00") == 0) type = 0;
        return failure;
      });
}

uint8_t TCapteur::ReadReference(std::string &reference) {
  reference.clear();
  return WhenConnected(Connected, [&]() -> uint8_t {
    uint8_t result = FailSuccess;
    for (int k = 0; k < ReferenceRegisters; ++k) {
      std::string answer;
      result = ReadRegister(static_cast<uint8_t>(RegReference + k), answer);
      if (answer.size() < 2) {
        result = FailMalformed;  // one character missing; the others are still worth having
        continue;
      }
      if (reference.size() < MaxReferenceLength) reference += HexToBytes(answer.substr(0, 2));
    }
    return result;
  });
}

uint8_t TCapteur::ReadSerialNumber(int32_t &serial) {
  serial = 0;
  return WhenConnected(Connected, [&]() -> uint8_t {
    std::string text;
    uint8_t result = FailSuccess;
    for (int k = 0; k < SerialNumberRegisters; ++k) {
      std::string answer;
      result = ReadRegister(static_cast<uint8_t>(RegSerialNumber + k), answer);
      if (answer.size() < 2) {
        serial = 0;
        return FailMalformed;
      }
      text += HexToBytes(answer.substr(0, 2));
    }
    serial = LenientToInt(text);
    return result;
  });
}

uint8_t TCapteur::ReadRegister(uint8_t reg, std::string &answer) {
  answer = "A1" + IntToHexBytes(reg) + "00";
  int32_t received = 0;
  return ExchangeFrames(answer, 2, received);
}

uint8_t TCapteur::SendCommand(std::string frame) {
  int32_t received = 0;
  return ExchangeFrames(frame, 0, received);
}

uint8_t TCapteur::ReadExtraAnalogOut(uint8_t &) { return FailSuccess; }

uint8_t TCapteur::ReadAllSequence(bool withAnalogOut, int closings) {
  const auto closeAll = [&] {
    for (int i = 0; i < closings; ++i) ClosePort();
  };
  try {
    const uint8_t opened = OpenPort();
    if (opened != FailSuccess) {
      SetConnected(false);
      ClosePort();
      return opened;
    }
    SetConnected(true);

    bool soft = false;
    uint8_t hard = FailSuccess;
    // Judges one read's result; false when it failed hard and the sequence stops.
    const auto step = [&](uint8_t result) -> uint8_t {
      if (result == FailConfiguration) soft = true;
      else if (result != FailSuccess) hard = result;
      return hard == FailSuccess;
    };
    const bool allRead = step(ReadIdentifier(Data.Identifier)) && step(ReadFilter(Data.Filter)) &&
                         step(ReadFullScale(Data.FullScale)) &&
                         step(ReadReference(Data.Reference)) &&
                         step(ReadSerialNumber(Data.SerialNumber)) &&
                         step(ReadCommType(Data.CommType)) &&
                         (!withAnalogOut || step(ReadExtraAnalogOut(Data.AnalogOut)));
    if (!allRead) {
      SetConnected(false);
      closeAll();
      return hard;
    }
    closeAll();
    return soft ? FailConfiguration : FailSuccess;
  } catch (...) {
    // The port is never left open behind a failed reading.
    try {
      closeAll();
    } catch (...) {
    }
    return FailConfiguration;
  }
}

uint8_t TCapteur::ReadAll() { return ReadAllSequence(false, 1); }

uint8_t TCapteur::WriteConfiguration(SensorData data) {
  return Guarded([&]() -> uint8_t {
    const uint8_t opened = OpenPort();
    if (opened != FailSuccess) return opened;
    SetConnected(true);
    // A family B sensor needs time to store each value before the next frame.
    bool partlyFailed = false;
    partlyFailed |= WriteCommType(data.CommType) != FailSuccess;
    WaitMs(FamilyBStoreWaitMs);
    partlyFailed |= WriteFilter(data.Filter) != FailSuccess;
    WaitMs(FamilyBStoreWaitMs);
    partlyFailed |= WriteProtocol(data.Protocol) != FailSuccess;
    WaitMs(FamilyBStoreWaitMs);
    const uint8_t last = WriteIdentifier(static_cast<uint8_t>(data.Identifier & 0xFF));
    ClosePort();
    return (partlyFailed && last == FailSuccess) ? uint8_t{FailMalformed} : last;
  });
}

