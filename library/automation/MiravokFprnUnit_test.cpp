#include "library/automation/MiravokFprnUnit.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "library/automation/ComServer.h"
#include "library/automation/ConstUnit.h"
#include "tests/support/FakeDevice.h"
#include "library/protocol/OleDate.h"
#include "platform/Cp1251.h"
#include "platform/com/ComPtr.h"

namespace fp::test {
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
    FDir = templ;
    ResetLogToFile();
    SetLogToFileBaseName("MiravokFPAxX4_BG.so");
    FObj = NewObject();
  }
  void TearDown() override {
    FObj.Reset();
    ResetLogToFile();
    SetLogToFileBaseName("");
    fs::remove_all(FDir);
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
    auto d = std::make_unique<TFakeDevice>();
    d->Connected = Connected;
    TFakeDevice& ref = *d;
    Impl(FObj).AttachDeviceForTest(std::move(d));
    return ref;
  }

  void SetLogFolder(const std::string& Folder) {
    ASSERT_EQ(FObj->put_LogFilePath(BStr(Utf8ToWide(Folder)).Get()), S_OK);
  }

  LONG Code() {
    LONG c = -99;
    EXPECT_EQ(FObj->get_LastErrorCode(&c), S_OK);
    return c;
  }
  std::string Message() {
    BStr m;
    EXPECT_EQ(FObj->get_LastErrorMessage(m.Out()), S_OK);
    return BstrToAnsi(m.Get());
  }
  std::string Text(HRESULT (IMiravokFprn::*Get)(BSTR*)) {
    BStr v;
    EXPECT_EQ((FObj.Get()->*Get)(v.Out()), S_OK);
    return BstrToAnsi(v.Get());
  }
  LONG Number(HRESULT (IMiravokFprn::*Get)(LONG*)) {
    LONG v = -99;
    EXPECT_EQ((FObj.Get()->*Get)(&v), S_OK);
    return v;
  }
  LONG SetOperator(LONG No, const char16_t* Name, const char16_t* Pass) {
    LONG res = 99;
    EXPECT_EQ(FObj->SetOperator(No, BStr(Name).Get(), BStr(Pass).Get(), &res), S_OK);
    return res;
  }
  void PutDateTime(const char16_t* Text) { EXPECT_EQ(FObj->put_FPDateTimeAsString(BStr(Text).Get()), S_OK); }

  std::string FDir;
  ComPtr<IMiravokFprn> FObj;
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

  TFakeDevice& d = Connect();
  d.Push(TFakeDevice::Answer(""));
  EXPECT_EQ(SetOperator(3, u"Ivan", u"0000"), 0);
  EXPECT_EQ(Code(), 0);
  EXPECT_EQ(Message(), "");
  ASSERT_EQ(d.Calls.size(), 1u);
  EXPECT_EQ(TBaseDevice::BufferToText(d.Calls[0].Data), "3,0000,Ivan");
}

TEST_F(MiravokFprnTest, GetLastErrorAndGetErrCodeTextGiveTheLastMessage) {
  SetOperator(1, u"Ivan", u"");
  for (LONG lng : {0, 1, 7}) {
    BStr a, b;
    ASSERT_EQ(FObj->GetLastError(lng, a.Out()), S_OK);
    ASSERT_EQ(FObj->GetErrCodeText(123 + lng, lng, b.Out()), S_OK);
    EXPECT_EQ(BstrToAnsi(a.Get()), Message());
    EXPECT_EQ(BstrToAnsi(b.Get()), Message());
  }
}

