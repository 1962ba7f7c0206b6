// The keys typed on the image windows during a session, kept in the order typed.
//
// highgui keeps one pending key, and each key press overwrites it. Key presses that arrive while
// the program computes (an optimiser run, a reload) are all handled in the next pass of the event
// loop, so all of them but the last would be lost. While a SessionKeys lives, each key press that
// reaches an image window is held in its own queue instead, and handed to highgui one at a time,
// when the previous one has been taken: every key is read, in order, with highgui's own key code.
#pragma once

#include <QKeyEvent>
#include <QObject>
#include <QPointer>
#include <QString>
#include <deque>

namespace meravel {

class SessionKeys : public QObject {
 public:
  // Watches the application's key presses from now on (when there is an application).
  SessionKeys();
  ~SessionKeys() override;
  SessionKeys(const SessionKeys&) = delete;
  SessionKeys& operator=(const SessionKeys&) = delete;

  // The next key typed, as cv::waitKey reports it: a key typed earlier and held here first,
  // otherwise one typed within `timeout_ms`; -1 when there is none.
  int next_key(int timeout_ms);

  // Whether a typed key waits to be read.
  bool holds_keys() const { return highgui_holds_key_ || !held_.empty(); }

  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct TypedKey {
    QPointer<QObject> window;  // the image window it was typed on
    int key;
    Qt::KeyboardModifiers modifiers;
    quint32 native_scan_code;
    quint32 native_virtual_key;
    quint32 native_modifiers;
    QString text;
    bool auto_repeat;
    int count;
  };

  // Hands the oldest held key to highgui as the window it was typed on would have received it.
  void pass_on_oldest();

  std::deque<TypedKey> held_;
  // Set when a key went on to highgui and cv::waitKey has not returned since.
  bool highgui_holds_key_ = false;
  bool passing_on_ = false;
};

}  // namespace meravel
