// Capteur72500: the command set of family A (libcom72500.so).
#include "Capteur.h"

#include <cmath>

#include "CapteurOutils.h"
#include "DefCom72500.h"
#include "UtilCapt.h"

using namespace capteur;

namespace {

constexpr int FamilyACalls = 3;           // every exchange, write or read, is tried this many times
constexpr int FamilyARetryWaitMs = 20;    // lets a sensor that refused finish what it was doing
constexpr int FamilyAStoreWaitMs = 50;    // the sensor stores each register before the next frame

// Registers of a family A sensor (16-bit words).
enum FamilyARegister : uint8_t {
  RegFilterX = 0x40,        // coefficients X, Y, Z: two words each, 0x40..0x45
  RegFilterY = 0x42,
  RegMode = 0x46,           // mode byte, then identifier
  RegAnalogOut = 0x47,      // 0000 Iout, FFFF Vout
  RegRange = 0x4A,          // range coefficient k, two words
  RegSerialNumber = 0x50,   // six characters, three words
  RegReference = 0x53,      // ten characters, five words
};

// ---- Family A encodings -------------------------------------------------------

// The strict conversion of family A serial numbers: an optional sign, then
// decimal digits, or "$" and hexadecimal digits, and nothing else. False for
// any other text, an empty one, or a value outside 32 bits.
bool StrictToInt(const std::string &text, int32_t &value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  }
  if (i == text.size()) return false;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i], base);
    if (digit < 0) return false;
    magnitude = magnitude * base + digit;
    if (magnitude > (int64_t{1} << 32)) return false;
  }
  int64_t signedValue = negative ? -magnitude : magnitude;
  if (base == 16 && signedValue > INT32_MAX && signedValue <= UINT32_MAX)
    signedValue -= int64_t{1} << 32;  // "$FFFFFFFF" is the 32-bit pattern of -1
  if (signedValue < INT32_MIN || signedValue > INT32_MAX) return false;
  value = static_cast<int32_t>(signedValue);
  return true;
}

// Text stored one character per byte in family A registers: codes 0x20 to
// 0x7F are kept; the first code outside ends the text.
std::string RegisterText(const std::string &hex) {
  std::string text;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    const int32_t code = HexToInt(hex.substr(i, 2));
    if (code < 0x20 || code > 0x7F) break;
    text += static_cast<char>(code);
  }
  return text;
}

// Coefficients X, Y, Z of a second-order Butterworth low-pass filter by the
// bilinear transform at 100 Hz sampling, as the 24-digit text of registers
// 0x40..0x45. False when they are not finite numbers.
bool FilterCoefficients(double f, std::string &text) {
  if (!std::isfinite(f)) return false;
  const long double pi = 3.141592653589793238462643383279502884L;
  const long double a = (f == 0.0) ? 0.001L : static_cast<long double>(f);
  const long double q = 1.0L / std::tan(pi * a / 100.0L);
  const long double s = 2.0L * std::cos(pi / 4.0L);
  const long double x = 1.0L / (q * q + s * q + 1.0L);
  const long double y = (1.0L - q * q) * -2.0L;
  const long double z = -(q * q + (1.0L - s * q));
  const long double limit = 1e38L;  // beyond it the sensor's float code has no exponent
  for (long double c : {q, x, y, z})
    if (!std::isfinite(c) || std::fabs(c) > limit) return false;
  text = FloatToHex8(static_cast<double>(x)) + FloatToHex8(static_cast<double>(y)) +
         FloatToHex8(static_cast<double>(z));
  return true;
}

// The cut-off frequency from the Y coefficient: y / 2 + 1 = q^2.
double FilterFromCoefficient(double y) {
  const long double pi = 3.141592653589793238462643383279502884L;
  const long double qSquared = static_cast<long double>(y) / 2.0L + 1.0L;
  const long double q = std::pow(qSquared, 0.5L);
  return static_cast<double>(std::atan(1.0L / q) * 100.0L / pi);
}

}  // namespace

TCapteur72500::TCapteur72500() { Data.Family = 1; }

uint8_t TCapteur72500::OpenPort() {
  return Guarded([&]() -> uint8_t {
    if (!PortOwned(Port)) return FailPort;
    return LinkResultToCode(Com72500_OpenPort(Port));
  });
}

void TCapteur72500::ClosePort() { Com72500_ClosePort(); }

uint8_t TCapteur72500::ExchangeFrames(std::string &frame, int32_t expectedLength,
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
    for (int call = 1; call <= FamilyACalls; ++call) {
      result = Com72500_EchangeTrames(command, answer, expectedLength, &receivedCount, Port,
                                      Data.Protocol, Address());
      if (result == LINK_OK) break;
      WaitMs(FamilyARetryWaitMs);
    }
    frame = FromLinkBuffer(answer);
    return LinkResultToCode(result);
  });
}

