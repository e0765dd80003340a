// The sensor list: ownership, order of release and copies of the data block.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ListeCapteurs.h"

namespace {

// A sensor that tells when it is released.
class WatchedSensor : public TCapteur {
 public:
  WatchedSensor(int32_t identifier, std::vector<int32_t> &released) : released_(released) {
    Data.Identifier = identifier;
  }
  ~WatchedSensor() override { released_.push_back(Data.Identifier); }

 private:
  std::vector<int32_t> &released_;
};

SensorData SomeData(uint8_t family) {
  SensorData data;
  data.Family = family;
  data.Reference = "KV72500-AB";
  data.SerialNumber = 123456;
  data.Identifier = 42;
  data.Protocol = 0;
  data.Filter = 1.5;
  data.CommType = 0;
  data.FullScale = 523.599;
  data.AnalogOut = 1;
  return data;
}

void ExpectSameData(const SensorData &a, const SensorData &b) {
  EXPECT_EQ(a.Family, b.Family);
  EXPECT_EQ(a.Reference, b.Reference);
  EXPECT_EQ(a.SerialNumber, b.SerialNumber);
  EXPECT_EQ(a.Identifier, b.Identifier);
  EXPECT_EQ(a.Protocol, b.Protocol);
  EXPECT_EQ(a.Filter, b.Filter);
  EXPECT_EQ(a.CommType, b.CommType);
  EXPECT_EQ(a.FullScale, b.FullScale);
  EXPECT_EQ(a.AnalogOut, b.AnalogOut);
}

TEST(SensorList, AddSensorMakesAFreshObjectOfTheFamily) {
  TlistCapteur list;
  EXPECT_EQ(list.Count(), 0);

  // The data comes from a sensor in use: its connection, comment and status stay behind.
  TCapteur72500 scanned;
  scanned.Data = SomeData(1);
  scanned.Connected = true;
  scanned.Comment = "roof beam";
  scanned.StatusFlag = 1;

  TCapteur *a = list.AddSensor(scanned.Data, 3);
  ASSERT_NE(a, nullptr);
  EXPECT_NE(dynamic_cast<TCapteur72500 *>(a), nullptr);
  ExpectSameData(a->Data, scanned.Data);
  EXPECT_EQ(a->Port, 3);
  EXPECT_FALSE(a->Connected);
  EXPECT_EQ(a->Comment, "");
  EXPECT_EQ(a->GetStatusFlag(), 0);

  TCapteur *b = list.AddSensor(SomeData(0), 4);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(dynamic_cast<TCapteur72500 *>(b), nullptr);
  ExpectSameData(b->Data, SomeData(0));
  EXPECT_EQ(b->Port, 4);

  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.GetSensor(0), a);
  EXPECT_EQ(list.GetSensor(1), b);

  // The list holds copies: changing the source afterwards changes nothing.
  scanned.Data.Reference = "changed";
  EXPECT_EQ(list.GetSensor(0)->Data.Reference, "KV72500-AB");
}

TEST(SensorList, UnknownFamilyAndBadIndexesChangeNothing) {
  TlistCapteur list;
  list.AddSensor(SomeData(0), 1);
  EXPECT_EQ(list.AddSensor(SomeData(2), 1), nullptr);
  EXPECT_EQ(list.AddSensor(SomeData(255), 1), nullptr);
  EXPECT_EQ(list.Append(nullptr), nullptr);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.GetSensor(-1), nullptr);
  EXPECT_EQ(list.GetSensor(1), nullptr);
  list.DeleteSensor(1);
  list.DeleteSensor(-1);
  EXPECT_EQ(list.Count(), 1);
}

TEST(SensorList, SensorsAreReleasedLastToFirst) {
  std::vector<int32_t> released;
  TlistCapteur list;
  list.ClearSensors();  // empty: nothing happens
  for (int id : {1, 2, 3}) list.Append(std::make_unique<WatchedSensor>(id, released));
  list.ClearSensors();
  EXPECT_EQ(released, (std::vector<int32_t>{3, 2, 1}));
  EXPECT_EQ(list.Count(), 0);

  released.clear();
  {
    TlistCapteur owner;
    for (int id : {4, 5, 6, 7}) owner.Append(std::make_unique<WatchedSensor>(id, released));
    owner.DeleteSensor(1);
    EXPECT_EQ(released, (std::vector<int32_t>{5}));
    EXPECT_EQ(owner.GetSensor(1)->Data.Identifier, 6) << "later entries move up";
  }
  EXPECT_EQ(released, (std::vector<int32_t>{5, 7, 6, 4})) << "the list's end releases the rest";
}

}  // namespace
