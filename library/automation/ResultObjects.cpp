// The property getters and setters of the four result objects.
#include "library/automation/ResultObjects.h"

#include "platform/Cp1251.h"
#include "platform/com/ComPtr.h"

namespace fp {

namespace {

template <class T>
HRESULT Out(T* Value, T Field) {
  if (!Value) return E_POINTER;
  *Value = Field;
  return S_OK;
}

HRESULT OutWide(BSTR* Value, const std::u16string& Field) {
  if (!Value) return E_POINTER;
  *Value = MakeBstr(Field);
  return S_OK;
}

// A field kept as 8-bit code page 1251 text; an empty field gives an empty text.
HRESULT OutAnsi(BSTR* Value, const std::string& Field) {
  if (!Value) return E_POINTER;
  *Value = Field.empty() ? nullptr : MakeBstr(Cp1251ToWide(Field));
  return S_OK;
}

std::string InAnsi(BSTR Value) { return WideToCp1251(BstrView(Value)); }

// Flags store true only for the value 1.
bool InFlag(LONG Value) { return Value == 1; }
LONG FlagValue(bool Flag) { return Flag ? 1 : 0; }

}  // namespace

// ---------------------------------------------------------------------------------------
// TBonData

HRESULT TBonData::get_TotalAmount(double* Value) { return Out(Value, FTotalAmount); }
HRESULT TBonData::put_TotalAmount(double Value) { FTotalAmount = Value; return S_OK; }
HRESULT TBonData::get_PayedAmount(double* Value) { return Out(Value, FPayedAmount); }
HRESULT TBonData::put_PayedAmount(double Value) { FPayedAmount = Value; return S_OK; }
HRESULT TBonData::get_DocNumber(BSTR* Value) { return OutWide(Value, FDocNumber); }
HRESULT TBonData::put_DocNumber(BSTR Value) { FDocNumber = BstrView(Value); return S_OK; }
HRESULT TBonData::get_ItemCount(LONG* Value) { return Out(Value, LONG(FItemCount)); }
HRESULT TBonData::put_ItemCount(LONG Value) { FItemCount = Value; return S_OK; }
HRESULT TBonData::get_IsInvoice(LONG* Value) { return Out(Value, FlagValue(FIsInvoice)); }
HRESULT TBonData::put_IsInvoice(LONG Value) { FIsInvoice = InFlag(Value); return S_OK; }
HRESULT TBonData::get_IsOpen(LONG* Value) { return Out(Value, FlagValue(FIsOpen)); }
HRESULT TBonData::put_IsOpen(LONG Value) { FIsOpen = InFlag(Value); return S_OK; }

// ---------------------------------------------------------------------------------------
// TXReportData

#define FP_XREPORT_FIELD(Name, Field)                                              \
  HRESULT TXReportData::get_##Name(double* Value) { return Out(Value, Field); } \
  HRESULT TXReportData::put_##Name(double Value) {                              \
    Field = Value;                                                              \
    return S_OK;                                                                \
  }

FP_XREPORT_FIELD(Total, FTotal)
FP_XREPORT_FIELD(TOTAL_VAT, FTOTAL_VAT)
FP_XREPORT_FIELD(TotalTaxA, FTotalTax[0])
FP_XREPORT_FIELD(TotalTaxB, FTotalTax[1])
FP_XREPORT_FIELD(TotalTaxC, FTotalTax[2])
FP_XREPORT_FIELD(TotalTaxD, FTotalTax[3])
FP_XREPORT_FIELD(TotalTaxE, FTotalTax[4])
FP_XREPORT_FIELD(TotalTaxF, FTotalTax[5])
FP_XREPORT_FIELD(TotalTaxG, FTotalTax[6])
FP_XREPORT_FIELD(TotalTaxH, FTotalTax[7])
FP_XREPORT_FIELD(TotalPy1, FTotalPy[0])
FP_XREPORT_FIELD(TotalPy2, FTotalPy[1])
FP_XREPORT_FIELD(TotalPy3, FTotalPy[2])
FP_XREPORT_FIELD(TotalPy4, FTotalPy[3])
FP_XREPORT_FIELD(TotalPy5, FTotalPy[4])
FP_XREPORT_FIELD(TotalPy6, FTotalPy[5])
FP_XREPORT_FIELD(TotalPy7, FTotalPy[6])
FP_XREPORT_FIELD(TotalPy8, FTotalPy[7])
FP_XREPORT_FIELD(TotalPy9, FTotalPy[8])
FP_XREPORT_FIELD(TotalPy10, FTotalPy[9])
FP_XREPORT_FIELD(TotalPy11, FTotalPy[10])

#undef FP_XREPORT_FIELD

// ---------------------------------------------------------------------------------------
// TAdvLines

#define FP_ADVLINE(N)                                                                 \
  HRESULT TAdvLines::get_Line##N(BSTR* Value) { return OutAnsi(Value, FLines[N - 1]); } \
  HRESULT TAdvLines::put_Line##N(BSTR Value) {                                        \
    FLines[N - 1] = InAnsi(Value);                                                    \
    return S_OK;                                                                      \
  }

FP_ADVLINE(1)
FP_ADVLINE(2)
FP_ADVLINE(3)
FP_ADVLINE(4)
FP_ADVLINE(5)
FP_ADVLINE(6)
FP_ADVLINE(7)
FP_ADVLINE(8)

#undef FP_ADVLINE

// ---------------------------------------------------------------------------------------
// TDepartTotals

HRESULT TDepartTotals::get_Nom(LONG* Value) { return Out(Value, LONG(FNom)); }
HRESULT TDepartTotals::put_Nom(LONG Value) { FNom = Value; return S_OK; }
HRESULT TDepartTotals::get_Description(BSTR* Value) { return OutAnsi(Value, FDescription); }
HRESULT TDepartTotals::put_Description(BSTR Value) { FDescription = InAnsi(Value); return S_OK; }
HRESULT TDepartTotals::get_AddText(BSTR* Value) { return OutAnsi(Value, FAddText); }
HRESULT TDepartTotals::put_AddText(BSTR Value) { FAddText = InAnsi(Value); return S_OK; }
HRESULT TDepartTotals::get_TaxGrpNo(LONG* Value) { return Out(Value, LONG(FTaxGrpNo)); }
HRESULT TDepartTotals::put_TaxGrpNo(LONG Value) { FTaxGrpNo = Value; return S_OK; }
HRESULT TDepartTotals::get_LastCountSales(LONG* Value) { return Out(Value, LONG(FLastCountSales)); }
HRESULT TDepartTotals::put_LastCountSales(LONG Value) { FLastCountSales = Value; return S_OK; }
HRESULT TDepartTotals::get_LastSum(double* Value) { return Out(Value, FLastSum); }
HRESULT TDepartTotals::put_LastSum(double Value) { FLastSum = Value; return S_OK; }
HRESULT TDepartTotals::get_CountSales(LONG* Value) { return Out(Value, LONG(FCountSales)); }
HRESULT TDepartTotals::put_CountSales(LONG Value) { FCountSales = Value; return S_OK; }
HRESULT TDepartTotals::get_TotalSum(double* Value) { return Out(Value, FTotalSum); }
HRESULT TDepartTotals::put_TotalSum(double Value) { FTotalSum = Value; return S_OK; }
HRESULT TDepartTotals::get_Exists(BSTR* Value) { return OutAnsi(Value, FExists); }
HRESULT TDepartTotals::put_Exists(BSTR Value) { FExists = InAnsi(Value); return S_OK; }

}  // namespace fp
