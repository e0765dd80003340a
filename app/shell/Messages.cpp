#include "Messages.h"

#include <QApplication>

#include "langue.h"

namespace {

MessageAnswerer &Answerer() {
  static MessageAnswerer answerer;
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

}  // namespace

QMessageBox::StandardButton ShowMessage(MessageKind kind, const QString &text,
                                        QMessageBox::StandardButtons buttons, QWidget *parent) {
  if (Answerer()) return Answerer()(kind, text, buttons);
  if (!parent) parent = QApplication::activeWindow();
  QMessageBox box(IconOf(kind), Langue(TxtAppTitle), text, buttons, parent);
  const bool outer = !showing;
  showing = true;
  const int answer = box.exec();
  if (outer) showing = false;
  return static_cast<QMessageBox::StandardButton>(answer);
}

bool MessageShowing() { return showing; }

void SetMessageAnswerer(MessageAnswerer answerer) { Answerer() = std::move(answerer); }
