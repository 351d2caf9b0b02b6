#include "filedriver/MiravokFprnProxy.h"

#include <cstdio>

#include "platform/Cp1251.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/OleAuto.h"

namespace fp {

namespace {

BStr W(const std::string& text) { return BStr(Cp1251ToWide(text)); }
std::string N(const BStr& text) { return WideToCp1251(text.View()); }

const char* CodeText(HRESULT hr) {
  switch (hr) {
    case E_UNEXPECTED: return "Catastrophic failure";
    case E_FAIL: return "Unspecified error";
    case E_NOTIMPL: return "Not implemented";
    case E_NOINTERFACE: return "No such interface supported";
    case E_POINTER: return "Invalid pointer";
    case E_OUTOFMEMORY: return "Not enough memory resources are available to complete this operation";
    case E_INVALIDARG: return "The parameter is incorrect";
    case REGDB_E_CLASSNOTREG: return "Class not registered";
    case CLASS_E_CLASSNOTAVAILABLE: return "ClassFactory cannot supply requested class";
    case CO_E_NOTINITIALIZED: return "CoInitialize has not been called";
    case CO_E_DLLNOTFOUND: return "DLL could not be found";
    case CO_E_ERRORINDLL: return "Error in the DLL";
    default: return nullptr;
  }
}

}  // namespace

std::string OleErrorText(HRESULT hr) {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.GetAddressOf()) == S_OK && info) {
    BStr description;
    if (SUCCEEDED(info->GetDescription(description.Out())) && description.Length() > 0)
      return WideToCp1251(description.View());
  }
  if (const char* text = CodeText(hr)) return text;
  char buf[32];
  std::snprintf(buf, sizeof buf, "OLE error %08X", static_cast<unsigned>(hr));
  return buf;
}

void OleCheck(HRESULT hr) {
  if (FAILED(hr)) throw EOleSysError(OleErrorText(hr), hr);
}

ComPtr<IMiravokFprn> CreateMiravokFprn() {
  ComPtr<IMiravokFprn> fprn;
  OleCheck(CoCreateInstance(CLSID_MiravokFprn, nullptr, CLSCTX_INPROC_SERVER, IID_IMiravokFprn, fprn.AsOut()));
  return fprn;
}

TMiravokFprnProxy::TMiravokFprnProxy(TFprnFactory factory) : Factory_(std::move(factory)) {}

IMiravokFprn& TMiravokFprnProxy::Intf() {
  if (!Intf_) {
    ComPtr<IMiravokFprn> made = Factory_ ? Factory_() : ComPtr<IMiravokFprn>();
    if (!made) throw EOleSysError(OleErrorText(E_POINTER), E_POINTER);
    Intf_ = std::move(made);
  }
  return *Intf_.Get();
}

int32_t TMiravokFprnProxy::Init(int32_t ComPort, int32_t PortSpeed, int32_t Locale, int32_t Language,
                                const std::string& SerialKey) {
  LONG res = -1;
  OleCheck(Intf().Init(ComPort, PortSpeed, Locale, Language, W(SerialKey).Get(), &res));
  return res;
}

int32_t TMiravokFprnProxy::InitEx(int32_t PortSpeed, int32_t Locale, int32_t Language,
                                  const std::string& SerialKey, const std::string& DeviceSerialNo) {
  LONG res = -1;
  OleCheck(Intf().InitEx(PortSpeed, Locale, Language, W(SerialKey).Get(), W(DeviceSerialNo).Get(), &res));
  return res;
}

void TMiravokFprnProxy::Close() { OleCheck(Intf().Close()); }

int32_t TMiravokFprnProxy::StartBon(int32_t BonType, int32_t PLUNumbering, int32_t CashierNo,
                                    const std::string& CashierName, const std::string& CashierPass,
                                    int32_t CashierPOS, const std::string& InvNumber,
                                    const std::string& InvTaxNumber, const std::string& InvVATNumber,
                                    const std::string& InvCompany, const std::string& InvCity,
                                    const std::string& InvAddress, const std::string& InvMOL,
                                    const std::string& InvReceiver) {
  LONG res = -1;
  OleCheck(Intf().StartBon(BonType, PLUNumbering, CashierNo, W(CashierName).Get(), W(CashierPass).Get(),
                           CashierPOS, W(InvNumber).Get(), W(InvTaxNumber).Get(), W(InvVATNumber).Get(),
                           W(InvCompany).Get(), W(InvCity).Get(), W(InvAddress).Get(), W(InvMOL).Get(),
                           W(InvReceiver).Get(), &res));
  return res;
}

