// Angle units, range classes and the formatting of angles.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "CommaLocale.h"
#include "UtilCapt.h"

namespace {

const double Pi = 3.14159265358979323846;
const double Deg45 = 250 * Pi;  // 45 degrees in mRad

class CLocale : public ::testing::Test {
 protected:
  void SetUp() override { std::setlocale(LC_NUMERIC, "C"); }
};

TEST(AngleUnits, ConvertFromMilliradians) {
  EXPECT_NEAR(ConvertAngle(UnitDeg, 1000 * Pi), 180, 1e-12);
  EXPECT_NEAR(MRadToDeg(Deg45), 45, 1e-12);
  EXPECT_NEAR(MRadToDeg(-1000), -57.29577951308232, 1e-12);
  EXPECT_EQ(ConvertAngle(UnitPercent, 0), 0);
  EXPECT_NEAR(ConvertAngle(UnitPercent, Deg45), 100, 1e-9);
  EXPECT_NEAR(ConvertAngle(UnitMmPerM, Deg45), 1000, 1e-9);
  EXPECT_NEAR(MRadToPercent(-Deg45), -100, 1e-9);
  EXPECT_NEAR(MRadToMmPerM(1), std::tan(0.001) * 1000, 1e-15);
  EXPECT_EQ(ConvertAngle(UnitMRad, 12.5), 12.5);
  for (int unit : {-1, 4, 7, 1000}) EXPECT_EQ(ConvertAngle(unit, 123), 9999) << unit;
}

TEST(AngleUnits, NamesOfTheUnits) {
  EXPECT_EQ(AngleUnitName(0), "mRad");
  EXPECT_EQ(AngleUnitName(1), "Deg");
  EXPECT_EQ(AngleUnitName(2), "%");
  EXPECT_EQ(AngleUnitName(3), "mm/m");
  EXPECT_EQ(AngleUnitName(4), "");
  EXPECT_EQ(AngleUnitName(-1), "");
}

TEST(RangeClass, TheFirstThresholdReachedDecides) {
  const struct {
    double threshold;
    int classAtThreshold;
  } thresholds[] = {{1221.73, 0}, {523.599, 1}, {253.0727, 2}, {100.3564, 3}, {52.35988, 4}};
  for (const auto &t : thresholds) {
    EXPECT_EQ(RangeClass(t.threshold), t.classAtThreshold) << t.threshold;
    EXPECT_EQ(RangeClass(std::nextafter(t.threshold, 1e9)), t.classAtThreshold) << t.threshold;
    EXPECT_EQ(RangeClass(std::nextafter(t.threshold, 0.0)), t.classAtThreshold + 1) << t.threshold;
  }
  EXPECT_EQ(RangeClass(1e9), 0);
  EXPECT_EQ(RangeClass(52.35987), 5);
  EXPECT_EQ(RangeClass(0), 5);
  EXPECT_EQ(RangeClass(-100), 5);
  // The thresholds are the rounded full scales that family B sensors report;
  // the exact values of 30 and 3 degrees lie just below them.
  EXPECT_EQ(RangeClass(1221.730476), 0);
  EXPECT_EQ(RangeClass(523.5987756), 2);
  EXPECT_EQ(RangeClass(253.0727415), 2);
  EXPECT_EQ(RangeClass(100.3564417), 3);
  EXPECT_EQ(RangeClass(52.35987756), 5);
}

TEST(DecimalsTable, SpotChecks) {
  EXPECT_EQ(DecimalsTable[0][0][0], 1);
  EXPECT_EQ(DecimalsTable[0][0][3], 2);
  EXPECT_EQ(DecimalsTable[0][1][1], 2);
  EXPECT_EQ(DecimalsTable[0][3][0], 0);
  EXPECT_EQ(DecimalsTable[0][3][5], 2);
  EXPECT_EQ(DecimalsTable[1][0][0], 2);
  EXPECT_EQ(DecimalsTable[1][1][3], 4);
  EXPECT_EQ(DecimalsTable[1][2][2], 3);
  EXPECT_EQ(DecimalsTable[1][3][1], 2);
  EXPECT_EQ(DecimalsTable[1][3][2], 3);
  EXPECT_EQ(DecimalsTable[1][3][3], 3);
  // Finer ranges never get fewer decimals.
  for (int kind = 0; kind < 2; ++kind)
    for (int unit = 0; unit < 4; ++unit)
      for (int c = 1; c < 6; ++c)
        EXPECT_GE(DecimalsTable[kind][unit][c], DecimalsTable[kind][unit][c - 1]);
}

TEST_F(CLocale, FormatAngleUsesTheTablesDecimals) {
  EXPECT_EQ(FormatAngleWithUnit(0, 1, 0, 1000 * Pi), "180.0 Deg");
  EXPECT_EQ(FormatAngleWithUnit(3, 1, 1, Deg45), "45.0000 Deg");
  EXPECT_EQ(FormatAngleWithUnit(3, 3, 1, Deg45), "1000.000 mm/m");
  EXPECT_EQ(FormatAngleWithUnit(0, 3, 0, Deg45), "1000 mm/m");
  EXPECT_EQ(FormatAngleWithUnit(5, 2, 0, Deg45), "100.000 %");
  EXPECT_EQ(FormatAngleWithUnit(0, 0, 1, 12.345678), "12.35 mRad");
  EXPECT_EQ(FormatAngle(0, 0, 0, -0.25), "-0.3");  // a tie goes away from zero
  EXPECT_EQ(FormatAngle(0, 0, 0, 0.25), "0.3");
  EXPECT_EQ(FormatAngle(0, 0, 0, 0.125), "0.1");
  EXPECT_EQ(FormatAngle(3, 0, 0, 0.125), "0.13");
  EXPECT_EQ(FormatAngle(0, 0, 0, -0.26), "-0.3");
  // Seven significant digits first, then the decimals: 1.005 is stored as
  // 1.00499..., whose seven digits 1.005000 round up at the second decimal.
  EXPECT_EQ(FormatAngle(3, 0, 0, 1.005), "1.01");
  EXPECT_EQ(FormatAngle(0, 0, 1, -9.995), "-10.00");
  EXPECT_EQ(FormatAngle(0, 0, 1, 0.0449999996), "0.05");
  EXPECT_EQ(FormatAngle(0, 0, 1, 0.04499999), "0.04");
  EXPECT_EQ(FormatAngle(0, 0, 0, 999.96), "1000.0");
  EXPECT_EQ(FormatAngle(3, 0, 1, 0.0004), "0.000");
  EXPECT_EQ(FormatAngle(3, 0, 1, 0.0006), "0.001");
}

TEST_F(CLocale, FormatAngleRoundsToSevenSignificantDigitsThenPadsWithZeros) {
  // 1234.56789 with 4 decimals: 7 digits "1234568", then a zero.
  EXPECT_EQ(FormatAngle(3, 0, 0, 1234.56789), "1234.57");
  EXPECT_EQ(FormatAngle(3, 1, 1, 1234.56789 / MRadToDeg(1)), "1234.5680");
  EXPECT_EQ(FormatAngle(3, 0, 1, 123456.789), "123456.800");
  EXPECT_EQ(FormatAngle(3, 0, 1, 1234567.89), "1234568.000");
  EXPECT_EQ(FormatAngle(3, 0, 1, -1234567.89), "-1234568.000");
  EXPECT_EQ(FormatAngle(3, 0, 1, 9999999.4), "9999999.000");
}

TEST_F(CLocale, FormatAngleWritesMoreThanSevenIntegerDigitsInScientificNotation) {
  EXPECT_EQ(FormatAngle(3, 0, 1, 123456789), "1.234568E+8");
  EXPECT_EQ(FormatAngle(3, 0, 1, -25000000000.0), "-2.5E+10");
  EXPECT_EQ(FormatAngle(3, 0, 1, 9999999.6), "1E+7");  // rounds up to 8 integer digits
  EXPECT_EQ(FormatAngle(3, 0, 1, 1e300), "1E+300");
  EXPECT_EQ(FormatAngle(3, 0, 1, std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(FormatAngle(3, 0, 1, -std::numeric_limits<double>::infinity()), "-INF");
  EXPECT_EQ(FormatAngle(3, 0, 1, std::numeric_limits<double>::quiet_NaN()), "NAN");
}

TEST_F(CLocale, FormatAngleNeverWritesMinusZero) {
  EXPECT_EQ(FormatAngle(0, 1, 0, -0.0), "0.0");
  EXPECT_EQ(FormatAngle(0, 0, 0, -0.0001), "0.0");
  EXPECT_EQ(FormatAngle(0, 3, 0, -0.4), "0");
  EXPECT_EQ(FormatAngle(3, 1, 1, -1e-9), "0.0000");
  EXPECT_EQ(FormatAngle(0, 0, 0, -0.05), "-0.1");  // 0.05 is stored above the half
  EXPECT_EQ(FormatAngleWithUnit(0, 0, 0, -0.0), "0.0 mRad");
}

TEST_F(CLocale, FormatAngleRefusesIndexesOutsideTheTable) {
  EXPECT_EQ(FormatAngle(6, 0, 0, 1), "");
  EXPECT_EQ(FormatAngle(0, 4, 0, 1), "");
  EXPECT_EQ(FormatAngle(0, 0, 2, 1), "");
  EXPECT_EQ(FormatAngle(-1, 0, 0, 1), "");
  EXPECT_EQ(FormatAngleWithUnit(0, 4, 0, 1), "");
}

TEST(FormatAngleComma, UsesTheLocalesSeparator) {
  CommaLocale comma;
  if (!comma.Available()) GTEST_SKIP() << "no locale with a decimal comma could be set";
  EXPECT_EQ(FormatAngleWithUnit(0, 1, 0, 1000 * Pi), "180,0 Deg");
  EXPECT_EQ(FormatAngle(3, 1, 1, 1234.56789 / MRadToDeg(1)), "1234,5680");
  EXPECT_EQ(FormatAngle(0, 0, 1, -12.345678), "-12,35");
  EXPECT_EQ(FormatAngle(0, 3, 0, 12.6), "13");
  EXPECT_EQ(FormatAngle(3, 0, 1, 123456789), "1,234568E+8");
  EXPECT_EQ(FormatAngle(0, 1, 0, -0.0), "0,0");
  // What is written reads back through the same locale.
  double value = 0;
  ASSERT_TRUE(TextToReal(FormatAngle(3, 0, 1, -42.125), value));
  EXPECT_DOUBLE_EQ(value, -42.125);
}

}  // namespace
