#pragma once
// The program's client of the automation object IMiravokFprn. The program never links
// the automation library: the object is created by its class identifier through the
// component runtime, on the first call that needs it, in the calling thread (which must
// have initialised the runtime).
//
// Texts cross this client as 8-bit code page 1251 strings; the conversion to and from the
// interface's wide strings happens here. A call whose HRESULT fails raises EOleSysError
// with the runtime's error description (or the text of the code); the outcome of a call
// that reached the object is the object's own business (Res, LastErrorCode).
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "driver/MiravokFPAxX4_BG_TLB.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComTypes.h"

namespace fp {

// A failed call at the component level.
class EOleSysError : public std::runtime_error {
 public:
  EOleSysError(const std::string& message, HRESULT code) : std::runtime_error(message), ErrorCode(code) {}
  HRESULT ErrorCode;
};

// The text of a failed HRESULT: the thread's error information when the callee left one,
// else the text of the code ("OLE error XXXXXXXX" for codes without one).
std::string OleErrorText(HRESULT hr);
// Raises EOleSysError for a failed HRESULT.
void OleCheck(HRESULT hr);

// Makes the automation object; raises EOleSysError when it cannot.
using TFprnFactory = std::function<ComPtr<IMiravokFprn>()>;
// The factory of the program: CoCreateInstance with the class identifier of MiravokFprn.
ComPtr<IMiravokFprn> CreateMiravokFprn();

class TMiravokFprnProxy {
 public:
  explicit TMiravokFprnProxy(TFprnFactory factory = CreateMiravokFprn);
  TMiravokFprnProxy(const TMiravokFprnProxy&) = delete;
  TMiravokFprnProxy& operator=(const TMiravokFprnProxy&) = delete;

  // The object was made (by an earlier call).
  bool Created() const { return static_cast<bool>(Intf_); }
  // The interface, made on the first use.
  IMiravokFprn& Intf();
  // Drops the reference to the object.
  void Release() { Intf_.Reset(); }

  int32_t Init(int32_t ComPort, int32_t PortSpeed, int32_t Locale, int32_t Language,
               const std::string& SerialKey);
  int32_t InitEx(int32_t PortSpeed, int32_t Locale, int32_t Language, const std::string& SerialKey,
                 const std::string& DeviceSerialNo);
  void Close();

  int32_t StartBon(int32_t BonType, int32_t PLUNumbering, int32_t CashierNo, const std::string& CashierName,
                   const std::string& CashierPass, int32_t CashierPOS, const std::string& InvNumber,
                   const std::string& InvTaxNumber, const std::string& InvVATNumber,
                   const std::string& InvCompany, const std::string& InvCity, const std::string& InvAddress,
                   const std::string& InvMOL, const std::string& InvReceiver);
  int32_t EndBon();
  int32_t AddUniqueSellNom(const std::string& SellNom);
  int32_t SetRefundParams(int32_t FiscalBlock, int32_t Reason, int32_t RecieptNo, const std::string& InvDate,
                          const std::string& InvoiceNom);

  int32_t AddPLU(const std::string& Numb, const std::string& Name, double Price, double Quantity,
                 int32_t VATGroup);
  int32_t AddDeprtPlu(const std::string& Numb, const std::string& Name, int32_t DeprtmentNo, double Price,
                      double Quantity, int32_t VATGrp);
  int32_t AddProgPlu(int32_t Numb, int32_t DeprtmentNo, double Quantity, double Price, int32_t VATGrp);
  int32_t AddLine(const std::string& Line, const std::string& Command, int32_t WordWrap);
  int32_t AddDiscount(int32_t DiscType, double Value);
  int32_t AddPayment(int32_t Number, const std::string& Name, double Ammount, double Cource);
  int32_t AddPaymentByCurrncy(int32_t PayNo, const std::string& PayText, double PayAmount, double PayCourse,
                              const std::string& CurrAbrev);

  int32_t CopyLastBon();
  DATE GetClock();
  int32_t InOutMoney(double Ammount, int32_t PayType);
  int32_t RunFMBlockReport(int32_t StartBlock, int32_t EndBlock, int32_t Detailed);
  int32_t RunFMDateReport(DATE StartDate, DATE EndDate, int32_t Detailed);
  int32_t RunXReport();
  int32_t RunZReport();
  int32_t RunPrinterTest();
  int32_t ReportByDepartments(int32_t Reset);

  int32_t GetLastDocNumber();
  std::string GetNextInvoiceNumber();
  std::string GetSerialNumber();
  std::string GetFiscalNumber();
  std::string GetDriverVersion();
  std::string GetPrinterModel();
  int32_t GetHardwareStatus(std::string& Status);
  int32_t GetCurrencyMode(int32_t& CurrMode);

  // A null reference when the object hands back none (see LastErrorCode).
  ComPtr<IBonData> GetRecieptStatus();
  ComPtr<IDepartTotals> GetDepartmentName(int32_t DepNo);
  int32_t SetDeparment(int32_t Nom, int32_t VATGrp, const std::string& Description1,
                       const std::string& Description2);
  int32_t GetPLUData(int32_t PluNo, int32_t& TaxGrp, int8_t& GrpNo, double& UnitPrice, double& TotalSum,
                     double& SoldQtty, double& AvailQtty, std::string& Name);
  int32_t SetPluData(int32_t PluNo, int32_t TaxGrp, int32_t GroupNo, double UnitPrice, const std::string& Name);

  int32_t LastErrorCode();
  std::string LastErrorMessage();
  int32_t LineLength();
  int32_t ComPort();
  std::string LastUniqueSellNo();

 private:
  TFprnFactory Factory_;
  ComPtr<IMiravokFprn> Intf_;
};

}  // namespace fp
