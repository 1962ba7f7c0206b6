#include "windows/session_keys.h"

#include <opencv2/highgui/highgui_c.h>

#include <QCoreApplication>
#include <opencv2/highgui.hpp>

#include "windows/fit_windows.h"

namespace meravel {

SessionKeys::SessionKeys() {
  if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(this);
}

SessionKeys::~SessionKeys() {
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

bool SessionKeys::eventFilter(QObject* watched, QEvent* event) {
  // A key press reaches the image window itself only when none of its widgets (a trackbar's
  // slider) took it: exactly the presses that highgui reads.
  if (passing_on_ || event->type() != QEvent::KeyPress || !watched->inherits("CvWindow")) {
    return false;
  }
  if (!highgui_holds_key_ && held_.empty()) {
    highgui_holds_key_ = true;
    return false;  // highgui's pending key is free: it takes this one as it is
  }
  const QKeyEvent* key = static_cast<const QKeyEvent*>(event);
  held_.push_back({QPointer<QObject>(watched), key->key(), key->modifiers(), key->nativeScanCode(),
                   key->nativeVirtualKey(), key->nativeModifiers(), key->text(),
                   key->isAutoRepeat(), key->count()});
  return true;
}

void SessionKeys::pass_on_oldest() {
  const TypedKey typed = held_.front();
  held_.pop_front();
  // A window closed since (key d closes "Distance Transformation") hands its key to "Output":
  // highgui reads the keys of all its windows alike.
  // (The handle is highgui's window object, a QObject at the start of the widget.)
  QObject* window =
      typed.window ? typed.window.data() : static_cast<QObject*>(cvGetWindowHandle(kOutputWindow));
  if (!window) return;
  QKeyEvent press(QEvent::KeyPress, typed.key, typed.modifiers, typed.native_scan_code,
                  typed.native_virtual_key, typed.native_modifiers, typed.text, typed.auto_repeat,
                  static_cast<ushort>(typed.count));
  passing_on_ = true;
  QCoreApplication::sendEvent(window, &press);
  passing_on_ = false;
  highgui_holds_key_ = true;
}

int SessionKeys::next_key(int timeout_ms) {
  if (!highgui_holds_key_ && !held_.empty()) pass_on_oldest();
  const int key = cv::waitKey(timeout_ms);
  // cv::waitKey returns the pending key as soon as there is one; when it returns none, highgui
  // left the last key out (a Ctrl combination) and holds nothing.
  highgui_holds_key_ = false;
  return key;
}

}  // namespace meravel
