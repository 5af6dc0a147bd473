// Behaviour parameters: records, the concatenation rule of getParameter, transport types, names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qxscsi/parameters.h"

namespace {

class ParametersTest : public ::testing::Test {
 protected:
  std::string get(const std::string& name) {
    std::string value = "stale";
    QXScsi::getParameter(name, value, params);
    return value;
  }
  std::vector<QXScsi::ParameterData> params;
};

TEST_F(ParametersTest, EmptyListOrUnknownNameGivesEmptyValue) {
  EXPECT_EQ(get("access_target"), "");
  QXScsi::setParameter("firmware", "1.0", params);
  EXPECT_EQ(get("access_target"), "");
  EXPECT_EQ(get("firmware"), "1.0");
}

TEST_F(ParametersTest, RepeatedNamesJoinLastValueFirst) {
  QXScsi::setParameter("access_target", "y", params);
  QXScsi::setParameter("access_target", "y", params);
  EXPECT_EQ(params.size(), 2u);
  EXPECT_EQ(get("access_target"), "yy");
  params.clear();
  QXScsi::setParameter("access_target", "n", params);
  QXScsi::setParameter("OS_type", "linux", params);
  QXScsi::setParameter("access_target", "y", params);
  EXPECT_EQ(get("access_target"), "yn");
  EXPECT_EQ(params.size(), 3u);
  EXPECT_EQ(params[0].value(), "n");  // the earlier record is not changed
}

TEST_F(ParametersTest, NamesAreCaseSensitive) {
  QXScsi::setParameter("ACCESS_TARGET", "y", params);
  EXPECT_EQ(get("access_target"), "");
  EXPECT_EQ(get("ACCESS_TARGET"), "y");
  EXPECT_EQ(get("ACCESS_TARGE"), "");
  EXPECT_EQ(get("ACCESS_TARGETS"), "");
}

TEST_F(ParametersTest, FieldsKeep63And64CharactersAndCutLonger) {
  const std::string n63(63, 'n'), v63(63, 'v');
  QXScsi::setParameter(n63, v63, params);
  EXPECT_EQ(get(n63), v63);
  EXPECT_EQ(params[0].name(), n63);

  // 64 characters fill the field with no terminator; reading stays inside the field.
  const std::string n64(64, 'N'), v64(64, 'V');
  QXScsi::setParameter(n64, v64, params);
  EXPECT_EQ(params[1].name(), n64);
  EXPECT_EQ(params[1].value(), v64);
  EXPECT_EQ(get(n64), v64);

  const std::string longName = std::string(64, 'L') + "tail";
  QXScsi::setParameter(longName, std::string(64, 'x') + "more", params);
  EXPECT_EQ(params[2].value(), std::string(64, 'x'));
  EXPECT_EQ(get(longName), "");  // the stored name is the cut one
  EXPECT_EQ(get(std::string(64, 'L')), std::string(64, 'x'));
}

TEST_F(ParametersTest, FullFieldsOnTheHeapAreNotOverRead) {
  // A record alone in a heap block: the sanitizer build catches reads past its 128 bytes.
  auto* record = new QXScsi::ParameterData;
  record->setName(std::string(80, 'a'));
  record->setValue(std::string(80, 'b'));
  EXPECT_EQ(record->name(), std::string(64, 'a'));
  EXPECT_EQ(record->value(), std::string(64, 'b'));
  params.push_back(*record);
  delete record;
  EXPECT_EQ(get(std::string(64, 'a')), std::string(64, 'b'));
}

TEST_F(ParametersTest, SettersRezeroTheField) {
  QXScsi::ParameterData record;
  EXPECT_EQ(record.name(), "");
  EXPECT_EQ(record.value(), "");
  record.setName("exclusive_access");
  record.setName("OS");
  EXPECT_EQ(record.name(), "OS");
  record.setValue(std::string("y\0z", 3));
  EXPECT_EQ(record.value(), "y");
}

TEST_F(ParametersTest, NameWithEmbeddedZeroComparesUpToIt) {
  QXScsi::setParameter("retry_access", "3", params);
  EXPECT_EQ(get(std::string("retry_access\0junk", 17)), "3");
}

TEST_F(ParametersTest, TransportTypeAcceptsOnlyOneAndTwo) {
  EXPECT_EQ(QXScsi::transportType("2"), 2);
  EXPECT_EQ(QXScsi::transportType(" 1"), 1);
  EXPECT_EQ(QXScsi::transportType("2a"), 2);
  EXPECT_EQ(QXScsi::transportType("+1"), 1);
  EXPECT_EQ(QXScsi::transportType("\t\n2"), 2);
  for (const char* bad : {"0", "3", "", "abc", "-1", "-2", "99999999999", " ", "a2"})
    EXPECT_EQ(QXScsi::transportType(bad), -1) << bad;
}

TEST_F(ParametersTest, ParameterNames) {
  EXPECT_STREQ(QXScsi::accessScsiTargetParam(), "access_target");
  EXPECT_STREQ(QXScsi::exclusiveAccessParam(), "exclusive_access");
  EXPECT_STREQ(QXScsi::scsiTransportTypeParam(), "scsi_transport_type");
  EXPECT_STREQ(QXScsi::OSTypeParam(), "OS_type");
  EXPECT_STREQ(QXScsi::retryAccessSPIDeviceParam(), "retry_access");
  EXPECT_STREQ(QXScsi::firmwareParam(), "firmware");
  EXPECT_STREQ(QXScsi::inhibitAccessToScsiAddressParam(), "inhibit_scsi_addr");
}

}  // namespace
