// Capteur: the command sets of both sensor families.
#include "Capteur.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>

#include "DefCom72500.h"
#include "DefCom72800.h"
#include "UtilCapt.h"

namespace {

// ---- Small helpers -----------------------------------------------------------

// Runs an operation so that nothing it raises reaches the caller: whatever
// goes wrong inside is a configuration that could not be decoded or encoded.
template <class Body>
uint8_t Guarded(Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return FailConfiguration;
  }
}

void WaitMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

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

// The zero-terminated copy of a frame in a link buffer; longer text is cut.
void CopyToLinkBuffer(const std::string &text, char (&buffer)[LINK_BUFFER_SIZE]) {
  const std::size_t length = std::min(text.size(), sizeof buffer - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

std::string FromLinkBuffer(char (&buffer)[LINK_BUFFER_SIZE]) {
  buffer[sizeof buffer - 1] = '\0';  // a library that filled it completely still ends here
  return std::string(buffer);
}

std::string LastTwo(const std::string &text) {
  return text.size() <= 2 ? text : text.substr(text.size() - 2);
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

int DigitValue(char c, int base) {
  int value = -1;
  if (c >= '0' && c <= '9') value = c - '0';
  else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  return value < base ? value : -1;
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
  return Guarded([&] { return LinkResultToCode(Com72800_OpenPort(Port)); });
}

void TCapteur::ClosePort() { Com72800_ClosePort(); }

uint8_t TCapteur::ExchangeFrames(std::string &frame, int32_t expectedLength,
                                 int32_t &receivedCount) {
  return Guarded([&] {
    char command[LINK_BUFFER_SIZE];
    char answer[LINK_BUFFER_SIZE] = {};
    CopyToLinkBuffer(frame, command);
    TLinkResult result = 0;
    for (int call = 1;; ++call) {
      result = Com72800_EchangeTrames(command, answer, expectedLength, &receivedCount, Port,
                                      Data.Protocol, Address());
      // A write may already have been taken by the sensor: it is never repeated.
      if (result == 0 || call == 3 || expectedLength == 0) break;
      WaitMs(FamilyBRetryWaitMs());
    }
    frame = FromLinkBuffer(answer);
    return LinkResultToCode(result);
  });
}

uint8_t TCapteur::ReadAngle(double &angle) {
  return Guarded([&] {
    return LinkResultToCode(Com72800_LitMesure(&angle, Port, Data.Protocol, Address()));
  });
}

uint8_t TCapteur::TestPresence() {
  return Guarded([&] {
    return LinkResultToCode(Com72800_Presence(Port, Data.Protocol, Address()));
  });
}

uint8_t TCapteur::GetStatusFlag() { return StatusFlag; }

uint8_t TCapteur::WriteIdentifier(uint8_t id) {
  return Guarded([&] {
    if (!Connected || id == Data.Identifier) return FailSuccess;
    const uint8_t failure = SendCommand("C2" + IntToHexBytes(id) + "00");
    // The sensor takes the identifier and may already listen at the new
    // address: a missing or unconfirmed acknowledgement (3, 4) is normal.
    return (failure == 0 || failure == 3 || failure == 4) ? FailSuccess : FailMalformed;
  });
}

uint8_t TCapteur::WriteProtocol(uint8_t p) {
  return Guarded([&] {
    if (!Connected || p == Data.Protocol) {
      Data.Protocol = p;
      return FailSuccess;
    }
    const uint8_t failure = SendCommand(p != 0 ? "C10000" : "C00000");
    if (failure != 0 && failure != 4) return FailMalformed;
    Data.Protocol = p;
    return FailSuccess;
  });
}

uint8_t TCapteur::WriteCommType(uint8_t t) {
  return Guarded([&] {
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
  return Guarded([&] {
    if (!Connected) return FailNotConnected;
    std::string code;
    if (!FamilyBFilterCode(f, code)) return FailConfiguration;
    const uint8_t failure = SendCommand("DA" + code + "00");
    if (failure != 0 && failure != 4) return FailMalformed;
    Data.Filter = f;
    return FailSuccess;
  });
}

uint8_t TCapteur::ReadIdentifier(int32_t &identifier) {
  return Guarded([&] {
    if (!Connected) return FailNotConnected;
    std::string answer;
    const uint8_t failure = ReadRegister(0x02, answer);
    int32_t byte = 0;
    if (!FirstByte(answer, byte)) return FailMalformed;
    identifier = byte;
    return failure;
  });
}

uint8_t TCapteur::ReadFullScale(double &range) {
  return Guarded([&] {
    if (!Connected) return FailNotConnected;
    std::string answer;
    const uint8_t failure = ReadRegister(0x00, answer);
    int32_t code = 0;
    if (!FirstByte(answer, code)) {
      // No range code: a failed exchange tells why (and leaves the range as
      // it was); an exchange that succeeded without a byte is a malformed
      // answer, read as the widest range so that angles are never cut.
      if (failure != 0) return failure;
      range = 1221.73;
      return FailMalformed;
    }
    if (!FamilyBRange(code, range)) return FailMalformed;
    return failure;
  });
}

uint8_t TCapteur::ReadFilter(double &frequency) {
  return Guarded([&] {
    if (!Connected) return FailNotConnected;
    std::string answer;
    const uint8_t failure = ReadRegister(0x0B, answer);
    int32_t code = 0;
    if (!FirstByte(answer, code)) return FailMalformed;
    frequency = FamilyBFilterFrequency(code);
    return failure;
  });
}

uint8_t TCapteur::ReadCommType(uint8_t &type) {
  return Guarded([&] {
    if (!Connected) return FailNotConnected;
    type = 1;
    std::string answer;
    const uint8_t failure = ReadRegister(0x04, answer);
    if (answer.size() < 2) return FailMalformed;
    if (answer.compare(0, 2, "00") == 0) type = 0;
    return failure;
  });
}

uint8_t TCapteur::ReadReference(std::string &reference) {
  return Guarded([&] {
    reference.clear();
    if (!Connected) return FailNotConnected;
    uint8_t result = FailSuccess;
    for (int k = 0; k < 6; ++k) {
      std::string answer;
      result = ReadRegister(static_cast<uint8_t>(0x10 + k), answer);
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
  return Guarded([&] {
    serial = 0;
    if (!Connected) return FailNotConnected;
    std::string text;
    uint8_t result = FailSuccess;
    for (int k = 0; k < 5; ++k) {
      std::string answer;
      result = ReadRegister(static_cast<uint8_t>(0x20 + k), answer);
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
    if (opened != 0) {
      SetConnected(false);
      ClosePort();
      return opened;
    }
    SetConnected(true);

    bool soft = false;
    uint8_t hard = FailSuccess;
    // Judges one read's result; false when it failed hard and the sequence stops.
    const auto step = [&](uint8_t result) {
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
  return Guarded([&] {
    const uint8_t opened = OpenPort();
    if (opened != 0) return opened;
    SetConnected(true);
    // A family B sensor needs time to store each value before the next frame.
    bool partlyFailed = false;
    partlyFailed |= WriteCommType(data.CommType) != FailSuccess;
    WaitMs(100);
    partlyFailed |= WriteFilter(data.Filter) != FailSuccess;
    WaitMs(100);
    partlyFailed |= WriteProtocol(data.Protocol) != FailSuccess;
    WaitMs(100);
    const uint8_t last = WriteIdentifier(static_cast<uint8_t>(data.Identifier & 0xFF));
    ClosePort();
    return (partlyFailed && last == FailSuccess) ? FailMalformed : last;
  });
}

// ==== TCapteur72500: the family A sensor =======================================

TCapteur72500::TCapteur72500() { Data.Family = 1; }

uint8_t TCapteur72500::OpenPort() {
  return Guarded([&] { return LinkResultToCode(Com72500_OpenPort(Port)); });
}

void TCapteur72500::ClosePort() { Com72500_ClosePort(); }

uint8_t TCapteur72500::ExchangeFrames(std::string &frame, int32_t expectedLength,
                                      int32_t &receivedCount) {
  return Guarded([&] {
    char command[LINK_BUFFER_SIZE];
    char answer[LINK_BUFFER_SIZE] = {};
    CopyToLinkBuffer(frame, command);
    TLinkResult result = 0;
    for (int call = 1; call <= 3; ++call) {
      result = Com72500_EchangeTrames(command, answer, expectedLength, &receivedCount, Port,
                                      Data.Protocol, Address());
      if (result == 0) break;
      WaitMs(20);  // lets a sensor that refused finish what it was doing
    }
    frame = FromLinkBuffer(answer);
    return LinkResultToCode(result);
  });
}

uint8_t TCapteur72500::ReadAngle(double &angle) {
  return Guarded([&] {
    const TLinkResult result = Com72500_LitMesure(&angle, Port, Data.Protocol, Address());
    if (result != 0) angle = 0.0;
    return LinkResultToCode(result);
  });
}

uint8_t TCapteur72500::TestPresence() {
  return Guarded([&] {
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
  return Guarded([&] {
    if (!Connected) {
      Data.Identifier = id;
      return FailNotConnected;
    }
    if (id == Data.Identifier) return FailSuccess;
    std::string word;
    const uint8_t read = ReadWholeWords(0x46, 1, word);
    if (read != FailSuccess) return read;  // half of the word would be unknown
    return WriteWord(0x46, word.substr(0, 2) + IntToHexBytes(id));
  });
}

uint8_t TCapteur72500::WriteProtocol(uint8_t p) {
  return Guarded([&] {
    if (!Connected) {
      Data.Protocol = p;
      return FailNotConnected;
    }
    if (p == Data.Protocol) return FailSuccess;
    std::string word;
    const uint8_t read = ReadWholeWords(0x46, 1, word);
    if (read != FailSuccess) return read;
    const uint8_t failure = WriteWord(0x46, ModeByte(p, Data.CommType) + LastTwo(word));
    if (failure == FailSuccess) Data.Protocol = p;
    return failure;
  });
}

uint8_t TCapteur72500::WriteCommType(uint8_t t) {
  return Guarded([&] {
    if (!Connected) {
      Data.CommType = t;
      return FailNotConnected;
    }
    if (t == Data.CommType) return FailSuccess;
    Data.CommType = t;
    std::string word;
    const uint8_t read = ReadWholeWords(0x46, 1, word);
    if (read != FailSuccess) return read;
    return WriteWord(0x46, ModeByte(Data.Protocol, t) + LastTwo(word));
  });
}

uint8_t TCapteur72500::WriteFilter(double f) {
  return Guarded([&] {
    if (!Connected) {
      Data.Filter = f;
      return FailNotConnected;
    }
    if (f == Data.Filter) return FailSuccess;
    Data.Filter = f;
    std::string coefficients;
    if (!FilterCoefficients(f, coefficients)) return FailConfiguration;
    return WriteRegisters(coefficients, 0x40);
  });
}

uint8_t TCapteur72500::WriteAnalogOut(uint8_t value) {
  return Guarded([&] {
    if (!Connected) {
      Data.AnalogOut = value;
      return FailNotConnected;
    }
    if (value == Data.AnalogOut) return FailSuccess;
    Data.AnalogOut = value;
    return WriteWord(0x47, value == 0 ? "FFFF" : "0000");
  });
}

uint8_t TCapteur72500::WriteRegisters(std::string text, uint8_t firstRegister) {
  return Guarded([&] {
    while (text.size() % 4 != 0) text += '0';
    uint8_t failure = FailSuccess;
    for (std::size_t i = 0; i < text.size() / 4 && failure == FailSuccess; ++i) {
      failure = WriteWord(firstRegister + static_cast<int>(i), text.substr(4 * i, 4));
    }
    return failure;
  });
}

uint8_t TCapteur72500::ReadIdentifier(int32_t &identifier) {
  return Guarded([&] {
    if (!Connected) {
      identifier = 0;
      return FailNotConnected;
    }
    std::string answer;
    const uint8_t failure = ReadWords(0x46, 1, answer);
    if (failure != FailSuccess) return failure;
    identifier = HexToInt(LastTwo(answer));
    return FailSuccess;
  });
}

uint8_t TCapteur72500::ReadCommType(uint8_t &type) {
  return Guarded([&] {
    if (!Connected) return FailNotConnected;
    type = 1;
    std::string answer;
    const uint8_t failure = ReadWholeWords(0x46, 1, answer);
    if (failure != FailSuccess) return failure;
    if (answer.compare(0, 2, "0F") == 0) type = 0;
    return FailSuccess;
  });
}

uint8_t TCapteur72500::ReadAnalogOut(uint8_t &value) {
  return Guarded([&] {
    if (!Connected) return FailNotConnected;
    value = 0;
    std::string answer;
    const uint8_t failure = ReadWholeWords(0x47, 1, answer);
    if (failure != FailSuccess) return failure;
    if (answer.compare(0, 2, "00") == 0) value = 1;
    return FailSuccess;
  });
}

uint8_t TCapteur72500::ReadFullScale(double &range) {
  return Guarded([&] {
    if (!Connected) return FailNotConnected;
    std::string answer;
    const uint8_t failure = ReadWholeWords(0x4A, 2, answer);
    if (failure != FailSuccess) return failure;
    const double k = Hex8ToFloat(answer);
    // Our own choice: a sensor without a range coefficient is taken as the
    // widest range, 70 degrees, in mRad like every other range (the value in
    // radians, 1.2217, would make every angle of such a sensor look cut).
    range = (k == 0.0) ? 1221.7304763960306 : 32768000.0 / k;
    return FailSuccess;
  });
}

uint8_t TCapteur72500::ReadFilter(double &frequency) {
  return Guarded([&] {
    if (!Connected) return FailNotConnected;
    std::string answer;
    const uint8_t failure = ReadWords(0x42, 2, answer);
    if (failure != FailSuccess) return failure;
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
  return Guarded([&] {
    if (!Connected) return FailNotConnected;
    reference.clear();
    std::string answer;
    const uint8_t failure = ReadWholeWords(0x53, 5, answer);
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
  return Guarded([&] {
    if (!Connected) return FailNotConnected;
    serial = 0;
    std::string answer;
    const uint8_t failure = ReadWholeWords(0x50, 3, answer);
    if (failure != FailSuccess) return failure;
    int32_t value = 0;
    if (!StrictToInt(RegisterText(answer), value)) return FailConfiguration;
    serial = value;
    return FailSuccess;
  });
}

uint8_t TCapteur72500::ReadAll() { return ReadAllSequence(true, 2); }

uint8_t TCapteur72500::WriteConfiguration(SensorData data) {
  return Guarded([&] {
    SetConnected(true);
    const uint8_t opened = OpenPort();
    if (opened != 0) return opened;
    // The sensor stores each register before it takes the next frame.
    bool partlyFailed = false;
    partlyFailed |= WriteProtocol(data.Protocol) != FailSuccess;
    WaitMs(50);
    partlyFailed |= WriteCommType(data.CommType) != FailSuccess;
    WaitMs(50);
    partlyFailed |= WriteFilter(data.Filter) != FailSuccess;
    WaitMs(50);
    partlyFailed |= WriteAnalogOut(data.AnalogOut) != FailSuccess;
    WaitMs(50);
    partlyFailed |= WriteIdentifier(static_cast<uint8_t>(data.Identifier & 0xFF)) != FailSuccess;
    WaitMs(50);
    std::string closing = "DC000000";
    int32_t received = 0;
    const uint8_t last = ExchangeFrames(closing, 4, received);
    // Held open, the port would lock the family B library out of a shared line.
    ClosePort();
    return (partlyFailed && last == FailSuccess) ? FailMalformed : last;
  });
}
