// The reader's connection to the printer, its service operations and the writing of the
// report file.
#include "program/receipts/uECRFileReader.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "program/receipts/uECRFileReaderTags.h"
#include "platform/FileOps.h"
#include "platform/SysErrorText.h"

namespace fp {

using namespace uECRFileReader;

namespace {

// Receipt words of the library in Bulgarian; the first language of the interface.
constexpr int32_t kLocaleBulgarian = 0;
constexpr int32_t kLanguage = 1;

// The first log line of a connection: by searching for the serial number, or on the port.
std::string TryingText(const char* who, bool search, const std::string& deviceSerialNo, uint8_t port) {
  if (search)
    return who + std::string("Trying to initialize ECR by searching for device nom: ") + deviceSerialNo +
           " on all com ports.";
  return who + std::string("Trying to initialize ECR on COM") + Number(port);
}

}  // namespace

void TECRFileReader::InitConnection(bool search, const std::string& deviceSerialNo) {
  if (search)
    CheckRes(FFprn.InitEx(FBaudRate, kLocaleBulgarian, kLanguage, "", deviceSerialNo));
  else
    CheckRes(FFprn.Init(FComPort, FBaudRate, kLocaleBulgarian, kLanguage, ""));
  FModel = FFprn.GetPrinterModel();
  FSerialNo = FFprn.GetSerialNumber();
  CheckErrorCode();
}

std::string TECRFileReader::InitCompleteText() const {
  return "Init complete. Connected on COM" + Number(FComPort) + ". ECR model: " + FModel +
         ", ECR serial nom: " + FSerialNo + ", ECR fiscal number: " + FFiscalNo +
         ", ECR last doc.num: " + Number(FLastDocNo) + ", ECR next inv.num: " + Number(FNextInvoiceNo) +
         ", ECR line length: " + Number(FLineLength);
}

// An older printer may not know the currency mode; that never fails the connection.
void TECRFileReader::ReadCurrencyMode() {
  FCurrencyMode = -1;
  std::string failure;
  try {
    int32_t mode = FCurrencyMode;
    if (FFprn.GetCurrencyMode(mode) == 0) {
      FCurrencyMode = mode;
      Log("Device currency mode: " + Number(mode));
      return;
    }
    failure = FFprn.LastErrorMessage();
  } catch (const std::exception& e) {
    failure = e.what();
  }
  FCurrencyMode = -1;
  Log("Failed to get FU currency mode: " + failure + " . Old device may be. ");
}

bool TECRFileReader::Initialize(bool search, const std::string& deviceSerialNo) {
  try {
    Log(TryingText("NormalInit: ", search, deviceSerialNo, FComPort));
    InitConnection(search, deviceSerialNo);
    if (search && FSerialNo != deviceSerialNo)
      Log("NormalInit: Device SNo: " + deviceSerialNo + " not found. Connecting to first available device.");
    FFiscalNo = FFprn.GetFiscalNumber();
    CheckErrorCode();
    FLastDocNo = FFprn.GetLastDocNumber();
    CheckErrorCode();
    int64_t next = 0;
    FNextInvoiceNo = TryStrToInt64(FFprn.GetNextInvoiceNumber(), next) ? next : 0;
    CheckErrorCode();
    FLineLength = FFprn.LineLength();
    CheckErrorCode();
    std::string status;
    CheckRes(FFprn.GetHardwareStatus(status));
    if (!status.empty()) Fail(status);
    FComPort = static_cast<uint8_t>(FFprn.ComPort());
    FLastError.clear();
    ClearCommands();
    Log("NormalInit: " + InitCompleteText());
    Log(Tag::Initialize + FFprn.GetDriverVersion());
  } catch (const std::exception& e) {
    LogError(std::string(Tag::Initialize) + e.what());
    return false;
  }
  ReadCurrencyMode();
  return true;
}

bool TECRFileReader::FastInit(bool search, const std::string& deviceSerialNo) {
  QElapsedTimer timer;
  timer.start();
  try {
    Log(TryingText("FastInit: ", search, deviceSerialNo, FComPort));
    InitConnection(search, deviceSerialNo);
    FComPort = static_cast<uint8_t>(FFprn.ComPort());
    FFiscalNo = FFprn.GetFiscalNumber();
    CheckErrorCode();
    FLastError.clear();
    ClearCommands();
    FLineLength = FFprn.LineLength();
    CheckErrorCode();
    Log("FastInit: " + InitCompleteText());
  } catch (const std::exception& e) {
    LogError(std::string(Tag::FastInit) + e.what());
    return false;
  }
  ReadCurrencyMode();
  Log(std::string(Tag::FastInit) + "Durration: " + Number(timer.elapsed()));
  return true;
}

template <class F>
bool TECRFileReader::RunService(const char* tag, F&& body) {
  try {
    body();
    return true;
  } catch (const std::exception& e) {
    LogError(tag + std::string(e.what()));
    return false;
  }
}

bool TECRFileReader::EmptyBON() {
  return RunService("EmptyBON: ", [&] {
    const std::string dashes(FLineLength > 0 ? static_cast<size_t>(FLineLength) : 0, '-');
    OpenComentReceipt();
    CheckRes(FFprn.AddLine(dashes, "", 0));
    CheckRes(FFprn.AddLine("MIRAVOK FPR FILE DRIVER", "DBWIDTH", 0));
    const std::string version = uConst::ToCp1251(FFileVersion ? FFileVersion() : QString());
    if (!version.empty()) CheckRes(FFprn.AddLine("App ver: " + version, "", 0));
    const std::string driver = FFprn.GetDriverVersion();
    CheckErrorCode();
    if (!driver.empty()) CheckRes(FFprn.AddLine("AX: " + driver, "", 0));
    CheckRes(FFprn.AddLine("Com: " + Number(FComPort), "", 0));
    CheckRes(FFprn.AddLine(dashes, "", 0));
    CloseReciept();
  });
}

bool TECRFileReader::CopyBON() {
  return RunService("[CopyBON]", [&] { CheckRes(FFprn.CopyLastBon()); });
}

bool TECRFileReader::RunFMDateReport(bool detailed, DATE startDate, DATE endDate) {
  return RunService("[RunFMDateReport]",
                    [&] { CheckRes(FFprn.RunFMDateReport(startDate, endDate, detailed ? 1 : 0)); });
}

bool TECRFileReader::SumInOrOut(double amount) {
  return RunService("[SumInOrOut]", [&] { CheckRes(FFprn.InOutMoney(amount, 1)); });
}

bool TECRFileReader::PrintBlockReport(int32_t firstBlock, int32_t lastBlock, bool detailed) {
  return RunService("[PrintBlockReport]",
                    [&] { CheckRes(FFprn.RunFMBlockReport(firstBlock, lastBlock, detailed ? 1 : 0)); });
}

bool TECRFileReader::PrintDepartmentReport(int32_t reset) {
  return RunService("[PrintDepartmentReport]", [&] { CheckRes(FFprn.ReportByDepartments(reset)); });
}

bool TECRFileReader::PrintReport(uint8_t reset) {
  return RunService("[PrintReport]", [&] { CheckRes(reset == 1 ? FFprn.RunZReport() : FFprn.RunXReport()); });
}

bool TECRFileReader::PrintTest() {
  return RunService("[PrintTest]", [&] { CheckRes(FFprn.RunPrinterTest()); });
}

bool TECRFileReader::ReadDepartmentSums(int32_t depNo, ComPtr<IDepartTotals>& totals) {
  return RunService("[ReadDepartmentSums]", [&] {
    totals = FFprn.GetDepartmentName(depNo);
    CheckErrorCode();
  });
}

bool TECRFileReader::SetDepartment(int32_t nom, int32_t vatGroup, const std::string& description1,
                                   const std::string& description2) {
  return RunService("[SetDepartment]",
                    [&] { CheckRes(FFprn.SetDeparment(nom, vatGroup, description1, description2)); });
}

int32_t TECRFileReader::GetLastErrorCode() { return FFprn.LastErrorCode(); }

std::string TECRFileReader::GetLastErrorMessage() { return FFprn.LastErrorMessage(); }

std::string TECRFileReader::RepFileText() const {
  std::string data;
  for (const std::string& line : FRepLines) data += line + "\r\n";
  return data;
}

void TECRFileReader::SaveRepFile() {
  if (FRepFileName.isEmpty() || !(FRepFilePrint || FIsStatusFile)) return;
  IFileOps& ops = FileOps();
  const QByteArray name = QFile::encodeName(FRepFileName);
  // The receipt folder is shared with the point-of-sale program: whatever stands under the
  // report's name (a file, or a link to a file anywhere) is removed, not written through,
  // and the report is a new file that no link can redirect.
  struct stat st {};
  if (ops.Lstat(name.constData(), &st) == 0 && ops.Unlink(name.constData()) != 0)
    throw EAbort("Can't delete file. Check permisions: " + uConst::ToCp1251(FRepFileName));
  const std::string data = RepFileText();
  const int fd = ops.Open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) Fail(fp::SysErrorText(errno));
  // A report that could not be written whole (a full disk) is removed: the point-of-sale
  // program must never read a torn one.
  if (!WriteAll(ops, fd, data)) {
    const int err = errno;
    ops.Close(fd);
    ops.Unlink(name.constData());
    Fail(fp::SysErrorText(err));
  }
  if (ops.Close(fd) != 0) {
    const int err = errno;
    ops.Unlink(name.constData());
    Fail(fp::SysErrorText(err));
  }
}

}  // namespace fp
