// The decimal mark of measurement texts, under the C locale and a comma locale.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "CommaLocale.h"
#include "UtilCapt.h"

namespace {

constexpr double Untouched = -12345.25;

struct Accepted {
  const char *text;
  double value;
};

const Accepted AcceptedTexts[] = {
    {"1.5", 1.5},        {"1,5", 1.5},         {"-0012.3400", -12.34}, {"+7", 7},
    {"  3.25  ", 3.25},  {"\t-2,5\t", -2.5},   {"1e3", 1000},         {"1.5E-2", 0.015},
    {"-2,5e+1", -25},    {".5", 0.5},          {"5.", 5},             {"-000.250", -0.25},
    {"0", 0},            {"1e-400", 0},
};

const char *const RefusedTexts[] = {
    "",     "   ",   "abc",  "1.5x",   "x1.5", "inf",  "-inf", "nan",     "NAN",
    "0x1p3", "0x10", "1 2",  "1.2.3",  "1,2.3", "--1",  "+-1",  "1e",      "1e+",
    "e5",   ".",     "-",    "1.5 m",  "1e999", "- 1",  "1_000", "infinity",
};

void ExpectParsing() {
  for (const Accepted &a : AcceptedTexts) {
    double value = Untouched;
    EXPECT_TRUE(TextToReal(a.text, value)) << '"' << a.text << '"';
    EXPECT_DOUBLE_EQ(value, a.value) << '"' << a.text << '"';
  }
  for (const char *text : RefusedTexts) {
    double value = Untouched;
    EXPECT_FALSE(TextToReal(text, value)) << '"' << text << '"';
    EXPECT_EQ(value, Untouched) << '"' << text << '"';
  }
}

TEST(DecimalMark, CLocaleUsesThePoint) {
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(LocaleDecimalSeparator(), '.');
  EXPECT_EQ(LocalizeDecimal("1,5"), "1.5");
  EXPECT_EQ(LocalizeDecimal("-0.25"), "-0.25");
  EXPECT_EQ(LocalizeDecimal("a,b.c"), "a.b.c");
  EXPECT_EQ(LocalizeDecimal(""), "");
  ExpectParsing();
  // The sensors' 8-character measurement texts.
  double value = 0;
  ASSERT_TRUE(TextToReal("+012.345", value));
  EXPECT_DOUBLE_EQ(value, 12.345);
  ASSERT_TRUE(TextToReal("-1234,56", value));
  EXPECT_DOUBLE_EQ(value, -1234.56);
}

TEST(DecimalMark, CommaLocaleReadsEitherMark) {
  CommaLocale comma;
  if (!comma.Available()) GTEST_SKIP() << "no locale with a decimal comma could be set";
  EXPECT_EQ(LocaleDecimalSeparator(), ',');
  EXPECT_EQ(LocalizeDecimal("1.5"), "1,5");
  EXPECT_EQ(LocalizeDecimal("1,5"), "1,5");
  EXPECT_EQ(LocalizeDecimal("a,b.c"), "a,b,c");
  ExpectParsing();
}

}  // namespace
