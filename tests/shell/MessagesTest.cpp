// Message boxes: a box counts as open for as long as it is, so that timer
// ticks can see it and not stack a second one, with the real box as with a
// test's answerer.
#include <gtest/gtest.h>

#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "Messages.h"

namespace {

TEST(MessagesTest, ABoxIsShowingWhileItIsOpenAnsweredOrReal) {
  // Answered: the answerer runs while the box "is open", a nested box too.
  std::vector<bool> seen;
  SetMessageAnswerer([&](MessageKind kind, const QString &, QMessageBox::StandardButtons) {
    seen.push_back(MessageShowing());
    if (kind == MessageKind::Confirmation) ShowMessage(MessageKind::Error, QStringLiteral("inner"));
    seen.push_back(MessageShowing());
    return QMessageBox::Yes;
  });
  EXPECT_FALSE(MessageShowing());
  EXPECT_EQ(ShowMessage(MessageKind::Confirmation, QStringLiteral("outer"),
                        QMessageBox::Yes | QMessageBox::No),
            QMessageBox::Yes);
  EXPECT_EQ(seen, (std::vector<bool>{true, true, true, true}));
  EXPECT_FALSE(MessageShowing());
  SetMessageAnswerer({});

  // Real: a modal box with the program's title, kind and buttons; the
  // button chosen comes back.
  bool checked = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box) return;
    poll.stop();
    checked = true;
    EXPECT_TRUE(MessageShowing());
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Nivelix"));
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->text(), QStringLiteral("careful"));
    box->button(QMessageBox::No)->click();
  });
  poll.start(5);
  EXPECT_EQ(ShowMessage(MessageKind::Warning, QStringLiteral("careful"),
                        QMessageBox::Yes | QMessageBox::No),
            QMessageBox::No);
  EXPECT_TRUE(checked);
  EXPECT_FALSE(MessageShowing());
}

}  // namespace
