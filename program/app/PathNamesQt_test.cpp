#include "program/app/PathNamesQt.h"

#include <gtest/gtest.h>

namespace fp::test {
namespace {

// The QString forms give what the std::string forms give for the same UTF-8 text.
TEST(PathNamesQt, FollowTheSameRulesAsTheByteForms) {
  const char* const paths[] = {"/\xD0\xB2.d/\xD0\xB1\xD0\xBE\xD0\xBD.bon",
                               "/\xD0\xB2.d/\xD0\xB1\xD0\xBE\xD0\xBD",
                               "/in/.bon",
                               "bon.",
                               "",
                               "/in/",
                               "a.b.c"};
  for (const char* path : paths) {
    const QString q = QString::fromUtf8(path);
    EXPECT_EQ(ChangeFileExt(q, QStringLiteral(".rep")).toStdString(), ChangeFileExt(std::string(path), ".rep")) << path;
    EXPECT_EQ(ChangeFileExt(q, QString()).toStdString(), ChangeFileExt(std::string(path), "")) << path;
    EXPECT_EQ(WithSlash(q).toStdString(), WithSlash(std::string(path))) << path;
  }
  EXPECT_EQ(JoinPath(QStringLiteral("/var/bon"), QStringLiteral("a.bon")), QStringLiteral("/var/bon/a.bon"));
  EXPECT_EQ(JoinPath(QString(), QStringLiteral("a.bon")), QStringLiteral("a.bon"));
}

// A name that has no UTF-8 form (a lone surrogate) keeps every character but its extension.
TEST(PathNamesQt, WorkOnTheTextItself) {
  const QString name = QStringLiteral("x") + QChar(0xD800) + QStringLiteral(".bon");
  EXPECT_EQ(ChangeFileExt(name, QStringLiteral(".rep")), QStringLiteral("x") + QChar(0xD800) + QStringLiteral(".rep"));
}

}  // namespace
}  // namespace fp::test