int32_t TMiravokFprnProxy::EndBon() {
  LONG res = -1;
  OleCheck(Intf().EndBon(&res));
  return res;
}

int32_t TMiravokFprnProxy::AddUniqueSellNom(const std::string& SellNom) {
  LONG res = -1;
  OleCheck(Intf().AddUniqueSellNom(W(SellNom).Get(), &res));
  return res;
}

int32_t TMiravokFprnProxy::SetRefundParams(int32_t FiscalBlock, int32_t Reason, int32_t RecieptNo,
                                           const std::string& InvDate, const std::string& InvoiceNom) {
  LONG res = -1;
  OleCheck(Intf().SetRefundParams(FiscalBlock, Reason, RecieptNo, W(InvDate).Get(), W(InvoiceNom).Get(), &res));
  return res;
}

int32_t TMiravokFprnProxy::AddPLU(const std::string& Numb, const std::string& Name, double Price,
                                  double Quantity, int32_t VATGroup) {
  LONG res = -1;
  OleCheck(Intf().AddPLU(W(Numb).Get(), W(Name).Get(), Price, Quantity, VATGroup, &res));
  return res;
}

int32_t TMiravokFprnProxy::AddDeprtPlu(const std::string& Numb, const std::string& Name, int32_t DeprtmentNo,
                                       double Price, double Quantity, int32_t VATGrp) {
  LONG res = -1;
  OleCheck(Intf().AddDeprtPlu(W(Numb).Get(), W(Name).Get(), DeprtmentNo, Price, Quantity, VATGrp, &res));
  return res;
}

int32_t TMiravokFprnProxy::AddProgPlu(int32_t Numb, int32_t DeprtmentNo, double Quantity, double Price,
                                      int32_t VATGrp) {
  LONG res = -1;
  OleCheck(Intf().AddProgPlu(Numb, DeprtmentNo, Quantity, Price, VATGrp, &res));
  return res;
}

int32_t TMiravokFprnProxy::AddLine(const std::string& Line, const std::string& Command, int32_t WordWrap) {
  LONG res = -1;
  OleCheck(Intf().AddLine(W(Line).Get(), W(Command).Get(), WordWrap, &res));
  return res;
}

int32_t TMiravokFprnProxy::AddDiscount(int32_t DiscType, double Value) {
  LONG res = -1;
  OleCheck(Intf().AddDiscount(DiscType, Value, &res));
  return res;
}

int32_t TMiravokFprnProxy::AddPayment(int32_t Number, const std::string& Name, double Ammount, double Cource) {
  LONG res = -1;
  OleCheck(Intf().AddPayment(Number, W(Name).Get(), Ammount, Cource, &res));
  return res;
}

int32_t TMiravokFprnProxy::AddPaymentByCurrncy(int32_t PayNo, const std::string& PayText, double PayAmount,
                                               double PayCourse, const std::string& CurrAbrev) {
  LONG res = -1;
  OleCheck(Intf().AddPaymentByCurrncy(PayNo, W(PayText).Get(), PayAmount, PayCourse, W(CurrAbrev).Get(), &res));
  return res;
}

int32_t TMiravokFprnProxy::CopyLastBon() {
  LONG res = -1;
  OleCheck(Intf().CopyLastBon(&res));
  return res;
}

DATE TMiravokFprnProxy::GetClock() {
  DATE res = 0;
  OleCheck(Intf().GetClock(&res));
  return res;
}

int32_t TMiravokFprnProxy::InOutMoney(double Ammount, int32_t PayType) {
  LONG res = -1;
  OleCheck(Intf().InOutMoney(Ammount, PayType, &res));
  return res;
}

int32_t TMiravokFprnProxy::RunFMBlockReport(int32_t StartBlock, int32_t EndBlock, int32_t Detailed) {
  LONG res = -1;
  OleCheck(Intf().RunFMBlockReport(StartBlock, EndBlock, Detailed, &res));
  return res;
}

int32_t TMiravokFprnProxy::RunFMDateReport(DATE StartDate, DATE EndDate, int32_t Detailed) {
  LONG res = -1;
  OleCheck(Intf().RunFMDateReport(StartDate, EndDate, Detailed, &res));
  return res;
}

int32_t TMiravokFprnProxy::RunXReport() {
  LONG res = -1;
  OleCheck(Intf().RunXReport(&res));
  return res;
}

int32_t TMiravokFprnProxy::RunZReport() {
  LONG res = -1;
  OleCheck(Intf().RunZReport(&res));
  return res;
}

int32_t TMiravokFprnProxy::RunPrinterTest() {
  LONG res = -1;
  OleCheck(Intf().RunPrinterTest(&res));
  return res;
}

