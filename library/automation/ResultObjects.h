#pragma once
// The four result objects that the automation object hands back: TBonData (IBonData),
// TXReportData (IXReportData), TAdvLines (IAdvLines) and TDepartTotals (IDepartTotals).
// Each holds one field per property; every property has a getter that returns its field
// and a setter that stores into it:
//  - 32-bit integers and Doubles as they are;
//  - DocNumber is kept wide;
//  - the header lines, Description, AddText and Exists are kept as 8-bit code page 1251
//    text (converted on the way in and out);
//  - the flags IsInvoice and IsOpen store true only for the value 1 and read back 1 or 0.
// A getter given a null pointer answers E_POINTER.
#include <array>
#include <cstdint>
#include <string>

#include "library/automation/MiravokFPAxX4_BG_TLB.h"
#include "platform/com/ComObject.h"
#include "platform/com/Dispatch.h"

namespace fp {

class TBonData : public TComObject<TBonData, TDispatchImpl<IBonData>> {
 public:
  using TComObject::TComObject;

  HRESULT get_TotalAmount(double* Value) override;
  HRESULT put_TotalAmount(double Value) override;
  HRESULT get_PayedAmount(double* Value) override;
  HRESULT put_PayedAmount(double Value) override;
  HRESULT get_DocNumber(BSTR* Value) override;
  HRESULT put_DocNumber(BSTR Value) override;
  HRESULT get_ItemCount(LONG* Value) override;
  HRESULT put_ItemCount(LONG Value) override;
  HRESULT get_IsInvoice(LONG* Value) override;
  HRESULT put_IsInvoice(LONG Value) override;
  HRESULT get_IsOpen(LONG* Value) override;
  HRESULT put_IsOpen(LONG Value) override;

 private:
  std::u16string FDocNumber;
  int32_t FItemCount = 0;
  double FTotalAmount = 0;
  double FPayedAmount = 0;
  bool FIsInvoice = false;
  bool FIsOpen = false;
};

class TXReportData : public TComObject<TXReportData, TDispatchImpl<IXReportData>> {
 public:
  using TComObject::TComObject;

  HRESULT get_Total(double* Value) override;
  HRESULT put_Total(double Value) override;
  HRESULT get_TOTAL_VAT(double* Value) override;
  HRESULT put_TOTAL_VAT(double Value) override;
  HRESULT get_TotalTaxA(double* Value) override;
  HRESULT put_TotalTaxA(double Value) override;
  HRESULT get_TotalTaxB(double* Value) override;
  HRESULT put_TotalTaxB(double Value) override;
  HRESULT get_TotalTaxC(double* Value) override;
  HRESULT put_TotalTaxC(double Value) override;
  HRESULT get_TotalTaxD(double* Value) override;
  HRESULT put_TotalTaxD(double Value) override;
  HRESULT get_TotalTaxE(double* Value) override;
  HRESULT put_TotalTaxE(double Value) override;
  HRESULT get_TotalTaxF(double* Value) override;
  HRESULT put_TotalTaxF(double Value) override;
  HRESULT get_TotalTaxH(double* Value) override;
  HRESULT put_TotalTaxH(double Value) override;
  HRESULT get_TotalPy1(double* Value) override;
  HRESULT put_TotalPy1(double Value) override;
  HRESULT get_TotalPy2(double* Value) override;
  HRESULT put_TotalPy2(double Value) override;
  HRESULT get_TotalPy3(double* Value) override;
  HRESULT put_TotalPy3(double Value) override;
  HRESULT get_TotalPy4(double* Value) override;
  HRESULT put_TotalPy4(double Value) override;
  HRESULT get_TotalPy5(double* Value) override;
  HRESULT put_TotalPy5(double Value) override;
  HRESULT get_TotalPy6(double* Value) override;
  HRESULT put_TotalPy6(double Value) override;
  HRESULT get_TotalPy7(double* Value) override;
  HRESULT put_TotalPy7(double Value) override;
  HRESULT get_TotalPy8(double* Value) override;
  HRESULT put_TotalPy8(double Value) override;
  HRESULT get_TotalTaxG(double* Value) override;
  HRESULT put_TotalTaxG(double Value) override;
  HRESULT get_TotalPy9(double* Value) override;
  HRESULT put_TotalPy9(double Value) override;
  HRESULT get_TotalPy10(double* Value) override;
  HRESULT put_TotalPy10(double Value) override;
  HRESULT get_TotalPy11(double* Value) override;
  HRESULT put_TotalPy11(double Value) override;

 private:
  double FTotal = 0;
  double FTOTAL_VAT = 0;
  std::array<double, 11> FTotalPy{};   // TotalPy1 .. TotalPy11
  std::array<double, 8> FTotalTax{};   // TotalTaxA .. TotalTaxH
};

class TAdvLines : public TComObject<TAdvLines, TDispatchImpl<IAdvLines>> {
 public:
  using TComObject::TComObject;

  HRESULT get_Line1(BSTR* Value) override;
  HRESULT put_Line1(BSTR Value) override;
  HRESULT get_Line2(BSTR* Value) override;
  HRESULT put_Line2(BSTR Value) override;
  HRESULT get_Line3(BSTR* Value) override;
  HRESULT put_Line3(BSTR Value) override;
  HRESULT get_Line4(BSTR* Value) override;
  HRESULT put_Line4(BSTR Value) override;
  HRESULT get_Line5(BSTR* Value) override;
  HRESULT put_Line5(BSTR Value) override;
  HRESULT get_Line6(BSTR* Value) override;
  HRESULT put_Line6(BSTR Value) override;
  HRESULT get_Line7(BSTR* Value) override;
  HRESULT put_Line7(BSTR Value) override;
  HRESULT get_Line8(BSTR* Value) override;
  HRESULT put_Line8(BSTR Value) override;

 private:
  std::array<std::string, 8> FLines;  // Line1 .. Line8, code page 1251
};

class TDepartTotals : public TComObject<TDepartTotals, TDispatchImpl<IDepartTotals>> {
 public:
  using TComObject::TComObject;

  HRESULT get_Nom(LONG* Value) override;
  HRESULT put_Nom(LONG Value) override;
  HRESULT get_Description(BSTR* Value) override;
  HRESULT put_Description(BSTR Value) override;
  HRESULT get_AddText(BSTR* Value) override;
  HRESULT put_AddText(BSTR Value) override;
  HRESULT get_TaxGrpNo(LONG* Value) override;
  HRESULT put_TaxGrpNo(LONG Value) override;
  HRESULT get_LastCountSales(LONG* Value) override;
  HRESULT put_LastCountSales(LONG Value) override;
  HRESULT get_LastSum(double* Value) override;
  HRESULT put_LastSum(double Value) override;
  HRESULT get_CountSales(LONG* Value) override;
  HRESULT put_CountSales(LONG Value) override;
  HRESULT get_TotalSum(double* Value) override;
  HRESULT put_TotalSum(double Value) override;
  HRESULT get_Exists(BSTR* Value) override;
  HRESULT put_Exists(BSTR Value) override;

 private:
  int32_t FNom = 0;
  std::string FDescription;  // code page 1251
  std::string FAddText;      // code page 1251
  int32_t FCountSales = 0;
  int32_t FLastCountSales = 0;
  double FLastSum = 0;
  int32_t FTaxGrpNo = 0;
  double FTotalSum = 0;
  std::string FExists;       // code page 1251
};

}  // namespace fp
