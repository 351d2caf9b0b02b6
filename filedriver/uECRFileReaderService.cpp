// The reader's connection to the printer, its service operations and the writing of the
// report file.
#include "filedriver/uECRFileReader.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "filedriver/uECRFileReaderTags.h"
#include "platform/FileOps.h"

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
    CheckRes(Fprn.InitEx(BaudRate, kLocaleBulgarian, kLanguage, "", deviceSerialNo));
  else
    CheckRes(Fprn.Init(ComPort, BaudRate, kLocaleBulgarian, kLanguage, ""));
  Model = Fprn.GetPrinterModel();
  SerialNo = Fprn.GetSerialNumber();
  CheckErrorCode();
}

std::string TECRFileReader::InitCompleteText() const {
  return "Init complete. Connected on COM" + Number(ComPort) + ". ECR model: " + Model + ", ECR serial nom: " +
         SerialNo + ", ECR fiscal number: " + FiscalNo + ", ECR last doc.num: " + Number(LastDocNo) +
         ", ECR next inv.num: " + Number(NextInvoiceNo) + ", ECR line length: " + Number(LineLength);
}

// An older printer may not know the currency mode; that never fails the connection.
void TECRFileReader::ReadCurrencyMode() {
  CurrencyMode = -1;
  std::string failure;
  try {
    int32_t mode = CurrencyMode;
    if (Fprn.GetCurrencyMode(mode) == 0) {
      CurrencyMode = mode;
      Log("Device currency mode: " + Number(mode));
      return;
    }
    failure = Fprn.LastErrorMessage();
  } catch (const std::exception& e) {
    failure = e.what();
  }
  CurrencyMode = -1;
  Log("Failed to get FU currency mode: " + failure + " . Old device may be. ");
}

bool TECRFileReader::Initialize(bool search, const std::string& deviceSerialNo) {
  try {
    Log(TryingText("NormalInit: ", search, deviceSerialNo, ComPort));
    InitConnection(search, deviceSerialNo);
    if (search && SerialNo != deviceSerialNo)
      Log("NormalInit: Device SNo: " + deviceSerialNo + " not found. Connecting to first available device.");
    FiscalNo = Fprn.GetFiscalNumber();
    CheckErrorCode();
    LastDocNo = Fprn.GetLastDocNumber();
    CheckErrorCode();
    int64_t next = 0;
    NextInvoiceNo = TryStrToInt64(Fprn.GetNextInvoiceNumber(), next) ? next : 0;
    CheckErrorCode();
    LineLength = Fprn.LineLength();
    CheckErrorCode();
    std::string status;
    CheckRes(Fprn.GetHardwareStatus(status));
    if (!status.empty()) Fail(status);
    ComPort = static_cast<uint8_t>(Fprn.ComPort());
    LastError.clear();
    ClearCommands();
    Log("NormalInit: " + InitCompleteText());
    Log("[Initialize]" + Fprn.GetDriverVersion());
  } catch (const std::exception& e) {
    LogError(std::string("[Initialize]") + e.what());
    return false;
  }
  ReadCurrencyMode();
  return true;
}

bool TECRFileReader::FastInit(bool search, const std::string& deviceSerialNo) {
  QElapsedTimer timer;
  timer.start();
  try {
    Log(TryingText("FastInit: ", search, deviceSerialNo, ComPort));
    InitConnection(search, deviceSerialNo);
    ComPort = static_cast<uint8_t>(Fprn.ComPort());
    FiscalNo = Fprn.GetFiscalNumber();
    CheckErrorCode();
    LastError.clear();
    ClearCommands();
    LineLength = Fprn.LineLength();
    CheckErrorCode();
    Log("FastInit: " + InitCompleteText());
  } catch (const std::exception& e) {
    LogError(std::string("[FastInit]") + e.what());
    return false;
  }
  ReadCurrencyMode();
  Log("[FastInit]Durration: " + Number(timer.elapsed()));
  return true;
}

namespace {

// Runs one service operation: false after logging tag + the failure text.
template <class F>
bool Service(TECRFileReader& reader, const char* tag, F&& body) {
  try {
    body();
    return true;
  } catch (const std::exception& e) {
    reader.LogError(tag + std::string(e.what()));
    return false;
  }
}

}  // namespace

