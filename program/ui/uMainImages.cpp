#include "program/ui/uMainImages.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace fp::uMainImages {
namespace {

const QColor kBody(70, 80, 95);
const QColor kPaper(250, 250, 250);
const QColor kRed(205, 30, 30);
const QColor kGreen(40, 160, 60);
const QColor kAmber(240, 180, 30);

QPixmap Blank(int size) {
  QPixmap p(size, size);
  p.fill(Qt::transparent);
  return p;
}

// A receipt printer in a square of side s: paper coming out on top, a body below.
void DrawPrinter(QPainter& g, qreal s) {
  g.setPen(QPen(kBody.darker(130), s / 24.0));
  g.setBrush(kPaper);
  g.drawRect(QRectF(s * 0.28, s * 0.08, s * 0.44, s * 0.42));
  g.setPen(QPen(kBody, s / 32.0));
  for (int i = 0; i < 3; ++i)
    g.drawLine(QPointF(s * 0.34, s * (0.18 + i * 0.09)), QPointF(s * 0.66, s * (0.18 + i * 0.09)));
  g.setPen(QPen(kBody.darker(150), s / 24.0));
  g.setBrush(kBody);
  g.drawRoundedRect(QRectF(s * 0.08, s * 0.45, s * 0.84, s * 0.42), s * 0.08, s * 0.08);
  g.setBrush(kPaper);
  g.drawRect(QRectF(s * 0.25, s * 0.52, s * 0.5, s * 0.06));
}

void DrawDocument(QPainter& g, qreal s) {
  QPainterPath page;
  page.moveTo(s * 0.2, s * 0.06);
  page.lineTo(s * 0.62, s * 0.06);
  page.lineTo(s * 0.82, s * 0.26);
  page.lineTo(s * 0.82, s * 0.94);
  page.lineTo(s * 0.2, s * 0.94);
  page.closeSubpath();
  g.setPen(QPen(kBody, s / 16.0));
  g.setBrush(kPaper);
  g.drawPath(page);
  for (int i = 0; i < 3; ++i)
    g.drawLine(QPointF(s * 0.32, s * (0.42 + i * 0.16)), QPointF(s * 0.7, s * (0.42 + i * 0.16)));
}

void DrawBadge(QPainter& g, qreal s) {
  g.setPen(QPen(Qt::white, s / 20.0));
  g.setBrush(kRed);
  g.drawEllipse(QRectF(s * 0.5, s * 0.5, s * 0.48, s * 0.48));
}

void DrawRedCircle(QPainter& g, qreal s, bool bang) {
  g.setPen(QPen(kRed.darker(140), s / 16.0));
  g.setBrush(kRed);
  g.drawEllipse(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88));
  if (bang) {
    g.setPen(QPen(Qt::white, s / 8.0, Qt::SolidLine, Qt::RoundCap));
    g.drawLine(QPointF(s * 0.5, s * 0.25), QPointF(s * 0.5, s * 0.56));
    g.drawPoint(QPointF(s * 0.5, s * 0.74));
  }
}

void DrawTriangle(QPainter& g, qreal s) {
  QPolygonF t;
  t << QPointF(s * 0.5, s * 0.06) << QPointF(s * 0.94, s * 0.9) << QPointF(s * 0.06, s * 0.9);
  g.setPen(QPen(kAmber.darker(160), s / 16.0));
  g.setBrush(kAmber);
  g.drawPolygon(t);
  g.setPen(QPen(Qt::black, s / 10.0, Qt::SolidLine, Qt::RoundCap));
  g.drawLine(QPointF(s * 0.5, s * 0.36), QPointF(s * 0.5, s * 0.6));
  g.drawPoint(QPointF(s * 0.5, s * 0.76));
}

template <class F>
QPixmap Draw(int size, F&& body) {
  QPixmap p = Blank(size);
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  body(g, static_cast<qreal>(size));
  return p;
}

QIcon TrayIcon(bool offline) {
  QIcon icon;
  for (int size : {16, 22, 32, 48}) {
    icon.addPixmap(Draw(size, [offline](QPainter& g, qreal s) {
      DrawPrinter(g, s);
      g.setPen(QPen(Qt::white, s / 16.0));
      g.setBrush(offline ? kRed : kGreen);
      g.drawEllipse(QRectF(s * 0.56, s * 0.56, s * 0.42, s * 0.42));
      if (offline) {
        g.setPen(QPen(Qt::white, s / 12.0, Qt::SolidLine, Qt::RoundCap));
        g.drawLine(QPointF(s * 0.67, s * 0.67), QPointF(s * 0.87, s * 0.87));
        g.drawLine(QPointF(s * 0.87, s * 0.67), QPointF(s * 0.67, s * 0.87));
      }
    }));
  }
  return icon;
}

// The printer with an amber folder and a red bar across it at the lower right.
QIcon FolderFaultIcon() {
  QIcon icon;
  for (int size : {16, 22, 32, 48}) {
    icon.addPixmap(Draw(size, [](QPainter& g, qreal s) {
      DrawPrinter(g, s);
      QPainterPath folder;
      folder.moveTo(s * 0.48, s * 0.56);
      folder.lineTo(s * 0.66, s * 0.56);
      folder.lineTo(s * 0.72, s * 0.62);
      folder.lineTo(s * 0.98, s * 0.62);
      folder.lineTo(s * 0.98, s * 0.96);
      folder.lineTo(s * 0.48, s * 0.96);
      folder.closeSubpath();
      g.setPen(QPen(Qt::white, s / 16.0));
      g.setBrush(kAmber);
      g.drawPath(folder);
      g.setPen(QPen(kRed, s / 9.0, Qt::SolidLine, Qt::RoundCap));
      g.drawLine(QPointF(s * 0.54, s * 0.92), QPointF(s * 0.92, s * 0.64));
    }));
  }
  return icon;
}

// The printer with an amber warning triangle at the lower right.
QIcon AttentionIcon() {
  QIcon icon;
  for (int size : {16, 22, 32, 48}) {
    icon.addPixmap(Draw(size, [](QPainter& g, qreal s) {
      DrawPrinter(g, s);
      g.save();
      g.translate(s * 0.46, s * 0.46);
      DrawTriangle(g, s * 0.54);
      g.restore();
    }));
  }
  return icon;
}

}  // namespace

QPixmap LogoPicture() {
  return Draw(64, [](QPainter& g, qreal s) { DrawPrinter(g, s); });
}

QPixmap ErrorPicture() {
  return Draw(32, [](QPainter& g, qreal s) { DrawRedCircle(g, s, true); });
}

QIcon TrayIconNormal() { return TrayIcon(false); }
QIcon TrayIconOffline() { return TrayIcon(true); }
QIcon TrayIconFolderFault() { return FolderFaultIcon(); }
QIcon TrayIconAttention() { return AttentionIcon(); }

std::vector<QPixmap> HintImages() {
  constexpr int n = 17;
  return {
      Draw(n, [](QPainter& g, qreal s) { DrawPrinter(g, s); }),
      Draw(n, [](QPainter& g, qreal s) { DrawDocument(g, s); }),
      Draw(n,
           [](QPainter& g, qreal s) {
             DrawPrinter(g, s);
             DrawBadge(g, s);
           }),
      Draw(n, [](QPainter& g, qreal s) { DrawRedCircle(g, s, false); }),
      Draw(n,
           [](QPainter& g, qreal s) {
             DrawDocument(g, s);
             DrawBadge(g, s);
           }),
      Draw(n,
           [](QPainter& g, qreal s) {
             DrawTriangle(g, s);
             DrawBadge(g, s);
           }),
  };
}

}  // namespace fp::uMainImages
