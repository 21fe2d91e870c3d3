// HeldInput: an application-wide event filter, set only while the pending events are processed with
// input held, keeps copies of the input events sent to windows and posts them back later.
#include "app/window/held_input.h"

#include <QCoreApplication>
#include <QEvent>

namespace kavrimo {

HeldInput::~HeldInput() = default;

void HeldInput::ProcessHoldingInput() {
  // A window system that keeps input apart (X11 does) hands it over only when input is let in: it
  // comes through here, to the filter, and the close requests of the window manager with it.
  QCoreApplication::instance()->installEventFilter(this);
  holding_ = true;
  QCoreApplication::processEvents();
  holding_ = false;
  QCoreApplication::instance()->removeEventFilter(this);
}

void HeldInput::Release() {
  for (auto& [window, event] : held_) {
    if (window) QCoreApplication::postEvent(window, event.release());
  }
  held_.clear();
}

bool HeldInput::eventFilter(QObject* watched, QEvent* event) {
  if (!holding_ || !watched->isWindowType() || !event->isInputEvent()) return false;
  held_.emplace_back(watched, event->clone());
  return true;
}

}  // namespace kavrimo
