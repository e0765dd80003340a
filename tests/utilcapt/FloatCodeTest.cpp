// The 4-byte float code in which the sensors exchange reals.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "UtilCapt.h"

namespace {

TEST(FloatToHex8, WritesTheDocumentedCodes) {
  const struct {
    double value;
    const char *code;
  } cases[] = {
      {0, "00000000"},        {-0.0, "00000000"},  {1, "7F000000"},   {-1, "7F800000"},
      {0.5, "7E000000"},      {3, "80400000"},     {2.5, "80200000"}, {-2.5, "80A00000"},
      {1.1, "7F0CCCCC"},      {2, "80000000"},     {-0.75, "7EC00000"},
      {100, "85480000"},      {1.9999999999, "7F7FFFFF"},
  };
  for (const auto &c : cases) EXPECT_EQ(FloatToHex8(c.value), c.code) << c.value;
}

TEST(FloatToHex8, TruncatesTheFractionInsteadOfRounding) {
  // 1 + 2^-23 - tiny is still below the next code: it must not round up.
  EXPECT_EQ(FloatToHex8(1 + std::ldexp(1.0, -23) - std::ldexp(1.0, -40)), "7F000000");
  EXPECT_EQ(FloatToHex8(1 + std::ldexp(1.0, -23)), "7F000001");
  EXPECT_EQ(FloatToHex8(-(1 + std::ldexp(1.0, -23) - std::ldexp(1.0, -40))), "7F800000");
}

TEST(FloatToHex8, KeepsTheMantissaBelowTwoNextToPowersOfTwo) {
  // Just below 2^k the binary exponent is k - 1 and the fraction all ones;
  // a rounded log2 would give exponent k and a mantissa of 2.
  for (int k = -120; k <= 120; ++k) {
    const double below = std::nextafter(std::ldexp(1.0, k), 0.0);
    const std::string expected = IntToHexWidth(k - 1 + 127, 1) + "7FFFFF";
    EXPECT_EQ(FloatToHex8(below), expected) << "2^" << k << " minus one ulp";
    EXPECT_EQ(FloatToHex8(std::ldexp(1.0, k)), IntToHexWidth(k + 127, 1) + "000000") << k;
  }
}

TEST(FloatToHex8, GivesDefinedCodesToNanAndInfinity) {
  EXPECT_EQ(FloatToHex8(std::numeric_limits<double>::quiet_NaN()), "00000000");
  EXPECT_EQ(FloatToHex8(std::numeric_limits<double>::infinity()), "FF7FFFFF");
  EXPECT_EQ(FloatToHex8(-std::numeric_limits<double>::infinity()), "FFFFFFFF");
}

TEST(Hex8ToFloat, ReadsCodesAndGivesZeroForOtherLengths) {
  EXPECT_EQ(Hex8ToFloat("00000000"), 0);
  EXPECT_EQ(Hex8ToFloat("7F000000"), 1);
  EXPECT_EQ(Hex8ToFloat("7F800000"), -1);
  EXPECT_EQ(Hex8ToFloat("7E000000"), 0.5);
  EXPECT_EQ(Hex8ToFloat("80400000"), 3);
  EXPECT_EQ(Hex8ToFloat("80A00000"), -2.5);
  EXPECT_EQ(Hex8ToFloat("7F0CCCCC"), 1 + 0x0CCCCC / 8388608.0);
  EXPECT_EQ(Hex8ToFloat("00800000"), -std::ldexp(1.0, -127));
  EXPECT_EQ(Hex8ToFloat("FF7FFFFF"), std::ldexp(2 - std::ldexp(1.0, -23), 128));
  EXPECT_EQ(Hex8ToFloat(""), 0);
  EXPECT_EQ(Hex8ToFloat("7F00000"), 0);
  EXPECT_EQ(Hex8ToFloat("7F0000000"), 0);
  // Non-digits are read by the digit rule, never crash, and give a number.
  EXPECT_FALSE(std::isnan(Hex8ToFloat("ZZZZZZZZ")));
  EXPECT_FALSE(std::isnan(Hex8ToFloat("\x01\x02\x03\x04\x05\x06\x07\x08")));
}

// Hex8ToFloat reads back exactly what FloatToHex8 wrote, for every code it writes.
void ExpectRoundTrip(double x) {
  const std::string code = FloatToHex8(x);
  ASSERT_EQ(code.size(), 8u) << x;
  ASSERT_EQ(code.find_first_not_of("0123456789ABCDEF"), std::string::npos) << code;
  const double decoded = Hex8ToFloat(code);
  ASSERT_EQ(FloatToHex8(decoded), code) << x;
  ASSERT_LE(std::fabs(decoded - x), std::fabs(x) * std::ldexp(1.0, -23)) << x << " " << code;
  // Truncation: never larger in magnitude, same sign.
  ASSERT_LE(std::fabs(decoded), std::fabs(x)) << x;
  ASSERT_EQ(std::signbit(decoded), std::signbit(x)) << x;
}

TEST(FloatCode, RoundTripsOverEveryMagnitudeItCanCode) {
  std::mt19937_64 generator(20070201);
  std::uniform_real_distribution<double> mantissa(1.0, 2.0);
  std::uniform_int_distribution<int> exponent(-126, 128);
  for (int i = 0; i < 200000; ++i) {
    double x = std::ldexp(mantissa(generator), exponent(generator));
    if (i % 2) x = -x;
    ExpectRoundTrip(x);
  }
  for (int k = -126; k <= 128; ++k) {
    const double p = std::ldexp(1.0, k);
    for (double x : {p, std::nextafter(p, 0.0), std::nextafter(p, 1e300), p * 1.5})
      {
        ExpectRoundTrip(x);
        ExpectRoundTrip(-x);
      }
  }
  for (double x : {1.1, 0.1, 1e-30, 1e30, 3.14159265358979, 123456.789, 2.2e-38})
    ExpectRoundTrip(x);
}

TEST(FloatCode, EveryCodeWithANormalExponentReadsAndWritesBackUnchanged) {
  std::mt19937 generator(7);
  for (int i = 0; i < 100000; ++i) {
    const uint32_t bits = generator();
    if ((bits >> 24) == 0) continue;  // exponent byte 0 is 2^-127, where "00000000" means 0
    const std::string code = IntToHexWidth(bits, 4);
    ASSERT_EQ(FloatToHex8(Hex8ToFloat(code)), code);
  }
}

}  // namespace
