// The main window as a user meets it: real widgets on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <functional>
#include <vector>

#include "app/myqtapp.h"

using namespace meravel;

namespace {

template <class T>
T* child(QWidget& window, const char* name) {
  T* widget = window.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

const char* const kInputControls[] = {
    "pushButton_do",     "pushButton_file_fwd", "pushButton_file_bwd",
    "pushButton_browse", "pushButton_process",  "lineEdit_threshold",
    "lineEdit_jump_to",  "lineEdit_lambda",     "lineEdit_directory"};

const char* const kAlwaysEnabled[] = {"directory",         "selected_dir",
                                      "label_threshold",   "label_lambda",
                                      "label_threshold_2", "textBrowser_file_overview"};

}  // namespace

TEST(MainWindow, StartsWithTheFormsWidgetsInCreationOrder) {
  myQtApp window;
  EXPECT_EQ(window.windowTitle(), "Meravel 1.7");
  EXPECT_EQ(window.objectName(), "myQtAppDLG");
  EXPECT_EQ(window.size(), QSize(361, 239));
  EXPECT_EQ(window.sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);

  struct Widget {
    const char* name;
    const char* class_name;
    QRect geometry;
    const char* text;
  } const form[] = {
      {"directory", "QLabel", {10, 10, 61, 21}, "Dir.:"},
      {"pushButton_do", "QPushButton", {90, 70, 141, 24}, "Take new measurement"},
      {"pushButton_browse", "QPushButton", {270, 10, 31, 21}, "..."},
      {"lineEdit_directory", "QLineEdit", {40, 10, 221, 22}, ""},
      {"pushButton_process", "QPushButton", {310, 10, 41, 21}, "Read!"},
      {"pushButton_file_bwd", "QPushButton", {10, 70, 31, 23}, "<"},
      {"pushButton_file_fwd", "QPushButton", {50, 70, 31, 23}, ">"},
      {"selected_dir", "QLabel", {10, 40, 341, 21}, "(no directory selected)"},
      {"label_threshold", "QLabel", {250, 70, 51, 20}, "Threshold:"},
      {"lineEdit_threshold", "QLineEdit", {310, 70, 41, 21}, "131"},
      {"textBrowser_file_overview",
       "QTextBrowser",
       {10, 130, 341, 101},
       "Please select a jpg containing directory."},
      {"label_lambda", "QLabel", {230, 100, 71, 20}, "Lambda*1000:"},
      {"lineEdit_lambda", "QLineEdit", {310, 100, 41, 21}, "1100"},
      {"label_threshold_2", "QLabel", {10, 100, 61, 20}, "Jump to file:"},
      {"lineEdit_jump_to", "QLineEdit", {80, 100, 41, 21}, ""},
  };
  const QObjectList& children = window.children();
  ASSERT_EQ(children.size(), 15);
  for (int i = 0; i < 15; ++i) {
    const Widget& expected = form[i];
    SCOPED_TRACE(expected.name);
    auto* widget = qobject_cast<QWidget*>(children[i]);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->objectName(), expected.name);
    EXPECT_STREQ(widget->metaObject()->className(), expected.class_name);
    EXPECT_EQ(widget->geometry(), expected.geometry);
    EXPECT_TRUE(widget->isEnabled());
    QString text;
    if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
    if (auto* button = qobject_cast<QPushButton*>(widget)) text = button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) text = edit->text();
    if (auto* browser = qobject_cast<QTextBrowser*>(widget)) text = browser->toPlainText();
    EXPECT_EQ(text, expected.text);
  }
  for (const char* name : {"directory", "pushButton_browse"}) {
    QSizePolicy policy = child<QWidget>(window, name)->sizePolicy();
    EXPECT_EQ(policy.horizontalPolicy(), QSizePolicy::Fixed) << name;
    EXPECT_EQ(policy.verticalPolicy(), QSizePolicy::Fixed) << name;
  }
  // The prompt's paragraph: the dialog font at 8 pt, no margins.
  QTextDocument* prompt = child<QTextBrowser>(window, "textBrowser_file_overview")->document();
  QTextCursor cursor(prompt);
  cursor.setPosition(1);
  QFont font = cursor.charFormat().font().resolve(prompt->defaultFont());
  EXPECT_EQ(font.family(), "MS Shell Dlg 2");
  EXPECT_EQ(font.pointSizeF(), 8.0);
  EXPECT_EQ(cursor.blockFormat().topMargin(), 0.0);
  EXPECT_EQ(cursor.blockFormat().leftMargin(), 0.0);

  // Keyboard focus follows the creation order.
  window.show();
  QWidget* focus = child<QWidget>(window, "pushButton_do");
  for (const char* next : {"pushButton_browse", "lineEdit_directory", "pushButton_process",
                           "pushButton_file_bwd", "pushButton_file_fwd", "lineEdit_threshold",
                           "textBrowser_file_overview", "lineEdit_lambda", "lineEdit_jump_to"}) {
    focus = focus->nextInFocusChain();
    while (focus->focusPolicy() == Qt::NoFocus) focus = focus->nextInFocusChain();
    EXPECT_EQ(focus->objectName(), next);
  }
}

