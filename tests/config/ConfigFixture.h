// ConfigFixture: the configuration and sensor dialogs on a simulated line
// behind COM5, in a fresh temporary directory (the settings file is written
// to the current directory), with every message box answered and recorded.
#ifndef NIVELIX_TESTS_CONFIGFIXTURE_H
#define NIVELIX_TESTS_CONFIGFIXTURE_H

#include <gtest/gtest.h>

#include <unistd.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include "DefCom72500.h"
#include "DefCom72800.h"
#include "DialogCapteur.h"
#include "ListeCapteurs.h"
#include "Messages.h"
#include "SimFixture.h"
#include "ThScrute.h"
#include "dialogconfig.h"
#include "globales.h"
#include "langue.h"
#include "VerrouPort.h"

namespace config_test {

// One message box that was asked.
struct Shown {
  MessageKind kind;
  QString text;
  QMessageBox::StandardButtons buttons;
};

// The configuration dialog with what the scan showed through it recorded.
class RecordingConfig : public TFenetreConfig {
 public:
  std::vector<std::string> statuses;
  std::vector<int> progress;
  std::vector<TCapteur *> published;
  int clearedItems = 0;
  int removedPanels = 0;
  int discardedFrames = 0;
  // Run on every progress update, before the scan processes events.
  std::function<void(int)> onProgress;

  RecordingConfig() {
    ConfigMainWindowHooks hooks;
    hooks.RemoveAllPanels = [this] { ++removedPanels; };
    hooks.ClearSensorReadingItems = [this] { ++clearedItems; };
    hooks.AddSensorReadingItem = [this](TCapteur *s) { published.push_back(s); };
    hooks.DiscardAcquisitionFrame = [this] { ++discardedFrames; };
    SetMainWindowHooks(hooks);
  }
  void SetScanStatus(const std::string &text) override {
    statuses.push_back(text);
    TFenetreConfig::SetScanStatus(text);
  }
  void SetScanProgress(int32_t percent) override {
    progress.push_back(percent);
    TFenetreConfig::SetScanProgress(percent);
    if (onProgress) onProgress(percent);
  }
};

template <class W>
W *Child(QWidget *parent, const char *name) {
  W *w = parent->findChild<W *>(QString::fromLatin1(name));
  EXPECT_NE(w, nullptr) << name;
  return w;
}

// Clicks a button from the event loop, as a user's click arrives while a
// handler processes pending events.
inline void ClickLater(QAbstractButton *button) {
  QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
}

inline std::string Text(LangueId id) { return Langue(id).toStdString(); }

class ConfigFixture : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    m_dir = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(m_dir->isValid());
    m_oldDir = get_current_dir_name();
    ASSERT_EQ(chdir(m_dir->path().toLocal8Bit().constData()), 0);
    SensorList = &m_sensors;
    SetMessageAnswerer([this](MessageKind kind, const QString &text, QMessageBox::StandardButtons buttons) {
      shown.push_back({kind, text, buttons});
      if (!answers.empty()) {
        const auto a = answers.front();
        answers.pop_front();
        return a;
      }
      // The first button offered (Yes before Cancel, OK alone).
      for (auto b : {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::Cancel})
        if (buttons & b) return b;
      return QMessageBox::NoButton;
    });
  }

  void TearDown() override {
    SetScanShell(nullptr);
    SetMessageAnswerer({});
    m_sensors.ClearSensors();
    SensorList = nullptr;
    Com72500_ClosePort();
    Com72800_ClosePort();
    // Before the pseudo-terminal goes: its number is free for the next test
    // program, which must not find it locked by this one.
    VerrouProgramme().Liberer();
    if (m_oldDir) {
      EXPECT_EQ(chdir(m_oldDir), 0);
      free(m_oldDir);
    }
    m_dir.reset();
    SimFixture::TearDown();
  }

  // The line of the settings in force: COM5 (the simulator) and link.
  void UseLine(uint8_t link) {
    Settings.PortNumber = comNumber;
    Settings.LinkType = link;
    PendingSettings = Settings;
  }

  std::vector<QString> Texts() const {
    std::vector<QString> t;
    for (const auto &s : shown) t.push_back(s.text);
    return t;
  }

  std::deque<QMessageBox::StandardButton> answers;
  std::vector<Shown> shown;
  TlistCapteur m_sensors;

 private:
  std::unique_ptr<QTemporaryDir> m_dir;
  char *m_oldDir = nullptr;
};

}  // namespace config_test

#endif
