// The six exported functions of libcom72500.so, called the way the program
// binds them: by name, through the shared library only.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "SimBus.h"
#include "com72500.h"

namespace {

// True when nobody holds the device exclusively.
bool DeviceIsFree(const std::string &path) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

nivsim::SensorAConfig Rs485Sensor(uint8_t identifier) {
  nivsim::SensorAConfig config;
  config.identifier = identifier;
  return config;
}

// A fresh copy of the library, loaded under another name so that its global
// state is new: nothing has been called in it yet.
class FreshLibrary {
 public:
  FreshLibrary() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void *>(&Com72500_OpenPort), &info) == 0 || info.dli_fname == nullptr)
      return;
    copy_ = "/tmp/com72500-fresh-" + std::to_string(::getpid()) + ".so";
    std::ifstream in(info.dli_fname, std::ios::binary);
    std::ofstream out(copy_, std::ios::binary);
    out << in.rdbuf();
    out.close();
    handle_ = ::dlopen(copy_.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  ~FreshLibrary() {
    if (handle_ != nullptr) ::dlclose(handle_);
    if (!copy_.empty()) ::unlink(copy_.c_str());
  }
  bool Loaded() const { return handle_ != nullptr; }
  template <typename F>
  F Function(const char *name) const {
    return reinterpret_cast<F>(::dlsym(handle_, name));
  }

 private:
  std::string copy_;
  void *handle_ = nullptr;
};

class ExportsTest : public ::testing::Test {
 protected:
  void SetUp() override { Com72500_ClosePort(); }
  void TearDown() override { Com72500_ClosePort(); }
};

}  // namespace

TEST_F(ExportsTest, VersionText) {
  struct {
    char text[39];
    char guard[16];
  } buffer;
  std::memset(&buffer, 'G', sizeof buffer);
  Com72500_DllVersion(buffer.text);
  EXPECT_STREQ(buffer.text, "com72500 V3.0 - fev 2007 KORVALIS S.A.");
  EXPECT_EQ(std::strlen(buffer.text), 38u);
  EXPECT_EQ(std::string(buffer.guard, sizeof buffer.guard), std::string(16, 'G'));
  Com72500_DllVersion(nullptr);  // ignored
}

TEST_F(ExportsTest, FreshLibraryExportsTheSixNamesAndClosesFirst) {
  FreshLibrary library;
  ASSERT_TRUE(library.Loaded()) << ::dlerror();
  for (const char *name : {"Com72500_OpenPort", "Com72500_ClosePort", "Com72500_Presence",
                           "Com72500_EchangeTrames", "Com72500_LitMesure", "Com72500_DllVersion"})
    EXPECT_NE(library.Function<void *>(name), nullptr) << name;
  // The inside of the library stays inside.
  for (const char *name : {"LinkPort", "EnsurePort", "_Z11EnsurePortv", "_Z10WakeSensorv", "HexToBytes"})
    EXPECT_EQ(library.Function<void *>(name), nullptr) << name;

  // Closing as the very first call creates the port and reports nothing; a
  // presence test then finds it closed.
  auto closePort = library.Function<void (*)()>("Com72500_ClosePort");
  auto presence = library.Function<TLinkResult (*)(int32_t, int32_t, int32_t)>("Com72500_Presence");
  ASSERT_NE(closePort, nullptr);
  ASSERT_NE(presence, nullptr);
  closePort();
  closePort();
  EXPECT_EQ(presence(1, 0, 1), -2);
}

TEST_F(ExportsTest, UnloadingTheLibraryReleasesAnOpenPort) {
  nivsim::SimBus com8;
  com8.PointCom(8);
  {
    FreshLibrary library;
    ASSERT_TRUE(library.Loaded()) << ::dlerror();
    auto openPort = library.Function<TLinkResult (*)(int32_t)>("Com72500_OpenPort");
    ASSERT_NE(openPort, nullptr);
    ASSERT_EQ(openPort(8), 0);
    EXPECT_FALSE(DeviceIsFree(com8.SlavePath()));
  }
  EXPECT_TRUE(DeviceIsFree(com8.SlavePath()));
}

TEST_F(ExportsTest, OpeningTheOpenPortAgainKeepsItOpen) {
  nivsim::SimBus bus;
  bus.PointCom(5);
  bus.AddSensorA(Rs485Sensor(3));
  EXPECT_EQ(Com72500_OpenPort(5), 0);
  EXPECT_EQ(Com72500_OpenPort(5), 0);
  EXPECT_FALSE(DeviceIsFree(bus.SlavePath()));
  EXPECT_EQ(Com72500_Presence(5, 0, 3), 0);
}

