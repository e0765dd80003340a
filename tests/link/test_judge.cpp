// The answer judge and the frame sums on their own, for the lengths and
// shapes that a sensor on the wire rarely produces.
#include <gtest/gtest.h>

#include <string>

#include "UtilCapt.h"
#include "uCom72500.h"

namespace {

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

// Appends the right checksum.
std::string Summed(std::string frame) {
  frame.push_back(static_cast<char>(FrameChecksum(frame)));
  return frame;
}

const std::string Rs485Request = Summed(B({0x05, 0xB1, 0x46, 0x00, 0x01}));
const std::string Rs232Request = Summed(B({0xB1, 0x46, 0x00, 0x01}));

}  // namespace

TEST(FrameSums, ChecksumAndCheck) {
  EXPECT_EQ(FrameChecksum(""), 0);
  EXPECT_EQ(FrameChecksum(B({0x05, 0xB1, 0x46, 0x00, 0x01})), 0xF3);
  EXPECT_EQ(FrameChecksum(B({0xB1, 0x46, 0x00, 0x01})), 0xF6);
  EXPECT_FALSE(CheckFrame(""));
  EXPECT_FALSE(CheckFrame(B({0x00})));  // one byte is never a frame, even a zero one
  EXPECT_TRUE(CheckFrame(B({0x0A, 0x0A})));
  EXPECT_FALSE(CheckFrame(B({0x0A, 0x0B})));
}

TEST(FrameSums, SensorErrorBytes) {
  EXPECT_EQ(SensorErrorToCode(7), 10);
  EXPECT_EQ(SensorErrorToCode(8), 9);
  EXPECT_EQ(SensorErrorToCode(9), CodeNoAnswer);
  EXPECT_EQ(SensorErrorToCode(10), CodeChecksum);
  EXPECT_EQ(SensorErrorToCode(11), 11);
  EXPECT_EQ(SensorErrorToCode(12), 12);
  for (int other : {0, 1, 6, 13, 0x55, 0xFF}) EXPECT_EQ(SensorErrorToCode(other), CodeNoAnswer) << other;
}

TEST(JudgeAnswer, LengthsThatAreNoAnswer) {
  std::string payload = "stale";
  EXPECT_EQ(JudgeAnswer(Rs485Request, "", false, payload), CodeNoAnswer);
  EXPECT_EQ(payload, "");
  EXPECT_EQ(JudgeAnswer(Rs485Request, B({0x05}), false, payload), CodeNoAnswer);
  // Two bytes are an error frame only on RS232.
  EXPECT_EQ(JudgeAnswer(Rs485Request, B({0x0B, 0x0B}), false, payload), CodeNoAnswer);
  // Three bytes are an error frame only on RS485; four are never an RS485 answer.
  EXPECT_EQ(JudgeAnswer(Rs232Request, Summed(B({0xB1, 0x46})), true, payload), CodeNoAnswer);
  EXPECT_EQ(JudgeAnswer(Rs485Request, Summed(B({0x05, 0xB1, 0x46})), false, payload), CodeNoAnswer);
}

TEST(JudgeAnswer, ErrorFrames) {
  std::string payload;
  EXPECT_EQ(JudgeAnswer(Rs485Request, B({0x05, 0x0B, 0x0E}), false, payload), 11);
  EXPECT_EQ(JudgeAnswer(Rs485Request, B({0x05, 0x0B, 0x0F}), false, payload), CodeNoAnswer);
  EXPECT_EQ(JudgeAnswer(Rs232Request, B({0x0A, 0x0A}), true, payload), CodeChecksum);
  EXPECT_EQ(JudgeAnswer(Rs232Request, B({0x0A, 0x0B}), true, payload), CodeNoAnswer);
  EXPECT_EQ(JudgeAnswer(Rs232Request, B({0x09, 0x09}), true, payload), CodeNoAnswer);
}

TEST(JudgeAnswer, ChecksumComesBeforeEcho) {
  std::string payload;
  std::string answer = Summed(B({0x05, 0xB1, 0x47, 0x00, 0x01, 0x12, 0x34}));
  EXPECT_EQ(JudgeAnswer(Rs485Request, answer, false, payload), CodeNoAnswer);
  answer.back() = static_cast<char>(answer.back() ^ 0x01);
  EXPECT_EQ(JudgeAnswer(Rs485Request, answer, false, payload), CodeChecksum);
}

TEST(JudgeAnswer, PayloadBetweenHeadAndChecksum) {
  std::string payload;
  EXPECT_EQ(JudgeAnswer(Rs485Request, Summed(B({0x05, 0xB1, 0x46, 0x00, 0x01, 0x12, 0xAB})), false, payload),
            CodeOk);
  EXPECT_EQ(payload, "12AB");
  EXPECT_EQ(JudgeAnswer(Rs232Request, Summed(B({0xB1, 0x46, 0x00, 0x01, 0xFF})), true, payload), CodeOk);
  EXPECT_EQ(payload, "FF");
  EXPECT_EQ(JudgeAnswer(Rs232Request, Summed(B({0xB1, 0x46, 0x00, 0x01})), true, payload), CodeOk);
  EXPECT_EQ(payload, "");
}

TEST(JudgeAnswer, HeadThatSwallowsTheChecksumIsNoAnswer) {
  // A request of three command bytes: its fifth byte is its checksum, so a
  // five-byte RS485 answer can repeat it and still be correctly summed.
  std::string request = Summed(B({0x05, 0x10, 0x20, 0x30}));
  std::string payload;
  EXPECT_EQ(JudgeAnswer(request, request, false, payload), CodeNoAnswer);
  EXPECT_EQ(payload, "");
  // A request shorter than the head is never echoed.
  std::string shortRequest = Summed(B({0xB1}));
  EXPECT_EQ(JudgeAnswer(shortRequest, Summed(B({0xB1, 0xB1, 0x00, 0x00})), true, payload), CodeNoAnswer);
}

TEST(PortState, PortNames) {
  EXPECT_EQ(PortName(3), "\\\\.\\COM3");
  EXPECT_EQ(PortName(3).size(), 8u);
  EXPECT_EQ(PortName(0), "\\\\.\\COM0");
  EXPECT_EQ(PortName(-12), "\\\\.\\COM-12");
  EXPECT_EQ(PortName(256), "\\\\.\\COM256");
}

TEST(PortState, ModeAndAddressUseTheLowByte) {
  EnsurePort();
  SelectPort(1, 0x100, 0x1FF);
  EXPECT_FALSE(Rs232Mode);
  EXPECT_EQ(SensorAddress, 0xFF);
  SelectPort(1, 2, 7);
  EXPECT_TRUE(Rs232Mode);
  EXPECT_EQ(SensorAddress, 7);
  EXPECT_EQ(LinkPort->Port(), PortName(1));
  const TDelaisSerie &timeouts = LinkPort->Timeouts();
  EXPECT_EQ(timeouts.ReadInterval, 40);
  EXPECT_EQ(timeouts.ReadTotalMultiplier, 2);
  EXPECT_EQ(timeouts.ReadTotalConstant, 20);
  EXPECT_EQ(timeouts.WriteTotalMultiplier, 2);
  EXPECT_EQ(timeouts.WriteTotalConstant, 5);
  EXPECT_EQ(LinkPort->BaudRate(), 9600);
  EXPECT_EQ(LinkPort->DataBits(), 8);
  EXPECT_FALSE(LinkPort->Parity().Check);
  EXPECT_FALSE(LinkPort->DiscardNull());
}
