// UtilCapt: the small conversions shared by the link libraries and the program.
#include "UtilCapt.h"

#include <cctype>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

char HexDigit(unsigned nibble) { return "0123456789ABCDEF"[nibble & 0x0F]; }

std::string UpperCase(const std::string &text) {
  std::string upper(text);
  for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// Pairs of digits to bytes with the given digit reader; odd or empty text gives nothing.
template <typename Reader>
std::string PairsToBytes(const std::string &text, Reader read) {
  std::string bytes;
  if (text.empty() || text.size() % 2 != 0) return bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2)
    bytes.push_back(static_cast<char>(read(text.substr(i, 2)) & 0xFF));
  return bytes;
}

}  // namespace

// ---- Hexadecimal text and byte strings --------------------------------------

int32_t HexToInt(const std::string &text) {
  uint32_t sum = 0;
  uint32_t weight = 1;  // 16^i, which wraps to 0 after the eighth digit
  for (auto it = text.rbegin(); it != text.rend(); ++it) {
    const int code = static_cast<unsigned char>(*it);
    const int digit = code <= '9' ? code - 48 : code - 55;
    sum += static_cast<uint32_t>(digit) * weight;
    weight *= 16;
  }
  return static_cast<int32_t>(sum);
}

int32_t HexToIntAnyCase(const std::string &text) { return HexToInt(UpperCase(text)); }

std::string IntToHexBytes(int64_t value) {
  // Shifting the unsigned image ends the loop for any value: a negative one,
  // which callers never pass, comes out as its 64-bit two's complement.
  uint64_t rest = static_cast<uint64_t>(value);
  std::string text;
  do {
    const unsigned byte = static_cast<unsigned>(rest & 0xFF);
    text.insert(0, {HexDigit(byte >> 4), HexDigit(byte)});
    rest >>= 8;
  } while (rest != 0);
  return text;
}

std::string IntToHexWidth(int64_t value, int width) {
  if (value < 0 && width >= 1 && width <= 4) value += int64_t{1} << (8 * width);
  std::string text = IntToHexBytes(value);
  if (width > 0 && text.size() < static_cast<std::size_t>(2 * width))
    text.insert(0, static_cast<std::size_t>(2 * width) - text.size(), '0');
  return text;
}

std::string BytesToHex(const std::string &bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (unsigned char byte : bytes) {
    text.push_back(HexDigit(byte >> 4));
    text.push_back(HexDigit(byte));
  }
  return text;
}

std::string HexToBytes(const std::string &text) { return PairsToBytes(text, HexToInt); }

