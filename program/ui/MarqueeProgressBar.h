#pragma once
// The busy bar: a progress bar without a real progress value that sweeps from 0 to 100
// over and over while it is active. The main window shows it in its status bar while a
// task runs.
#include <QProgressBar>
#include <QTimer>

#include <cstdint>

namespace fp {

class TMarqueeProgressBar : public QProgressBar {
  Q_OBJECT
 public:
  explicit TMarqueeProgressBar(QWidget* Owner = nullptr);

  bool Active() const { return FActive; }
  // Runs and shows the bar, or stops and hides it; the position goes back to 0 either
  // way, the step counter is kept, so a new activation continues the sweep.
  void SetActive(bool Value);

  // One step of the step timer (every 100 ms while active).
  void TimerTick();

  int32_t StepCounter() const { return FStepCounter; }
  const QTimer& StepTimer() const { return FStepTimer; }

 private:
  QTimer FStepTimer;
  int32_t FStepCounter = 0;
  bool FActive = false;
};

}  // namespace fp
