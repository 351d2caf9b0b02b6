#pragma once
// The small texts every message of the program is made of (Qt Core only).
#include <QString>

#include <exception>

#include "program/app/uStrRes.h"

namespace fp {

// The line break inside a message text.
inline const QString CR = QStringLiteral("\r");

// The text of an exception as a message: its 8-bit text in the program's locale.
inline QString ExceptionText(const std::exception& E) { return QString::fromLocal8Bit(E.what()); }

// The generic error message: ErrorOccurred, a line break, SeeErrorFileForDetails.
inline QString ErrorMessageText() {
  return uStrRes::Message(uStrRes::ErrorOccurred) + CR + uStrRes::Message(uStrRes::SeeErrorFileForDetails);
}

}  // namespace fp
