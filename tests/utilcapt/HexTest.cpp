// Hexadecimal text, integers and byte strings as the command frames use them.
#include <gtest/gtest.h>

#include <string>

#include "UtilCapt.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

TEST(HexToInt, ReadsDigitsAndWrapsAfterEightOfThem) {
  const struct {
    const char *text;
    int32_t value;
  } cases[] = {
      {"", 0},
      {"0", 0},
      {"0A", 10},
      {"FF", 255},
      {"FFFF", 65535},
      {"7FFFFFFF", 2147483647},
      {"80000000", INT32_MIN},
      {"FFFFFFFF", -1},
      {"100000000", 0},           // the ninth digit falls out of 32 bits
      {"123456789", 0x23456789},  // only the last eight count
      {"000000000000002A", 42},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(HexToInt(c.text), c.value) << c.text;
    EXPECT_EQ(HexToIntAnyCase(c.text), c.value) << c.text;
  }
}

TEST(HexToInt, TakesOtherCharactersByTheRuleWithoutValidation) {
  // 'a' is 97: 97 - 55 = 42, so "a" is 42 and "1a" is 16 + 42.
  EXPECT_EQ(HexToInt("a"), 42);
  EXPECT_EQ(HexToInt("1a"), 58);
  // ' ' is 32: 32 - 48 = -16 enters the sum as it is.
  EXPECT_EQ(HexToInt(" "), -16);
  EXPECT_EQ(HexToInt("1 "), 0);
  EXPECT_EQ(HexToInt("G"), 16);
  // Bytes above 127 count with their unsigned code.
  EXPECT_EQ(HexToInt(std::string(1, '\xFF')), 255 - 55);
}

TEST(HexToInt, AnyCaseCopyReadsLowerCaseDigits) {
  EXPECT_EQ(HexToIntAnyCase("ff"), 255);
  EXPECT_EQ(HexToIntAnyCase("7fffffff"), 2147483647);
  EXPECT_EQ(HexToIntAnyCase("aBcD"), 0xABCD);
  EXPECT_NE(HexToInt("ff"), 255);
}

TEST(IntToHexBytes, WritesWholeBytesMostSignificantFirst) {
  EXPECT_EQ(IntToHexBytes(0), "00");
  EXPECT_EQ(IntToHexBytes(10), "0A");
  EXPECT_EQ(IntToHexBytes(255), "FF");
  EXPECT_EQ(IntToHexBytes(256), "0100");
  EXPECT_EQ(IntToHexBytes(4095), "0FFF");
  EXPECT_EQ(IntToHexBytes(0x12345678), "12345678");
  EXPECT_EQ(IntToHexBytes(0x123456789ALL), "123456789A");
  // Not passed by callers, but it ends and is defined.
  EXPECT_EQ(IntToHexBytes(-1), "FFFFFFFFFFFFFFFF");
}

TEST(IntToHexWidth, PadsToWidthAndTakesTwosComplementOfNegatives) {
  const struct {
    int64_t value;
    int width;
    const char *text;
  } cases[] = {
      {10, 2, "000A"},    {-1, 1, "FF"},       {-2, 2, "FFFE"},     {-1, 4, "FFFFFFFF"},
      {300, 1, "012C"},   {255, 2, "00FF"},    {-1, 2, "FFFF"},     {65536, 2, "010000"},
      {0, 1, "00"},       {0, 4, "00000000"},  {-128, 1, "80"},     {-32768, 2, "8000"},
      {-2, 3, "FFFFFE"},  {5, 0, "05"},        {256, 0, "0100"},    {7, 4, "00000007"},
      {INT32_MIN, 4, "80000000"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(IntToHexWidth(c.value, c.width), c.text) << c.value << " width " << c.width;
}

TEST(ByteStrings, ConvertBothWaysAndRefuseOddOrEmptyText) {
  const std::string c10000 = Bytes({0xC1, 0x00, 0x00});
  EXPECT_EQ(HexToBytes("C10000"), c10000);
  EXPECT_EQ(BytesToHex(c10000), "C10000");
  EXPECT_EQ(HexToBytes("C1000"), "");
  EXPECT_EQ(HexToBytes(""), "");
  EXPECT_EQ(HexToBytes("F"), "");
  EXPECT_EQ(BytesToHex(""), "");

  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string hex = BytesToHex(all);
  ASSERT_EQ(hex.size(), 512u);
  EXPECT_EQ(hex.substr(0, 6), "000102");
  EXPECT_EQ(hex.substr(506), "FDFEFF");
  EXPECT_EQ(hex.find_first_of("abcdef"), std::string::npos);
  EXPECT_EQ(HexToBytes(hex), all);
  EXPECT_EQ(HexToBytesAnyCase(hex), all);
}

TEST(ByteStrings, AnyCaseCopyReadsLowerCaseAndPlainCopyKeepsLowEightBits) {
  EXPECT_EQ(HexToBytesAnyCase("c1ff0a"), Bytes({0xC1, 0xFF, 0x0A}));
  EXPECT_EQ(HexToBytesAnyCase("c1f"), "");
  // "ff" read as upper-case-only digits: 'f' is 102 - 55 = 47 per digit,
  // 47 * 16 + 47 = 799, whose low byte is 0x1F.
  EXPECT_EQ(HexToBytes("ff"), Bytes({0x1F}));
}

}  // namespace
