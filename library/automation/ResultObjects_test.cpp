#include "library/automation/ResultObjects.h"

#include <cstring>
#include <map>
#include <set>
#include <span>
#include <string>

#include <gtest/gtest.h>

#include "library/automation/ComServer.h"
#include "platform/com/ComPtr.h"
#include "platform/com/OleAuto.h"

namespace fp {
namespace {

template <class I>
ComPtr<I> Make(TComClassFactory& F) {
  return CreateResultObject<I>(F);
}

// Every property of a result interface, through IDispatch by name: each put stores a value
// of its own, and every get then reads back the value of its own property, so no two
// properties share a field and every DISPID reaches its own field.
void ExpectIndependentProperties(IDispatch* Disp, const TDispTable& Table,
                                 const std::set<std::string>& Flags = {}) {
  std::map<std::string, Variant> Put;
  int N = 0;
  for (const TDispEntry& E : Table.Items()) {
    if (E.Kind != TDispKind::PropPut || Flags.count(E.Name)) continue;
    ++N;
    Variant V;
    switch (E.Args[0].Vt) {
      case VT_R8: V = Variant(N + 0.25); break;
      case VT_I4: V = Variant(LONG(N * 1000)); break;
      default: V = Variant(u"v" + std::u16string(1, char16_t(u'A' + N))); break;
    }
    Variant Arg = V;
    ASSERT_EQ(DispCallByName(Disp, std::u16string(E.Name, E.Name + strlen(E.Name)),
                             DISPATCH_PROPERTYPUT, std::span<VARIANT>(static_cast<VARIANT*>(&Arg), 1), nullptr),
              S_OK)
        << E.Name;
    Put.emplace(E.Name, V);
  }
  for (const auto& [Name, Expected] : Put) {
    Variant Got;
    ASSERT_EQ(DispCallByName(Disp, std::u16string(Name.begin(), Name.end()), DISPATCH_PROPERTYGET, {},
                             &Got),
              S_OK)
        << Name;
    ASSERT_EQ(Got.vt, Expected.vt) << Name;
    switch (Got.vt) {
      case VT_R8: EXPECT_EQ(Got.dblVal, Expected.dblVal) << Name; break;
      case VT_I4: EXPECT_EQ(Got.lVal, Expected.lVal) << Name; break;
      default: EXPECT_EQ(BstrView(Got.bstrVal), BstrView(Expected.bstrVal)) << Name; break;
    }
  }
}

TEST(ResultObjectsTest, EveryPropertyHasItsOwnField) {
  ExpectIndependentProperties(Make<IBonData>(BonDataFactory()).Get(), IBonData::DispTable(),
                              {"IsInvoice", "IsOpen"});
  ExpectIndependentProperties(Make<IXReportData>(XReportDataFactory()).Get(), IXReportData::DispTable());
  ExpectIndependentProperties(Make<IAdvLines>(AdvLinesFactory()).Get(), IAdvLines::DispTable());
  ExpectIndependentProperties(Make<IDepartTotals>(DepartTotalsFactory()).Get(), IDepartTotals::DispTable());
}

TEST(ResultObjectsTest, FlagsStoreTrueOnlyForOne) {
  ComPtr<IBonData> B = Make<IBonData>(BonDataFactory());
  for (auto [Put, Get] : {std::pair{1, 1}, {2, 0}, {-1, 0}, {0, 0}, {1, 1}}) {
    LONG Invoice = -5, Open = -5;
    ASSERT_EQ(B->put_IsInvoice(Put), S_OK);
    ASSERT_EQ(B->put_IsOpen(Put), S_OK);
    ASSERT_EQ(B->get_IsInvoice(&Invoice), S_OK);
    ASSERT_EQ(B->get_IsOpen(&Open), S_OK);
    EXPECT_EQ(Invoice, Get) << Put;
    EXPECT_EQ(Open, Get) << Put;
  }
  LONG Open = -5;
  ASSERT_EQ(B->put_IsInvoice(1), S_OK);
  ASSERT_EQ(B->put_IsOpen(0), S_OK);
  ASSERT_EQ(B->get_IsOpen(&Open), S_OK);
  EXPECT_EQ(Open, 0);
}

TEST(ResultObjectsTest, EightBitTextsGoThroughCodePage1251) {
  ComPtr<IDepartTotals> D = Make<IDepartTotals>(DepartTotalsFactory());
  ComPtr<IAdvLines> A = Make<IAdvLines>(AdvLinesFactory());
  ComPtr<IBonData> B = Make<IBonData>(BonDataFactory());
  const std::u16string Bulgarian = u"Хляб и мляко №5";
  const std::u16string Foreign = u"Łódź 中";  // not in code page 1251
  BStr Out;

  ASSERT_EQ(D->put_Description(BStr(Bulgarian).Get()), S_OK);
  ASSERT_EQ(D->get_Description(Out.Out()), S_OK);
  EXPECT_EQ(Out.View(), Bulgarian);
  ASSERT_EQ(A->put_Line8(BStr(Bulgarian).Get()), S_OK);
  ASSERT_EQ(A->get_Line8(Out.Out()), S_OK);
  EXPECT_EQ(Out.View(), Bulgarian);

  ASSERT_EQ(D->put_AddText(BStr(Foreign).Get()), S_OK);
  ASSERT_EQ(D->get_AddText(Out.Out()), S_OK);
  EXPECT_EQ(Out.View(), u"??d? ?");
  // DocNumber is kept wide.
  ASSERT_EQ(B->put_DocNumber(BStr(Foreign).Get()), S_OK);
  ASSERT_EQ(B->get_DocNumber(Out.Out()), S_OK);
  EXPECT_EQ(Out.View(), Foreign);
}

TEST(ResultObjectsTest, FreshObjectIsZeroAndEmpty) {
  ComPtr<IDepartTotals> D = Make<IDepartTotals>(DepartTotalsFactory());
  BStr Exists;
  LONG Nom = -1;
  double Sum = -1;
  ASSERT_EQ(D->get_Exists(Exists.Out()), S_OK);
  ASSERT_EQ(D->get_Nom(&Nom), S_OK);
  ASSERT_EQ(D->get_TotalSum(&Sum), S_OK);
  EXPECT_EQ(Exists.Length(), 0u);
  EXPECT_EQ(Nom, 0);
  EXPECT_EQ(Sum, 0);
  EXPECT_EQ(D->get_Nom(nullptr), E_POINTER);
}

}  // namespace
}  // namespace fp