std::string HexToBytesAnyCase(const std::string &text) {
  return PairsToBytes(text, HexToIntAnyCase);
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// ---- Frame checksum ----------------------------------------------------------

uint8_t FrameChecksum(const std::string &bytes) {
  uint8_t sum = 0;
  for (unsigned char byte : bytes) sum ^= byte;
  return sum;
}

// ---- Sensor float code -------------------------------------------------------

std::string FloatToHex8(double value) {
  if (std::isnan(value) || value == 0) return "00000000";
  if (std::isinf(value)) return value > 0 ? "FF7FFFFF" : "FFFFFFFF";

  // frexp gives the exact binary exponent; log2 rounds for values just below a
  // power of two and would leave the mantissa at 2 or above.
  int binaryExponent = 0;
  std::frexp(std::fabs(value), &binaryExponent);
  const int e = binaryExponent - 1;
  const double m = std::ldexp(std::fabs(value), -e);  // 1 <= m < 2, exact

  // m * 2^23 is exact, so the conversion truncates the fraction, as the sensors expect.
  const uint32_t fraction = static_cast<uint32_t>(std::ldexp(m, 23)) & 0x7FFFFF;
  const uint32_t exponentByte = static_cast<uint32_t>(e + 127) & 0xFF;
  uint32_t b1 = fraction >> 16;
  if (value < 0) b1 |= 0x80;
  return IntToHexWidth(exponentByte, 1) + IntToHexWidth(b1, 1) +
         IntToHexWidth((fraction >> 8) & 0xFF, 1) + IntToHexWidth(fraction & 0xFF, 1);
}

double Hex8ToFloat(const std::string &text) {
  if (text.size() != 8 || text == "00000000") return 0;
  const int32_t signByte = HexToInt(text.substr(2, 2));
  const bool negative = (signByte & 0x80) != 0;
  const int32_t fraction =
      HexToInt(IntToHexWidth(signByte & 0x7F, 1) + text.substr(4, 4));
  // Widened so that the bias cannot overflow on a text of non-digits.
  const int64_t exponent = int64_t{HexToInt(text.substr(0, 2))} - 127;
  const int clamped = static_cast<int>(exponent < -4000 ? -4000 : exponent > 4000 ? 4000 : exponent);
  const double magnitude = std::ldexp(1.0 + fraction / 8388608.0, clamped);
  return negative ? -magnitude : magnitude;
}

// ---- Failure codes -----------------------------------------------------------

namespace {

struct CodePair {
  uint8_t code;
  int32_t result;
};

constexpr CodePair CodeTable[] = {{0, 0},    {1, -2},   {2, -3},   {3, -4},
                                  {4, -5},   {5, -6},   {6, -7},   {9, -9},
                                  {10, -10}, {11, -11}, {12, -12}, {13, -13}};

}  // namespace

int32_t CodeToLinkResult(uint8_t code) {
  for (const CodePair &pair : CodeTable)
    if (pair.code == code) return pair.result;
  return 0;
}

uint8_t LinkResultToCode(int32_t result) {
  for (const CodePair &pair : CodeTable)
    if (pair.result == result) return pair.code;
  return 0;
}

// ---- Decimal mark ------------------------------------------------------------

char LocaleDecimalSeparator() {
  const struct lconv *conventions = std::localeconv();
  if (conventions == nullptr || conventions->decimal_point == nullptr ||
      conventions->decimal_point[0] == '\0')
    return '.';
  return conventions->decimal_point[0];
}

std::string LocalizeDecimal(const std::string &text) {
  const char separator = LocaleDecimalSeparator();
  std::string localized(text);
  for (char &c : localized)
    if (c == '.' || c == ',') c = separator;
  return localized;
}

namespace {

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Whether text is exactly: sign? digits (separator digits)? exponent?, with at
// least one digit in the mantissa. strtod alone would also take "inf", "nan"
// and hexadecimal numbers, which no sensor sends.
bool IsPlainDecimal(const std::string &text, char separator) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t mantissaDigits = 0;
  while (i < n && IsDigit(text[i])) ++i, ++mantissaDigits;
  if (i < n && text[i] == separator) {
    ++i;
    while (i < n && IsDigit(text[i])) ++i, ++mantissaDigits;
  }
  if (mantissaDigits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exponentDigits = 0;
    while (i < n && IsDigit(text[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  return i == n;
}

}  // namespace

bool TextToReal(const std::string &text, double &value) {
  const std::string localized = LocalizeDecimal(text);
  std::size_t first = 0;
  std::size_t last = localized.size();
  while (first < last && IsBlank(localized[first])) ++first;
  while (last > first && IsBlank(localized[last - 1])) --last;
  const std::string number = localized.substr(first, last - first);
  if (!IsPlainDecimal(number, LocaleDecimalSeparator())) return false;

  errno = 0;
  char *end = nullptr;
  const double parsed = std::strtod(number.c_str(), &end);
  if (end != number.c_str() + number.size()) return false;
  if (errno == ERANGE && std::isinf(parsed)) return false;  // too large for a double
  value = parsed;
  return true;
}

// ---- Angles ------------------------------------------------------------------

double MRadToDeg(double mrad) { return mrad * 180 / 3141.5926535897932386; }
double MRadToPercent(double mrad) { return std::tan(mrad / 1000) * 100; }
double MRadToMmPerM(double mrad) { return std::tan(mrad / 1000) * 1000; }

double ConvertAngle(int unit, double mrad) {
  switch (unit) {
    case UnitMRad: return mrad;
    case UnitDeg: return MRadToDeg(mrad);
    case UnitPercent: return MRadToPercent(mrad);
    case UnitMmPerM: return MRadToMmPerM(mrad);
    default: return 9999;
  }
}

int RangeClass(double rangeMRad) {
  if (rangeMRad >= 1221.73) return 0;
  if (rangeMRad >= 523.599) return 1;
  if (rangeMRad >= 253.0727) return 2;
  if (rangeMRad >= 100.3564) return 3;
  if (rangeMRad >= 52.35988) return 4;
  return 5;
}

const uint8_t DecimalsTable[2][4][6] = {
    {
        {1, 1, 1, 2, 2, 2},  // family B, mRad
        {1, 2, 2, 3, 3, 3},  // family B, Deg
        {1, 2, 2, 3, 3, 3},  // family B, %
        {0, 1, 1, 2, 2, 2},  // family B, mm/m
    },
    {
        {2, 2, 2, 3, 3, 3},  // family A, mRad
        {2, 3, 3, 4, 4, 4},  // family A, Deg
        {2, 3, 3, 4, 4, 4},  // family A, %
        {1, 2, 3, 3, 3, 3},  // family A, mm/m
    },
};

std::string AngleUnitName(int unit) {
  switch (unit) {
    case UnitMRad: return "mRad";
    case UnitDeg: return "Deg";
    case UnitPercent: return "%";
    case UnitMmPerM: return "mm/m";
    default: return "";
  }
}

namespace {

// A positive decimal number: value = 0.d1d2d3... x 10^(exponent + 1), that is
// the first digit stands for 10^exponent. No sign: the sign is kept aside.
struct DecimalDigits {
  std::string digits;
  int exponent = 0;
};

// Every decimal digit of a finite, non-zero magnitude: a double has at most
// 767 significant digits and glibc's printf writes them exactly, so the
// rounding below never sees an earlier rounding.
DecimalDigits ExactDigits(double magnitude) {
  char buffer[800];
  std::snprintf(buffer, sizeof buffer, "%.770e", magnitude);
  DecimalDigits exact;
  const char *p = buffer;
  for (; *p != '\0' && *p != 'e'; ++p)
    if (IsDigit(*p)) exact.digits.push_back(*p);
  if (*p == 'e') exact.exponent = std::atoi(p + 1);
  while (exact.digits.size() > 1 && exact.digits.back() == '0') exact.digits.pop_back();
  return exact;
}

// Keeps the first `keep` digits (keep may be 0 or less: the rounding digit
// then lies before the first digit), rounding half away from zero as a user
// reads it: 0.25 shown with one decimal is 0.3. An all-zero result is "0".
DecimalDigits RoundToDigits(const DecimalDigits &exact, int keep) {
  DecimalDigits rounded{exact.digits, exact.exponent};
  if (keep < 0) return {"0", 0};
  if (static_cast<std::size_t>(keep) >= rounded.digits.size()) return rounded;
  const bool up = rounded.digits[static_cast<std::size_t>(keep)] >= '5';
  rounded.digits.resize(static_cast<std::size_t>(keep));
  if (up) {
    int i = keep - 1;
    for (; i >= 0 && rounded.digits[static_cast<std::size_t>(i)] == '9'; --i)
      rounded.digits[static_cast<std::size_t>(i)] = '0';
    if (i >= 0) {
      ++rounded.digits[static_cast<std::size_t>(i)];
    } else {
      rounded.digits.insert(0, 1, '1');  // 999.96 -> 1000.0
      ++rounded.exponent;
    }
  }
  if (rounded.digits.find_first_not_of('0') == std::string::npos) rounded = {"0", 0};
  return rounded;
}

// The digit standing for 10^power, 0 where the number has none.
char DigitAt(const DecimalDigits &number, int power) {
  const int index = number.exponent - power;
  if (index < 0 || static_cast<std::size_t>(index) >= number.digits.size()) return '0';
  return number.digits[static_cast<std::size_t>(index)];
}

std::string SignText(bool negative, const DecimalDigits &number) {
  // A value that rounds to zero is shown without its sign: "0.0", never "-0.0".
  return negative && number.digits != "0" ? "-" : "";
}

// Integer digits, then the locale's separator and exactly `decimals` digits.
std::string FixedDigits(bool negative, const DecimalDigits &number, int decimals) {
  std::string text = SignText(negative, number);
  for (int power = number.exponent > 0 ? number.exponent : 0; power >= 0; --power)
    text += DigitAt(number, power);
  if (decimals > 0) {
    text += LocaleDecimalSeparator();
    for (int power = -1; power >= -decimals; --power) text += DigitAt(number, power);
  }
  return text;
}

// d.dddddd with trailing zeros dropped, "E", the exponent's sign and its
// digits without leading zeros: 123456789 gives "1.234568E+8".
std::string ScientificDigits(bool negative, const DecimalDigits &number) {
  std::string mantissa = number.digits.substr(1);
  while (!mantissa.empty() && mantissa.back() == '0') mantissa.pop_back();
  std::string text = SignText(negative, number);
  text += number.digits[0];
  if (!mantissa.empty()) text += LocaleDecimalSeparator() + mantissa;
  text += number.exponent < 0 ? "E-" : "E+";
  text += std::to_string(std::abs(number.exponent));
  return text;
}

std::string FixedText(double value, int decimals) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return FixedDigits(false, {"0", 0}, decimals);

  const bool negative = value < 0;
  const DecimalDigits exact = ExactDigits(std::fabs(value));
  const DecimalDigits significant = RoundToDigits(exact, AnglePrecision);
  if (significant.exponent + 1 > AnglePrecision) return ScientificDigits(negative, significant);

  // Two roundings, both on decimal text: first to seven significant digits,
  // then the seven-digit text at the last decimal. A reading that arrived as
  // "-9.995" is stored as -9.99499..., whose seven digits are 9.995000, so it
  // is shown as "-10.00" like the text the sensor sent, not "-9.99". Zeros
  // stand for the digits after the seventh.
  const int digitsToLastDecimal = significant.exponent + 1 + decimals;
  return FixedDigits(negative, RoundToDigits(significant, digitsToLastDecimal), decimals);
}

}  // namespace

std::string FormatAngle(int rangeClass, int unit, int kind, double mrad) {
  if (kind < 0 || kind > 1 || unit < 0 || unit > 3 || rangeClass < 0 || rangeClass > 5)
    return "";
  return FixedText(ConvertAngle(unit, mrad), DecimalsTable[kind][unit][rangeClass]);
}

std::string FormatAngleWithUnit(int rangeClass, int unit, int kind, double mrad) {
  const std::string number = FormatAngle(rangeClass, unit, kind, mrad);
  if (number.empty()) return "";
  return number + " " + AngleUnitName(unit);
}
