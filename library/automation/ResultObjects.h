#pragma once
// The four result objects that the automation object hands back: TBonData (IBonData),
// TXReportData (IXReportData), TAdvLines (IAdvLines) and TDepartTotals (IDepartTotals).
// Each holds one field per property; the getter and setter of every property are generated
// from the interface's .def table (ResultProperties.inc), and the field's type decides how
// the value is kept:
//  - 32-bit integers and Doubles as they are;
//  - DocNumber is kept wide;
//  - the header lines, Description, AddText and Exists are kept as 8-bit code page 1251
//    text (converted on the way in and out);
//  - the flags IsInvoice and IsOpen store true only for the value 1 and read back 1 or 0.
// A getter given a null pointer answers E_POINTER.
#include <cstdint>
#include <string>

#include "library/automation/MiravokFPAxX4_BG_TLB.h"
#include "platform/com/ComObject.h"
#include "platform/com/Dispatch.h"

namespace fp {

// The fields of the result objects. Get answers E_POINTER for a null pointer.
struct TDoubleField {
  double V = 0;
  HRESULT Get(double* Value) const;
  HRESULT Put(double Value);
};
struct TLongField {
  int32_t V = 0;
  HRESULT Get(LONG* Value) const;
  HRESULT Put(LONG Value);
};
// Stores true only for the value 1 and reads back 1 or 0.
struct TFlagField {
  bool V = false;
  HRESULT Get(LONG* Value) const;
  HRESULT Put(LONG Value);
};
// Kept wide.
struct TWideField {
  std::u16string V;
  HRESULT Get(BSTR* Value) const;
  HRESULT Put(BSTR Value);
};
// Kept as 8-bit code page 1251 text; an empty field reads back as an empty text.
struct TAnsiField {
  std::string V;
  HRESULT Get(BSTR* Value) const;
  HRESULT Put(BSTR Value);
};

class TBonData : public TComObject<TBonData, TDispatchImpl<IBonData>> {
 public:
  using TComObject::TComObject;

#define FP_RESULT_DEF "library/automation/IBonData.def"
#include "library/automation/ResultProperties.inc"

 private:
  TDoubleField FTotalAmount;
  TDoubleField FPayedAmount;
  TWideField FDocNumber;
  TLongField FItemCount;
  TFlagField FIsInvoice;
  TFlagField FIsOpen;
};

class TXReportData : public TComObject<TXReportData, TDispatchImpl<IXReportData>> {
 public:
  using TComObject::TComObject;

#define FP_RESULT_DEF "library/automation/IXReportData.def"
#include "library/automation/ResultProperties.inc"

 private:
  TDoubleField FTotal, FTOTAL_VAT;  // NOLINT(readability-identifier-naming): named after its property
  TDoubleField FTotalTaxA, FTotalTaxB, FTotalTaxC, FTotalTaxD, FTotalTaxE, FTotalTaxF, FTotalTaxG, FTotalTaxH;
  TDoubleField FTotalPy1, FTotalPy2, FTotalPy3, FTotalPy4, FTotalPy5, FTotalPy6, FTotalPy7, FTotalPy8, FTotalPy9,
      FTotalPy10, FTotalPy11;
};

class TAdvLines : public TComObject<TAdvLines, TDispatchImpl<IAdvLines>> {
 public:
  using TComObject::TComObject;

#define FP_RESULT_DEF "library/automation/IAdvLines.def"
#include "library/automation/ResultProperties.inc"

 private:
  TAnsiField FLine1, FLine2, FLine3, FLine4, FLine5, FLine6, FLine7, FLine8;
};

class TDepartTotals : public TComObject<TDepartTotals, TDispatchImpl<IDepartTotals>> {
 public:
  using TComObject::TComObject;

#define FP_RESULT_DEF "library/automation/IDepartTotals.def"
#include "library/automation/ResultProperties.inc"

 private:
  TLongField FNom;
  TAnsiField FDescription;
  TAnsiField FAddText;
  TLongField FTaxGrpNo;
  TLongField FLastCountSales;
  TDoubleField FLastSum;
  TLongField FCountSales;
  TDoubleField FTotalSum;
  TAnsiField FExists;
};

}  // namespace fp