TEST(MainWindow, LockShowsTheKeyHelpAndDisablesTheNineInputs) {
  myQtApp window;
  const std::string key_help =
      "<span style=\"font-family:'Fixedsys'; font-size:8pt;\">"
      "Please use the following keys on the OpenCV window:<br><br>"
      "ENTER: Save measurement<br>ESC: Cancel measurement<br><br>"
      "m: Set w-curve top and bottom by mouse.<br><br>"
      "s: Select region of interest by mouse.<br>q: Reset region of interest.<br>"
      "z: Show a part by mouse (z again: whole photograph).<br><br>"
      "o: Optimiser (all values)<br>p: Optimiser (width->lambda->all)<br>"
      "u: Optimiser (width)<br>i: Optimiser (lambda)<br>a: Automatic fit (all values)<br>"
      "f: Flip the top (green triangle) to the other end<br><br>"
      "w: Reposition (width)<br>h: Reposition (height)<br>t: Reposition (translation)<br>"
      "l: Reposition (lambda)<br>r: Reposition (all values)<br><br>"
      "d: Show visualisation of distance transformation<br>"
      "n: Dark object on a light ground (n again: light on dark)<br><br>"
      "k: Set the scale: click both ends of a known length.</span>";
  QTextDocument expected;
  expected.setHtml(QString::fromLatin1(key_help.c_str()));

  for (int twice = 0; twice < 2; ++twice) window.lock_all();
  auto* overview = child<QTextBrowser>(window, "textBrowser_file_overview");
  EXPECT_EQ(overview->toPlainText(), expected.toPlainText());
  EXPECT_EQ(overview->toPlainText().count('\n'), 27);  // twenty-eight lines
  for (const char* name : kInputControls)
    EXPECT_FALSE(child<QWidget>(window, name)->isEnabled()) << name;
  for (const char* name : kAlwaysEnabled)
    EXPECT_TRUE(child<QWidget>(window, name)->isEnabled()) << name;

  for (int twice = 0; twice < 2; ++twice) window.unlock_all();
  for (const char* name : kInputControls)
    EXPECT_TRUE(child<QWidget>(window, name)->isEnabled()) << name;
  EXPECT_EQ(overview->toPlainText(), expected.toPlainText());  // untouched by unlock_all
}

TEST(MainWindow, MetaObjectListsTheNineSlotsInOrder) {
  myQtApp window;
  const QMetaObject* meta = window.metaObject();
  EXPECT_STREQ(meta->className(), "myQtApp");
  EXPECT_EQ(meta->superClass(), &QWidget::staticMetaObject);
  const char* const signatures[] = {"get_path()",
                                    "process_directory()",
                                    "do_something()",
                                    "file_fwd()",
                                    "file_bwd()",
                                    "update_file_list()",
                                    "get_number_of_measures(string)",
                                    "lock_all()",
                                    "unlock_all()"};
  ASSERT_EQ(meta->methodCount() - meta->methodOffset(), 9);
  EXPECT_EQ(meta->propertyCount(), meta->propertyOffset());
  EXPECT_EQ(meta->enumeratorCount(), meta->enumeratorOffset());
  EXPECT_EQ(meta->classInfoCount(), meta->classInfoOffset());
  EXPECT_EQ(meta->constructorCount(), 0);
  for (int i = 0; i < 9; ++i) {
    QMetaMethod method = meta->method(meta->methodOffset() + i);
    EXPECT_EQ(method.methodSignature(), QByteArray(signatures[i]));
    EXPECT_EQ(method.methodType(), QMetaMethod::Slot);
    EXPECT_EQ(method.access(), QMetaMethod::Public);
  }
  EXPECT_STREQ(meta->method(meta->methodOffset() + 6).typeName(), "int");
  EXPECT_EQ(window.qt_metacast("myQtApp"), static_cast<void*>(&window));
  EXPECT_EQ(window.qt_metacast("QWidget"), static_cast<void*>(static_cast<QWidget*>(&window)));
}