bool TECRFileReader::EmptyBON() {
  return Service(*this, "EmptyBON: ", [&] {
    const std::string dashes(LineLength > 0 ? static_cast<size_t>(LineLength) : 0, '-');
    OpenComentReceipt();
    CheckRes(Fprn.AddLine(dashes, "", 0));
    CheckRes(Fprn.AddLine("MIRAVOK FPR FILE DRIVER", "DBWIDTH", 0));
    const std::string version = uConst::ToCp1251(FileVersion ? FileVersion() : QString());
    if (!version.empty()) CheckRes(Fprn.AddLine("App ver: " + version, "", 0));
    const std::string driver = Fprn.GetDriverVersion();
    CheckErrorCode();
    if (!driver.empty()) CheckRes(Fprn.AddLine("AX: " + driver, "", 0));
    CheckRes(Fprn.AddLine("Com: " + Number(ComPort), "", 0));
    CheckRes(Fprn.AddLine(dashes, "", 0));
    CloseReciept();
  });
}

bool TECRFileReader::CopyBON() {
  return Service(*this, "[CopyBON]", [&] { CheckRes(Fprn.CopyLastBon()); });
}

bool TECRFileReader::RunFMDateReport(bool detailed, DATE startDate, DATE endDate) {
  return Service(*this, "[RunFMDateReport]",
                 [&] { CheckRes(Fprn.RunFMDateReport(startDate, endDate, detailed ? 1 : 0)); });
}

bool TECRFileReader::SumInOrOut(double amount) {
  return Service(*this, "[SumInOrOut]", [&] { CheckRes(Fprn.InOutMoney(amount, 1)); });
}

bool TECRFileReader::PrintBlockReport(int32_t firstBlock, int32_t lastBlock, bool detailed) {
  return Service(*this, "[PrintBlockReport]",
                 [&] { CheckRes(Fprn.RunFMBlockReport(firstBlock, lastBlock, detailed ? 1 : 0)); });
}

bool TECRFileReader::PrintDepartmentReport(int32_t reset) {
  return Service(*this, "[PrintDepartmentReport]", [&] { CheckRes(Fprn.ReportByDepartments(reset)); });
}

bool TECRFileReader::PrintReport(uint8_t reset) {
  return Service(*this, "[PrintReport]", [&] { CheckRes(reset == 1 ? Fprn.RunZReport() : Fprn.RunXReport()); });
}

bool TECRFileReader::PrintTest() {
  return Service(*this, "[PrintTest]", [&] { CheckRes(Fprn.RunPrinterTest()); });
}

bool TECRFileReader::ReadDepartmentSums(int32_t depNo, ComPtr<IDepartTotals>& totals) {
  return Service(*this, "[ReadDepartmentSums]", [&] {
    totals = Fprn.GetDepartmentName(depNo);
    CheckErrorCode();
  });
}

bool TECRFileReader::SetDepartment(int32_t nom, int32_t vatGroup, const std::string& description1,
                                   const std::string& description2) {
  return Service(*this, "[SetDepartment]",
                 [&] { CheckRes(Fprn.SetDeparment(nom, vatGroup, description1, description2)); });
}

int32_t TECRFileReader::GetLastErrorCode() { return Fprn.LastErrorCode(); }

void TECRFileReader::SaveRepFile() {
  if (RepFileName.isEmpty() || !(RepFilePrint || IsStatusFile)) return;
  IFileOps& ops = FileOps();
  const QByteArray name = QFile::encodeName(RepFileName);
  // The receipt folder is shared with the point-of-sale program: whatever stands under the
  // report's name (a file, or a link to a file anywhere) is removed, not written through,
  // and the report is a new file that no link can redirect.
  struct stat st {};
  if (ops.Lstat(name.constData(), &st) == 0 && ops.Unlink(name.constData()) != 0)
    throw EAbort("Can't delete file. Check permisions: " + uConst::ToCp1251(RepFileName));
  std::string data;
  for (const std::string& line : RepLines) data += line + "\r\n";
  const int fd = ops.Open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) Fail(std::strerror(errno));
  // A report that could not be written whole (a full disk) is removed: the point-of-sale
  // program must never read a torn one.
  if (!WriteAll(ops, fd, data)) {
    const int err = errno;
    ops.Close(fd);
    ops.Unlink(name.constData());
    Fail(std::strerror(err));
  }
  if (ops.Close(fd) != 0) {
    const int err = errno;
    ops.Unlink(name.constData());
    Fail(std::strerror(err));
  }
}

}  // namespace fp
