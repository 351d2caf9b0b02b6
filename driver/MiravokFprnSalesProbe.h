#pragma once
// For tests: the automation object with its receipt state open to the test, and a way to
// put it into the state in which StartBon leaves an open receipt. Header only.
#include "driver/MiravokFprnUnit.h"

namespace fp::test {

class TSalesProbe : public TMiravokFprn {
 public:
  using TMiravokFprn::TMiravokFprn;
  using TMiravokFprn::FBonType;
  using TMiravokFprn::FDiagnosticInfo;
  using TMiravokFprn::FLastPrice;
  using TMiravokFprn::FLastQuantity;
  using TMiravokFprn::FLastVATGroup;
  using TMiravokFprn::FLineLength;
  using TMiravokFprn::FLocale;
  using TMiravokFprn::FNonFiscalOpen;
  using TMiravokFprn::FPaidTotal;
  using TMiravokFprn::FPLUNumbering;
  using TMiravokFprn::FReceiptTotal;

  // The receipt fields as StartBon sets them for an opened receipt of BonType.
  void OpenReceipt(int32_t BonType, bool Numbering = false) {
    FBonType = BonType;
    FNonFiscalOpen = BonType == 1;
    FPLUNumbering = Numbering;
    FReceiptTotal = FPaidTotal = FLastPrice = FLastQuantity = 0;
    FLastVATGroup = 1;
  }

  // A new probe with one reference held by the caller (Release ends it).
  static TSalesProbe* Create(TComModule& Module) {
    auto* P = new TSalesProbe(Module, nullptr);
    P->AddRef();
    P->Initialize();
    return P;
  }
};

}  // namespace fp::test
