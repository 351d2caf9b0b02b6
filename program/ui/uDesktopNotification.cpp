#include "program/ui/uDesktopNotification.h"

#include <QDBusConnection>
#include <QStringList>
#include <QVariantMap>

#include <memory>

namespace fp::uDesktopNotification {
namespace {

// A service that shows markup would take "<" and "&" in a text for it.
QString PlainBody(QString Text) {
  Text.replace(QLatin1Char('&'), QStringLiteral("&amp;"));
  Text.replace(QLatin1Char('<'), QStringLiteral("&lt;"));
  Text.replace(QLatin1Char('>'), QStringLiteral("&gt;"));
  return Text;
}

}  // namespace

bool WantsService(const QString& PlatformName) { return PlatformName.startsWith(QLatin1String("wayland")); }

TBusCall SessionBusCall() {
  return [](const QDBusMessage& Call) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return Call.createErrorReply(QDBusError::Disconnected, QStringLiteral("no session bus"));
    return bus.call(Call, QDBus::Block, 1000);
  };
}

uCustomHint::TNoteSender NoteSender(const QString& Summary, TBusCall Call) {
  auto shownId = std::make_shared<uint>(0);
  return [Summary, call = std::move(Call), shownId](const uCustomHint::TDesktopNote& Note) {
    QDBusMessage m = QDBusMessage::createMethodCall(QLatin1String(Service), QLatin1String(Path),
                                                    QLatin1String(Interface), QStringLiteral("Notify"));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout
    m << Summary << *shownId << QString() << Summary << PlainBody(Note.Body) << QStringList() << QVariantMap()
      << static_cast<int>(Note.TimeoutMs);
    const QDBusMessage reply = call(m);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    *shownId = reply.arguments().constFirst().toUInt();
    return true;
  };
}

}  // namespace fp::uDesktopNotification
