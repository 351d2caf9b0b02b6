// The reader's connection, service operations and report file.
#include "tests/support/uECRFileReaderTestSupport.h"

#include <functional>

#include "platform/FileOps.h"
#include "platform/com/ComRuntime.h"

namespace fp::test {
namespace {

using Lines = std::vector<std::string>;

class Service : public ReaderFixture {
 protected:
  Service() { FReader.SetLogDir(FDir.path() + "/Log/"); }
  std::string Log(const char* name = "DriverFiscalPrinterX4_Log.txt") const {
    QFile f(FDir.path() + "/Log/" + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
  }
  bool Logged(const std::string& text) const { return Log().find(text) != std::string::npos; }
};

TEST_F(Service, InitializeByPort) {
  FReader.SetComPort(4);
  FReader.SetBaudRate(9600);
  FFake->Currency = 1;
  ASSERT_TRUE(FReader.Initialize(false, "")) << FReader.LastError();
  EXPECT_EQ(FFake->Calls, (Lines{"Init(4, 9600, 0, 1, )", "GetPrinterModel()", "GetSerialNumber()", "GetFiscalNumber()",
                                 "GetLastDocNumber()", "GetNextInvoiceNumber()", "LineLength()", "GetHardwareStatus()",
                                 "ComPort()", "GetDriverVersion()", "GetCurrencyMode()"}));
  EXPECT_EQ(FReader.Model(), "FP-X4 [ZK000001 1.00]");
  EXPECT_EQ(FReader.SerialNo(), "ZK000001");
  EXPECT_EQ(FReader.FiscalNo(), "02000001");
  EXPECT_EQ(FReader.LastDocNo(), 41);
  EXPECT_EQ(FReader.NextInvoiceNo(), 101);
  EXPECT_EQ(FReader.LineLength(), 32);
  EXPECT_EQ(FReader.ComPort(), 4);
  EXPECT_EQ(FReader.CurrencyMode(), 1);
  EXPECT_TRUE(FReader.LastError().empty());
  EXPECT_TRUE(Logged("NormalInit: Trying to initialize ECR on COM4\r\n"));
  EXPECT_TRUE(
      Logged("NormalInit: Init complete. Connected on COM4. ECR model: FP-X4 [ZK000001 1.00], ECR serial "
             "nom: ZK000001, ECR fiscal number: 02000001, ECR last doc.num: 41, ECR next inv.num: 101, ECR "
             "line length: 32\r\n"));
  EXPECT_TRUE(Logged("[Initialize]Fiscal Printer X4 vers: 1.18; \r\n"));
  EXPECT_TRUE(Logged("Device currency mode: 1\r\n"));
}

TEST_F(Service, InitializeBySearchGoesOnWithAnotherPrinter) {
  FFake->NextInvoice = "not a number";
  ASSERT_TRUE(FReader.Initialize(true, "ZK000002")) << FReader.LastError();
  EXPECT_EQ(FFake->Calls[0], "InitEx(115200, 0, 1, , ZK000002)");
  EXPECT_EQ(FReader.ComPort(), 3);  // the port the search found
  EXPECT_EQ(FReader.NextInvoiceNo(), 0);
  EXPECT_TRUE(Logged("NormalInit: Trying to initialize ECR by searching for device nom: ZK000002 on all com ports."));
  EXPECT_TRUE(Logged("NormalInit: Device SNo: ZK000002 not found. Connecting to first available device."));
}

TEST_F(Service, HardwareStatusFailsOnlyTheFullConnection) {
  FFake->HardwareStatus = "Paper out";
  EXPECT_FALSE(FReader.Initialize(false, ""));
  EXPECT_EQ(FReader.LastError(), "[Initialize]Paper out");
  EXPECT_NE(Log("DriverFiscalPrinterX4_Exception.txt").find("[Initialize]Paper out"), std::string::npos);
  FFake->Calls.clear();
  EXPECT_TRUE(FReader.FastInit(false, "")) << FReader.LastError();
  EXPECT_EQ(FFake->Calls, (Lines{"Init(1, 115200, 0, 1, )", "GetPrinterModel()", "GetSerialNumber()", "ComPort()",
                                 "GetFiscalNumber()", "LineLength()", "GetCurrencyMode()"}));
  EXPECT_TRUE(FReader.LastError().empty());
  // The last document and the next invoice keep what the failed full connection read.
  EXPECT_TRUE(
      Logged("FastInit: Init complete. Connected on COM1. ECR model: FP-X4 [ZK000001 1.00], ECR serial "
             "nom: ZK000001, ECR fiscal number: 02000001, ECR last doc.num: 41, ECR next inv.num: 101, ECR "
             "line length: 32"));
  EXPECT_TRUE(Logged("[FastInit]Durration: "));
}

TEST_F(Service, CurrencyModeFailureKeepsTheConnection) {
  FFake->Currency = 2;
  FFake->CurrencyFails = true;
  ASSERT_TRUE(FReader.FastInit(true, "ZK000001"));
  EXPECT_EQ(FReader.CurrencyMode(), -1);
  EXPECT_TRUE(
      Logged("Failed to get FU currency mode: [Get currency mode failed] Invalid command  . Old device may be. "));
  FFake->CurrencyFails = false;
  FFake->FailCom("GetCurrencyMode", E_NOTIMPL, u"");
  ASSERT_TRUE(FReader.Initialize(false, ""));
  EXPECT_EQ(FReader.CurrencyMode(), -1);
  EXPECT_TRUE(Logged("Failed to get FU currency mode: Not implemented . Old device may be. "));
}

TEST_F(Service, ConnectionFailures) {
  struct {
    std::string method;
    bool search;
  } cases[] = {{"Init", false},
               {"InitEx", true},
               {"GetSerialNumber", false},
               {"GetFiscalNumber", false},
               {"GetLastDocNumber", false},
               {"GetNextInvoiceNumber", false},
               {"GetHardwareStatus", false}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.method);
    FFake->Fail(c.method, 102, "[" + c.method + " failed] No answer ");
    EXPECT_FALSE(FReader.Initialize(c.search, ""));
    EXPECT_EQ(FReader.LastError(), "[Initialize][" + c.method + " failed] No answer ");
    EXPECT_EQ(FReader.GetLastErrorCode(), 102);
    EXPECT_EQ(FFake->Names().back(), c.method);
  }
  FFake->Fail("GetFiscalNumber", 107, "[GetFiscalNumber failed] Checksum ");
  EXPECT_FALSE(FReader.FastInit(false, ""));
  EXPECT_EQ(FReader.LastError(), "[FastInit][GetFiscalNumber failed] Checksum ");
  EXPECT_EQ(FReader.SerialNo(), "ZK000001");  // what was read before the failure stays
}

TEST_F(Service, ObjectThatCannotBeMade) {
  // The program's own factory, in a thread that has not initialised the runtime.
  TECRFileReader r;
  r.SetLogDir(FDir.path() + "/Log/");
  EXPECT_FALSE(r.FastInit(false, ""));
  EXPECT_EQ(r.LastError(), "[FastInit]CoInitialize has not been called");
  EXPECT_THROW(r.GetLastErrorCode(), EOleSysError);
}

TEST_F(Service, EmptyReceipt) {
  ASSERT_TRUE(FReader.FastInit(false, ""));
  FFake->Calls.clear();
  ASSERT_TRUE(FReader.EmptyBON()) << FReader.LastError();
  const std::string dashes(32, '-');
  EXPECT_EQ(FFake->Calls,
            (Lines{"StartBon(1, 1, 1, , , 1, , , , , , , , )", "AddLine(" + dashes + ", , 0)",
                   "AddLine(MIRAVOK FPR FILE DRIVER, DBWIDTH, 0)", "AddLine(App ver: 1.0.0.7, , 0)",
                   "GetDriverVersion()", "AddLine(AX: Fiscal Printer X4 vers: 1.18; , , 0)", "AddLine(Com: 1, , 0)",
                   "AddLine(" + dashes + ", , 0)", "EndBon()", "LastUniqueSellNo()"}));

  FReader.SetFileVersion([] { return QString(); });
  FFake->Line = 0;
  ASSERT_TRUE(FReader.FastInit(false, ""));
  FFake->DriverVersion.clear();
  FFake->Calls.clear();
  ASSERT_TRUE(FReader.EmptyBON());
  EXPECT_EQ(FFake->Names(), (Lines{"StartBon", "AddLine", "AddLine", "GetDriverVersion", "AddLine", "AddLine", "EndBon",
                                   "LastUniqueSellNo"}));
  EXPECT_EQ(FFake->Calls[1], "AddLine(, , 0)");

  FFake->Fail("AddLine", 206, "[AddLine failed] Paper out ", 2);
  EXPECT_FALSE(FReader.EmptyBON());
  EXPECT_EQ(FReader.LastError(), "EmptyBON: [AddLine failed] Paper out ");
  FFake->Fail("StartBon", 206, "[StartBon failed] Paper out ");
  EXPECT_FALSE(FReader.EmptyBON());
  EXPECT_EQ(FReader.LastError(), "EmptyBON: [OpenComentReceipt][StartBon failed] Paper out ");
}

TEST_F(Service, ServiceOperations) {
  struct {
    std::function<bool(TECRFileReader&)> run;
    std::string call, tag;
  } cases[] = {
      {[](TECRFileReader& r) { return r.CopyBON(); }, "CopyLastBon()", "[CopyBON]"},
      {[](TECRFileReader& r) { return r.RunFMDateReport(true, 45658, 45688.75); },
       "RunFMDateReport(45658, 45688.75, 1)", "[RunFMDateReport]"},
      {[](TECRFileReader& r) { return r.RunFMDateReport(false, 1, 2); }, "RunFMDateReport(1, 2, 0)",
       "[RunFMDateReport]"},
      {[](TECRFileReader& r) { return r.SumInOrOut(-12.5); }, "InOutMoney(-12.5, 1)", "[SumInOrOut]"},
      {[](TECRFileReader& r) { return r.SumInOrOut(100); }, "InOutMoney(100, 1)", "[SumInOrOut]"},
      {[](TECRFileReader& r) { return r.PrintBlockReport(3, 7, false); }, "RunFMBlockReport(3, 7, 0)",
       "[PrintBlockReport]"},
      {[](TECRFileReader& r) { return r.PrintBlockReport(1, 2, true); }, "RunFMBlockReport(1, 2, 1)",
       "[PrintBlockReport]"},
      {[](TECRFileReader& r) { return r.PrintDepartmentReport(1); }, "ReportByDepartments(1)",
       "[PrintDepartmentReport]"},
      {[](TECRFileReader& r) { return r.PrintReport(1); }, "RunZReport()", "[PrintReport]"},
      {[](TECRFileReader& r) { return r.PrintReport(2); }, "RunXReport()", "[PrintReport]"},
      {[](TECRFileReader& r) { return r.PrintReport(0); }, "RunXReport()", "[PrintReport]"},
      {[](TECRFileReader& r) { return r.PrintTest(); }, "RunPrinterTest()", "[PrintTest]"},
      {[](TECRFileReader& r) { return r.SetDepartment(5, 2, "Bread", "Fresh"); }, "SetDeparment(5, 2, Bread, Fresh)",
       "[SetDepartment]"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.call);
    FFake->Calls.clear();
    EXPECT_TRUE(c.run(FReader));
    EXPECT_EQ(FFake->Calls, Lines{c.call});
    const std::string method = c.call.substr(0, c.call.find('('));
    FFake->Fail(method, 210, "[" + method + "] Cover open ");
    EXPECT_FALSE(c.run(FReader));
    EXPECT_EQ(FReader.LastError(), c.tag + "[" + method + "] Cover open ");
    EXPECT_EQ(FReader.GetLastErrorCode(), 210);
  }
  EXPECT_NE(Log("DriverFiscalPrinterX4_Exception.txt").find("[PrintTest][RunPrinterTest] Cover open "),
            std::string::npos);
}

TEST_F(Service, DepartmentData) {
  FFake->Departments[3] = {"Bread", "Fresh", "P", 2};
  ComPtr<IDepartTotals> totals;
  ASSERT_TRUE(FReader.ReadDepartmentSums(3, totals));
  ASSERT_TRUE(totals);
  BStr name;
  ASSERT_EQ(totals->get_Description(name.Out()), S_OK);
  EXPECT_EQ(name.Str(), u"Bread");
  FFake->Fail("GetDepartmentName", 201, "[GetDepartmentName failed] Invalid value ");
  EXPECT_FALSE(FReader.ReadDepartmentSums(4, totals));
  EXPECT_FALSE(totals);
  EXPECT_EQ(FReader.LastError(), "[ReadDepartmentSums][GetDepartmentName failed] Invalid value ");
}

TEST_F(Service, SaveRepFile) {
  const QString rep = PathOf("0001.rep");
  FReader.SaveRepFile();  // no report file name yet
  EXPECT_FALSE(QFile::exists(rep));
  ASSERT_TRUE(Read({":Hello"}));
  ASSERT_EQ(FReader.RepFileName(), rep);
  FReader.SaveRepFile();  // report files off, not a status query
  EXPECT_FALSE(QFile::exists(rep));
  // A status query is answered with report files off; its lines are written as they are
  // (code page 1251), over whatever stood under the name.
  FFake->Fiscal = "\xCA\xEE\xED\xE5\xF6";
  ASSERT_TRUE(Read({"&S"}));
  ASSERT_TRUE(FReader.PrintPluList()) << FReader.LastError();
  WriteBytes("0001.rep", std::string(100, 'x'));
  FReader.SaveRepFile();
  EXPECT_EQ(FileBytes("0001.rep"),
            "Printer serial: ZK000001\r\nPrinter fiscal nom: \xCA\xEE\xED\xE5\xF6\r\nPrinter date: 09122025120000\r\n");

  TFaultyFileOps faulty;
  TScopedFileOps scoped(&faulty);
  faulty.FailAt(TFileOp::Unlink, 1, EPERM, "0001.rep");
  try {
    FReader.SaveRepFile();
    ADD_FAILURE() << "no error";
  } catch (const EAbort& e) {
    EXPECT_EQ(std::string(e.what()), "Can't delete file. Check permisions: " + uConst::ToCp1251(rep));
  }
  faulty.FailAt(TFileOp::Open, 1, EACCES, "0001.rep");
  EXPECT_THROW(FReader.SaveRepFile(), std::runtime_error);
  faulty.FailAt(TFileOp::Write, 1, ENOSPC, "0001.rep");
  EXPECT_THROW(FReader.SaveRepFile(), std::runtime_error);
}

TEST_F(Service, DestructionClosesTheObjectItMade) {
  { TECRFileReader unused(FFake->Factory()); }
  EXPECT_TRUE(FFake->Calls.empty());
  {
    TECRFileReader used(FFake->Factory());
    ASSERT_TRUE(used.FastInit(false, ""));
    FFake->FailCom("Close", E_FAIL, u"gone");
  }
  EXPECT_EQ(FFake->Names().back(), "Close");
}

}  // namespace
}  // namespace fp::test