TEST_F(ExportsTest, OpeningAnotherPortReleasesTheFirst) {
  nivsim::SimBus com5;
  nivsim::SimBus com6;
  com5.PointCom(5);
  com6.PointCom(6);
  com5.AddSensorA(Rs485Sensor(3));
  com6.AddSensorA(Rs485Sensor(4));

  ASSERT_EQ(Com72500_OpenPort(5), 0);
  EXPECT_FALSE(DeviceIsFree(com5.SlavePath()));
  ASSERT_EQ(Com72500_OpenPort(6), 0);
  EXPECT_TRUE(DeviceIsFree(com5.SlavePath()));
  EXPECT_FALSE(DeviceIsFree(com6.SlavePath()));
  EXPECT_EQ(Com72500_Presence(6, 0, 4), 0);
  EXPECT_EQ(com6.HostBytes(), std::vector<uint8_t>{4});
  EXPECT_TRUE(com5.HostBytes().empty());

  // A presence test on another port number moves the open port there.
  EXPECT_EQ(Com72500_Presence(5, 0, 3), 0);
  EXPECT_TRUE(DeviceIsFree(com6.SlavePath()));
}

TEST_F(ExportsTest, MissingPortLeavesNoPortOpen) {
  nivsim::SimBus com5;
  com5.PointCom(5);
  com5.AddSensorA(Rs485Sensor(3));
  ::setenv("NIVELIX_COM7", "/nonexistent/nivelix-tty", 1);

  ASSERT_EQ(Com72500_OpenPort(5), 0);
  EXPECT_EQ(Com72500_OpenPort(7), -2);
  EXPECT_TRUE(DeviceIsFree(com5.SlavePath()));
  EXPECT_EQ(Com72500_Presence(7, 0, 3), -2);
  EXPECT_EQ(Com72500_Presence(5, 0, 3), -2);
  EXPECT_TRUE(com5.HostBytes().empty());
  // The device that could not be opened is tried again on the next call.
  ::setenv("NIVELIX_COM7", com5.SlavePath().c_str(), 1);
  EXPECT_EQ(Com72500_OpenPort(7), 0);
  EXPECT_EQ(Com72500_Presence(7, 0, 3), 0);
  ::unsetenv("NIVELIX_COM7");
}

TEST_F(ExportsTest, PresenceOnClosedPortFails) {
  nivsim::SimBus com5;
  com5.PointCom(5);
  com5.AddSensorA(Rs485Sensor(3));
  EXPECT_EQ(Com72500_Presence(5, 0, 3), -2);
  ASSERT_EQ(Com72500_OpenPort(5), 0);
  Com72500_ClosePort();
  Com72500_ClosePort();
  EXPECT_EQ(Com72500_Presence(5, 0, 3), -2);
  EXPECT_TRUE(com5.HostBytes().empty());
  EXPECT_TRUE(DeviceIsFree(com5.SlavePath()));
}

TEST_F(ExportsTest, PortZeroAndNegativeNumbersFail) {
  ::unsetenv("NIVELIX_COM0");
  ::unsetenv("NIVELIX_COM-1");
  ::unsetenv("NIVELIX_COM-3");
  EXPECT_EQ(Com72500_OpenPort(0), -2);
  EXPECT_EQ(Com72500_OpenPort(-1), -2);
  EXPECT_EQ(Com72500_OpenPort(-3), -2);
  EXPECT_EQ(Com72500_Presence(0, 0, 1), -2);
  double measurement = 99.0;
  EXPECT_EQ(Com72500_LitMesure(&measurement, -3, 0, 1), -2);
  EXPECT_EQ(measurement, 0.0);
  char answer[LINK_BUFFER_SIZE];
  int32_t count = -99;
  EXPECT_EQ(Com72500_EchangeTrames("92000000", answer, 12, &count, 0, 0, 1), -2);
  EXPECT_EQ(count, 0);
}

TEST_F(ExportsTest, MeasurementThroughTheLibrary) {
  nivsim::SimBus com5;
  com5.PointCom(5);
  nivsim::SensorAConfig config = Rs485Sensor(3);
  config.angle = nivsim::AngleSource::constant(-12.5);
  com5.AddSensorA(config);
  double measurement = 0.0;
  EXPECT_EQ(Com72500_LitMesure(&measurement, 5, 0, 3), 0);
  EXPECT_EQ(measurement, -12.5);
  EXPECT_TRUE(DeviceIsFree(com5.SlavePath()));
}
