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
std::string PriceText(double Value) { return std::isfinite(Value) ? FormatWireAmount(Value) : FloatToStr(Value); }

// The department's totals object as GetDeprtmentTotals hands it out.
ComPtr<IDepartTotals> MakeDepartTotals(LONG Nom, const TDepartmentSum& Dep) {
  ComPtr<IDepartTotals> d = CreateResultObject<IDepartTotals>(DepartTotalsFactory());
  Put(d->put_Nom(Nom));
  Put(d->put_Description(Wide(Dep.Name).Get()));
  Put(d->put_AddText(Wide(Dep.AddText).Get()));
  Put(d->put_TaxGrpNo(VatGroupOf(Dep.TaxGroup)));
  Put(d->put_LastCountSales(static_cast<LONG>(static_cast<uint32_t>(Dep.LastCountSales))));
  Put(d->put_LastSum(Dep.LastSum));
  // The first character of the printer's answer ("P" for a programmed department); an
  // empty answer gives an empty text.
  Put(d->put_Exists(Wide(Dep.Marker ? std::string(1, Dep.Marker) : std::string()).Get()));
  Put(d->put_TotalSum(Dep.TotalSum));
  Put(d->put_CountSales(static_cast<LONG>(static_cast<uint32_t>(Dep.CountSales))));
  return d;
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
    bool canVoid = false, isInvoice = false;
    std::array<double, 8> taxSums{};
    int64_t nextInvoiceNo = 0;
    Check(FDevice->GetFPR_ReceiptInfo(canVoid, taxSums, isInvoice, nextInvoiceNo));
    int32_t docNumber = 0;
    Check(FDevice->GetFPR_LastDocNumber(docNumber));
    bool isOpen = false, hasTender = false;
    int32_t items = 0;
    double amount = 0, tender = 0;
    Check(FDevice->GetFPR_TransactionStatus(true, isOpen, items, amount, tender, hasTender));

    ComPtr<IBonData> b = CreateResultObject<IBonData>(BonDataFactory());
    Put(b->put_DocNumber(Wide(std::to_string(docNumber)).Get()));
    Put(b->put_IsInvoice(isInvoice ? 1 : 0));
    Put(b->put_ItemCount(items));
    Put(b->put_PayedAmount(hasTender ? tender : 0));
    Put(b->put_IsOpen(isOpen ? 1 : 0));
    double total = 0;
    for (double sum : taxSums) total += sum;
    Put(b->put_TotalAmount(total));
    HandOut(b, RecieptStatus);
  });
}

// ---------------------------------------------------------------------------------------
// The day's totals

HRESULT TMiravokFprn::GetXReportData(IXReportData** XReportData) {
  if (XReportData) *XReportData = nullptr;
  return RunMethod(nullptr, "GetXReportData failed", "", [&] {
    LogMessage("GetXReportData", LogInfo);
    // Printers that do not know the long form answer only payment types 1 to 8.
    TDailyPayments payments;
    if (!FDevice->GetFPR_DailyPayments(payments)) {
      payments = TDailyPayments{};
      Check(FDevice->GetFPR_DailyPaymentsShort(payments));
    }
    std::array<double, 8> turnover{}, vat{};
    Check(FDevice->GetFPR_DailyTaxation(true, turnover));
    Check(FDevice->GetFPR_DailyTaxation(false, vat));

    ComPtr<IXReportData> x = CreateResultObject<IXReportData>(XReportDataFactory());
    const std::array<double, 11>& py = payments.Sums;
    Put(x->put_TotalPy1(py[0]));
    Put(x->put_TotalPy2(py[1]));
    Put(x->put_TotalPy3(py[2]));
    Put(x->put_TotalPy4(py[3]));
    Put(x->put_TotalPy5(py[4]));
    Put(x->put_TotalPy6(py[5]));
    Put(x->put_TotalPy7(py[6]));
    Put(x->put_TotalPy8(py[7]));
    Put(x->put_TotalPy9(py[8]));
    Put(x->put_TotalPy10(py[9]));
    Put(x->put_TotalPy11(py[10]));
    Put(x->put_TotalTaxA(vat[0]));
    Put(x->put_TotalTaxB(vat[1]));
    Put(x->put_TotalTaxC(vat[2]));
    Put(x->put_TotalTaxD(vat[3]));
    Put(x->put_TotalTaxE(vat[4]));
    Put(x->put_TotalTaxF(vat[5]));
    Put(x->put_TotalTaxG(vat[6]));
    Put(x->put_TotalTaxH(vat[7]));
    double total = 0, totalVat = 0;
    for (size_t i = 0; i < 8; ++i) {
      total += turnover[i];
      totalVat += vat[i];
    }
    Put(x->put_Total(total));
    Put(x->put_TOTAL_VAT(totalVat));
    HandOut(x, XReportData);
  });
}

