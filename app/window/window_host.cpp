// WindowHost: Qt implementation of the Convert command's front end.
#include "app/window/window_host.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <algorithm>

namespace kavrimo {

namespace {

constexpr char16_t kEscapedByte = 0xDC00;  // + the byte (0x80 to 0xFF)

// The length of the valid UTF-8 sequence at text[at] and its code point; 0 when there is none (a
// stray continuation byte, a cut sequence, an overlong form, a surrogate, a value above U+10FFFF).
std::size_t Utf8Sequence(const std::string& text, std::size_t at, char32_t& code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  char32_t min = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  if ((lead & 0xE0) == 0xC0) {
    length = 2, code = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

void AppendUtf8(std::string& out, char32_t code) {
  const auto put = [&](char32_t c) { out += static_cast<char>(c); };
  if (code < 0x80) {
    put(code);
  } else if (code < 0x800) {
    put(0xC0 | (code >> 6)), put(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    put(0xE0 | (code >> 12)), put(0x80 | ((code >> 6) & 0x3F)), put(0x80 | (code & 0x3F));
  } else {
    put(0xF0 | (code >> 18)), put(0x80 | ((code >> 12) & 0x3F)), put(0x80 | ((code >> 6) & 0x3F)),
        put(0x80 | (code & 0x3F));
  }
}

}  // namespace

QString FromNative(const std::string& text) {
  QString result;
  result.reserve(static_cast<qsizetype>(text.size()));
  for (std::size_t at = 0; at < text.size();) {
    char32_t code = 0;
    if (const std::size_t length = Utf8Sequence(text, at, code); length > 0) {
      const char32_t one[] = {code};
      result += QString::fromUcs4(one, 1);
      at += length;
    } else {
      result += QChar(static_cast<char16_t>(kEscapedByte + static_cast<unsigned char>(text[at])));
      ++at;
    }
  }
  return result;
}

std::string ToNative(const QString& text) {
  std::string result;
  result.reserve(static_cast<std::size_t>(text.size()));
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i].unicode();
    if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())) {
      AppendUtf8(result, QChar::surrogateToUcs4(unit, text[i + 1].unicode()));
      ++i;
    } else if (unit >= kEscapedByte + 0x80 && unit <= kEscapedByte + 0xFF) {
      result += static_cast<char>(unit - kEscapedByte);
    } else if (QChar::isSurrogate(unit)) {
      AppendUtf8(result, 0xFFFD);  // no name yields it; nothing to give back but the replacement character
    } else {
      AppendUtf8(result, unit);
    }
  }
  return result;
}

WindowHost::WindowHost(QLabel& status, QProgressBar& progress, FormDialogs& dialogs)
    : status_(status), progress_(progress), dialogs_(dialogs) {}

WindowHost::~WindowHost() { SetBusyCursor(false); }

void WindowHost::SetStatus(const std::string& text) {
  status_.setText(FromNative(text));
  status_.adjustSize();
}

void WindowHost::SetProgress(int position) {
  progress_.setValue(std::clamp(position, progress_.minimum(), progress_.maximum()));
  held_input_.ProcessHoldingInput();
  if (cancel_) throw ConversionCancelled();
}

void WindowHost::ProcessMessages() {
  held_input_.Release();
  QCoreApplication::processEvents();
  if (cancel_) throw ConversionCancelled();
}

void WindowHost::ShowInformation(const std::string& text) {
  dialogs_.ShowMessage(FormDialogs::Icon::Information, QStringLiteral("Information"), FromNative(text));
}

void WindowHost::ShowError(const std::string& text) {
  dialogs_.ShowMessage(FormDialogs::Icon::Critical, QStringLiteral("Error"), FromNative(text));
}

void WindowHost::SetBusyCursor(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

}  // namespace kavrimo
