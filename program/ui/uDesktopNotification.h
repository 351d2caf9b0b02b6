#pragma once
// The desktop's notification service (org.freedesktop.Notifications on the session bus).
// On a Wayland desktop a program cannot place a window of its own: the note window would
// come up wherever the compositor puts it (at the pointer, over the main window), or not
// at all. There the notes go to the service, which shows them where the desktop shows
// every program's notes; without one the note window stays.
#include <QDBusMessage>
#include <QString>

#include <functional>

#include "program/ui/uCustomHint.h"

namespace fp::uDesktopNotification {

inline constexpr char Service[] = "org.freedesktop.Notifications";
inline constexpr char Path[] = "/org/freedesktop/Notifications";
inline constexpr char Interface[] = "org.freedesktop.Notifications";

// The notes go to the service on a Wayland session (Qt's platform "wayland", "wayland-egl").
bool WantsService(const QString& PlatformName);

// Sends a method call and returns its reply (an error reply when none came in time).
using TBusCall = std::function<QDBusMessage(const QDBusMessage& Call)>;
// The call on the session bus, waiting at most a second for the answer.
TBusCall SessionBusCall();

// A note sender (uCustomHint::SetNoteSender): each note is a Notify call with the program's
// name as summary; a note replaces the one the service still shows of the program. False
// when the service did not take it.
uCustomHint::TNoteSender NoteSender(const QString& Summary, TBusCall Call = SessionBusCall());

}  // namespace fp::uDesktopNotification
