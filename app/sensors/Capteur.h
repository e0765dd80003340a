// Capteur: the program's model of one inclinometer on the serial line.
//
// TCapteur is at the same time the family B sensor (KV72800, through
// libcom72800.so); TCapteur72500 is the family A sensor (KV72500, through
// libcom72500.so). Callers hold every sensor as a TCapteur and use its virtual
// operations without knowing the family.
//
// Every operation that talks to a sensor returns a failure number and never
// throws. Failure numbers:
//   0      success;
//   1..6   failure reported by the link library (link result -2..-7, through
//          LinkResultToCode): 1 port or serial failure, 2 no valid answer,
//          3 no acknowledgement, 4 not confirmed, 5 invalid request,
//          6 wrong checksum;
//   2      also: an answer of the wrong length or content, a range code
//          outside the table, or a configuration write that partly failed;
//   7      the operation needs a connected sensor and this one is not;
//   8      the configuration cannot be decoded or encoded (a number
//          conversion failed); ReadAll gives 8 when every read succeeded but
//          some gave 8;
//   9..13  refusals reported by the link library (link result -9..-13);
//   9      also: family A filter coefficient of -1 or less.
//
// Operations run on one thread only and never overlap: both link libraries
// keep one global port and the mode and address of the last call.
#ifndef NIVELIX_CAPTEUR_H
#define NIVELIX_CAPTEUR_H

#include <cstdint>
#include <string>

// The failure numbers that the sensor classes give or look at by name (the
// full table is at the top of this file). Operations return them as uint8_t,
// the type every caller stores them in.
enum FailureNumber : uint8_t {
  FailSuccess = 0,
  FailPort = 1,           // link -2
  FailMalformed = 2,      // also link -3, no valid answer
  FailNoAck = 3,          // link -4
  FailNotConfirmed = 4,   // link -5
  FailNotConnected = 7,
  FailConfiguration = 8,
  FailBadCoefficient = 9, // also link -9
};

// Longest reference a sensor can hold.
constexpr std::size_t MaxReferenceLength = 40;

// The data block of one sensor, copied as one value between a sensor, the
// sensor list, the scan and the settings dialog.
struct SensorData {
  uint8_t Family = 0;        // 0 family B (TCapteur), 1 family A (TCapteur72500)
  std::string Reference;     // manufacturer reference, at most 40 characters
  int32_t SerialNumber = 0;  // manufacturer serial number
  int32_t Identifier = 1;    // 1..255, the address on RS485; the links get its low byte
  uint8_t Protocol = 1;      // 1 RS232, 0 RS485 (the link mode byte)
  double Filter = 3.0;       // filter cut-off in Hz
  uint8_t CommType = 1;      // 1 on request, 0 continuous
  double FullScale = 0.0;    // measuring range in mRad
  uint8_t AnalogOut = 0;     // family A only: 0 Vout, 1 Iout
};

// Family B sensor, and the base of every sensor.
class TCapteur {
 public:
  uint8_t Port = 1;        // n of the serial port COMn
  bool Connected = false;  // set by ReadAll and WriteConfiguration; the write and
                           // read commands of the configuration need it
  SensorData Data;
  uint8_t StatusFlag = 0;  // returned by GetStatusFlag, changed by nobody
  std::string Comment;     // the user's note, never sent to the sensor

  // Stores Port.
  virtual void SetPort(uint8_t port);
  // When flag differs from Connected: true opens the port, false closes it
  // (results not looked at); then Connected := flag.
  virtual void SetConnected(bool flag);

  // Creation values: Port 1, not connected, the SensorData defaults.
  TCapteur();
  // Releasing a sensor makes no call to a link library.
  virtual ~TCapteur();

  TCapteur(const TCapteur &) = delete;
  TCapteur &operator=(const TCapteur &) = delete;

  // Opens the family's serial port COM<Port>. 0, or 1 when it cannot be opened.
  virtual uint8_t OpenPort();
  // Closes the family's serial port.
  virtual void ClosePort();

