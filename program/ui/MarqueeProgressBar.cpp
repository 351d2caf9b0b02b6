#include "program/ui/MarqueeProgressBar.h"

namespace fp {

TMarqueeProgressBar::TMarqueeProgressBar(QWidget* Owner) : QProgressBar(Owner) {
  setObjectName(QStringLiteral("MarqueeBar"));
  setMinimum(0);
  setMaximum(100);
  setValue(0);
  setTextVisible(false);
  FStepTimer.setInterval(100);
  connect(&FStepTimer, &QTimer::timeout, this, &TMarqueeProgressBar::TimerTick);
  setVisible(false);
}

void TMarqueeProgressBar::SetActive(bool Value) {
  FActive = Value;
  if (Value) {
    if (!FStepTimer.isActive()) FStepTimer.start();
  } else {
    FStepTimer.stop();
  }
  setVisible(Value);
  setValue(0);
}

void TMarqueeProgressBar::TimerTick() {
  if (!FActive) {
    setValue(0);
    setVisible(false);
    return;
  }
  if (value() < maximum())
    ++FStepCounter;
  else
    FStepCounter = 0;
  // A bar stopped at the end of a sweep keeps its counter at 100 while its position goes
  // back to 0; counting on past the maximum would hand the bar values it ignores and
  // freeze it at 0, so the counter starts the sweep again instead.
  if (FStepCounter > maximum()) FStepCounter = 0;
  setValue(FStepCounter);
}

}  // namespace fp
