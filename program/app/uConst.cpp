#include "program/app/uConst.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/Cp1251.h"
#include "platform/FileOps.h"
#include "platform/SysErrorText.h"
#include "platform/PathNames.h"

namespace fp::uConst {

namespace {

struct Globals {
  std::mutex mutex;
  QString cashierPas;
  std::vector<TPayTypePair> payTypePairs;
  QString bonFileExt;
  bool usePluAsDepartNo = false;
};

Globals& G() {
  static Globals g;
  return g;
}

template <typename T>
T Get(T Globals::*field) {
  std::lock_guard<std::mutex> lock(G().mutex);
  return G().*field;
}

template <typename T>
void Set(T Globals::*field, const T& value) {
  T copy = value;  // built outside the lock; the old value is released outside it too
  {
    std::lock_guard<std::mutex> lock(G().mutex);
    std::swap(G().*field, copy);
  }
}

}  // namespace

QString CashierPas() { return Get(&Globals::cashierPas); }
void SetCashierPas(const QString& password) { Set(&Globals::cashierPas, password); }
std::vector<TPayTypePair> PayTypePairs() { return Get(&Globals::payTypePairs); }
void SetPayTypePairs(const std::vector<TPayTypePair>& pairs) { Set(&Globals::payTypePairs, pairs); }
QString BonFileExt() { return Get(&Globals::bonFileExt); }
void SetBonFileExt(const QString& ext) { Set(&Globals::bonFileExt, ext); }
bool UsePluAsDepartNo() { return Get(&Globals::usePluAsDepartNo); }
void SetUsePluAsDepartNo(bool on) { Set(&Globals::usePluAsDepartNo, on); }

QString FromCp1251(std::string_view text) { return QString::fromStdString(Cp1251ToUtf8(text)); }
std::string ToCp1251(const QString& text) { return Utf8ToCp1251(text.toStdString()); }

}  // namespace fp::uConst
