#include "Messages.h"

#include <QApplication>
#include <QFileDialog>

#include "langue.h"

namespace {

MessageAnswerer &Answerer() {
  static MessageAnswerer answerer;
  return answerer;
}

SaveFileAnswerer &SaveAnswerer() {
  static SaveFileAnswerer answerer;
  return answerer;
}

bool showing = false;

QMessageBox::Icon IconOf(MessageKind kind) {
  switch (kind) {
    case MessageKind::Warning: return QMessageBox::Warning;
    case MessageKind::Error: return QMessageBox::Critical;
    case MessageKind::Information: return QMessageBox::Information;
    case MessageKind::Confirmation: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

// Marks a box as open for as long as it lives; nested boxes leave the mark to
// the outermost one.
class ShowingMark {
 public:
  ShowingMark() : m_outer(!showing) { showing = true; }
  ~ShowingMark() {
    if (m_outer) showing = false;
  }
  ShowingMark(const ShowingMark &) = delete;
  ShowingMark &operator=(const ShowingMark &) = delete;

 private:
  bool m_outer;
};

}  // namespace

QMessageBox::StandardButton ShowMessage(MessageKind kind, const QString &text,
                                        QMessageBox::StandardButtons buttons, QWidget *parent) {
  // An answerer stands for the open box: a test that lets timers run inside
  // it sees MessageShowing() as the user would.
  const ShowingMark mark;
  if (Answerer()) return Answerer()(kind, text, buttons);
  if (!parent) parent = QApplication::activeWindow();
  QMessageBox box(IconOf(kind), Langue(TxtAppTitle), text, buttons, parent);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

bool MessageShowing() { return showing; }

void SetMessageAnswerer(MessageAnswerer answerer) { Answerer() = std::move(answerer); }

QString AskSaveFileName(const QString &caption, const QString &proposed, const QString &filter,
                        QWidget *parent) {
  const ShowingMark mark;
  if (SaveAnswerer()) return SaveAnswerer()(caption, proposed);
  if (Answerer()) return QString();
  if (!parent) parent = QApplication::activeWindow();
  return QFileDialog::getSaveFileName(parent, caption, proposed, filter, nullptr,
                                      QFileDialog::DontUseNativeDialog);
}

void SetSaveFileAnswerer(SaveFileAnswerer answerer) { SaveAnswerer() = std::move(answerer); }
