#include "driver/MiravokFprnUnit.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "driver/ComServer.h"
#include "driver/ConstUnit.h"
#include "driver/FakeDevice.h"
#include "platform/Cp1251.h"
#include "platform/com/ComPtr.h"

namespace fp {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kNotInit = "Device is not initiqlized. Call \"init\" first!";

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class MiravokFprnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/fp_fprn_XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    Dir = templ;
    ResetLogToFile();
    SetLogToFileBaseName("MiravokFPAxX4_BG.so");
    Obj = NewObject();
  }
  void TearDown() override {
    Obj.Reset();
    ResetLogToFile();
    SetLogToFileBaseName("");
    fs::remove_all(Dir);
  }

  // A new object from the library's class factory, as a client gets it.
  static ComPtr<IMiravokFprn> NewObject() {
    ComPtr<IMiravokFprn> p;
    EXPECT_EQ(MiravokFprnFactory().CreateInstance(nullptr, IMiravokFprn::Iid, p.AsOut()), S_OK);
    return p;
  }
  static TComClassFactory& MiravokFprnFactory() { return *ComClassFactories()[4]; }
  static TMiravokFprn& Impl(const ComPtr<IMiravokFprn>& p) { return *static_cast<TMiravokFprn*>(p.Get()); }

  // Gives the object a scripted device that counts as connected.
  TFakeDevice& Connect(bool Connected = true) {
    auto D = std::make_unique<TFakeDevice>();
    D->Connected = Connected;
    TFakeDevice& Ref = *D;
    Impl(Obj).AttachDeviceForTest(std::move(D));
    return Ref;
  }

  void SetLogFolder(const std::string& Folder) {
    ASSERT_EQ(Obj->put_LogFilePath(BStr(Utf8ToWide(Folder)).Get()), S_OK);
  }

  LONG Code() {
    LONG c = -99;
    EXPECT_EQ(Obj->get_LastErrorCode(&c), S_OK);
    return c;
  }
  std::string Message() {
    BStr m;
    EXPECT_EQ(Obj->get_LastErrorMessage(m.Out()), S_OK);
    return BstrToAnsi(m.Get());
  }
  std::string Text(HRESULT (IMiravokFprn::*Get)(BSTR*)) {
    BStr v;
    EXPECT_EQ((Obj.Get()->*Get)(v.Out()), S_OK);
    return BstrToAnsi(v.Get());
  }
  LONG Number(HRESULT (IMiravokFprn::*Get)(LONG*)) {
    LONG v = -99;
    EXPECT_EQ((Obj.Get()->*Get)(&v), S_OK);
    return v;
  }
  LONG SetOperator(LONG No, const char16_t* Name, const char16_t* Pass) {
    LONG Res = 99;
    EXPECT_EQ(Obj->SetOperator(No, BStr(Name).Get(), BStr(Pass).Get(), &Res), S_OK);
    return Res;
  }
  void PutDateTime(const char16_t* Text) {
    EXPECT_EQ(Obj->put_FPDateTimeAsString(BStr(Text).Get()), S_OK);
  }

  std::string Dir;
  ComPtr<IMiravokFprn> Obj;
};

TEST_F(MiravokFprnTest, FreshObjectReadsEmpty) {
  EXPECT_EQ(Code(), 0);
  EXPECT_EQ(Message(), "");
  EXPECT_EQ(Number(&IMiravokFprn::get_LineLength), 0);
  EXPECT_EQ(Number(&IMiravokFprn::get_ComPort), 0);
  EXPECT_EQ(Number(&IMiravokFprn::get_PrintInvDublicate), 0);
  EXPECT_EQ(Text(&IMiravokFprn::get_FPName), "");
  EXPECT_EQ(Text(&IMiravokFprn::get_FPSerial), "");
  EXPECT_EQ(Text(&IMiravokFprn::get_FPFiscalNom), "");
  EXPECT_EQ(Text(&IMiravokFprn::get_FPVersion), " ");
  EXPECT_EQ(Text(&IMiravokFprn::GetPrinterModel), " [ ]");
  EXPECT_EQ(Text(&IMiravokFprn::get_LastUniqueSellNo), "");
  EXPECT_EQ(Text(&IMiravokFprn::get_LogFilePath), "");
  EXPECT_EQ(Text(&IMiravokFprn::GetDriverVersion), "Fiscal Printer X4 vers: 1.18; ");
  EXPECT_THAT(Text(&IMiravokFprn::GetDriverVendor), ::testing::StartsWith("MIRAVOK, "));
}

