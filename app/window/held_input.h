// HeldInput: the user's input held back while a command runs, so that the window system's other
// events (a repaint, a close sent by the window manager) can be handled at every progress step while
// clicks and keys wait for the points where the command lets them in.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>
#include <utility>
#include <vector>

class QEvent;

namespace kavrimo {

class HeldInput : public QObject {
 public:
  HeldInput() = default;
  // Input still held is dropped with its windows.
  ~HeldInput() override;
  HeldInput(const HeldInput&) = delete;
  HeldInput& operator=(const HeldInput&) = delete;

  // Handles every pending event except the user's input to a window (mouse, keys, wheel, touch),
  // which is kept, in its order, until Release.
  void ProcessHoldingInput();
  // Hands the input kept back to its windows (those still open), in its order, ahead of any input
  // that arrives later; it is handled with the next events processed.
  void Release();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool holding_ = false;
  std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> held_;
};

}  // namespace kavrimo
