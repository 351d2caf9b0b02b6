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
  struct {
    int32_t DeviceCode;
    const char* Text;
    LONG Code;
  } Cases[] = {
      {103, "Time out", 103},
      // A device operation that answers false but leaves its code at 0 must not read as
      // success to a client that looks at LastErrorCode; nor, once the command went to the
      // link, as a refusal before sending (502): it is 200.
      {0, "Socket closed", 200},
  };
  TFakeDevice& D = Connect();
  for (const auto& C : Cases) {
    D.Push(TFakeDevice::Failure(C.DeviceCode, C.Text));
    EXPECT_EQ(SetOperator(1, u"Ivan", u"0000"), -1);
    EXPECT_EQ(Code(), C.Code);
    EXPECT_EQ(Message(), std::string("[Set operator failed] ") + C.Text + " ");
  }
  // A call that only reads reports the same failure as 502: nothing of it changed the
  // printer. The count of a changing call before it does not carry over.
  D.Push(TFakeDevice::Failure(0, "Socket closed"));
  LONG Number = -1;
  EXPECT_EQ(Obj->GetLastDocNumber(&Number), S_OK);
  EXPECT_EQ(Code(), 502);
  EXPECT_EQ(Message(), "[GetLastBonNumber failed] Socket closed ");
}

TEST_F(MiravokFprnTest, OperatorNameOfBlanksFailsWithTheCommandsCode) {
  TFakeDevice& D = Connect();
  EXPECT_EQ(SetOperator(1, u"   ", u"0000"), -1);
  EXPECT_EQ(Code(), 201);
  EXPECT_THAT(Message(), ::testing::StartsWith("[Set operator failed] "));
  EXPECT_TRUE(D.Calls.empty());
}

