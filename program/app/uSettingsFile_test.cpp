#include "program/app/uSettingsFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/FileOps.h"
#include "platform/IniFile.h"

namespace fp::test {
namespace {

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FTmp.isValid());
    FIni = FTmp.path() + "/DriverFiscalPrinterX4.ini";
  }
  void TearDown() override {
    uConst::SetCashierPas("");
    uConst::SetBonFileExt("");
    uConst::SetUsePluAsDepartNo(false);
    uConst::SetPayTypePairs({});
  }
  void Put(const QByteArray& data) {
    QFile f(FIni);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
  }
  QByteArray Get() const {
    QFile f(FIni);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  TMainSettings Load() {
    TMainSettings s;
    s.ComPort = 99;  // loading replaces every field
    s.SearchPath = "stale";
    LoadSettings(FIni, s);
    return s;
  }

  QTemporaryDir FTmp;
  QString FIni;
};

TEST_F(SettingsFileTest, FirstStartWritesOnlyTwoKeysAndUsesDefaults) {
  uConst::SetBonFileExt("old");
  uConst::SetPayTypePairs({{2, 3}});
  TMainSettings s = Load();
  EXPECT_EQ(Get(), QByteArray("[PAYTYPES]\r\nPayNo_0=0\r\n[PARAMETERS]\r\nWatGrpBeginFromOne=0\r\n"));
  EXPECT_EQ(s.ComPort, 1);
  EXPECT_EQ(s.BaudRate, 115200);
  EXPECT_TRUE(s.RepFilePrint);
  EXPECT_TRUE(s.RepDetailPrint);
  EXPECT_TRUE(s.CreateLOG);
  EXPECT_EQ(s.CheckPrnIntevalSec, 30);
  EXPECT_EQ(s.CharEncoding, 0);
  EXPECT_TRUE(s.SearchPath.isEmpty());
  EXPECT_FALSE(s.AutoSerachDevice);
  EXPECT_FALSE(s.WatGrpBeginFromOne);
  EXPECT_EQ(uConst::BonFileExt(), "bon");
  EXPECT_TRUE(uConst::CashierPas().isEmpty());
  EXPECT_FALSE(uConst::UsePluAsDepartNo());
  EXPECT_TRUE(uConst::PayTypePairs().empty());
  // A second start writes nothing more.
  Load();
  EXPECT_EQ(Get(), QByteArray("[PAYTYPES]\r\nPayNo_0=0\r\n[PARAMETERS]\r\nWatGrpBeginFromOne=0\r\n"));
}

TEST_F(SettingsFileTest, ReadsEveryKey) {
  Put("[PARAMETERS]\r\nCheckPrnIntevalSec=0\r\nSearchPath= /srv/bon \r\nComPort=0x10\r\nBaudRate=9600\r\n"
      "RepFilePrint=0\r\nRepDetailPrint=0\r\nCreateLOG=0\r\nCashierPas=\"  12 \"\r\nCharEncoding=1\r\n"
      "DeviceSerialNom=DT123\r\nAutoSerachDevice=1\r\nBonFileExt=inp\r\nUsePluAsDepartNo=1\r\n"
      "WatGrpBeginFromOne=5\r\n");
  TMainSettings s = Load();
  EXPECT_EQ(s.CheckPrnIntevalSec, 0);
  EXPECT_EQ(s.SearchPath, "/srv/bon");
  EXPECT_EQ(s.ComPort, 16);
  EXPECT_EQ(s.BaudRate, 9600);
  EXPECT_FALSE(s.RepFilePrint);
  EXPECT_FALSE(s.RepDetailPrint);
  EXPECT_FALSE(s.CreateLOG);
  EXPECT_EQ(uConst::CashierPas(), "  12 ");
  EXPECT_EQ(s.CharEncoding, 1);
  EXPECT_EQ(s.DeviceSerialNom, "DT123");
  EXPECT_TRUE(s.AutoSerachDevice);
  EXPECT_EQ(uConst::BonFileExt(), "inp");
  EXPECT_TRUE(uConst::UsePluAsDepartNo());
  EXPECT_TRUE(s.WatGrpBeginFromOne);
}

