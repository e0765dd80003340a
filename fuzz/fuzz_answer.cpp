// Feeds arbitrary answer bytes to the answer judging of the family A link
// library, the one place where bytes from the line decide what the caller
// gets back.
//
// Input layout: the first byte chooses the case, the rest is the answer.
//   bit 0     link mode: 1 RS232 (no address byte), 0 RS485
//   bits 1-3  the request, from a small set of command lengths
//   bits 4-6  the address byte on RS485
//   bit 7     echo assist: the answer gets the request head in front and a
//             correct checksum behind, so that the payload path is reached
//             from the first runs instead of by guessing the checksum.
//
// Invariants are checked with __builtin_trap so that every build type stops.
#include <cstddef>
#include <cstdint>
#include <string>

#include "UtilCapt.h"
#include "uCom72500.h"

namespace {

#define REQUIRE(condition)          \
  do {                              \
    if (!(condition)) __builtin_trap(); \
  } while (0)

// Commands as hexadecimal text: the measurement command, a register read,
// and lengths other than four bytes, empty included.
const char *const Commands[8] = {"92000000", "B1460001", "", "92", "B146",
                                 "B14600", "B146000102", "A1B2C3D4E5F60718"};
const uint8_t Addresses[8] = {0, 1, 5, 0x7F, 0x80, 0xC1, 0xFE, 0xFF};

uint8_t Xor(const std::string &bytes) {
  uint8_t sum = 0;
  for (unsigned char c : bytes) sum ^= c;
  return sum;
}

std::string RequestFrame(const std::string &command, bool rs232, uint8_t address) {
  std::string frame;
  if (!rs232) frame.push_back(static_cast<char>(address));
  frame += HexToBytes(command);
  frame.push_back(static_cast<char>(Xor(frame)));
  return frame;
}

bool IsUpperHex(const std::string &text) {
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

bool IsJudgement(uint8_t code) {
  // Success, no valid answer, wrong checksum (also error byte 10), and the
  // sensor's refusals by error bytes 8, 7, 11, 12 and 9.
  switch (code) {
    case CodeOk: case CodeNoAnswer: case CodeChecksum:
    case 8: case 9: case 10: case 11: case 12:
      return true;
    default:
      return false;
  }
}

void CheckChecksumFunctions(const std::string &bytes) {
  REQUIRE(FrameChecksum(bytes) == Xor(bytes));
  const bool expected =
      bytes.size() >= 2 &&
      Xor(bytes.substr(0, bytes.size() - 1)) == static_cast<uint8_t>(bytes.back());
  REQUIRE(CheckFrame(bytes) == expected);
}

void CheckErrorBytes(const std::string &bytes) {
  for (unsigned char b : bytes) {
    const uint8_t code = SensorErrorToCode(b);
    REQUIRE(code == CodeNoAnswer || code == CodeChecksum || (code >= CodeRefused8 && code <= CodeRefused12));
    REQUIRE(code == SensorErrorToCode(b));
  }
}

void CheckJudgement(const std::string &request, const std::string &answer, bool rs232) {
  std::string payload = "left over from an earlier call";
  const uint8_t code = JudgeAnswer(request, answer, rs232, payload);
  REQUIRE(IsJudgement(code));

  std::string again;
  REQUIRE(JudgeAnswer(request, answer, rs232, again) == code);
  REQUIRE(again == payload);

  const std::size_t k = answer.size();
  const std::size_t head = rs232 ? 4 : 5;
  const bool errorFrame = k == (rs232 ? 2u : 3u);
  if (code != CodeOk) {
    REQUIRE(payload.empty());
    // A refusal can only come from an error frame with a good checksum.
    if (code >= 8 && code <= 12) REQUIRE(errorFrame && CheckFrame(answer));
    if (errorFrame && CheckFrame(answer))
      REQUIRE(code == SensorErrorToCode(static_cast<uint8_t>(answer[k - 2])));
    return;
  }
  REQUIRE(!errorFrame);
  REQUIRE(k >= head + 1);
  REQUIRE(CheckFrame(answer));
  REQUIRE(request.size() >= head && answer.compare(0, head, request, 0, head) == 0);
  REQUIRE(payload.size() == 2 * (k - head - 1));
  REQUIRE(IsUpperHex(payload));
  REQUIRE(HexToBytes(payload) == answer.substr(head, k - head - 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  const bool rs232 = (selector & 0x01) != 0;
  const std::string command = Commands[(selector >> 1) & 0x07];
  const uint8_t address = Addresses[(selector >> 4) & 0x07];
  const bool echoAssist = (selector & 0x80) != 0;

  const std::string request = RequestFrame(command, rs232, address);
  std::string answer(reinterpret_cast<const char *>(data + 1), size - 1);
  if (echoAssist) {
    answer.insert(0, request.substr(0, rs232 ? 4 : 5));
    answer.push_back(static_cast<char>(Xor(answer)));
  }

  CheckChecksumFunctions(answer);
  CheckErrorBytes(answer);
  CheckJudgement(request, answer, rs232);
  return 0;
}