// An operator number that does not fit the printer's 16 bits, and a password with the comma
// that ends it ("12,34" would be stored as "12"), are refused before anything is sent.
TEST_F(MiravokFprnTest, OperatorArgumentsThatWouldGoOutWronglyAreRefused) {
  TFakeDevice& D = Connect();
  const struct {
    LONG No;
    const char16_t* Pass;
    const char* Argument;
  } Cases[] = {{-1, u"0000", "OperNom"}, {65536, u"0000", "OperNom"}, {1, u"12,34", "OperPass"}};
  for (const auto& C : Cases) {
    EXPECT_EQ(SetOperator(C.No, u"Ivan", C.Pass), -1);
    EXPECT_EQ(Code(), 201);
    EXPECT_EQ(Message(), std::string("[Set operator failed] Invalid input data. [") + C.Argument + "] ");
  }
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

// The lines of the log without their time stamps ("DD.MM.YY HH:NN:SS.zzz ").
std::vector<std::string> LogLines(const std::string& Text) {
  std::vector<std::string> Lines;
  for (size_t At = 0, End; At < Text.size(); At = End + 2) {
    End = Text.find("\r\n", At);
    if (End == std::string::npos) End = Text.size();
    Lines.push_back(Text.substr(At + std::min<size_t>(22, End - At), End - At - std::min<size_t>(22, End - At)));
  }
  return Lines;
}

// Without a printer, every entry writes its call line first, exactly as log readers see it
// (the log writer trims it), then its failure under its own context.
TEST_F(MiravokFprnTest, CallLinesAndFailureContexts) {
  SetLogFolder(Dir);
  const std::string LogFile = Dir + "/MiravokFPAxX4_BG_Log.txt";
  BStr Q(u"a'b"), E(u""), Eur(u" EUR"), Date(u"01/02/2024"), Clock(u"08122026225312"), Pass(u"0000");
  double Feb1 = 0, Mar5 = 0;
  ASSERT_TRUE(TryEncodeOleDateTime(2024, 2, 1, 0, 0, 0, 0, Feb1));
  ASSERT_TRUE(TryEncodeOleDateTime(2024, 3, 5, 10, 15, 0, 0, Mar5));
  LONG Res = 99, L1 = 0, L2 = 0;
  double D1 = 0, D2 = 0, D3 = 0, D4 = 0;
  std::int8_t I1 = 0;
  DATE When = 0;
  BStr T1, T2;
  ComPtr<IBonData> Bon;
  ComPtr<IXReportData> XRep;
  ComPtr<IAdvLines> Adv;
  ComPtr<IDepartTotals> Dep;
  struct TCase {
    std::vector<std::string> Info;  // the call line (none for a few entries)
    std::string Context;
    std::function<HRESULT()> Call;
  };
  const TCase Cases[] = {
      {{"StartBon. BonType=2 CashierName='a''b' CashierPass='***' CashierPOS='4' CashierNo='3' "
        "InvNumber='a''b' InvTaxNumber='' InvVATNumber='a''b' InvCompany='' InvCity='a''b' "
        "InvAddress='' InvMOL='a''b' InvReceiver=''"},
       "StartBon",
       [&] {
         return Obj->StartBon(2, 1, 3, Q.Get(), Pass.Get(), 4, Q.Get(), E.Get(), Q.Get(), E.Get(),
                              Q.Get(), E.Get(), Q.Get(), E.Get(), &Res);
       }},
      {{}, "EndBon failed", [&] { return Obj->EndBon(&Res); }},
      {{"VoidCurrentReciept.."}, "VoidCurrentReciept failed", [&] { return Obj->VoidCurrentReciept(&Res); }},
      {{"SetRefundParams. FiscalBlock: \"1234\", Reason: \"1\", \", InvDate: \"01/02/2024\", \", "
        "InvoiceNom: \"\", \", RecieptNo: \"55\"."},
       "SetRefundParams failed",
       [&] { return Obj->SetRefundParams(1234, 1, 55, Date.Get(), E.Get(), &Res); }},
      {{"Add plu. Numb='a''b' Name='' Price=2.5 Quantity=-1 VATGroup=2"}, "Add plu failed",
       [&] { return Obj->AddPLU(Q.Get(), E.Get(), 2.5, -1, 2, &Res); }},
      {{"AddDeprtPlu. Numb='a''b' Name='' Price=2.5 Quantity=2 DeprtmentNo=7. VAT no=3"}, "AddDeprtPlu failed",
       [&] { return Obj->AddDeprtPlu(Q.Get(), E.Get(), 7, 2.5, 2, 3, &Res); }},
      {{"Add prog plu. Numb=\"5\" Quantity=2\" Department No: 1\", Price=1.5\" VatGrp No: 2"},
       "Add prog Plu failed", [&] { return Obj->AddProgPlu(5, 1, 2, 1.5, 2, &Res); }},
      {{"Add Line='a''b', WordWrap=1, Command=BOLD"}, "AddLine failed",
       [&] { return Obj->AddLine(Q.Get(), BStr(u"BOLD").Get(), 1, &Res); }},
      {{"Add discount. DiscType=2 Value=-10"}, "Add discount failed.", [&] { return Obj->AddDiscount(2, -10, &Res); }},
      {{"Add payment. Pay type nom=1, Name='a''b', Ammount=20, Cource=1.95583"}, "Add payment failed",
       [&] { return Obj->AddPayment(1, Q.Get(), 20, 1.95583, &Res); }},
      {{"Add payment and currency. Pay type nom=5, PayText='a''b', PayAmount=10, Cource=1.95583, "
        "CurrAbrev= EUR"},
       "Add payment failed", [&] { return Obj->AddPaymentByCurrncy(5, Q.Get(), 10, 1.95583, Eur.Get(), &Res); }},
      {{"Add Barcode.  BData='a''b', BType=9, BHeight=250, BHri=5"}, "AddBarcode failed",
       [&] { return Obj->AddBarcode(Q.Get(), 9, 250, 5, &Res); }},
      {{"Run X report"}, "Run XReport failed", [&] { return Obj->RunXReport(&Res); }},
      {{"Run Z report"}, "Run ZReport failed", [&] { return Obj->RunZReport(&Res); }},
      {{"[RunFMBlockReport] StartBlock=1 EndBlock=9 Detailed=1"}, "RunFMBlockReport failed",
       [&] { return Obj->RunFMBlockReport(1, 9, 1, &Res); }},
      {{"[RunFMDateReport] StartDate=01.02.2024 EndDate=05.03.2024 10:15:00 Detailed=0"}, "RunFMDateReport failed",
       [&] { return Obj->RunFMDateReport(Feb1, Mar5, 0, &Res); }},
      {{"RunPLUReport.  ZeroFlag=1"}, "RunPLUReport failed", [&] { return Obj->RunPLUReport(1, 0, &Res); }},
      {{"Report by departments.  Reset = \"1\""}, "Report by departments failed",
       [&] { return Obj->ReportByDepartments(1, &Res); }},
      {{"Run FP test."}, "RunPrinterTest failed", [&] { return Obj->RunPrinterTest(&Res); }},
      {{"Copy last reciept"}, "Copy last bon failed", [&] { return Obj->CopyLastBon(&Res); }},
      {{"InOutMoney. Ammount=-12.5 PayType=0"}, "InOutMoney failed", [&] { return Obj->InOutMoney(-12.5, 0, &Res); }},
      {{"OpenCashDrawer. Pulse width: \"250\" ms."}, "OpenCashDrawer", [&] { return Obj->OpenCashDrawer(250, &Res); }},
      {{"Get FP clock"}, "Get FP date and time failed", [&] { return Obj->GetClock(&When); }},
      {{"Set FP date and time. New date=05.03.2024 10:15:00"}, "Set clock failed",
       [&] { return Obj->SetClock(Mar5, &Res); }},
      {{"Get last doc nom"}, "GetLastBonNumber failed", [&] { return Obj->GetLastDocNumber(&L1); }},
      {{"Get next invoice"}, "GetNextInvoiceNumber failed", [&] { return Obj->GetNextInvoiceNumber(T1.Out()); }},
      {{"GetNextRefundInvNumber.."}, "GetNextRefundInvNumber", [&] { return Obj->GetNextRefundInvNumber(T1.Out()); }},
      {{"Get serial nom"}, "GetSerialNumber failed", [&] { return Obj->GetSerialNumber(T1.Out()); }},
      {{"Get fiscal nom"}, "GetFiscalNumber failed", [&] { return Obj->GetFiscalNumber(T1.Out()); }},
      {{"Get hardware status"}, "GetHardwareStatus failed", [&] { return Obj->GetHardwareStatus(T1.Out(), &Res); }},
      {{}, "CheckPRNStatus failed", [&] { return Obj->CheckPRNStatus(&L1, &Res); }},
      {{"Display top text=\"a'b\""}, "Display top row failed", [&] { return Obj->DisplayTop(Q.Get(), &Res); }},
      {{"Display bottom text=\"a'b\""}, "Display  bottom failed", [&] { return Obj->DisplayBottom(Q.Get(), &Res); }},
      {{}, "Clear display failed", [&] { return Obj->DisplayClear(&Res); }},
      {{"Display date time.."}, "Display date/time failed", [&] { return Obj->DisplayDateTime(&Res); }},
      {{"Get reciept status"}, "GetRecieptStatus failed", [&] { return Obj->GetRecieptStatus(Bon.GetAddressOf()); }},
      // Its line comes only after the connection check.
      {{}, "GetXReportData failed", [&] { return Obj->GetXReportData(XRep.GetAddressOf()); }},
      {{"Get Adv Lines"}, "GetAdvLinets failed", [&] { return Obj->GetAdvLinets(Adv.GetAddressOf()); }},
      {{"Set Adv Lines. LineNo=2, LineText=\"a'b\""}, "SetAdvLine failed", [&] { return Obj->SetAdvLine(2, Q.Get(), &Res); }},
      {{"GetDeprtmentTotals for department: 7"}, "GetDeprtmentTotals for department no=\"7\" failed",
       [&] { return Obj->GetDeprtmentTotals(7, Dep.GetAddressOf()); }},
      // A printer without extended commands answers with the totals object.
      {{"GetDepartmentName for department: 7", "GetDeprtmentTotals for department: 7"},
       "GetDeprtmentTotals for department no=\"7\" failed", [&] { return Obj->GetDepartmentName(7, Dep.GetAddressOf()); }},
      {{"Set department. DeprtmentNo:7 Description1:a'b Description2: VATGrp:2)"}, "SetDeparment failed",
       [&] { return Obj->SetDeparment(7, 2, Q.Get(), E.Get(), &Res); }},
      {{"Get PLU data. PluNo = \"12\""}, "GetPLUData failed",
       [&] { return Obj->GetPLUData(12, &L1, &I1, &D1, &D2, &D3, &D4, T1.Out(), &Res); }},
      {{"Set PLU data. PluNo = \"12\"TaxGrp=\"2\", GroupNo=\"3\", UnitPrice=\"1.50\", Name=\"a'b\","},
       "Set PLU data failed", [&] { return Obj->SetPluData(12, 2, 3, 1.5, Q.Get(), &Res); }},
      {{"Get pay name. Payment nom: 3"}, "Get pay name failed", [&] { return Obj->GetPayType(3, T2.Out(), &Res); }},
      {{}, "Get currency mode failed", [&] { return Obj->GetCurrencyMode(&L2, &Res); }},
      {{"Set operator No\"3\", OperName=\"a'b\", Password=\"***\""}, "Set operator failed",
       [&] { return Obj->SetOperator(3, Q.Get(), Pass.Get(), &Res); }},
      {{"Set FP date/time from string=\"08122026225312\""}, "Set date/time failed",
       [&] { return Obj->put_FPDateTimeAsString(Clock.Get()); }},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Context);
    const size_t Before = fs::exists(LogFile) ? fs::file_size(LogFile) : 0;
    ASSERT_EQ(C.Call(), S_OK);
    EXPECT_EQ(Code(), 502);
    EXPECT_EQ(Message(), "[" + C.Context + "] " + kNotInit + " ");
    std::vector<std::string> Want;
    for (const std::string& Line : C.Info) Want.push_back("[INFO]" + Line);
    Want.push_back("[ERROR][" + C.Context + "] " + kNotInit);
    EXPECT_EQ(LogLines(ReadFile(LogFile).substr(Before)), Want);
  }
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
  // At most 15 significant digits: binary noise does not reach the log.
  EXPECT_EQ(FloatToStr(4.35 * 3), "13.05");
  EXPECT_EQ(FloatToStr(1234.5678901234567), "1234.56789012346");
}

}  // namespace
}  // namespace fp