TEST_F(MiravokFprnTest, DeviceFailureKeepsItsCodeAndText) {
  struct {
    int32_t DeviceCode;
    const char* Text;
    LONG Code;
  } cases[] = {
      {103, "Time out", 103},
      // A device operation that answers false but leaves its code at 0 must not read as
      // success to a client that looks at LastErrorCode; nor, once the command went to the
      // link, as a refusal before sending (502): it is 200.
      {0, "Socket closed", 200},
  };
  TFakeDevice& d = Connect();
  for (const auto& c : cases) {
    d.Push(TFakeDevice::Failure(c.DeviceCode, c.Text));
    EXPECT_EQ(SetOperator(1, u"Ivan", u"0000"), -1);
    EXPECT_EQ(Code(), c.Code);
    EXPECT_EQ(Message(), std::string("[Set operator failed] ") + c.Text + " ");
  }
  // A call that only reads reports the same failure as 502: nothing of it changed the
  // printer. The count of a changing call before it does not carry over.
  d.Push(TFakeDevice::Failure(0, "Socket closed"));
  LONG number = -1;
  EXPECT_EQ(FObj->GetLastDocNumber(&number), S_OK);
  EXPECT_EQ(Code(), 502);
  EXPECT_EQ(Message(), "[GetLastBonNumber failed] Socket closed ");
}

TEST_F(MiravokFprnTest, OperatorNameOfBlanksFailsWithTheCommandsCode) {
  TFakeDevice& d = Connect();
  EXPECT_EQ(SetOperator(1, u"   ", u"0000"), -1);
  EXPECT_EQ(Code(), 201);
  EXPECT_THAT(Message(), ::testing::StartsWith("[Set operator failed] "));
  EXPECT_TRUE(d.Calls.empty());
}

// An operator number that does not fit the printer's 16 bits, and a password with the comma
// that ends it ("12,34" would be stored as "12"), are refused before anything is sent.
TEST_F(MiravokFprnTest, OperatorArgumentsThatWouldGoOutWronglyAreRefused) {
  TFakeDevice& d = Connect();
  const struct {
    LONG No;
    const char16_t* Pass;
    const char* Argument;
  } cases[] = {{-1, u"0000", "OperNom"}, {65536, u"0000", "OperNom"}, {1, u"12,34", "OperPass"}};
  for (const auto& c : cases) {
    EXPECT_EQ(SetOperator(c.No, u"Ivan", c.Pass), -1);
    EXPECT_EQ(Code(), 201);
    EXPECT_EQ(Message(), std::string("[Set operator failed] Invalid input data. [") + c.Argument + "] ");
  }
  EXPECT_TRUE(d.Calls.empty());
}

TEST_F(MiravokFprnTest, PrintInvDublicateStoresOnlyWhetherNotZero) {
  for (auto [Put, Get] : {std::pair{5, 1}, {0, 0}, {-1, 1}, {1, 1}}) {
    ASSERT_EQ(FObj->put_PrintInvDublicate(Put), S_OK);
    EXPECT_EQ(Number(&IMiravokFprn::get_PrintInvDublicate), Get) << Put;
  }
}

TEST_F(MiravokFprnTest, LogFilePathGetsOneTrailingDelimiterAndIsCreated) {
  const std::string folder = FDir + "/a/b";
  SetLogFolder(folder);
  EXPECT_EQ(Text(&IMiravokFprn::get_LogFilePath), folder + "/");
  EXPECT_TRUE(fs::is_directory(folder));
  SetLogFolder(folder + "/");
  EXPECT_EQ(Text(&IMiravokFprn::get_LogFilePath), folder + "/");
}

TEST_F(MiravokFprnTest, LogFolderThatCannotBeCreatedTurnsLoggingOff) {
  std::ofstream(FDir + "/file") << "x";
  SetLogFolder(FDir + "/log");
  SetLogFolder(FDir + "/file/log");  // below a file: cannot be created
  EXPECT_EQ(Text(&IMiravokFprn::get_LogFilePath), "");
  SetOperator(1, u"Ivan", u"");
  EXPECT_EQ(CurrentLogFileName(), "");  // no line was written anywhere
}

TEST_F(MiravokFprnTest, EmptyLogFilePathTurnsLoggingOff) {
  SetLogFolder(FDir);
  SetLogFolder("");
  EXPECT_EQ(Text(&IMiravokFprn::get_LogFilePath), "");
  SetOperator(1, u"Ivan", u"");
  EXPECT_EQ(CurrentLogFileName(), "");
}

