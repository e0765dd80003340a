// ShellTest: what the shell tests share. Every test runs in a fresh
// temporary directory (the settings file lives in the current directory) and
// answers message boxes through a log instead of showing them.
#ifndef NIVELIX_SHELLTEST_H
#define NIVELIX_SHELLTEST_H

#include <gtest/gtest.h>

#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

#include "AsUnprivileged.h"
#include "Messages.h"
#include "globales.h"

struct AskedMessage {
  MessageKind kind;
  QString text;
};

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(m_dir->isValid());
    m_oldDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_dir->path()));
    SetMessageAnswerer([this](MessageKind kind, const QString &text, QMessageBox::StandardButtons) {
      messages.push_back({kind, text});
      return answer;
    });
  }

  void TearDown() override {
    SetMessageAnswerer({});
    QDir::setCurrent(m_oldDir);
    m_dir.reset();
  }

  // The bytes of the settings file, or an empty array when there is none.
  static QByteArray FileBytes(const char *name = SettingsFileName) {
    QFile f(QString::fromLatin1(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  static void WriteFile(const QByteArray &bytes) {
    QFile f(QString::fromLatin1(SettingsFileName));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
  }
  static QByteArray Image(const SettingsRecord &r) {
    return QByteArray(reinterpret_cast<const char *>(&r), sizeof r);
  }
  QString Dir() const { return m_dir->path(); }

  std::vector<AskedMessage> messages;
  QMessageBox::StandardButton answer = QMessageBox::Ok;

 private:
  std::unique_ptr<QTemporaryDir> m_dir;
  QString m_oldDir;
};

#endif
