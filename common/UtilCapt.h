// UtilCapt: the small conversions shared by the link libraries and the program.
//
// Hexadecimal text and byte strings, the 4-byte float code in which the sensors
// exchange reals, the mapping between internal failure codes and link result
// codes, the decimal mark of measurement texts, and the conversion and
// formatting of angles. Every function is pure and may be called from any thread.
#ifndef NIVELIX_UTILCAPT_H
#define NIVELIX_UTILCAPT_H

#include <cstdint>
#include <string>

// ---- Hexadecimal text and byte strings --------------------------------------

// Sum of digit values times 16^i, from the last character backwards, in 32-bit
// arithmetic that wraps: only the last eight digits count ("FFFFFFFF" gives -1).
// Characters are not validated; a lower-case letter enters the sum with the
// value (code - 55). An empty text gives 0.
int32_t HexToInt(const std::string &text);

// As HexToInt, but the text is turned to upper case first, so lower-case digits
// read correctly. This is the copy the link libraries use.
int32_t HexToIntAnyCase(const std::string &text);

// Whole bytes, most significant first, at least one byte: 0 -> "00", 256 -> "0100".
// Callers pass values of 0 or more; a negative value is written as its 64-bit
// two's complement (16 digits).
std::string IntToHexBytes(int64_t value);

// At least 2 x width digits; a negative value becomes its two's complement in
// width bytes (widths 1 to 4). A value needing more bytes keeps them all:
// (300, 1) gives "012C". Width 0 (or less) behaves as IntToHexBytes.
std::string IntToHexWidth(int64_t value, int width);

// Each byte of the string as two upper-case digits.
std::string BytesToHex(const std::string &bytes);

// Each pair of digits as one byte (low 8 bits of HexToInt of the pair); a text
// of odd length or an empty text gives the empty string.
std::string HexToBytes(const std::string &text);

// As HexToBytes, reading lower-case digits too (the link libraries' copy).
std::string HexToBytesAnyCase(const std::string &text);

// The value of one hexadecimal digit, either case; -1 for any other character.
int HexDigitValue(char c);

// ---- Frame checksum ----------------------------------------------------------

// XOR of every byte: the checksum byte that ends the frames of both sensor
// families. 0 for no bytes.
uint8_t FrameChecksum(const std::string &bytes);

// ---- Sensor float code -------------------------------------------------------

// 8 digits: biased exponent byte, then the sign bit with the 23 fraction bits.
// The fraction is truncated, never rounded: 1.1 gives "7F0CCCCC". 0 gives
// "00000000". The exponent byte keeps the low 8 bits of exponent + 127, so only
// magnitudes from 2^-126 to below 2^129 read back as written (2^-127 codes as
// "00000000", which reads back as 0). Values that have no code are given
// defined ones: NaN gives "00000000" (0), +infinity "FF7FFFFF" and -infinity
// "FFFFFFFF", the largest magnitudes.
std::string FloatToHex8(double value);

// Inverse of FloatToHex8; a text that is not exactly 8 characters gives 0, and
// so does "00000000". Digits are read as HexToInt reads them (upper case).
double Hex8ToFloat(const std::string &text);

// ---- Failure codes -----------------------------------------------------------

// Internal failure code (0..13) to link result code (0, -2..-7, -9..-13);
// codes outside the table give 0.
int32_t CodeToLinkResult(uint8_t code);

// Link result code to failure number; results outside the table give 0.
uint8_t LinkResultToCode(int32_t result);

// ---- Decimal mark ------------------------------------------------------------

// The decimal separator of the current locale (LC_NUMERIC).
char LocaleDecimalSeparator();

// Every "." and "," replaced by the locale's decimal separator.
std::string LocalizeDecimal(const std::string &text);

// The locale's number parser on a measurement text after LocalizeDecimal:
// blanks before or after, an optional sign, digits with one decimal mark and
// an optional exponent. False (value untouched) for anything else, such as an
// empty text, letters, "inf", "nan", hexadecimal, two numbers, or a number too
// large for a double. A number too small for a double reads as 0 (or the
// nearest subnormal).
bool TextToReal(const std::string &text, double &value);

// ---- Time spans --------------------------------------------------------------

// The spans an acquisition's period and duration are counted in, in seconds;
// shared by the acquisition dialog, the file writer and the recorder.
constexpr int64_t SecondsPerMinute = 60;
constexpr int64_t SecondsPerHour = 3600;
constexpr int64_t SecondsPerDay = 86400;

// ---- Angles ------------------------------------------------------------------

enum AngleUnitIndex { UnitMRad = 0, UnitDeg = 1, UnitPercent = 2, UnitMmPerM = 3 };

double MRadToDeg(double mrad);
double MRadToPercent(double mrad);
double MRadToMmPerM(double mrad);

// The angle in the display unit; any unit index other than 0..3 gives 9999.
double ConvertAngle(int unit, double mrad);

// Class 0 (70 degrees and more) to 5 (below 3 degrees) of a measuring range in mRad.
int RangeClass(double rangeMRad);

// Digits after the decimal separator, by sensor kind (0 family B, 1 family A),
// display unit (0..3) and range class (0..5).
extern const uint8_t DecimalsTable[2][4][6];

// Significant digits kept by the angle formatting.
constexpr int AnglePrecision = 7;

// The unit's name text: "mRad", "Deg", "%", "mm/m"; empty for other indexes.
std::string AngleUnitName(int unit);

// The angle in the unit, rounded to 7 significant digits and written with the
// table's number of decimals and the locale's decimal separator (none when the
// table gives 0 decimals); zeros stand where the 7 digits run out, and a value
// that rounds to zero has no minus sign. When the decimals cut before the
// seventh significant digit, the seven-digit text is rounded again at the last
// decimal (half away from zero): 1.005, stored as 1.00499..., gives "1.01".
// A value with more than 7 integer digits is written in scientific notation:
// up to 7 significant digits without trailing zeros, "E", the exponent's sign
// and its digits without leading zeros ("1.234568E+8", "-2E+10"). Infinity and
// NaN give "INF", "-INF" and "NAN". Indexes outside the table give "".
std::string FormatAngle(int rangeClass, int unit, int kind, double mrad);

// FormatAngle, a blank, and the unit's name ("" when FormatAngle gives "").
std::string FormatAngleWithUnit(int rangeClass, int unit, int kind, double mrad);

#endif
