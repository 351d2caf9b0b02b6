// The notes through the desktop's notification service, with the bus call faked: what
// would be sent, and the note window as the fall-back.
#include "program/ui/uDesktopNotification.h"

#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include <vector>

#include "program/ui/uCustomHint.h"
#include "program/ui/uMainTestSupport.h"

namespace fp::test {
namespace {

using namespace uDesktopNotification;

TEST(DesktopNotification, OnlyAWaylandSessionWantsTheService) {
  EXPECT_TRUE(WantsService(QStringLiteral("wayland")));
  EXPECT_TRUE(WantsService(QStringLiteral("wayland-egl")));
  EXPECT_FALSE(WantsService(QStringLiteral("xcb")));
  EXPECT_FALSE(WantsService(QStringLiteral("offscreen")));
}

// Each note is one Notify call; the next replaces the one the service still shows. A
// service that answers with an error has not taken the note.
TEST(DesktopNotification, SendsEachNoteAsANotifyCallThatReplacesTheLast) {
  std::vector<QDBusMessage> calls;
  bool answer = true;
  uint nextId = 17;
  const auto sender = NoteSender(QStringLiteral("Драйвер за фискален принтер"), [&](const QDBusMessage& call) {
    calls.push_back(call);
    return answer ? call.createReply(QVariantList{nextId++})
                  : call.createErrorReply(QDBusError::ServiceUnknown, QStringLiteral("none"));
  });
  ASSERT_TRUE(sender({QStringLiteral("Няма връзка <COM1> & хартия\nПроверете кабела")}));
  ASSERT_TRUE(sender({QStringLiteral("втора")}));
  answer = false;
  EXPECT_FALSE(sender({QStringLiteral("трета")}));
  ASSERT_EQ(calls.size(), 3u);
  const QDBusMessage& first = calls[0];
  EXPECT_EQ(first.service(), "org.freedesktop.Notifications");
  EXPECT_EQ(first.path(), "/org/freedesktop/Notifications");
  EXPECT_EQ(first.interface(), "org.freedesktop.Notifications");
  EXPECT_EQ(first.member(), "Notify");
  const QVariantList a = first.arguments();
  ASSERT_EQ(a.size(), 8);
  EXPECT_EQ(a[0].toString(), QStringLiteral("Драйвер за фискален принтер"));
  EXPECT_EQ(a[1].toUInt(), 0u);
  EXPECT_EQ(a[3].toString(), QStringLiteral("Драйвер за фискален принтер"));
  EXPECT_EQ(a[4].toString(), QStringLiteral("Няма връзка &lt;COM1&gt; &amp; хартия\nПроверете кабела"));
  EXPECT_TRUE(a[5].toStringList().isEmpty());
  EXPECT_EQ(a[7].toInt(), TCustomHint::HideAfterMs);
  EXPECT_EQ(calls[1].arguments()[1].toUInt(), 17u);
  EXPECT_EQ(calls[2].arguments()[1].toUInt(), 18u);
}

// A note the desktop took does not show the note window; one it did not take does.
TEST(DesktopNotification, TheNoteWindowIsTheFallBack) {
  std::vector<QString> sent;
  bool takes = true;
  uCustomHint::SetNoteSender([&](const uCustomHint::TDesktopNote& note) {
    sent.push_back(note.Body);
    return takes;
  });
  TCustomHint& window = uCustomHint::CustomHintWnd();
  window.HideTimerTick();
  uCustomHint::ShowHintMessage(QPixmap(), QStringLiteral("Няма хартия.\rПроверете"), 0);
  EXPECT_FALSE(window.isVisible());
  takes = false;
  uCustomHint::ShowHintMessage(QPixmap(), QStringLiteral("Няма връзка"), 0);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.Caption(), QStringLiteral("Няма връзка"));
  uCustomHint::SetNoteSender({});
  window.HideTimerTick();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], QStringLiteral("Няма хартия.\nПроверете"));
}

}  // namespace
}  // namespace fp::test
