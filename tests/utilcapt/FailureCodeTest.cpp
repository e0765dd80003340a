// Internal failure codes and link result codes.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>

#include "UtilCapt.h"

namespace {

const std::map<int, int32_t> Table = {{0, 0},    {1, -2},   {2, -3},   {3, -4},
                                      {4, -5},   {5, -6},   {6, -7},   {9, -9},
                                      {10, -10}, {11, -11}, {12, -12}, {13, -13}};

TEST(FailureCodes, CodeToLinkResultOverEveryByte) {
  for (int code = 0; code <= 255; ++code) {
    const auto it = Table.find(code);
    EXPECT_EQ(CodeToLinkResult(static_cast<uint8_t>(code)), it == Table.end() ? 0 : it->second)
        << code;
  }
  EXPECT_EQ(CodeToLinkResult(7), 0);
  EXPECT_EQ(CodeToLinkResult(8), 0);
  EXPECT_EQ(CodeToLinkResult(14), 0);
}

TEST(FailureCodes, LinkResultToCodeInvertsTheTableAndGivesZeroElsewhere) {
  for (int32_t result = -300; result <= 300; ++result) {
    uint8_t expected = 0;
    for (const auto &entry : Table)
      if (entry.second == result) expected = static_cast<uint8_t>(entry.first);
    EXPECT_EQ(LinkResultToCode(result), expected) << result;
  }
  for (int32_t result : {INT32_MIN, INT32_MAX, -1, -8, -14, 1})
    EXPECT_EQ(LinkResultToCode(result), 0) << result;
  for (const auto &entry : Table)
    EXPECT_EQ(LinkResultToCode(CodeToLinkResult(static_cast<uint8_t>(entry.first))), entry.first);
}

}  // namespace