uint8_t TCapteur72500::ReadAngle(double &angle) {
  return Guarded([&]() -> uint8_t {
    if (!PortOwned(Port)) {
      angle = 0.0;
      return FailPort;
    }
    const TLinkResult result = Com72500_LitMesure(&angle, Port, Data.Protocol, Address());
    if (result != LINK_OK) angle = 0.0;
    return LinkResultToCode(result);
  });
}

uint8_t TCapteur72500::TestPresence() {
  return Guarded([&]() -> uint8_t {
    if (!PortOwned(Port)) return FailPort;
    return LinkResultToCode(Com72500_Presence(Port, Data.Protocol, Address()));
  });
}

uint8_t TCapteur72500::GetStatusFlag() { return StatusFlag; }

std::string TCapteur72500::ModeByte(uint8_t protocol, uint8_t commType) {
  if (protocol == 0) return "00";
  return commType == 0 ? "0F" : "FF";
}

uint8_t TCapteur72500::ReadWords(uint8_t firstRegister, int words, std::string &answer) {
  answer = "B1" + IntToHexBytes(firstRegister) + IntToHexWidth(words, 2);
  int32_t received = 0;
  return ExchangeFrames(answer, 4 + 2 * words, received);
}

uint8_t TCapteur72500::WriteWord(int reg, const std::string &value) {
  std::string frame = "B0" + IntToHexBytes(reg) + value;
  int32_t received = 0;
  return ExchangeFrames(frame, 4, received);
}

uint8_t TCapteur72500::ReadWholeWords(uint8_t firstRegister, int words, std::string &answer) {
  const uint8_t failure = ReadWords(firstRegister, words, answer);
  if (failure != FailSuccess) return failure;
  return answer.size() == static_cast<std::size_t>(4 * words) ? FailSuccess : FailMalformed;
}

uint8_t TCapteur72500::WriteIdentifier(uint8_t id) {
  return Guarded([&]() -> uint8_t {
    if (!Connected) {
      Data.Identifier = id;
      return FailNotConnected;
    }
    if (id == Data.Identifier) return FailSuccess;
    std::string word;
    const uint8_t read = ReadWholeWords(RegMode, 1, word);
    if (read != FailSuccess) return read;  // half of the word would be unknown
    return WriteWord(RegMode, word.substr(0, 2) + IntToHexBytes(id));
  });
}

uint8_t TCapteur72500::WriteProtocol(uint8_t p) {
  return Guarded([&]() -> uint8_t {
    if (!Connected) {
      Data.Protocol = p;
      return FailNotConnected;
    }
    if (p == Data.Protocol) return FailSuccess;
    std::string word;
    const uint8_t read = ReadWholeWords(RegMode, 1, word);
    if (read != FailSuccess) return read;
    const uint8_t failure = WriteWord(RegMode, ModeByte(p, Data.CommType) + LastTwo(word));
    if (failure == FailSuccess) Data.Protocol = p;
    return failure;
  });
}

uint8_t TCapteur72500::WriteCommType(uint8_t t) {
  return Guarded([&]() -> uint8_t {
    if (!Connected) {
      Data.CommType = t;
      return FailNotConnected;
    }
    if (t == Data.CommType) return FailSuccess;
    Data.CommType = t;
    std::string word;
    const uint8_t read = ReadWholeWords(RegMode, 1, word);
    if (read != FailSuccess) return read;
    return WriteWord(RegMode, ModeByte(Data.Protocol, t) + LastTwo(word));
  });
}

uint8_t TCapteur72500::WriteFilter(double f) {
  return Guarded([&]() -> uint8_t {
    if (!Connected) {
      Data.Filter = f;
      return FailNotConnected;
    }
    if (f == Data.Filter) return FailSuccess;
    Data.Filter = f;
    std::string coefficients;
    if (!FilterCoefficients(f, coefficients)) return FailConfiguration;
    return WriteRegisters(coefficients, RegFilterX);
  });
}

uint8_t TCapteur72500::WriteAnalogOut(uint8_t value) {
  return Guarded([&]() -> uint8_t {
    if (!Connected) {
      Data.AnalogOut = value;
      return FailNotConnected;
    }
    if (value == Data.AnalogOut) return FailSuccess;
    Data.AnalogOut = value;
    return WriteWord(RegAnalogOut, value == 0 ? "FFFF" : "0000");
  });
}

uint8_t TCapteur72500::WriteRegisters(std::string text, uint8_t firstRegister) {
  return Guarded([&]() -> uint8_t {
    while (text.size() % 4 != 0) text += '0';
    uint8_t failure = FailSuccess;
    for (std::size_t i = 0; i < text.size() / 4 && failure == FailSuccess; ++i) {
      failure = WriteWord(firstRegister + static_cast<int>(i), text.substr(4 * i, 4));
    }
    return failure;
  });
}

// Family A reads: a failed exchange ends them with its failure number.