// ---------------------------------------------------------------------------------------
// Header lines

HRESULT TMiravokFprn::GetAdvLinets(IAdvLines** AdvData) {
  if (AdvData) *AdvData = nullptr;
  return RunMethod(nullptr, "GetAdvLinets failed", "Get Adv Lines", [&] {
    std::vector<std::string> lines;
    Check(FDevice->GetFPR_HeaderLines(lines));
    lines.resize(8);  // all eight were read once the command succeeded

    ComPtr<IAdvLines> a = CreateResultObject<IAdvLines>(AdvLinesFactory());
    Put(a->put_Line1(Wide(lines[0]).Get()));
    Put(a->put_Line2(Wide(lines[1]).Get()));
    Put(a->put_Line3(Wide(lines[2]).Get()));
    Put(a->put_Line4(Wide(lines[3]).Get()));
    Put(a->put_Line5(Wide(lines[4]).Get()));
    Put(a->put_Line6(Wide(lines[5]).Get()));
    Put(a->put_Line7(Wide(lines[6]).Get()));
    Put(a->put_Line8(Wide(lines[7]).Get()));
    HandOut(a, AdvData);
  });
}

HRESULT TMiravokFprn::SetAdvLine(LONG LineNo, BSTR LineText, LONG* Res) {
  const std::string text = BstrToAnsi(LineText);
  const std::string line = "Set Adv Lines. LineNo=" + std::to_string(LineNo) + ", LineText=\"" + text + "\"";
  return RunMethod(Res, "SetAdvLine failed", line, [&] {
    CheckUnsignedArgument(LineNo, UINT16_MAX, "LineNo");
    Check(FDevice->SetFPR_HeaderLine(static_cast<uint16_t>(LineNo), text));
  });
}

// ---------------------------------------------------------------------------------------
// Departments

HRESULT TMiravokFprn::GetDeprtmentTotals(LONG Nom, IDepartTotals** DepartmentTotals) {
  if (DepartmentTotals) *DepartmentTotals = nullptr;
  const std::string nomText = std::to_string(Nom);
  return RunMethod(nullptr, "GetDeprtmentTotals for department no=\"" + nomText + "\" failed",
                   "GetDeprtmentTotals for department: " + nomText, [&] {
                     CheckUnsignedArgument(Nom, INT32_MAX, "Nom");
                     TDepartmentSum dep;
                     Check(FDevice->GetFPR_DepartmentSum(Nom, dep));
                     ComPtr<IDepartTotals> d = MakeDepartTotals(Nom, dep);
                     HandOut(d, DepartmentTotals);
                   });
}

HRESULT TMiravokFprn::GetDepartmentName(LONG DepNo, IDepartTotals** DepData) {
  if (DepData) *DepData = nullptr;
  const HRESULT logged =
      Guard([&] { LogMessage("GetDepartmentName for department: " + std::to_string(DepNo), LogInfo); });
  if (FAILED(logged)) return logged;
  // Printers without the department definition read get the totals object instead, with
  // that method's own log line and failure context.
  if (!SupportsExtendedCommands()) return GetDeprtmentTotals(DepNo, DepData);
  return RunMethod(nullptr, "GetDepartmentName failed", "", [&] {
    CheckUnsignedArgument(DepNo, INT32_MAX, "DepNo");
    std::string name, addText;
    // The command trims the name and the second text itself; an answer without the VAT
    // letter fails, so that no department passes for one of group 1.
    char taxGroup = '\0';
    Check(FDevice->GetFPR_DepartmentInfo(DepNo, name, addText, taxGroup));
    ComPtr<IDepartTotals> d = CreateResultObject<IDepartTotals>(DepartTotalsFactory());
    Put(d->put_Nom(DepNo));
    Put(d->put_Description(Wide(name).Get()));
    Put(d->put_AddText(Wide(addText).Get()));
    Put(d->put_TaxGrpNo(VatGroupOf(taxGroup)));
    HandOut(d, DepData);
  });
}

