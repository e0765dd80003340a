// The family B frames on made-up bytes: request building, command parsing and
// the judging of every kind of answer, without a port.
#include <gtest/gtest.h>

#include <string>

#include "FamilyBFrames.h"

namespace {

using namespace frameb;

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

// The bytes followed by their checksum.
std::string WithChecksum(std::initializer_list<int> bytes) {
  std::string s = B(bytes);
  s.push_back(static_cast<char>(FrameChecksum(s)));
  return s;
}

struct Judged {
  int32_t result;
  std::string payload;
};

Judged Judge(const std::string &request, const std::string &answer, bool rs232, int32_t digits) {
  std::string payload = "stale";
  const int32_t result = JudgeAnswer(request, answer, rs232, digits, payload);
  return {result, payload};
}

TEST(FamilyBFrames, CommandTextMustBeSixHexadecimalDigits) {
  std::string bytes;
  EXPECT_TRUE(ParseCommand("A10200", bytes));
  EXPECT_EQ(bytes, B({0xA1, 0x02, 0x00}));
  EXPECT_TRUE(ParseCommand("da6f00", bytes));
  EXPECT_EQ(bytes, B({0xDA, 0x6F, 0x00}));
  EXPECT_TRUE(ParseCommand("Ff0a0B", bytes));
  EXPECT_EQ(bytes, B({0xFF, 0x0A, 0x0B}));

  for (const char *bad : {"", "A", "A1020", "A102000", "A1020000", "A1 200", "G10200", "A1020G",
                          "A10200 ", " A10200", "0xA102", "A10-00"}) {
    bytes = "junk";
    EXPECT_FALSE(ParseCommand(bad, bytes)) << '"' << bad << '"';
    EXPECT_TRUE(bytes.empty()) << '"' << bad << '"';
  }
  EXPECT_FALSE(ParseCommand(nullptr, bytes));
}

TEST(FamilyBFrames, RequestCarriesAddressOnRs485AndXorOfEverythingBefore) {
  const std::string command = B({0xA1, 0x02, 0x00});
  EXPECT_EQ(BuildRequest(command, false, 7), B({0x07, 0xA1, 0x02, 0x00, 0xA4}));
  EXPECT_EQ(BuildRequest(command, true, 7), B({0xA1, 0x02, 0x00, 0xA3}));
  EXPECT_EQ(BuildRequest(B({0xC2, 0x0C, 0x00}), false, 7), B({0x07, 0xC2, 0x0C, 0x00, 0xC9}));
  EXPECT_EQ(BuildRequest(B({0x90, 0x00, 0x00}), false, 0xFF), B({0xFF, 0x90, 0x00, 0x00, 0x6F}));
}

TEST(FamilyBFrames, AnswerLengthFollowsTheExpectedDigits) {
  EXPECT_EQ(AnswerLength(0, false), 3u);  // address, echo, checksum
  EXPECT_EQ(AnswerLength(0, true), 2u);
  EXPECT_EQ(AnswerLength(2, false), 4u);
  EXPECT_EQ(AnswerLength(2, true), 3u);
  EXPECT_EQ(AnswerLength(1, true), 3u);  // an odd digit count still takes a whole byte
  EXPECT_EQ(AnswerLength(8, false), 7u);
  EXPECT_EQ(AnswerLength(8, true), 6u);
  EXPECT_EQ(ErrorFrameLength(false), 4u);
  EXPECT_EQ(ErrorFrameLength(true), 3u);

  EXPECT_TRUE(ExpectedDigitsValid(0));
  EXPECT_TRUE(ExpectedDigitsValid(MaxExpectedDigits));
  EXPECT_FALSE(ExpectedDigitsValid(-1));
  EXPECT_FALSE(ExpectedDigitsValid(MaxExpectedDigits + 1));
  // The longest payload text still fits a 256-byte buffer with its zero.
  EXPECT_LE((AnswerLength(MaxExpectedDigits, true) - 2) * 2 + 1, 256u);
}

TEST(FamilyBFrames, ValidAnswersGiveTheirPayloadAsUpperCaseText) {
  const std::string read485 = B({0x07, 0xA1, 0x02, 0x00, 0xA4});
  Judged j = Judge(read485, WithChecksum({0x07, 0xA1, 0x3c}), false, 2);
  EXPECT_EQ(j.result, LINK_OK);
  EXPECT_EQ(j.payload, "3C");

  const std::string read232 = B({0xA1, 0x02, 0x00, 0xA3});
  j = Judge(read232, WithChecksum({0xA1, 0x00}), true, 2);
  EXPECT_EQ(j.result, LINK_OK);
  EXPECT_EQ(j.payload, "00");

  const std::string write485 = B({0x07, 0xC2, 0x0C, 0x00, 0xC9});
  j = Judge(write485, B({0x07, 0xC2, 0xC5}), false, 0);
  EXPECT_EQ(j.result, LINK_OK);
  EXPECT_EQ(j.payload, "");

  const std::string measure232 = B({0x90, 0x00, 0x00, 0x90});
  j = Judge(measure232, WithChecksum({0x90, 0x83, 0x48, 0x00, 0x00}), true, 8);
  EXPECT_EQ(j.result, LINK_OK);
  EXPECT_EQ(j.payload, "83480000");
}

TEST(FamilyBFrames, LengthEchoAndChecksumFaults) {
  const std::string read485 = B({0x07, 0xA1, 0x02, 0x00, 0xA4});
  const std::string write485 = B({0x07, 0xC2, 0x0C, 0x00, 0xC9});

  // Nothing back: a write was not confirmed, a read has no answer.
  EXPECT_EQ(Judge(write485, "", false, 0).result, LINK_NOT_CONFIRMED);
  EXPECT_EQ(Judge(read485, "", false, 2).result, LINK_NO_ANSWER);

  // Too short or too long, even with a right checksum.
  EXPECT_EQ(Judge(read485, B({0x07}), false, 2).result, LINK_NO_ANSWER);
  EXPECT_EQ(Judge(read485, WithChecksum({0x07, 0xA1}), false, 2).result, LINK_NO_ANSWER);
  EXPECT_EQ(Judge(read485, WithChecksum({0x07, 0xA1, 0x07, 0x00}), false, 2).result, LINK_NO_ANSWER);
  EXPECT_EQ(Judge(write485, WithChecksum({0x07, 0xC2, 0x00}), false, 0).result, LINK_NO_ANSWER);

  // Full length, wrong checksum.
  Judged j = Judge(read485, B({0x07, 0xA1, 0x07, 0x00}), false, 2);
  EXPECT_EQ(j.result, LINK_CHECKSUM);
  EXPECT_EQ(j.payload, "");
  EXPECT_EQ(Judge(write485, B({0x07, 0xC2, 0xC4}), false, 0).result, LINK_CHECKSUM);

  // Echo of another address or another command, checksum right.
  EXPECT_EQ(Judge(read485, WithChecksum({0x08, 0xA1, 0x07}), false, 2).result, LINK_NO_ANSWER);
  EXPECT_EQ(Judge(read485, WithChecksum({0x07, 0xA0, 0x07}), false, 2).result, LINK_NO_ANSWER);
  EXPECT_EQ(Judge(B({0xA1, 0x02, 0x00, 0xA3}), WithChecksum({0x90, 0x07}), true, 2).result,
            LINK_NO_ANSWER);

  // Garbage in front of an answer.
  EXPECT_EQ(Judge(read485, B({0x55, 0x07, 0xA1, 0x07}), false, 2).result, LINK_CHECKSUM);
}

TEST(FamilyBFrames, ErrorFramesGiveTheSensorsReason) {
  const std::string read485 = B({0x07, 0xA1, 0x99, 0x00, 0x3F});
  EXPECT_EQ(Judge(read485, WithChecksum({0x07, 0x15, 0x01}), false, 2).result, ResultUnknownCommand);
  EXPECT_EQ(Judge(read485, WithChecksum({0x07, 0x15, 0x02}), false, 2).result, LINK_CHECKSUM);
  EXPECT_EQ(Judge(read485, WithChecksum({0x07, 0x15, 0x03}), false, 2).result, ResultValueRefused);
  EXPECT_EQ(Judge(read485, WithChecksum({0x07, 0x15, 0x04}), false, 2).result, LINK_NO_ANSWER);
  EXPECT_EQ(Judge(read485, WithChecksum({0x07, 0x15, 0x00}), false, 2).result, LINK_NO_ANSWER);
  // A damaged error frame, or one from another address.
  EXPECT_EQ(Judge(read485, B({0x07, 0x15, 0x03, 0x00}), false, 2).result, LINK_CHECKSUM);
  EXPECT_EQ(Judge(read485, WithChecksum({0x09, 0x15, 0x03}), false, 2).result, LINK_NO_ANSWER);

  // Longer than the acknowledgement a write expects.
  const std::string write485 = B({0x07, 0xC2, 0x00, 0x00, 0xC5});
  Judged j = Judge(write485, WithChecksum({0x07, 0x15, 0x03}), false, 0);
  EXPECT_EQ(j.result, ResultValueRefused);
  EXPECT_EQ(j.payload, "");
  // Shorter than a measurement answer.
  EXPECT_EQ(Judge(B({0x90, 0x00, 0x00, 0x90}), WithChecksum({0x15, 0x01}), true, 8).result,
            ResultUnknownCommand);
  EXPECT_EQ(Judge(B({0x77, 0x00, 0x00, 0x77}), B({0x15, 0x01, 0x14}), true, 2).result,
            ResultUnknownCommand);
}

TEST(FamilyBFrames, AnErrorFrameMayOutgrowTheAcknowledgementRead) {
  EXPECT_TRUE(ErrorFrameContinues(B({0x07, 0x15}), false));
  EXPECT_TRUE(ErrorFrameContinues(B({0x07, 0x15, 0x03}), false));
  EXPECT_FALSE(ErrorFrameContinues(B({0x07, 0x15, 0x03, 0x11}), false));  // complete
  EXPECT_FALSE(ErrorFrameContinues(B({0x07, 0xC2, 0xC5}), false));        // an acknowledgement
  EXPECT_FALSE(ErrorFrameContinues(B({0x07}), false));
  EXPECT_FALSE(ErrorFrameContinues("", false));
  EXPECT_TRUE(ErrorFrameContinues(B({0x15, 0x03}), true));
  EXPECT_FALSE(ErrorFrameContinues(B({0xC2, 0xC2}), true));
}

}  // namespace