TEST_F(SettingsFileTest, CharEncodingAndComPortRules) {
  struct {
    const char* encoding;
    int expected;
  } encodings[] = {{"2", 2}, {"3", 0}, {"258", 2}, {"259", 0}, {"-1", 0}, {"x", 0}};
  for (const auto& c : encodings) {
    Put(QByteArray("[PARAMETERS]\r\nCharEncoding=") + c.encoding + "\r\n");
    EXPECT_EQ(Load().CharEncoding, c.expected) << c.encoding;
  }
  // A number the worker cannot take becomes the default with one line for the log.
  struct {
    const char* port;
    int expected;
    bool replaced;
  } ports[] = {{"255", 255, false}, {"256", 1, true}, {"300", 1, true}, {"5abc", 1, false},
               {"0", 0, false},     {"-1", 1, true},  {"-300", 1, true}};
  for (const auto& c : ports) {
    Put(QByteArray("[PARAMETERS]\r\nComPort=") + c.port + "\r\n");
    TMainSettings s;
    const QStringList lines = LoadSettings(FIni, s);
    EXPECT_EQ(s.ComPort, c.expected) << c.port;
    if (c.replaced) {
      ASSERT_EQ(lines.size(), 1) << c.port;
      EXPECT_EQ(lines[0], QStringLiteral("ComPort=%1 is out of range; COM1 is used").arg(QLatin1String(c.port)));
    } else {
      EXPECT_TRUE(lines.isEmpty()) << c.port;
    }
  }
}

TEST_F(SettingsFileTest, PayTypePairsLoadAndSave) {
  Put("[PAYTYPES]\r\nPayNo_3=2\r\nPayNo_5=0\r\nPayNo_12=7\r\nPayNo_13=4\r\n");
  TMainSettings s = Load();
  EXPECT_EQ(uConst::PayTypePairs(), (std::vector<TPayTypePair>{{3, 2}, {12, 7}}));
  SaveSettings(FIni, s);
  TIniFile ini(QFile::encodeName(FIni).toStdString());
  EXPECT_EQ(ini.ReadString("PAYTYPES", "PayNo_3", ""), "2");
  EXPECT_EQ(ini.ReadString("PAYTYPES", "PayNo_12", ""), "7");
  for (const char* gone : {"PayNo_0", "PayNo_5", "PayNo_13"}) EXPECT_FALSE(ini.ValueExists("PAYTYPES", gone)) << gone;
}

TEST_F(SettingsFileTest, SaveWritesKeysInOrderAndLeavesOtherSections) {
  Put("[grdDepartments]\r\nNom=40\r\n");
  TMainSettings s;
  s.SearchPath = QString::fromUtf8("/srv/\xD0\xB1\xD0\xBE\xD0\xBD");
  s.ComPort = 3;
  s.CharEncoding = 2;
  s.DeviceSerialNom = "DT1";
  uConst::SetCashierPas("7");
  uConst::SetBonFileExt("bon");
  uConst::SetPayTypePairs({{4, 2}, {2, 9}});
  SaveSettings(FIni, s);
  EXPECT_EQ(Get(), QByteArray("[grdDepartments]\r\nNom=40\r\n[PARAMETERS]\r\nSearchPath=/srv/\xE1\xEE\xED\r\n"
                              "ComPort=3\r\nBaudRate=115200\r\nCreateLOG=1\r\nRepFilePrint=1\r\nRepDetailPrint=1\r\n"
                              "CashierPas=7\r\nCharEncoding=2\r\nDeviceSerialNom=DT1\r\nAutoSerachDevice=0\r\n"
                              "BonFileExt=bon\r\nCheckPrnIntevalSec=30\r\nUsePluAsDepartNo=0\r\n"
                              "[PAYTYPES]\r\nPayNo_4=2\r\nPayNo_2=9\r\n"));
  // What was saved loads back.
  TMainSettings back = Load();
  EXPECT_EQ(back.SearchPath, s.SearchPath);
  EXPECT_EQ(back.ComPort, 3);
  EXPECT_EQ(back.CharEncoding, 2);
  EXPECT_EQ(uConst::PayTypePairs(), (std::vector<TPayTypePair>{{2, 9}, {4, 2}}));
}