TEST_F(MiravokFprnTest, ActingMethodBeforeInitFailsWith502) {
  EXPECT_EQ(SetOperator(1, u"Ivan", u"0000"), -1);
  EXPECT_EQ(Code(), 502);
  EXPECT_EQ(Message(), "[Set operator failed] " + kNotInit + " ");
}

TEST_F(MiravokFprnTest, ActingMethodWithClosedLinkFailsWith101) {
  Connect(false);
  EXPECT_EQ(SetOperator(1, u"Ivan", u"0000"), -1);
  EXPECT_EQ(Code(), 101);
  EXPECT_EQ(Message(), "[Set operator failed] COM port is not active ");
}

TEST_F(MiravokFprnTest, SuccessClearsTheLastErrorButReadOutsDoNot) {
  EXPECT_EQ(SetOperator(1, u"Ivan", u"0000"), -1);
  // Read-outs leave the last error as it was.
  EXPECT_EQ(Text(&IMiravokFprn::GetDriverVersion), "Fiscal Printer X4 vers: 1.18; ");
  EXPECT_EQ(Number(&IMiravokFprn::get_LineLength), 0);
  EXPECT_EQ(Code(), 502);

  TFakeDevice& D = Connect();
  D.Push(TFakeDevice::Answer(""));
  EXPECT_EQ(SetOperator(3, u"Ivan", u"0000"), 0);
  EXPECT_EQ(Code(), 0);
  EXPECT_EQ(Message(), "");
  ASSERT_EQ(D.Calls.size(), 1u);
  EXPECT_EQ(TBaseDevice::BufferToText(D.Calls[0].Data), "3,0000,Ivan");
}

TEST_F(MiravokFprnTest, GetLastErrorAndGetErrCodeTextGiveTheLastMessage) {
  SetOperator(1, u"Ivan", u"");
  for (LONG Lng : {0, 1, 7}) {
    BStr a, b;
    ASSERT_EQ(Obj->GetLastError(Lng, a.Out()), S_OK);
    ASSERT_EQ(Obj->GetErrCodeText(123 + Lng, Lng, b.Out()), S_OK);
    EXPECT_EQ(BstrToAnsi(a.Get()), Message());
    EXPECT_EQ(BstrToAnsi(b.Get()), Message());
  }
}

TEST_F(MiravokFprnTest, DeviceFailureKeepsItsCodeAndText) {
  TFakeDevice& D = Connect();
  D.Push(TFakeDevice::Failure(103, "Time out"));
  EXPECT_EQ(SetOperator(1, u"Ivan", u"0000"), -1);
  EXPECT_EQ(Code(), 103);
  EXPECT_EQ(Message(), "[Set operator failed] Time out ");
}

TEST_F(MiravokFprnTest, DeviceFailureWithoutCodeIsReportedAs502) {
  // A device operation that answers false but leaves its code at 0 must not read as
  // success to a client that looks at LastErrorCode.
  TFakeDevice& D = Connect();
  D.Push(TFakeDevice::Failure(0, "Socket closed"));
  EXPECT_EQ(SetOperator(1, u"Ivan", u"0000"), -1);
  EXPECT_EQ(Code(), 502);
  EXPECT_EQ(Message(), "[Set operator failed] Socket closed ");
}

