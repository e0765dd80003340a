// CapteurOutils: what the command sets of both sensor families share inside
// the sensor model (Capteur.cpp, Capteur72500.cpp). Not part of the model's
// interface.
#ifndef NIVELIX_CAPTEUROUTILS_H
#define NIVELIX_CAPTEUROUTILS_H

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "Capteur.h"
#include "TypesCom72500.h"
#include "UtilCapt.h"
#include "VerrouPort.h"

namespace capteur {

// Runs an operation so that nothing it raises reaches the caller: whatever
// goes wrong inside is a configuration that could not be decoded or encoded.
template <class Body>
uint8_t Guarded(Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return FailConfiguration;
  }
}

// Guarded, for an operation that needs a connected sensor: 7 when it is not.
template <class Body>
uint8_t WhenConnected(bool connected, Body body) noexcept {
  return Guarded([&]() -> uint8_t { return connected ? body() : uint8_t{FailNotConnected}; });
}

// The guarded read every configuration field shares: 7 when the sensor is
// not connected; else exchange(answer) runs the command, and
// decode(answer, failure) turns its answer and failure number into the result.
template <class Exchange, class Decode>
uint8_t GuardedRead(bool connected, Exchange exchange, Decode decode) noexcept {
  return WhenConnected(connected, [&]() -> uint8_t {
    std::string answer;
    const uint8_t failure = exchange(answer);
    return decode(answer, failure);
  });
}

// GuardedRead for a read that a failed exchange ends with its failure
// number: decode(answer) sees successful answers only.
template <class Exchange, class Decode>
uint8_t GuardedReadOk(bool connected, Exchange exchange, Decode decode) noexcept {
  return GuardedRead(connected, exchange, [&](const std::string &answer, uint8_t failure) -> uint8_t {
    return failure != FailSuccess ? failure : decode(answer);
  });
}

// Whether this program may talk on COM<port>: it takes the program's lock of
// the port (VerrouPort) and is refused only when another program holds it,
// whose acquisition would otherwise lose the answers this one takes. A lock
// file that cannot be made keeps nobody off the line. A refused operation
// fails as a port that cannot be opened does (FailPort), without a byte sent.
inline bool PortOwned(uint8_t port) {
  return VerrouProgramme().Prendre(port).Etat != EtatVerrou::TenuAilleurs;
}

inline void WaitMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The zero-terminated copy of a frame in a link buffer; longer text is cut.
inline void CopyToLinkBuffer(const std::string &text, char (&buffer)[LINK_BUFFER_SIZE]) {
  const std::size_t length = std::min(text.size(), sizeof buffer - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

inline std::string FromLinkBuffer(char (&buffer)[LINK_BUFFER_SIZE]) {
  buffer[sizeof buffer - 1] = '\0';  // a library that filled it completely still ends here
  return std::string(buffer);
}

inline std::string LastTwo(const std::string &text) {
  return text.size() <= 2 ? text : text.substr(text.size() - 2);
}

// The value of a digit in base 10 or 16, -1 when it is none.
inline int DigitValue(char c, int base) {
  const int value = HexDigitValue(c);
  return value < base ? value : -1;
}

}  // namespace capteur

#endif
