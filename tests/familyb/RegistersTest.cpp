// Every register the program reads and every configuration command it writes,
// through libcom72800.so to a simulated family B sensor: reads return the
// values in force, and written values take effect only at the next power cycle.
#include <cstdio>

#include "FamilyBBus.h"

namespace familyb_test {
namespace {

class FamilyBRegisters : public FamilyBBus {
 protected:
  // The register's byte as the library reads it; "" when the read failed.
  std::string ReadRegister(uint8_t reg, int32_t mode, int32_t address) {
    char command[7];
    std::snprintf(command, sizeof command, "A1%02X00", reg);
    const ExchangeResult r = Exchange(command, 2, mode, address);
    EXPECT_EQ(r.result, LINK_OK) << command;
    return r.result == LINK_OK ? r.answer : std::string();
  }

  std::string ReadText(uint8_t firstRegister, int characters, int32_t mode, int32_t address) {
    std::string text;
    for (int k = 0; k < characters; ++k) {
      const std::string hex = ReadRegister(static_cast<uint8_t>(firstRegister + k), mode, address);
      if (hex.size() == 2) text.push_back(static_cast<char>(std::stoi(hex, nullptr, 16)));
    }
    return text;
  }

  void Write(const char *command, int32_t mode, int32_t address) {
    const ExchangeResult r = Exchange(command, 0, mode, address);
    EXPECT_EQ(r.result, LINK_OK) << command;
    EXPECT_EQ(r.answer, "") << command;
  }
};

TEST_F(FamilyBRegisters, ReadsEveryRegisterOfTheDataBlock) {
  nivsim::SensorBConfig config;
  config.identifier = 42;
  config.rangeCode = 2;
  config.filterCode = 0x6F;
  config.onRequest = false;
  config.reference = "KV7283";
  config.serialNumber = "90817";
  bus->AddSensorB(config);
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);

  EXPECT_EQ(ReadRegister(0x02, Rs485, 42), "2A");  // identifier
  EXPECT_EQ(ReadRegister(0x00, Rs485, 42), "02");  // range code
  EXPECT_EQ(ReadRegister(0x0B, Rs485, 42), "6F");  // filter code
  EXPECT_EQ(ReadRegister(0x04, Rs485, 42), "00");  // continuous
  EXPECT_EQ(ReadRegister(0x03, Rs485, 42), "00");  // RS485
  EXPECT_EQ(ReadText(0x10, 6, Rs485, 42), "KV7283");
  EXPECT_EQ(ReadText(0x20, 5, Rs485, 42), "90817");
}

TEST_F(FamilyBRegisters, FactoryDefaultsOnRs232) {
  nivsim::SensorBConfig config;
  config.rs232 = true;
  bus->AddSensorB(config);
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);

  EXPECT_EQ(ReadRegister(0x0B, Rs232, 1), "FF");  // factory 3 Hz
  EXPECT_EQ(ReadRegister(0x04, Rs232, 1), "01");  // on request
  EXPECT_EQ(ReadRegister(0x03, Rs232, 1), "01");  // RS232
  EXPECT_EQ(ReadText(0x10, 6, Rs232, 1), config.reference);
  EXPECT_EQ(ReadText(0x20, 5, Rs232, 1), config.serialNumber);
}

TEST_F(FamilyBRegisters, WrittenConfigurationTakesEffectAtThePowerCycle) {
  const int sensor = AddSensor(7);
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);

  Write("DA6F00", Rs485, 7);  // filter 4 Hz
  Write("C50000", Rs485, 7);  // continuous
  Write("C10000", Rs485, 7);  // RS232
  Write("C20900", Rs485, 7);  // identifier 9

  // Until the power is switched off and on: old values, old address, old protocol.
  EXPECT_EQ(ReadRegister(0x0B, Rs485, 7), "FF");
  EXPECT_EQ(ReadRegister(0x04, Rs485, 7), "01");
  EXPECT_EQ(ReadRegister(0x03, Rs485, 7), "00");
  EXPECT_EQ(ReadRegister(0x02, Rs485, 7), "07");
  EXPECT_EQ(bus->Register(sensor, 0x02), 7);
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 9), LINK_NO_ACK);

  bus->PowerCycle(sensor);
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 7), LINK_NO_ACK);  // it now speaks RS232
  EXPECT_EQ(ReadRegister(0x0B, Rs232, 9), "6F");
  EXPECT_EQ(ReadRegister(0x04, Rs232, 9), "00");
  EXPECT_EQ(ReadRegister(0x03, Rs232, 9), "01");
  EXPECT_EQ(ReadRegister(0x02, Rs232, 9), "09");
  EXPECT_EQ(bus->Register(sensor, 0x0B), 0x6F);

  // And back: on request, RS485, the lowest filter; written in RS232.
  Write("C40000", Rs232, 9);
  Write("C00000", Rs232, 9);
  Write("DAFD00", Rs232, 9);
  EXPECT_EQ(ReadRegister(0x03, Rs232, 9), "01");
  bus->PowerCycle(sensor);
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 9), LINK_OK);
  EXPECT_EQ(ReadRegister(0x04, Rs485, 9), "01");
  EXPECT_EQ(ReadRegister(0x03, Rs485, 9), "00");
  EXPECT_EQ(ReadRegister(0x0B, Rs485, 9), "FD");
  EXPECT_EQ(ReadRegister(0x02, Rs485, 9), "09");
}

TEST_F(FamilyBRegisters, OnlyTheAddressedSensorAnswersOnTheBus) {
  const int first = AddSensor(7);
  const int second = AddSensor(8);
  ASSERT_EQ(Com72800_OpenPort(ComPort), LINK_OK);

  Write("C20A00", Rs485, 8);
  bus->PowerCycle(first);
  bus->PowerCycle(second);
  EXPECT_EQ(ReadRegister(0x02, Rs485, 7), "07");
  EXPECT_EQ(ReadRegister(0x02, Rs485, 10), "0A");
  EXPECT_EQ(Com72800_Presence(ComPort, Rs485, 8), LINK_NO_ACK);
}

}  // namespace
}  // namespace familyb_test