TEST_F(MiravokFprnTest, OperatorNameOfBlanksFailsWithTheCommandsCode) {
  TFakeDevice& D = Connect();
  EXPECT_EQ(SetOperator(1, u"   ", u"0000"), -1);
  EXPECT_EQ(Code(), 201);
  EXPECT_THAT(Message(), ::testing::StartsWith("[Set operator failed] "));
  EXPECT_TRUE(D.Calls.empty());
}

TEST_F(MiravokFprnTest, PrintInvDublicateStoresOnlyWhetherNotZero) {
  for (auto [Put, Get] : {std::pair{5, 1}, {0, 0}, {-1, 1}, {1, 1}}) {
    ASSERT_EQ(Obj->put_PrintInvDublicate(Put), S_OK);
    EXPECT_EQ(Number(&IMiravokFprn::get_PrintInvDublicate), Get) << Put;
  }
}

TEST_F(MiravokFprnTest, LogFilePathGetsOneTrailingDelimiterAndIsCreated) {
  const std::string Folder = Dir + "/a/b";
  SetLogFolder(Folder);
  EXPECT_EQ(Text(&IMiravokFprn::get_LogFilePath), Folder + "/");
  EXPECT_TRUE(fs::is_directory(Folder));
  SetLogFolder(Folder + "/");
  EXPECT_EQ(Text(&IMiravokFprn::get_LogFilePath), Folder + "/");
}

TEST_F(MiravokFprnTest, LogFolderThatCannotBeCreatedTurnsLoggingOff) {
  std::ofstream(Dir + "/file") << "x";
  SetLogFolder(Dir + "/log");
  SetLogFolder(Dir + "/file/log");  // below a file: cannot be created
  EXPECT_EQ(Text(&IMiravokFprn::get_LogFilePath), "");
  SetOperator(1, u"Ivan", u"");
  EXPECT_EQ(CurrentLogFileName(), "");  // no line was written anywhere
}

TEST_F(MiravokFprnTest, EmptyLogFilePathTurnsLoggingOff) {
  SetLogFolder(Dir);
  SetLogFolder("");
  EXPECT_EQ(Text(&IMiravokFprn::get_LogFilePath), "");
  SetOperator(1, u"Ivan", u"");
  EXPECT_EQ(CurrentLogFileName(), "");
}

TEST_F(MiravokFprnTest, CallAndFailureLinesInTheLog) {
  SetLogFolder(Dir);
  SetOperator(3, u"Ivan", u"secret'1");
  const std::string Log = ReadFile(Dir + "/MiravokFPAxX4_BG_Log.txt");
  EXPECT_THAT(Log, HasSubstr("[INFO]Set operator No\"3\", OperName=\"Ivan\", Password=\"***\"\r\n"));
  EXPECT_THAT(Log, HasSubstr("[ERROR][Set operator failed] " + kNotInit + "\r\n"));
  EXPECT_THAT(Log, Not(HasSubstr("secret")));
}

TEST_F(MiravokFprnTest, TwoObjectsLogIntoTheFolderOfTheFirstLine) {
  const std::string First = Dir + "/first", Second = Dir + "/second";
  SetLogFolder(First);
  ComPtr<IMiravokFprn> Other = NewObject();
  ASSERT_EQ(Other->put_LogFilePath(BStr(Utf8ToWide(Second)).Get()), S_OK);
  SetOperator(8, u"Mine", u"");  // the first line of the process
  LONG Res = 0;
  Other->SetOperator(7, BStr(u"Other").Get(), BStr(u"").Get(), &Res);
  EXPECT_FALSE(fs::exists(Second + "/MiravokFPAxX4_BG_Log.txt"));
  const std::string Log = ReadFile(First + "/MiravokFPAxX4_BG_Log.txt");
  EXPECT_THAT(Log, HasSubstr("Set operator No\"7\""));
  EXPECT_THAT(Log, HasSubstr("Set operator No\"8\""));
  Other.Reset();
  EXPECT_THAT(ReadFile(First + "/MiravokFPAxX4_BG_Log.txt"), HasSubstr("[INFO]Free objects.\r\n"));
}