// A save is one rewrite: whichever write of the file fails (a full disk), the file is
// either the old one, whole, or the new one, whole; a failure raises naming the file.
TEST_F(SettingsFileTest, FailedSaveRaisesAndKeepsTheOldFile) {
  const QByteArray old = "[PARAMETERS]\r\nSearchPath=/old\r\nComPort=4\r\n[PAYTYPES]\r\nPayNo_1=2\r\n";
  TMainSettings s;
  s.SearchPath = "/srv";
  Put(old);
  SaveSettings(FIni, s);
  const QByteArray saved = Get();
  ASSERT_NE(saved, old);
  for (TFileOp op : {TFileOp::Rename, TFileOp::Write}) {
    for (int nth = 1; nth <= 3; ++nth) {
      SCOPED_TRACE(::testing::Message() << static_cast<int>(op) << " #" << nth);
      Put(old);
      TFaultyFileOps faulty;
      TScopedFileOps scope(&faulty);
      faulty.FailAt(op, nth, 28 /* ENOSPC */, FTmp.path().toStdString());
      bool raised = false;
      try {
        SaveSettings(FIni, s);
      } catch (const EIniFileException& e) {
        raised = true;
        EXPECT_EQ(QString::fromStdString(e.what()), "Unable to write to " + FIni);
      }
      EXPECT_EQ(Get(), raised ? old : saved);
      EXPECT_EQ(raised, nth == 1);
    }
  }
}

TEST(CommandLineTest, PortAndFolderOverrides) {
  QTemporaryDir tmp;
  const QString folder = tmp.path();
  struct {
    QStringList args;
    int port;
    QString path;
  } cases[] = {
      {{}, 4, "ini"},
      {{"5", folder}, 5, folder},
      {{"5abc"}, 5, "ini"},
      {{"0012"}, 12, "ini"},
      {{"255"}, 255, "ini"},
      {{"0", folder}, 4, folder},
      {{"-3"}, 4, "ini"},
      {{"COM5"}, 4, "ini"},
      {{" 5"}, 4, "ini"},
      {{"256"}, 4, "ini"},
      {{"99999999999999"}, 4, "ini"},
      {{"7", folder + "/missing"}, 7, "ini"},
      {{"x", QString()}, 4, "ini"},
  };
  for (const auto& c : cases) {
    TMainSettings s;
    s.ComPort = 4;
    s.SearchPath = "ini";
    ApplyCommandLine(c.args, s);
    EXPECT_EQ(s.ComPort, c.port) << c.args.join(' ').toStdString();
    EXPECT_EQ(s.SearchPath, c.path) << c.args.join(' ').toStdString();
  }
}

TEST(SettingsFilePathTest, NamedAfterTheProgram) {
  EXPECT_EQ(SettingsFilePath("/opt/fp/", "/opt/fp/DriverFiscalPrinterX4"), "/opt/fp/DriverFiscalPrinterX4.ini");
  EXPECT_EQ(SettingsFilePath("/opt/fp/", "/opt/fp/Renamed"), "/opt/fp/Renamed.ini");
  EXPECT_EQ(SettingsFilePath("/opt/fp/", "/opt/fp/driver.bin"), "/opt/fp/driver.ini");
}

}  // namespace
}  // namespace fp::test