TEST_F(MiravokFprnTest, CallAndFailureLinesInTheLog) {
  SetLogFolder(FDir);
  SetOperator(3, u"Ivan", u"secret'1");
  const std::string log = ReadFile(FDir + "/MiravokFPAxX4_BG_Log.txt");
  EXPECT_THAT(log, HasSubstr("[INFO]Set operator No\"3\", OperName=\"Ivan\", Password=\"***\"\r\n"));
  EXPECT_THAT(log, HasSubstr("[ERROR][Set operator failed] " + kNotInit + "\r\n"));
  EXPECT_THAT(log, Not(HasSubstr("secret")));
}

// The lines of the log without their time stamps ("DD.MM.YY HH:NN:SS.zzz ").
std::vector<std::string> LogLines(const std::string& Text) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; at < Text.size(); at = end + 2) {
    end = Text.find("\r\n", at);
    if (end == std::string::npos) end = Text.size();
    lines.push_back(Text.substr(at + std::min<size_t>(22, end - at), end - at - std::min<size_t>(22, end - at)));
  }
  return lines;
}

// Without a printer, every entry writes its call line first, exactly as log readers see it
// (the log writer trims it), then its failure under its own context.
TEST_F(MiravokFprnTest, CallLinesAndFailureContexts) {
  SetLogFolder(FDir);
  const std::string logFile = FDir + "/MiravokFPAxX4_BG_Log.txt";
  BStr q(u"a'b"), empty(u""), eur(u" EUR"), date(u"01/02/2024"), clock(u"08122026225312"), pass(u"0000");
  double feb1 = 0, mar5 = 0;
  ASSERT_TRUE(TryEncodeOleDateTime(2024, 2, 1, 0, 0, 0, 0, feb1));
  ASSERT_TRUE(TryEncodeOleDateTime(2024, 3, 5, 10, 15, 0, 0, mar5));
  LONG res = 99, l1 = 0, l2 = 0;
  double d1 = 0, d2 = 0, d3 = 0, d4 = 0;
  std::int8_t i1 = 0;
  DATE when = 0;
  BStr t1, t2;
  ComPtr<IBonData> bon;
  ComPtr<IXReportData> xRep;
  ComPtr<IAdvLines> adv;
  ComPtr<IDepartTotals> dep;
  struct TCase {
    std::vector<std::string> Info;  // the call line (none for a few entries)
    std::string Context;
    std::function<HRESULT()> Call;
  };
  const TCase cases[] = {
      {{"StartBon. BonType=2 CashierName='a''b' CashierPass='***' CashierPOS='4' CashierNo='3' "
        "InvNumber='a''b' InvTaxNumber='' InvVATNumber='a''b' InvCompany='' InvCity='a''b' "
        "InvAddress='' InvMOL='a''b' InvReceiver=''"},
       "StartBon",
       [&] {
         return FObj->StartBon(2, 1, 3, q.Get(), pass.Get(), 4, q.Get(), empty.Get(), q.Get(), empty.Get(), q.Get(),
                               empty.Get(), q.Get(), empty.Get(), &res);
       }},
      {{}, "EndBon failed", [&] { return FObj->EndBon(&res); }},
      {{"VoidCurrentReciept.."}, "VoidCurrentReciept failed", [&] { return FObj->VoidCurrentReciept(&res); }},
      {{"SetRefundParams. FiscalBlock: \"1234\", Reason: \"1\", \", InvDate: \"01/02/2024\", \", "
        "InvoiceNom: \"\", \", RecieptNo: \"55\"."},
       "SetRefundParams failed",
       [&] { return FObj->SetRefundParams(1234, 1, 55, date.Get(), empty.Get(), &res); }},
      {{"Add plu. Numb='a''b' Name='' Price=2.5 Quantity=-1 VATGroup=2"},
       "Add plu failed",
       [&] { return FObj->AddPLU(q.Get(), empty.Get(), 2.5, -1, 2, &res); }},
      {{"AddDeprtPlu. Numb='a''b' Name='' Price=2.5 Quantity=2 DeprtmentNo=7. VAT no=3"},
       "AddDeprtPlu failed",
       [&] { return FObj->AddDeprtPlu(q.Get(), empty.Get(), 7, 2.5, 2, 3, &res); }},
      {{"Add prog plu. Numb=\"5\" Quantity=2\" Department No: 1\", Price=1.5\" VatGrp No: 2"},
       "Add prog Plu failed",
       [&] { return FObj->AddProgPlu(5, 1, 2, 1.5, 2, &res); }},
      {{"Add Line='a''b', WordWrap=1, Command=BOLD"},
       "AddLine failed",
       [&] { return FObj->AddLine(q.Get(), BStr(u"BOLD").Get(), 1, &res); }},
      {{"Add discount. DiscType=2 Value=-10"}, "Add discount failed.", [&] { return FObj->AddDiscount(2, -10, &res); }},
      {{"Add payment. Pay type nom=1, Name='a''b', Ammount=20, Cource=1.95583"},
       "Add payment failed",
       [&] { return FObj->AddPayment(1, q.Get(), 20, 1.95583, &res); }},
      {{"Add payment and currency. Pay type nom=5, PayText='a''b', PayAmount=10, Cource=1.95583, "
        "CurrAbrev= EUR"},
       "Add payment failed",
       [&] { return FObj->AddPaymentByCurrncy(5, q.Get(), 10, 1.95583, eur.Get(), &res); }},
      {{"Add Barcode.  BData='a''b', BType=9, BHeight=250, BHri=5"},
       "AddBarcode failed",
       [&] { return FObj->AddBarcode(q.Get(), 9, 250, 5, &res); }},
      {{"Run X report"}, "Run XReport failed", [&] { return FObj->RunXReport(&res); }},
      {{"Run Z report"}, "Run ZReport failed", [&] { return FObj->RunZReport(&res); }},
      {{"[RunFMBlockReport] StartBlock=1 EndBlock=9 Detailed=1"},
       "RunFMBlockReport failed",
       [&] { return FObj->RunFMBlockReport(1, 9, 1, &res); }},
      {{"[RunFMDateReport] StartDate=01.02.2024 EndDate=05.03.2024 10:15:00 Detailed=0"},
       "RunFMDateReport failed",
       [&] { return FObj->RunFMDateReport(feb1, mar5, 0, &res); }},
      {{"RunPLUReport.  ZeroFlag=1"}, "RunPLUReport failed", [&] { return FObj->RunPLUReport(1, 0, &res); }},
      {{"Report by departments.  Reset = \"1\""},
       "Report by departments failed",
       [&] { return FObj->ReportByDepartments(1, &res); }},
      {{"Run FP test."}, "RunPrinterTest failed", [&] { return FObj->RunPrinterTest(&res); }},
      {{"Copy last reciept"}, "Copy last bon failed", [&] { return FObj->CopyLastBon(&res); }},
      {{"InOutMoney. Ammount=-12.5 PayType=0"}, "InOutMoney failed", [&] { return FObj->InOutMoney(-12.5, 0, &res); }},
      {{"OpenCashDrawer. Pulse width: \"250\" ms."}, "OpenCashDrawer", [&] { return FObj->OpenCashDrawer(250, &res); }},
      {{"Get FP clock"}, "Get FP date and time failed", [&] { return FObj->GetClock(&when); }},
      {{"Set FP date and time. New date=05.03.2024 10:15:00"},
       "Set clock failed",
       [&] { return FObj->SetClock(mar5, &res); }},
      {{"Get last doc nom"}, "GetLastBonNumber failed", [&] { return FObj->GetLastDocNumber(&l1); }},
      {{"Get next invoice"}, "GetNextInvoiceNumber failed", [&] { return FObj->GetNextInvoiceNumber(t1.Out()); }},
      {{"GetNextRefundInvNumber.."}, "GetNextRefundInvNumber", [&] { return FObj->GetNextRefundInvNumber(t1.Out()); }},
      {{"Get serial nom"}, "GetSerialNumber failed", [&] { return FObj->GetSerialNumber(t1.Out()); }},
      {{"Get fiscal nom"}, "GetFiscalNumber failed", [&] { return FObj->GetFiscalNumber(t1.Out()); }},
      {{"Get hardware status"}, "GetHardwareStatus failed", [&] { return FObj->GetHardwareStatus(t1.Out(), &res); }},
      {{}, "CheckPRNStatus failed", [&] { return FObj->CheckPRNStatus(&l1, &res); }},
      {{"Display top text=\"a'b\""}, "Display top row failed", [&] { return FObj->DisplayTop(q.Get(), &res); }},
      {{"Display bottom text=\"a'b\""}, "Display  bottom failed", [&] { return FObj->DisplayBottom(q.Get(), &res); }},
      {{}, "Clear display failed", [&] { return FObj->DisplayClear(&res); }},
      {{"Display date time.."}, "Display date/time failed", [&] { return FObj->DisplayDateTime(&res); }},
      {{"Get reciept status"}, "GetRecieptStatus failed", [&] { return FObj->GetRecieptStatus(bon.GetAddressOf()); }},
      // Its line comes only after the connection check.
      {{}, "GetXReportData failed", [&] { return FObj->GetXReportData(xRep.GetAddressOf()); }},
      {{"Get Adv Lines"}, "GetAdvLinets failed", [&] { return FObj->GetAdvLinets(adv.GetAddressOf()); }},
      {{"Set Adv Lines. LineNo=2, LineText=\"a'b\""},
       "SetAdvLine failed",
       [&] { return FObj->SetAdvLine(2, q.Get(), &res); }},
      {{"GetDeprtmentTotals for department: 7"},
       "GetDeprtmentTotals for department no=\"7\" failed",
       [&] { return FObj->GetDeprtmentTotals(7, dep.GetAddressOf()); }},
      // A printer without extended commands answers with the totals object.
      {{"GetDepartmentName for department: 7", "GetDeprtmentTotals for department: 7"},
       "GetDeprtmentTotals for department no=\"7\" failed",
       [&] { return FObj->GetDepartmentName(7, dep.GetAddressOf()); }},
      {{"Set department. DeprtmentNo:7 Description1:a'b Description2: VATGrp:2)"},
       "SetDeparment failed",
       [&] { return FObj->SetDeparment(7, 2, q.Get(), empty.Get(), &res); }},
      {{"Get PLU data. PluNo = \"12\""},
       "GetPLUData failed",
       [&] { return FObj->GetPLUData(12, &l1, &i1, &d1, &d2, &d3, &d4, t1.Out(), &res); }},
      {{"Set PLU data. PluNo = \"12\"TaxGrp=\"2\", GroupNo=\"3\", UnitPrice=\"1.50\", Name=\"a'b\","},
       "Set PLU data failed",
       [&] { return FObj->SetPluData(12, 2, 3, 1.5, q.Get(), &res); }},
      {{"Get pay name. Payment nom: 3"}, "Get pay name failed", [&] { return FObj->GetPayType(3, t2.Out(), &res); }},
      {{}, "Get currency mode failed", [&] { return FObj->GetCurrencyMode(&l2, &res); }},
      {{"Set operator No\"3\", OperName=\"a'b\", Password=\"***\""},
       "Set operator failed",
       [&] { return FObj->SetOperator(3, q.Get(), pass.Get(), &res); }},
      {{"Set FP date/time from string=\"08122026225312\""},
       "Set date/time failed",
       [&] { return FObj->put_FPDateTimeAsString(clock.Get()); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Context);
    const size_t before = fs::exists(logFile) ? fs::file_size(logFile) : 0;
    ASSERT_EQ(c.Call(), S_OK);
    EXPECT_EQ(Code(), 502);
    EXPECT_EQ(Message(), "[" + c.Context + "] " + kNotInit + " ");
    std::vector<std::string> want;
    for (const std::string& line : c.Info) want.push_back("[INFO]" + line);
    want.push_back("[ERROR][" + c.Context + "] " + kNotInit);
    EXPECT_EQ(LogLines(ReadFile(logFile).substr(before)), want);
  }
}

TEST_F(MiravokFprnTest, TwoObjectsLogIntoTheFolderOfTheFirstLine) {
  const std::string first = FDir + "/first", second = FDir + "/second";
  SetLogFolder(first);
  ComPtr<IMiravokFprn> other = NewObject();
  ASSERT_EQ(other->put_LogFilePath(BStr(Utf8ToWide(second)).Get()), S_OK);
  SetOperator(8, u"Mine", u"");  // the first line of the process
  LONG res = 0;
  other->SetOperator(7, BStr(u"Other").Get(), BStr(u"").Get(), &res);
  EXPECT_FALSE(fs::exists(second + "/MiravokFPAxX4_BG_Log.txt"));
  const std::string log = ReadFile(first + "/MiravokFPAxX4_BG_Log.txt");
  EXPECT_THAT(log, HasSubstr("Set operator No\"7\""));
  EXPECT_THAT(log, HasSubstr("Set operator No\"8\""));
  other.Reset();
  EXPECT_THAT(ReadFile(first + "/MiravokFPAxX4_BG_Log.txt"), HasSubstr("[INFO]Free objects.\r\n"));
}

TEST_F(MiravokFprnTest, DateTimeTextChecksComeBeforeTheConnection) {
  struct {
    const char16_t* Text;
    const char* Message;
  } cases[] = {
      {u"08122026", "Invalid string for date/time"},
      {u"  ", "Empty string for date/time"},
      {u"", "Empty string for date/time"},
      {u"0812202622531", "Invalid string for date/time"},
  };
  for (const auto& c : cases) {
    PutDateTime(c.Text);
    EXPECT_EQ(Code(), 201);
    EXPECT_EQ(Message(), std::string("[Set date/time failed] ") + c.Message + " ");
  }
}

TEST_F(MiravokFprnTest, InvalidDateTimeWithoutConnectionFailsOnTheConnection) {
  PutDateTime(u"31022026120000");
  EXPECT_EQ(Code(), 502);
  EXPECT_EQ(Message(), "[Set date/time failed] " + kNotInit + " ");
}

TEST_F(MiravokFprnTest, InvalidDateTimeWithPrinterConnectedFailsToEncode) {
  TFakeDevice& d = Connect();
  for (const char16_t* text : {u"31022026120000", u"0812202624531200", u"08x22026225312"}) {
    PutDateTime(text);
    EXPECT_EQ(Code(), 201);
    EXPECT_EQ(Message(),
              "[Set date/time failed] Failed encode string \"" + BstrToAnsi(BStr(text).Get()) + "\" to date/time ");
  }
  EXPECT_TRUE(d.Calls.empty());
}

TEST_F(MiravokFprnTest, DateTimeAsStringWithoutConnectionIsEmpty) {
  BStr v;
  ASSERT_EQ(FObj->get_FPDateTimeAsString(v.Out()), S_OK);
  EXPECT_EQ(v.View(), u"");
  EXPECT_EQ(Code(), 502);
  EXPECT_EQ(Message(), "[Get FP date and time failed] " + kNotInit + " ");
}

TEST_F(MiravokFprnTest, DateTimeAsStringReadsAndSetsThePrinterClock) {
  TFakeDevice& d = Connect();
  d.Push(TFakeDevice::Answer("08-12-26 22:53:12"));
  BStr v;
  ASSERT_EQ(FObj->get_FPDateTimeAsString(v.Out()), S_OK);
  EXPECT_EQ(v.View(), u"08122026225312");

  d.Push(TFakeDevice::Answer(""));
  PutDateTime(u"0102202709050759");  // characters after the 14th are ignored
  EXPECT_EQ(Code(), 0);
  ASSERT_EQ(d.Calls.size(), 2u);
  EXPECT_EQ(TBaseDevice::BufferToText(d.Calls[1].Data), "01-02-27 09:05");
}

TEST_F(MiravokFprnTest, ObjectSafetyAnswersSuccessAndChangesNothing) {
  ComPtr<IObjectSafety> safety = FObj.As<IObjectSafety>();
  ASSERT_TRUE(safety);
  DWORD supported = 0x55, enabled = 0xAA;
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IMiravokFprn::Iid, &supported, &enabled), S_OK);
  EXPECT_EQ(supported, 0x55u);
  EXPECT_EQ(enabled, 0xAAu);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IMiravokFprn::Iid, 3, 3), S_OK);
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
  // At most 15 significant digits: binary noise does not reach the log.
  EXPECT_EQ(FloatToStr(4.35 * 3), "13.05");
  EXPECT_EQ(FloatToStr(1234.5678901234567), "1234.56789012346");
}

}  // namespace
}  // namespace fp::test