int32_t TMiravokFprnProxy::ReportByDepartments(int32_t Reset) {
  LONG res = -1;
  OleCheck(Intf().ReportByDepartments(Reset, &res));
  return res;
}

int32_t TMiravokFprnProxy::GetLastDocNumber() {
  LONG res = 0;
  OleCheck(Intf().GetLastDocNumber(&res));
  return res;
}

std::string TMiravokFprnProxy::GetNextInvoiceNumber() {
  BStr res;
  OleCheck(Intf().GetNextInvoiceNumber(res.Out()));
  return N(res);
}

std::string TMiravokFprnProxy::GetSerialNumber() {
  BStr res;
  OleCheck(Intf().GetSerialNumber(res.Out()));
  return N(res);
}

std::string TMiravokFprnProxy::GetFiscalNumber() {
  BStr res;
  OleCheck(Intf().GetFiscalNumber(res.Out()));
  return N(res);
}

std::string TMiravokFprnProxy::GetDriverVersion() {
  BStr res;
  OleCheck(Intf().GetDriverVersion(res.Out()));
  return N(res);
}

std::string TMiravokFprnProxy::GetPrinterModel() {
  BStr res;
  OleCheck(Intf().GetPrinterModel(res.Out()));
  return N(res);
}

int32_t TMiravokFprnProxy::GetHardwareStatus(std::string& Status) {
  BStr status = W(Status);
  LONG res = -1;
  OleCheck(Intf().GetHardwareStatus(status.InOut(), &res));
  Status = N(status);
  return res;
}

int32_t TMiravokFprnProxy::GetCurrencyMode(int32_t& CurrMode) {
  LONG mode = CurrMode;
  LONG res = -1;
  OleCheck(Intf().GetCurrencyMode(&mode, &res));
  CurrMode = mode;
  return res;
}

ComPtr<IBonData> TMiravokFprnProxy::GetRecieptStatus() {
  ComPtr<IBonData> res;
  OleCheck(Intf().GetRecieptStatus(res.GetAddressOf()));
  return res;
}

ComPtr<IDepartTotals> TMiravokFprnProxy::GetDepartmentName(int32_t DepNo) {
  ComPtr<IDepartTotals> res;
  OleCheck(Intf().GetDepartmentName(DepNo, res.GetAddressOf()));
  return res;
}

int32_t TMiravokFprnProxy::SetDeparment(int32_t Nom, int32_t VATGrp, const std::string& Description1,
                                        const std::string& Description2) {
  LONG res = -1;
  OleCheck(Intf().SetDeparment(Nom, VATGrp, W(Description1).Get(), W(Description2).Get(), &res));
  return res;
}

int32_t TMiravokFprnProxy::GetPLUData(int32_t PluNo, int32_t& TaxGrp, int8_t& GrpNo, double& UnitPrice,
                                      double& TotalSum, double& SoldQtty, double& AvailQtty, std::string& Name) {
  LONG taxGrp = TaxGrp;
  BStr name;
  LONG res = -1;
  OleCheck(Intf().GetPLUData(PluNo, &taxGrp, &GrpNo, &UnitPrice, &TotalSum, &SoldQtty, &AvailQtty, name.Out(), &res));
  TaxGrp = taxGrp;
  Name = N(name);
  return res;
}

int32_t TMiravokFprnProxy::SetPluData(int32_t PluNo, int32_t TaxGrp, int32_t GroupNo, double UnitPrice,
                                      const std::string& Name) {
  LONG res = -1;
  OleCheck(Intf().SetPluData(PluNo, TaxGrp, GroupNo, UnitPrice, W(Name).Get(), &res));
  return res;
}

int32_t TMiravokFprnProxy::LastErrorCode() {
  LONG res = 0;
  OleCheck(Intf().get_LastErrorCode(&res));
  return res;
}

std::string TMiravokFprnProxy::LastErrorMessage() {
  BStr res;
  OleCheck(Intf().get_LastErrorMessage(res.Out()));
  return N(res);
}

int32_t TMiravokFprnProxy::LineLength() {
  LONG res = 0;
  OleCheck(Intf().get_LineLength(&res));
  return res;
}

int32_t TMiravokFprnProxy::ComPort() {
  LONG res = 0;
  OleCheck(Intf().get_ComPort(&res));
  return res;
}

std::string TMiravokFprnProxy::LastUniqueSellNo() {
  BStr res;
  OleCheck(Intf().get_LastUniqueSellNo(res.Out()));
  return N(res);
}

}  // namespace fp
