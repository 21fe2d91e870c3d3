// What the image component needs of a user interface: the modal error box and the busy cursor.
//
// The window implements it with Qt, the command line with standard error, tests with a recorder, so
// every message the component shows can be observed.
#pragma once

#include <string>

namespace kavrimo {

class ImageUi {
 public:
  virtual ~ImageUi() = default;
  // A modal message box of the error kind (title "Error", error icon, one "OK" button); returns when
  // it is closed.
  virtual void ShowError(const std::string& text) = 0;
  // The application-wide busy cursor on (true) or back to normal (false).
  virtual void SetBusyCursor(bool busy) = 0;
};

// Shows the busy cursor from construction until Release or destruction, so every way out of an
// operation, an exception included, brings the normal cursor back.
class BusyCursor {
 public:
  explicit BusyCursor(ImageUi& ui) : ui_(ui) { ui_.SetBusyCursor(true); }
  ~BusyCursor() { Release(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

  void Release() {
    if (active_) ui_.SetBusyCursor(false);
    active_ = false;
  }

 private:
  ImageUi& ui_;
  bool active_ = true;
};

}  // namespace kavrimo