  // Changes the sensor's identifier. Not connected, or id equal to
  // Identifier: nothing sent, 0. Else one frame C2 id 00: 0 when the link
  // gives 0, 3 or 4, else 2. Identifier is never changed here: the next
  // ReadAll at the new address brings it up to date.
  virtual uint8_t WriteIdentifier(uint8_t id);
  // Switches between RS232 (1) and RS485 (0). Not connected, or equal:
  // Protocol := p, 0. Else C10000 / C00000: on link 0 or 4, Protocol := p and
  // 0; else 2 and Protocol kept.
  virtual uint8_t WriteProtocol(uint8_t p);
  // On request (1) or continuous (0). CommType := t in every case; when
  // connected and different, C40000 / C50000 is sent. Always 0.
  virtual uint8_t WriteCommType(uint8_t t);
  // Filter cut-off in Hz, sent even when equal: DA code 00. 7 when not
  // connected; on link 0 or 4 Filter := f and 0; else 2; 8 for a frequency
  // that is not a finite number.
  virtual uint8_t WriteFilter(double f);

  // One measurement in mRad. On failure the angle is as the link left it.
  virtual uint8_t ReadAngle(double &angle);

  // Sends one command frame (hexadecimal text) and replaces frame by the
  // answer text (also after a failure). expectedLength 0 marks a write, sent
  // once; a read is tried up to three times, 225..275 ms apart.
  // receivedCount gets the link's count of received bytes.
  virtual uint8_t ExchangeFrames(std::string &frame, int32_t expectedLength,
                                 int32_t &receivedCount);

  // 0 when a sensor answers at Identifier (needs the port open).
  virtual uint8_t TestPresence();
  virtual uint8_t GetStatusFlag();

  // The reads below give 7 when not connected, 2 for an answer shorter than
  // two characters, else the failure number of the exchange.
  virtual uint8_t ReadIdentifier(int32_t &identifier);
  // Opens the port, reads identifier, filter, full scale, reference, serial
  // number and communication type into Data, closes the port (on every
  // path). 0; 8 when every read succeeded but some gave 8; else the first
  // hard failure, with the fields read so far kept and Connected false.
  virtual uint8_t ReadAll();
  // Sets serial to 0 first; 2 (serial 0) as soon as an answer is too short.
  virtual uint8_t ReadSerialNumber(int32_t &serial);
  // Output := 1 (on request) first; "00" gives 0 (continuous).
  virtual uint8_t ReadCommType(uint8_t &type);
  virtual uint8_t ReadFilter(double &frequency);
  // Range code to mRad; a code outside the table gives 1221.73 and 2. When
  // the exchange failed without an answer, its failure number is returned and
  // range is left as it was.
  virtual uint8_t ReadFullScale(double &range);
  // Output := empty first; six characters, one per exchange. A short answer
  // adds nothing and gives 2 but the reading goes on.
  virtual uint8_t ReadReference(std::string &reference);
  // Writes communication type, filter, protocol and identifier, 100 ms
  // apart, then closes the port. 2 when one of the first three failed and the
  // identifier write succeeded; else the identifier write's result; the
  // result of OpenPort when the port cannot be opened. The sensor takes the
  // new values only after a power cycle.
  virtual uint8_t WriteConfiguration(SensorData data);

 protected:
  // ReadAll's sequence, shared by both families: the family A version reads
  // the analog output too and closes twice.
  uint8_t ReadAllSequence(bool withAnalogOut, int closings);
  // Reads one family B register ("A1 rr 00"); the answer's first two digits
  // are its byte. The failure number of the exchange.
  uint8_t ReadRegister(uint8_t reg, std::string &answer);
  // Sends one family B write command, once (expected length 0).
  uint8_t SendCommand(std::string frame);
  // Family A's extra read; only reached through ReadAllSequence.
  virtual uint8_t ReadExtraAnalogOut(uint8_t &value);
  // The low byte of Identifier, as the link libraries take it.
  int32_t Address() const { return Data.Identifier & 0xFF; }
};

// Family A sensor: the register protocol of libcom72500.so.
class TCapteur72500 : public TCapteur {
 public:
  // Base creation values, then Family := 1.
  TCapteur72500();

