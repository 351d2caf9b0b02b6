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

namespace fp::test {
namespace {

template <class I>
ComPtr<I> Make(TComClassFactory& F) {
  return CreateResultObject<I>(F);
}

// Every property of a result interface, through IDispatch by name: each put stores a value
// of its own, and every get then reads back the value of its own property, so no two
// properties share a field and every DISPID reaches its own field.
void ExpectIndependentProperties(IDispatch* Disp, const TDispTable& Table, const std::set<std::string>& Flags = {}) {
  std::map<std::string, Variant> put;
  int n = 0;
  for (const TDispEntry& e : Table.Items()) {
    if (e.Kind != TDispKind::PropPut || Flags.count(e.Name)) continue;
    ++n;
    Variant v;
    switch (e.Args[0].Vt) {
      case VT_R8: v = Variant(n + 0.25); break;
      case VT_I4: v = Variant(LONG(n * 1000)); break;
      default: v = Variant(u"v" + std::u16string(1, char16_t(u'A' + n))); break;
    }
    Variant arg = v;
    ASSERT_EQ(DispCallByName(Disp, std::u16string(e.Name, e.Name + strlen(e.Name)), DISPATCH_PROPERTYPUT,
                             std::span<VARIANT>(static_cast<VARIANT*>(&arg), 1), nullptr),
              S_OK)
        << e.Name;
    put.emplace(e.Name, v);
  }
  for (const auto& [Name, Expected] : put) {
    Variant got;
    ASSERT_EQ(DispCallByName(Disp, std::u16string(Name.begin(), Name.end()), DISPATCH_PROPERTYGET, {}, &got), S_OK)
        << Name;
    ASSERT_EQ(got.vt, Expected.vt) << Name;
    switch (got.vt) {
      case VT_R8: EXPECT_EQ(got.dblVal, Expected.dblVal) << Name; break;
      case VT_I4: EXPECT_EQ(got.lVal, Expected.lVal) << Name; break;
      default: EXPECT_EQ(BstrView(got.bstrVal), BstrView(Expected.bstrVal)) << Name; break;
    }
  }
}

TEST(ResultObjectsTest, EveryPropertyHasItsOwnField) {
  ExpectIndependentProperties(Make<IBonData>(BonDataFactory()).Get(), IBonData::DispTable(), {"IsInvoice", "IsOpen"});
  ExpectIndependentProperties(Make<IXReportData>(XReportDataFactory()).Get(), IXReportData::DispTable());
  ExpectIndependentProperties(Make<IAdvLines>(AdvLinesFactory()).Get(), IAdvLines::DispTable());
  ExpectIndependentProperties(Make<IDepartTotals>(DepartTotalsFactory()).Get(), IDepartTotals::DispTable());
}

TEST(ResultObjectsTest, FlagsStoreTrueOnlyForOne) {
  ComPtr<IBonData> b = Make<IBonData>(BonDataFactory());
  for (auto [Put, Get] : {std::pair{1, 1}, {2, 0}, {-1, 0}, {0, 0}, {1, 1}}) {
    LONG invoice = -5, open = -5;
    ASSERT_EQ(b->put_IsInvoice(Put), S_OK);
    ASSERT_EQ(b->put_IsOpen(Put), S_OK);
    ASSERT_EQ(b->get_IsInvoice(&invoice), S_OK);
    ASSERT_EQ(b->get_IsOpen(&open), S_OK);
    EXPECT_EQ(invoice, Get) << Put;
    EXPECT_EQ(open, Get) << Put;
  }
  LONG open = -5;
  ASSERT_EQ(b->put_IsInvoice(1), S_OK);
  ASSERT_EQ(b->put_IsOpen(0), S_OK);
  ASSERT_EQ(b->get_IsOpen(&open), S_OK);
  EXPECT_EQ(open, 0);
}

TEST(ResultObjectsTest, EightBitTextsGoThroughCodePage1251) {
  ComPtr<IDepartTotals> d = Make<IDepartTotals>(DepartTotalsFactory());
  ComPtr<IAdvLines> a = Make<IAdvLines>(AdvLinesFactory());
  ComPtr<IBonData> b = Make<IBonData>(BonDataFactory());
  const std::u16string bulgarian = u"Хляб и мляко №5";
  const std::u16string foreign = u"Łódź 中";  // not in code page 1251
  BStr out;

  ASSERT_EQ(d->put_Description(BStr(bulgarian).Get()), S_OK);
  ASSERT_EQ(d->get_Description(out.Out()), S_OK);
  EXPECT_EQ(out.View(), bulgarian);
  ASSERT_EQ(a->put_Line8(BStr(bulgarian).Get()), S_OK);
  ASSERT_EQ(a->get_Line8(out.Out()), S_OK);
  EXPECT_EQ(out.View(), bulgarian);

  ASSERT_EQ(d->put_AddText(BStr(foreign).Get()), S_OK);
  ASSERT_EQ(d->get_AddText(out.Out()), S_OK);
  EXPECT_EQ(out.View(), u"??d? ?");
  // DocNumber is kept wide.
  ASSERT_EQ(b->put_DocNumber(BStr(foreign).Get()), S_OK);
  ASSERT_EQ(b->get_DocNumber(out.Out()), S_OK);
  EXPECT_EQ(out.View(), foreign);
}

TEST(ResultObjectsTest, FreshObjectIsZeroAndEmpty) {
  ComPtr<IDepartTotals> d = Make<IDepartTotals>(DepartTotalsFactory());
  BStr exists;
  LONG nom = -1;
  double sum = -1;
  ASSERT_EQ(d->get_Exists(exists.Out()), S_OK);
  ASSERT_EQ(d->get_Nom(&nom), S_OK);
  ASSERT_EQ(d->get_TotalSum(&sum), S_OK);
  EXPECT_EQ(exists.Length(), 0u);
  EXPECT_EQ(nom, 0);
  EXPECT_EQ(sum, 0);
  EXPECT_EQ(d->get_Nom(nullptr), E_POINTER);
}

}  // namespace
}  // namespace fp::test