HRESULT TMiravokFprn::SetDeparment(LONG Nom, LONG VATGrp, BSTR Description1, BSTR Description2, LONG* Res) {
  TDepartmentInfo info;
  info.Number = Nom;
  info.TaxGroup = VatLetterOf(VATGrp);
  info.Name = BstrToAnsi(Description1);
  info.AddText = BstrToAnsi(Description2);
  const std::string line = "Set department. DeprtmentNo:" + std::to_string(Nom) + " Description1:" + info.Name +
                           " Description2:" + info.AddText + " VATGrp:" + std::to_string(VATGrp) + ")";
  return RunMethod(Res, "SetDeparment failed", line, [&] {
    CheckUnsignedArgument(Nom, INT32_MAX, "Nom");
    CheckVatGroupArgument(VATGrp, "VATGrp");
    CheckTextArgument(TTextField::DepartmentName, info.Name, "Description1");
    Check(FDevice->SetFPR_Department(info));
  });
}

// ---------------------------------------------------------------------------------------
// Articles

HRESULT TMiravokFprn::GetPLUData(LONG PluNo, LONG* TaxGrp, std::int8_t* GrpNo, double* UnitPrice, double* TotalSum,
                                 double* SoldQtty, double* AvailQtty, BSTR* Name, LONG* Res) {
  // The out-values start neutral, even when the call fails at once; UnitPrice keeps the
  // client's value until the article is read.
  if (TaxGrp) *TaxGrp = 0;
  if (GrpNo) *GrpNo = 0;
  if (TotalSum) *TotalSum = 0;
  if (SoldQtty) *SoldQtty = 0;
  if (AvailQtty) *AvailQtty = 0;
  if (Name) *Name = nullptr;
  return RunMethod(Res, "GetPLUData failed", "Get PLU data. PluNo = \"" + std::to_string(PluNo) + "\"", [&] {
    CheckUnsignedArgument(PluNo, INT32_MAX, "PluNo");
    // An article the printer does not have fails with the printer's answer.
    TPluData plu;
    Check(FDevice->GetFPR_PluData(PluNo, plu));
    if (TaxGrp) *TaxGrp = VatGroupOf(plu.TaxGroup);
    if (UnitPrice) *UnitPrice = plu.UnitPrice;
    if (GrpNo) *GrpNo = static_cast<std::int8_t>(static_cast<uint8_t>(plu.GroupNom));
    if (TotalSum) *TotalSum = plu.TotalSum;
    if (SoldQtty) *SoldQtty = plu.Sold;
    if (AvailQtty) *AvailQtty = plu.AvailQtty;
    SetBstrResult(Name, plu.Name);
  });
}

HRESULT TMiravokFprn::SetPluData(LONG PluNo, LONG TaxGrp, LONG GroupNo, double UnitPrice, BSTR Name, LONG* Res) {
  TPluData plu;
  plu.PluNo = PluNo;
  plu.Name = BstrToAnsi(Name);
  plu.TaxGroup = VatLetterOf(TaxGrp);
  plu.GroupNom = GroupNo;
  plu.UnitPrice = UnitPrice;
  plu.Quantity = 0;
  const std::string line = "Set PLU data. PluNo = \"" + std::to_string(PluNo) + "\"TaxGrp=\"" + std::to_string(TaxGrp) +
                           "\", GroupNo=\"" + std::to_string(GroupNo) + "\", UnitPrice=\"" + PriceText(UnitPrice) +
                           "\", Name=\"" + plu.Name + "\", ";
  return RunMethod(Res, "Set PLU data failed", line, [&] {
    CheckUnsignedArgument(PluNo, INT32_MAX, "PluNo");
    CheckUnsignedArgument(GroupNo, INT32_MAX, "GroupNo");
    CheckVatGroupArgument(TaxGrp, "TaxGrp");
    FiniteArgument(UnitPrice, "UnitPrice");
    Check(FDevice->SetFPR_PluData(plu));
  });
}

// ---------------------------------------------------------------------------------------
// Payment types and currency

HRESULT TMiravokFprn::GetPayType(LONG Nom, BSTR* Name, LONG* Res) {
  return RunMethod(Res, "Get pay name failed", "Get pay name. Payment nom: " + std::to_string(Nom), [&] {
    if (Nom <= 0) throw ECRException(ErrInvalidInput, "Payment No <= 0");
    std::string text;
    Check(FDevice->GetFPR_PayTypeName(static_cast<uint32_t>(Nom), text));
    // An empty name leaves the client's text in place (in/out argument).
    if (!text.empty() && Name) {
      SysFreeString(*Name);
      *Name = AnsiToBstr(text);
    }
  });
}

HRESULT TMiravokFprn::GetCurrencyMode(LONG* CurrMode, LONG* Res) {
  if (CurrMode) *CurrMode = 1;
  return RunMethod(Res, "Get currency mode failed", "", [&] {
    int32_t mode = 1;
    Check(FDevice->GetFPR_CurrencyMode(mode));
    if (CurrMode) *CurrMode = mode;
  });
}

}  // namespace fp