  uint8_t OpenPort() override;
  void ClosePort() override;
  // The four writes below store their value and give 7 when not connected,
  // and give 0 without sending when the value equals the stored one. They
  // read register 0x46 first; a failed read ends them with its failure
  // number (2 for an answer that is not 4 digits) before anything is written.
  //
  // Writes register 0x46 keeping its mode byte. Identifier is not changed.
  uint8_t WriteIdentifier(uint8_t id) override;
  // Writes the mode byte of the new protocol (RS485 00; RS232 FF on request,
  // 0F continuous) keeping the identifier. Protocol := p only on success.
  uint8_t WriteProtocol(uint8_t p) override;
  // CommType := t first; writes the mode byte for the current protocol.
  uint8_t WriteCommType(uint8_t t) override;
  // Filter := f first; writes the Butterworth coefficients to registers
  // 0x40..0x45. 8 when they cannot be computed or encoded.
  uint8_t WriteFilter(double f) override;
  // One measurement in mRad; 0.0 on any failure.
  uint8_t ReadAngle(double &angle) override;
  // Up to three calls, 20 ms after each failed one (also after the third);
  // writes are retried like reads.
  uint8_t ExchangeFrames(std::string &frame, int32_t expectedLength,
                         int32_t &receivedCount) override;
  uint8_t TestPresence() override;
  uint8_t GetStatusFlag() override;
  // Reads give 7 when not connected and the exchange's failure number when
  // it fails (output untouched unless said).
  // Output := 0 when not connected; the last two digits of register 0x46.
  uint8_t ReadIdentifier(int32_t &identifier) override;
  // The family B sequence with the analog output read last; closes twice.
  uint8_t ReadAll() override;
  // Six characters of registers 0x50..0x52, read as an integer (optional
  // sign, decimal digits, or "$" and hexadecimal digits): 8 and serial 0
  // when they are anything else; 2 for an answer that is not 12 digits.
  uint8_t ReadSerialNumber(int32_t &serial) override;
  // Output := 1 first; mode byte 0F gives 0; 2 for an answer not 4 digits.
  uint8_t ReadCommType(uint8_t &type) override;
  // Inverts the Y coefficient: 2 for 0 (or an answer not 8 digits), 9 for
  // -1 or less.
  uint8_t ReadFilter(double &frequency) override;
  // 32768000 / k mRad; k = 0 reads as 70 degrees; 2 for an answer not 8 digits.
  uint8_t ReadFullScale(double &range) override;
  // Up to ten characters of registers 0x53..0x57; 2 for an answer not 20
  // digits; "ERR" and 8 when the text cannot be decoded.
  uint8_t ReadReference(std::string &reference) override;
  // Protocol, communication type, filter, analog output and identifier,
  // 50 ms apart, then the closing frame DC000000 (to the identifier still
  // stored), then closes the port, so that the other family's library can
  // open it on a mixed bus. 2 when one of the five writes failed and the
  // closing frame succeeded; else the closing frame's result.
  uint8_t WriteConfiguration(SensorData data) override;

  // Writes text (padded with "0" to whole words) to consecutive registers
  // from firstRegister, one frame per word, stopping at the first failure.
  // The failure number of the last frame sent; 0 for an empty text.
  uint8_t WriteRegisters(std::string text, uint8_t firstRegister);
  // 0 Vout (FFFF), 1 Iout (0000). Stores AnalogOut first; 7 when not
  // connected; 0 without sending when equal.
  uint8_t WriteAnalogOut(uint8_t value);
  // Output := 0 (Vout) first; register 0x47 "00.." gives 1 (Iout); 7 when
  // not connected; 2 for an answer not 4 digits.
  uint8_t ReadAnalogOut(uint8_t &value);

 protected:
  uint8_t ReadExtraAnalogOut(uint8_t &value) override { return ReadAnalogOut(value); }

 private:
  // Reads words registers from firstRegister ("B1" frame); the answer
  // holds four digits per word. The failure number of the exchange.
  uint8_t ReadWords(uint8_t firstRegister, int words, std::string &answer);
  // Writes one register ("B0" frame) with a four-digit value.
  uint8_t WriteWord(int reg, const std::string &value);
  // ReadWords, then 2 when the answer is not four digits per word.
  uint8_t ReadWholeWords(uint8_t firstRegister, int words, std::string &answer);
  // The mode byte for a protocol and a communication type.
  static std::string ModeByte(uint8_t protocol, uint8_t commType);
};

#endif
