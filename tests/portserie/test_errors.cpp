// Failure texts of the serial layer and the mapping of port names to devices.
#include <gtest/gtest.h>

#include <cstdlib>

#include "PortSerie.h"

namespace {

TEST(EPortSerieTest, EveryCodeHasItsExactText) {
  const char *expected[] = {
      "Unable to open com port",
      "WriteFile function failed",
      "ReadFile function failed",
      "Invalid Async parameter",
      "PurgeComm function failed",
      "Unable to get async status",
      "SetCommState function failed",
      "SetCommTimeouts failed",
      "SetupComm function failed",
      "ClearCommError function failed",
      "GetCommModemStatus function failed",
      "EscapeCommFunction function failed",
      "TransmitCommChar function failed",
      "Cannot set property while connected",
      "EnumPorts function failed",
      "Failed to store settings",
      "Failed to load settings",
      "Link (un)registration failed",
      "Cannot change led state while a port is selected",
      "Cannot wait for event if event thread is created",
      "WaitForEvent method failed",
      "A component is linked to the receive buffer event",
      "Registry error",
  };
  for (int code = 1; code <= 23; ++code) {
    EXPECT_STREQ(EPortSerie::CodeText(code), expected[code - 1]) << "code " << code;
    EXPECT_STREQ(EPortSerie(code).what(), expected[code - 1]) << "code " << code;
  }
  EXPECT_STREQ(EPortSerie::CodeText(0), "");
  EXPECT_STREQ(EPortSerie::CodeText(24), "");
  EXPECT_STREQ(EPortSerie::CodeText(-1), "");
}

TEST(EPortSerieTest, MessageCarriesTheSystemErrorUnlessThereIsNone) {
  EPortSerie openFailure(ErrOpen, 2);
  EXPECT_STREQ(openFailure.what(), "Unable to open com port (win error code: 2)");
  EXPECT_EQ(openFailure.Code(), 1);
  EXPECT_EQ(openFailure.SystemError(), 2);

  EXPECT_STREQ(EPortSerie(ErrRead, 5).what(), "ReadFile function failed (win error code: 5)");
  EXPECT_STREQ(EPortSerie(ErrPurge, 0).what(), "PurgeComm function failed (win error code: 0)");

  EPortSerie noSystemError(ErrAsync);
  EXPECT_STREQ(noSystemError.what(), "Invalid Async parameter");
  EXPECT_EQ(noSystemError.SystemError(), -1);
  EXPECT_STREQ(EPortSerie(ErrWrite, -1).what(), "WriteFile function failed");

  // Caught by the link library as a standard exception.
  const std::runtime_error &asStd = openFailure;
  EXPECT_STREQ(asStd.what(), "Unable to open com port (win error code: 2)");
}

class DevicePathTest : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    for (const char *name : {"NIVELIX_COM1", "NIVELIX_COM3", "NIVELIX_COM0", "NIVELIX_COM-2"}) ::unsetenv(name);
  }
};

TEST_F(DevicePathTest, ComNamesMapToSerialDevicesByDefault) {
  EXPECT_EQ(TPortSerie::DevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(TPortSerie::DevicePath("COM8"), "/dev/ttyS7");
  EXPECT_EQ(TPortSerie::DevicePath("COM12"), "/dev/ttyS11");
  EXPECT_EQ(TPortSerie::DevicePath("\\\\.\\COM3"), "/dev/ttyS2");
  // Numbers no system has still give a name, which then simply fails to open.
  EXPECT_EQ(TPortSerie::DevicePath("\\\\.\\COM0"), "/dev/ttyS-1");
  EXPECT_EQ(TPortSerie::DevicePath("\\\\.\\COM-2"), "/dev/ttyS-3");
}

TEST_F(DevicePathTest, EnvironmentChoosesTheDeviceOfAPortNumber) {
  ::setenv("NIVELIX_COM3", "/dev/ttyUSB0", 1);
  ::setenv("NIVELIX_COM0", "/tmp/zero", 1);
  ::setenv("NIVELIX_COM-2", "/tmp/minus-two", 1);
  EXPECT_EQ(TPortSerie::DevicePath("COM3"), "/dev/ttyUSB0");
  EXPECT_EQ(TPortSerie::DevicePath("\\\\.\\COM3"), "/dev/ttyUSB0");
  EXPECT_EQ(TPortSerie::DevicePath("\\\\.\\COM0"), "/tmp/zero");
  EXPECT_EQ(TPortSerie::DevicePath("\\\\.\\COM-2"), "/tmp/minus-two");
  EXPECT_EQ(TPortSerie::DevicePath("COM4"), "/dev/ttyS3") << "only the configured number moves";
}

TEST_F(DevicePathTest, OtherNamesAreUsedAsTheyAre) {
  ::setenv("NIVELIX_COM1", "/dev/ttyUSB9", 1);
  EXPECT_EQ(TPortSerie::DevicePath("/dev/pts/4"), "/dev/pts/4");
  EXPECT_EQ(TPortSerie::DevicePath("COM"), "COM");
  EXPECT_EQ(TPortSerie::DevicePath("COMX"), "COMX");
  EXPECT_EQ(TPortSerie::DevicePath("COM1x"), "COM1x");
  EXPECT_EQ(TPortSerie::DevicePath("com1"), "com1");
  EXPECT_EQ(TPortSerie::DevicePath("\\\\.\\"), "\\\\.\\");
}

}  // namespace
