// The automation object's read-back methods: the state of the current receipt, the day's
// totals, the header lines, departments, articles, payment type names and the currency
// mode, and the programming of header lines, departments and articles.
//
// Four of them hand back a new result object made by its class factory. The object is
// made only after every printer read of the call has succeeded, and handed to the client
// only at the very end, so a failure never hands out an object; the client owns the only
// reference.
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "library/protocol/BaseDeviceCommands.h"
#include "library/automation/ComServer.h"
#include "library/automation/MiravokFprnUnit.h"
#include "library/automation/ResultObjects.h"
#include "library/protocol/WireNumbers.h"
#include "platform/com/ComPtr.h"

namespace fp {

namespace {

// A setter of a result object that fails ends the call like any other failure (502).
void Put(HRESULT Hr) {
  if (FAILED(Hr)) throw EAbort("Cannot fill the result object");
}

// An owned wide copy of 8-bit text, for the setters of the result objects.
BStr Wide(std::string_view Text) { return BStr::Attach(AnsiToBstr(Text)); }

// The VAT group 1..8 of a VAT letter 0xC0..0xC7.
LONG VatGroupOf(char Letter) { return static_cast<LONG>(static_cast<unsigned char>(Letter)) - 191; }

// The VAT letter of a VAT group.
char VatLetterOf(LONG Group) { return static_cast<char>(Group + 191); }

// A price for the log in the pattern "0.00"; a value that is no number as it is.
std::string PriceText(double Value) {
  return std::isfinite(Value) ? FormatWireAmount(Value) : FloatToStr(Value);
}

// The department's totals object as GetDeprtmentTotals hands it out.
ComPtr<IDepartTotals> MakeDepartTotals(LONG Nom, const TDepartmentSum& Dep) {
  ComPtr<IDepartTotals> D = CreateResultObject<IDepartTotals>(DepartTotalsFactory());
  Put(D->put_Nom(Nom));
  Put(D->put_Description(Wide(Dep.Name).Get()));
  Put(D->put_AddText(Wide(Dep.AddText).Get()));
  Put(D->put_TaxGrpNo(VatGroupOf(Dep.TaxGroup)));
  Put(D->put_LastCountSales(static_cast<LONG>(static_cast<uint32_t>(Dep.LastCountSales))));
  Put(D->put_LastSum(Dep.LastSum));
  // The first character of the printer's answer ("P" for a programmed department); an
  // empty answer gives an empty text.
  Put(D->put_Exists(Wide(Dep.Marker ? std::string(1, Dep.Marker) : std::string()).Get()));
  Put(D->put_TotalSum(Dep.TotalSum));
  Put(D->put_CountSales(static_cast<LONG>(static_cast<uint32_t>(Dep.CountSales))));
  return D;
}

// Hands a finished result object to the client's out-argument.
template <class I>
void HandOut(ComPtr<I>& Object, I** Target) {
  if (Target) *Target = Object.Detach();
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The current receipt

HRESULT TMiravokFprn::GetRecieptStatus(IBonData** RecieptStatus) {
  if (RecieptStatus) *RecieptStatus = nullptr;
  return RunMethod(nullptr, "GetRecieptStatus failed", "Get reciept status ", [&] {
    bool CanVoid = false, IsInvoice = false;
    std::array<double, 8> TaxSums{};
    int64_t NextInvoiceNo = 0;
    Check(FDevice->GetFPR_ReceiptInfo(CanVoid, TaxSums, IsInvoice, NextInvoiceNo));
    int32_t DocNumber = 0;
    Check(FDevice->GetFPR_LastDocNumber(DocNumber));
    bool IsOpen = false, HasTender = false;
    int32_t Items = 0;
    double Amount = 0, Tender = 0;
    Check(FDevice->GetFPR_TransactionStatus(true, IsOpen, Items, Amount, Tender, HasTender));

    ComPtr<IBonData> B = CreateResultObject<IBonData>(BonDataFactory());
    Put(B->put_DocNumber(Wide(std::to_string(DocNumber)).Get()));
    Put(B->put_IsInvoice(IsInvoice ? 1 : 0));
    Put(B->put_ItemCount(Items));
    Put(B->put_PayedAmount(HasTender ? Tender : 0));
    Put(B->put_IsOpen(IsOpen ? 1 : 0));
    double Total = 0;
    for (double Sum : TaxSums) Total += Sum;
    Put(B->put_TotalAmount(Total));
    HandOut(B, RecieptStatus);
  });
}

// ---------------------------------------------------------------------------------------
// The day's totals

HRESULT TMiravokFprn::GetXReportData(IXReportData** XReportData) {
  if (XReportData) *XReportData = nullptr;
  return RunMethod(nullptr, "GetXReportData failed", "", [&] {
    LogMessage("GetXReportData", LogInfo);
    // Printers that do not know the long form answer only payment types 1 to 8.
    TDailyPayments Payments;
    if (!FDevice->GetFPR_DailyPayments(Payments)) {
      Payments = TDailyPayments{};
      Check(FDevice->GetFPR_DailyPaymentsShort(Payments));
    }
    std::array<double, 8> Turnover{}, Vat{};
    Check(FDevice->GetFPR_DailyTaxation(true, Turnover));
    Check(FDevice->GetFPR_DailyTaxation(false, Vat));

    ComPtr<IXReportData> X = CreateResultObject<IXReportData>(XReportDataFactory());
    const std::array<double, 11>& Py = Payments.Sums;
    Put(X->put_TotalPy1(Py[0]));
    Put(X->put_TotalPy2(Py[1]));
    Put(X->put_TotalPy3(Py[2]));
    Put(X->put_TotalPy4(Py[3]));
    Put(X->put_TotalPy5(Py[4]));
    Put(X->put_TotalPy6(Py[5]));
    Put(X->put_TotalPy7(Py[6]));
    Put(X->put_TotalPy8(Py[7]));
    Put(X->put_TotalPy9(Py[8]));
    Put(X->put_TotalPy10(Py[9]));
    Put(X->put_TotalPy11(Py[10]));
    Put(X->put_TotalTaxA(Vat[0]));
    Put(X->put_TotalTaxB(Vat[1]));
    Put(X->put_TotalTaxC(Vat[2]));
    Put(X->put_TotalTaxD(Vat[3]));
    Put(X->put_TotalTaxE(Vat[4]));
    Put(X->put_TotalTaxF(Vat[5]));
    Put(X->put_TotalTaxG(Vat[6]));
    Put(X->put_TotalTaxH(Vat[7]));
    double Total = 0, TotalVat = 0;
    for (size_t I = 0; I < 8; ++I) {
      Total += Turnover[I];
      TotalVat += Vat[I];
    }
    Put(X->put_Total(Total));
    Put(X->put_TOTAL_VAT(TotalVat));
    HandOut(X, XReportData);
  });
}

// ---------------------------------------------------------------------------------------
// Header lines

HRESULT TMiravokFprn::GetAdvLinets(IAdvLines** AdvData) {
  if (AdvData) *AdvData = nullptr;
  return RunMethod(nullptr, "GetAdvLinets failed", "Get Adv Lines", [&] {
    std::vector<std::string> Lines;
    Check(FDevice->GetFPR_HeaderLines(Lines));
    Lines.resize(8);  // all eight were read once the command succeeded

    ComPtr<IAdvLines> A = CreateResultObject<IAdvLines>(AdvLinesFactory());
    Put(A->put_Line1(Wide(Lines[0]).Get()));
    Put(A->put_Line2(Wide(Lines[1]).Get()));
    Put(A->put_Line3(Wide(Lines[2]).Get()));
    Put(A->put_Line4(Wide(Lines[3]).Get()));
    Put(A->put_Line5(Wide(Lines[4]).Get()));
    Put(A->put_Line6(Wide(Lines[5]).Get()));
    Put(A->put_Line7(Wide(Lines[6]).Get()));
    Put(A->put_Line8(Wide(Lines[7]).Get()));
    HandOut(A, AdvData);
  });
}

HRESULT TMiravokFprn::SetAdvLine(LONG LineNo, BSTR LineText, LONG* Res) {
  const std::string Text = BstrToAnsi(LineText);
  const std::string Line =
      "Set Adv Lines. LineNo=" + std::to_string(LineNo) + ", LineText=\"" + Text + "\"";
  return RunMethod(Res, "SetAdvLine failed", Line, [&] {
    CheckUnsignedArgument(LineNo, UINT16_MAX, "LineNo");
    Check(FDevice->SetFPR_HeaderLine(static_cast<uint16_t>(LineNo), Text));
  });
}

// ---------------------------------------------------------------------------------------
// Departments

HRESULT TMiravokFprn::GetDeprtmentTotals(LONG Nom, IDepartTotals** DepartmentTotals) {
  if (DepartmentTotals) *DepartmentTotals = nullptr;
  const std::string NomText = std::to_string(Nom);
  return RunMethod(nullptr, "GetDeprtmentTotals for department no=\"" + NomText + "\" failed",
                   "GetDeprtmentTotals for department: " + NomText, [&] {
                     CheckUnsignedArgument(Nom, INT32_MAX, "Nom");
                     TDepartmentSum Dep;
                     Check(FDevice->GetFPR_DepartmentSum(Nom, Dep));
                     ComPtr<IDepartTotals> D = MakeDepartTotals(Nom, Dep);
                     HandOut(D, DepartmentTotals);
                   });
}

HRESULT TMiravokFprn::GetDepartmentName(LONG DepNo, IDepartTotals** DepData) {
  if (DepData) *DepData = nullptr;
  const HRESULT Logged = Guard(
      [&] { LogMessage("GetDepartmentName for department: " + std::to_string(DepNo), LogInfo); });
  if (FAILED(Logged)) return Logged;
  // Printers without the department definition read get the totals object instead, with
  // that method's own log line and failure context.
  if (!SupportsExtendedCommands()) return GetDeprtmentTotals(DepNo, DepData);
  return RunMethod(nullptr, "GetDepartmentName failed", "", [&] {
    CheckUnsignedArgument(DepNo, INT32_MAX, "DepNo");
    std::string Name, AddText;
    // The command trims the name and the second text itself; an answer without the VAT
    // letter fails, so that no department passes for one of group 1.
    char TaxGroup = '\0';
    Check(FDevice->GetFPR_DepartmentInfo(DepNo, Name, AddText, TaxGroup));
    ComPtr<IDepartTotals> D = CreateResultObject<IDepartTotals>(DepartTotalsFactory());
    Put(D->put_Nom(DepNo));
    Put(D->put_Description(Wide(Name).Get()));
    Put(D->put_AddText(Wide(AddText).Get()));
    Put(D->put_TaxGrpNo(VatGroupOf(TaxGroup)));
    HandOut(D, DepData);
  });
}

HRESULT TMiravokFprn::SetDeparment(LONG Nom, LONG VATGrp, BSTR Description1, BSTR Description2,
                                   LONG* Res) {
  TDepartmentInfo Info;
  Info.Number = Nom;
  Info.TaxGroup = VatLetterOf(VATGrp);
  Info.Name = BstrToAnsi(Description1);
  Info.AddText = BstrToAnsi(Description2);
  const std::string Line = "Set department. DeprtmentNo:" + std::to_string(Nom) +
                           " Description1:" + Info.Name + " Description2:" + Info.AddText +
                           " VATGrp:" + std::to_string(VATGrp) + ")";
  return RunMethod(Res, "SetDeparment failed", Line, [&] {
    CheckUnsignedArgument(Nom, INT32_MAX, "Nom");
    CheckVatGroupArgument(VATGrp, "VATGrp");
    CheckTextArgument(TTextField::DepartmentName, Info.Name, "Description1");
    Check(FDevice->SetFPR_Department(Info));
  });
}

// ---------------------------------------------------------------------------------------
// Articles

HRESULT TMiravokFprn::GetPLUData(LONG PluNo, LONG* TaxGrp, std::int8_t* GrpNo, double* UnitPrice,
                                 double* TotalSum, double* SoldQtty, double* AvailQtty,
                                 BSTR* Name, LONG* Res) {
  // The out-values start neutral, even when the call fails at once; UnitPrice keeps the
  // client's value until the article is read.
  if (TaxGrp) *TaxGrp = 0;
  if (GrpNo) *GrpNo = 0;
  if (TotalSum) *TotalSum = 0;
  if (SoldQtty) *SoldQtty = 0;
  if (AvailQtty) *AvailQtty = 0;
  if (Name) *Name = nullptr;
  return RunMethod(Res, "GetPLUData failed",
                   "Get PLU data. PluNo = \"" + std::to_string(PluNo) + "\"", [&] {
                     CheckUnsignedArgument(PluNo, INT32_MAX, "PluNo");
                     // An article the printer does not have fails with the printer's answer.
                     TPluData Plu;
                     Check(FDevice->GetFPR_PluData(PluNo, Plu));
                     if (TaxGrp) *TaxGrp = VatGroupOf(Plu.TaxGroup);
                     if (UnitPrice) *UnitPrice = Plu.UnitPrice;
                     if (GrpNo) *GrpNo = static_cast<std::int8_t>(static_cast<uint8_t>(Plu.GroupNom));
                     if (TotalSum) *TotalSum = Plu.TotalSum;
                     if (SoldQtty) *SoldQtty = Plu.Sold;
                     if (AvailQtty) *AvailQtty = Plu.AvailQtty;
                     SetBstrResult(Name, Plu.Name);
                   });
}

HRESULT TMiravokFprn::SetPluData(LONG PluNo, LONG TaxGrp, LONG GroupNo, double UnitPrice, BSTR Name,
                                 LONG* Res) {
  TPluData Plu;
  Plu.PluNo = PluNo;
  Plu.Name = BstrToAnsi(Name);
  Plu.TaxGroup = VatLetterOf(TaxGrp);
  Plu.GroupNom = GroupNo;
  Plu.UnitPrice = UnitPrice;
  Plu.Quantity = 0;
  const std::string Line = "Set PLU data. PluNo = \"" + std::to_string(PluNo) + "\"TaxGrp=\"" +
                           std::to_string(TaxGrp) + "\", GroupNo=\"" + std::to_string(GroupNo) +
                           "\", UnitPrice=\"" + PriceText(UnitPrice) + "\", Name=\"" + Plu.Name +
                           "\", ";
  return RunMethod(Res, "Set PLU data failed", Line, [&] {
    CheckUnsignedArgument(PluNo, INT32_MAX, "PluNo");
    CheckUnsignedArgument(GroupNo, INT32_MAX, "GroupNo");
    CheckVatGroupArgument(TaxGrp, "TaxGrp");
    FiniteArgument(UnitPrice, "UnitPrice");
    Check(FDevice->SetFPR_PluData(Plu));
  });
}

// ---------------------------------------------------------------------------------------
// Payment types and currency

HRESULT TMiravokFprn::GetPayType(LONG Nom, BSTR* Name, LONG* Res) {
  return RunMethod(Res, "Get pay name failed", "Get pay name. Payment nom: " + std::to_string(Nom),
                   [&] {
                     if (Nom <= 0) throw ECRException(ErrInvalidInput, "Payment No <= 0");
                     std::string Text;
                     Check(FDevice->GetFPR_PayTypeName(static_cast<uint32_t>(Nom), Text));
                     // An empty name leaves the client's text in place (in/out argument).
                     if (!Text.empty() && Name) {
                       SysFreeString(*Name);
                       *Name = AnsiToBstr(Text);
                     }
                   });
}

HRESULT TMiravokFprn::GetCurrencyMode(LONG* CurrMode, LONG* Res) {
  if (CurrMode) *CurrMode = 1;
  return RunMethod(Res, "Get currency mode failed", "", [&] {
    int32_t Mode = 1;
    Check(FDevice->GetFPR_CurrencyMode(Mode));
    if (CurrMode) *CurrMode = Mode;
  });
}

}  // namespace fp