uint8_t TCapteur72500::ReadIdentifier(int32_t &identifier) {
  if (!Connected) identifier = 0;
  return GuardedReadOk(
      Connected, [&](std::string &answer) -> uint8_t { return ReadWords(RegMode, 1, answer); },
      [&](const std::string &answer) -> uint8_t {
        identifier = HexToInt(LastTwo(answer));
        return FailSuccess;
      });
}

uint8_t TCapteur72500::ReadCommType(uint8_t &type) {
  return GuardedRead(
      Connected, [&](std::string &answer) -> uint8_t { return ReadWholeWords(RegMode, 1, answer); },
      [&](const std::string &answer, uint8_t failure) -> uint8_t {
        type = 1;
        if (failure != FailSuccess) return failure;
        if (answer.compare(0, 2, "0F") == 0) type = 0;
        return FailSuccess;
      });
}

uint8_t TCapteur72500::ReadAnalogOut(uint8_t &value) {
  return GuardedRead(
      Connected, [&](std::string &answer) -> uint8_t { return ReadWholeWords(RegAnalogOut, 1, answer); },
      [&](const std::string &answer, uint8_t failure) -> uint8_t {
        value = 0;
        if (failure != FailSuccess) return failure;
        if (answer.compare(0, 2, "00") == 0) value = 1;
        return FailSuccess;
      });
}

uint8_t TCapteur72500::ReadFullScale(double &range) {
  return GuardedReadOk(
      Connected, [&](std::string &answer) -> uint8_t { return ReadWholeWords(RegRange, 2, answer); },
      [&](const std::string &answer) -> uint8_t {
        const double k = Hex8ToFloat(answer);
        // Our own choice: a sensor without a range coefficient is taken as the
        // widest range, 70 degrees, in mRad like every other range (the value in
        // radians, 1.2217, would make every angle of such a sensor look cut).
        range = (k == 0.0) ? 1221.7304763960306 : 32768000.0 / k;
        return FailSuccess;
      });
}

uint8_t TCapteur72500::ReadFilter(double &frequency) {
  return GuardedReadOk(
      Connected, [&](std::string &answer) -> uint8_t { return ReadWords(RegFilterY, 2, answer); },
      [&](const std::string &answer) -> uint8_t {
        const double y = Hex8ToFloat(answer);  // 0 for an answer that is not 8 digits
        if (y == 0.0) return FailMalformed;
        if (y <= -1.0) return FailBadCoefficient;
        const double f = FilterFromCoefficient(y);
        if (!std::isfinite(f)) return FailConfiguration;
        frequency = f;
        return FailSuccess;
      });
}

uint8_t TCapteur72500::ReadReference(std::string &reference) {
  return GuardedRead(
      Connected, [&](std::string &answer) -> uint8_t { return ReadWholeWords(RegReference, 5, answer); },
      [&](const std::string &answer, uint8_t failure) -> uint8_t {
        reference.clear();
        if (failure != FailSuccess) return failure;
        try {
          reference = RegisterText(answer);
        } catch (...) {
          reference = "ERR";
          return FailConfiguration;
        }
        return FailSuccess;
      });
}

uint8_t TCapteur72500::ReadSerialNumber(int32_t &serial) {
  return GuardedRead(
      Connected, [&](std::string &answer) -> uint8_t { return ReadWholeWords(RegSerialNumber, 3, answer); },
      [&](const std::string &answer, uint8_t failure) -> uint8_t {
        serial = 0;
        if (failure != FailSuccess) return failure;
        int32_t value = 0;
        if (!StrictToInt(RegisterText(answer), value)) return FailConfiguration;
        serial = value;
        return FailSuccess;
      });
}

uint8_t TCapteur72500::ReadAll() { return ReadAllSequence(true, 2); }

uint8_t TCapteur72500::WriteConfiguration(SensorData data) {
  return Guarded([&]() -> uint8_t {
    SetConnected(true);
    const uint8_t opened = OpenPort();
    if (opened != FailSuccess) return opened;
    // The sensor stores each register before it takes the next frame.
    bool partlyFailed = false;
    partlyFailed |= WriteProtocol(data.Protocol) != FailSuccess;
    WaitMs(FamilyAStoreWaitMs);
    partlyFailed |= WriteCommType(data.CommType) != FailSuccess;
    WaitMs(FamilyAStoreWaitMs);
    partlyFailed |= WriteFilter(data.Filter) != FailSuccess;
    WaitMs(FamilyAStoreWaitMs);
    partlyFailed |= WriteAnalogOut(data.AnalogOut) != FailSuccess;
    WaitMs(FamilyAStoreWaitMs);
    partlyFailed |= WriteIdentifier(static_cast<uint8_t>(data.Identifier & 0xFF)) != FailSuccess;
    WaitMs(FamilyAStoreWaitMs);
    std::string closing = "DC000000";
    int32_t received = 0;
    const uint8_t last = ExchangeFrames(closing, 4, received);
    // Held open, the port would lock the family B library out of a shared line.
    ClosePort();
    return (partlyFailed && last == FailSuccess) ? uint8_t{FailMalformed} : last;
  });
}