TEST(MainWindow, MetaCallReachesSlotsByIndex) {
  myQtApp window;
  const int offset = window.metaObject()->methodOffset();
  void* no_arguments[] = {nullptr};
  // Index 7 is lock_all; what is left of the index comes back less the class's nine slots.
  EXPECT_EQ(window.qt_metacall(QMetaObject::InvokeMetaMethod, offset + 7, no_arguments), 7 - 9);
  EXPECT_FALSE(child<QWidget>(window, "pushButton_do")->isEnabled());
  EXPECT_EQ(window.qt_metacall(QMetaObject::InvokeMetaMethod, offset + 8, no_arguments), 8 - 9);
  EXPECT_TRUE(child<QWidget>(window, "pushButton_do")->isEnabled());

  // Index 6 takes the name by value and stores its count through the result pointer.
  using string = myQtApp::string;
  int count = -1;
  string name = "none.jpg";
  void* count_call[] = {&count, &name};
  window.qt_metacall(QMetaObject::InvokeMetaMethod, offset + 6, count_call);
  EXPECT_EQ(count, 0);  // no series directory, so no measures file
  count = -1;
  EXPECT_TRUE(QMetaObject::invokeMethod(&window, "get_number_of_measures", Qt::DirectConnection,
                                        Q_RETURN_ARG(int, count), Q_ARG(string, name)));
  EXPECT_EQ(count, 0);
}

class GetPath : public testing::Test {
 protected:
  void SetUp() override {
    saved_chooser_ = choose_directory;
    dialog_directory = "C:/";
    choose_directory = [this](QWidget* parent, const QString& caption, const QString& start) {
      calls_.push_back({parent, caption, start});
      return answers_.at(calls_.size() - 1);
    };
  }
  void TearDown() override { choose_directory = saved_chooser_; }

  struct Call {
    QWidget* parent;
    QString caption;
    QString start;
  };
  std::vector<Call> calls_;
  std::vector<QString> answers_;
  std::function<QString(QWidget*, const QString&, const QString&)> saved_chooser_;
};

TEST_F(GetPath, KeepsWhateverTheChooserReturnsAndOpensThereNextTime) {
  myQtApp window;
  answers_ = {"/data/series 1", "", "/data/other"};
  auto* field = child<QLineEdit>(window, "lineEdit_directory");
  field->setText("typed by hand");

  QTest::mouseClick(child<QPushButton>(window, "pushButton_browse"), Qt::LeftButton);
  EXPECT_EQ(field->text(), "/data/series 1");
  window.get_path();  // cancelled
  EXPECT_EQ(field->text(), "");
  EXPECT_EQ(dialog_directory, "");
  window.get_path();
  EXPECT_EQ(field->text(), "/data/other");

  ASSERT_EQ(calls_.size(), 3u);  // one click, one chooser: no second connection
  EXPECT_EQ(calls_[0].start, "C:/");
  EXPECT_EQ(calls_[1].start, "/data/series 1");
  EXPECT_EQ(calls_[2].start, "");
  EXPECT_EQ(calls_[0].parent, &window);
  EXPECT_EQ(calls_[0].caption, "Choose the directory of the photographs");
  EXPECT_EQ(child<QLabel>(window, "selected_dir")->text(), "(no directory selected)");
  EXPECT_EQ(child<QTextBrowser>(window, "textBrowser_file_overview")->toPlainText(),
            "Please select a jpg containing directory.");
}

TEST(MainWindow, ClosingItEndsTheEventLoopWithExitCodeZero) {
  auto* window = new myQtApp;
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->show();
  QTimer::singleShot(0, window, &QWidget::close);
  EXPECT_EQ(QApplication::exec(), 0);
}