TEST_F(MiravokFprnTest, DateTimeTextChecksComeBeforeTheConnection) {
  struct {
    const char16_t* Text;
    const char* Message;
  } Cases[] = {
      {u"08122026", "Invalid string for date/time"},
      {u"  ", "Empty string for date/time"},
      {u"", "Empty string for date/time"},
      {u"0812202622531", "Invalid string for date/time"},
  };
  for (const auto& C : Cases) {
    PutDateTime(C.Text);
    EXPECT_EQ(Code(), 201);
    EXPECT_EQ(Message(), std::string("[Set date/time failed] ") + C.Message + " ");
  }
}

TEST_F(MiravokFprnTest, InvalidDateTimeWithoutConnectionFailsOnTheConnection) {
  PutDateTime(u"31022026120000");
  EXPECT_EQ(Code(), 502);
  EXPECT_EQ(Message(), "[Set date/time failed] " + kNotInit + " ");
}

TEST_F(MiravokFprnTest, InvalidDateTimeWithPrinterConnectedFailsToEncode) {
  TFakeDevice& D = Connect();
  for (const char16_t* Text : {u"31022026120000", u"0812202624531200", u"08x22026225312"}) {
    PutDateTime(Text);
    EXPECT_EQ(Code(), 201);
    EXPECT_EQ(Message(), "[Set date/time failed] Failed encode string \"" +
                             BstrToAnsi(BStr(Text).Get()) + "\" to date/time ");
  }
  EXPECT_TRUE(D.Calls.empty());
}

TEST_F(MiravokFprnTest, DateTimeAsStringWithoutConnectionIsEmpty) {
  BStr v;
  ASSERT_EQ(Obj->get_FPDateTimeAsString(v.Out()), S_OK);
  EXPECT_EQ(v.View(), u"");
  EXPECT_EQ(Code(), 502);
  EXPECT_EQ(Message(), "[Get FP date and time failed] " + kNotInit + " ");
}

TEST_F(MiravokFprnTest, DateTimeAsStringReadsAndSetsThePrinterClock) {
  TFakeDevice& D = Connect();
  D.Push(TFakeDevice::Answer("08-12-26 22:53:12"));
  BStr v;
  ASSERT_EQ(Obj->get_FPDateTimeAsString(v.Out()), S_OK);
  EXPECT_EQ(v.View(), u"08122026225312");

  D.Push(TFakeDevice::Answer(""));
  PutDateTime(u"0102202709050759");  // characters after the 14th are ignored
  EXPECT_EQ(Code(), 0);
  ASSERT_EQ(D.Calls.size(), 2u);
  EXPECT_EQ(TBaseDevice::BufferToText(D.Calls[1].Data), "01-02-27 09:05");
}

TEST_F(MiravokFprnTest, ObjectSafetyAnswersSuccessAndChangesNothing) {
  ComPtr<IObjectSafety> Safety = Obj.As<IObjectSafety>();
  ASSERT_TRUE(Safety);
  DWORD Supported = 0x55, Enabled = 0xAA;
  EXPECT_EQ(Safety->GetInterfaceSafetyOptions(IMiravokFprn::Iid, &Supported, &Enabled), S_OK);
  EXPECT_EQ(Supported, 0x55u);
  EXPECT_EQ(Enabled, 0xAAu);
  EXPECT_EQ(Safety->SetInterfaceSafetyOptions(IMiravokFprn::Iid, 3, 3), S_OK);
}

TEST(CallLineTextTest, QuotedStrDoublesInnerQuotes) {
  EXPECT_EQ(QuotedStr(""), "''");
  EXPECT_EQ(QuotedStr("O'Neil"), "'O''Neil'");
}

TEST(CallLineTextTest, FloatToStrIsShortestWithDot) {
  EXPECT_EQ(FloatToStr(1.5), "1.5");
  EXPECT_EQ(FloatToStr(-3), "-3");
  EXPECT_EQ(FloatToStr(0.1 + 0.2), "0.3");
  EXPECT_EQ(FloatToStr(12345678.125), "12345678.125");
}

}  // namespace
}  // namespace fp
