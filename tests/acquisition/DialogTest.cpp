// The acquisition settings dialog: the sample count of a period and a
// duration, what each showing resets, and the file choice.
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QTimer>

#include "AcquisitionFixture.h"

namespace {

TEST(SampleCount, PeriodsAndDurations) {
  const struct {
    int32_t period, days, hours, minutes;
    int unit;
    bool valid;
    int32_t periodSeconds, samples;
  } rows[] = {
      {10, 0, 0, 1, UnitSecondes, true, 10, 6},
      {1, 1, 0, 0, UnitMinutes, true, 60, 1440},
      {7, 0, 0, 1, UnitSecondes, true, 7, 8},
      {5, 0, 0, 1, UnitMinutes, true, 300, 0},
      {2, 0, 0, 1, UnitHours, true, 7200, 0},
      {1, 255, 23, 59, UnitDays, true, 86400, 255},
      {1, 0, 30, 0, UnitSecondes, true, 1, 108000},  // hours beyond the arrows
      {0, 0, 0, 1, UnitSecondes, false, 0, 0},
      {5, 0, -3, 1, UnitSecondes, false, 0, 0},
      {5, 0, 0, 0, UnitSecondes, false, 0, 0},
      {5, 0, 0, 1, -1, true, 42, 1},  // no unit: one sample, period kept
      // Typed values whose seconds overflow 32 bits.
      {1, 24855, 0, 0, UnitSecondes, true, 1, 2147472000},
      {1, 24856, 0, 0, UnitSecondes, false, 0, 0},
      {1, 0, 0, 2147483647, UnitSecondes, false, 0, 0},
      {24856, 1, 0, 0, UnitDays, false, 0, 0},
      {2147483647, 1, 0, 0, UnitMinutes, false, 0, 0},
  };
  for (const auto &r : rows) {
    const SampleCountResult got = ComputeSamples(r.period, r.days, r.hours, r.minutes, r.unit, 42);
    EXPECT_EQ(got.valid, r.valid) << r.period << " " << r.days << "J " << r.hours << "h " << r.minutes;
    if (!r.valid || !got.valid) continue;
    EXPECT_EQ(got.periodSeconds, r.periodSeconds) << r.period;
    EXPECT_EQ(got.sampleCount, r.samples) << r.period;
  }
}

class AcquisitionDialog : public AcquisitionFixture {
 protected:
  QString Count() { return dialog.findChild<QLineEdit *>("EditNbrEch")->text(); }
  TConfigAcquisition dialog;
};

TEST_F(AcquisitionDialog, ShowingResetsAllButTheUnit) {
  EXPECT_EQ(dialog.windowTitle(), "Parameters");
  dialog.FormShow();
  EXPECT_EQ(Count(), "12");
  EXPECT_EQ(dialog.FilePath(), Path("acq.txt"));

  Type(dialog, "EditPeriode", "10");
  EXPECT_EQ(Count(), "6");
  Type(dialog, "EditPeriode", "");
  EXPECT_EQ(Count(), "6") << "an empty period keeps the last one";
  Type(dialog, "EditPeriode", "2.5");
  EXPECT_EQ(Count(), "6");
  Type(dialog, "EditDureeHeures", "-3");
  EXPECT_EQ(Count(), "Err");
  EXPECT_EQ(dialog.SampleCount(), 6) << "Err keeps the last valid values";
  EXPECT_EQ(dialog.PeriodSeconds(), 10);
  Type(dialog, "EditDureeHeures", "30");
  EXPECT_EQ(Count(), QString::number((30 * 3600 + 60) / 10));
  Type(dialog, "EditDureeJours", "99999");
  EXPECT_EQ(Count(), "Err") << "seconds beyond 32 bits";
  Type(dialog, "EditDureeJours", "0");
  Type(dialog, "EditPeriode", "0");
  EXPECT_EQ(Count(), "Err");

  // The arrows step within their range; the unit list recomputes.
  Type(dialog, "EditPeriode", "255");
  dialog.findChild<TUpDown *>("UpDown1")->Step(1);
  EXPECT_EQ(dialog.findChild<QLineEdit *>("EditPeriode")->text(), "255");
  dialog.findChild<QComboBox *>("ListeUnitePeriode")->setCurrentIndex(UnitMinutes);
  EXPECT_EQ(dialog.PeriodSeconds(), 255 * 60);
  Type(dialog, "EditEnregistre", Path("other.txt"));

  dialog.FormShow();
  EXPECT_EQ(dialog.findChild<QLineEdit *>("EditPeriode")->text(), "5");
  EXPECT_EQ(dialog.findChild<QLineEdit *>("EditDureeJours")->text(), "0");
  EXPECT_EQ(dialog.findChild<QLineEdit *>("EditDureeHeures")->text(), "0");
  EXPECT_EQ(dialog.findChild<QLineEdit *>("EditDureeMin")->text(), "1");
  EXPECT_EQ(dialog.FilePath(), Path("acq.txt"));
  EXPECT_EQ(dialog.findChild<QComboBox *>("ListeUnitePeriode")->currentIndex(), UnitMinutes);
  EXPECT_EQ(Count(), "0") << "5 minutes over one minute";
  EXPECT_EQ(dialog.PeriodSeconds(), 300);
}

TEST_F(AcquisitionDialog, SaveDialogOpensInTheFileFolderWithItsName) {
  ASSERT_TRUE(QDir(dir.path()).mkpath("site"));
  const QString working = QDir::currentPath();
  dialog.FormShow();
  Type(dialog, "EditEnregistre", Path("site/y.txt"));
  QString seenFolder, seenName;
  auto answerSaveDialog = [&](bool confirm) {
    // Answers the dialog once it is up.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      QFileDialog *save = dialog.SauveDialog();
      if (!save->isVisible()) return;
      poll.stop();
      seenFolder = save->directory().absolutePath();
      auto *name = save->findChild<QLineEdit *>("fileNameEdit");
      ASSERT_NE(name, nullptr);
      seenName = name->text();
      if (confirm) {
        name->setText("z");
        QMetaObject::invokeMethod(save, "accept");
      } else {
        QMetaObject::invokeMethod(save, "reject");
      }
    });
    poll.start(10);
    dialog.BoutSauveClick();
  };
  answerSaveDialog(false);
  EXPECT_EQ(seenFolder, QDir(Path("site")).absolutePath());
  EXPECT_EQ(seenName, "y");
  EXPECT_EQ(dialog.FilePath(), Path("site/y.txt")) << "cancel changes nothing";
  answerSaveDialog(true);
  EXPECT_EQ(dialog.FilePath(), QDir::toNativeSeparators(Path("site/z.txt")));
  EXPECT_EQ(QDir::currentPath(), working) << "the settings file stays where the program started";
}

// OK: refused while the count is not one the run can take; a file with
// data is replaced only on Yes (No stays in the dialog); the run then takes
// exactly the period and count shown.
TEST_F(AcquisitionDialog, OkRefusesWhatTheRunCannotTakeAndAsksBeforeReplacing) {
  const struct {
    const char *name;
    const char *period, *minutes;
    int unit;
    const char *fileData;  // nullptr: no file
    QMessageBox::StandardButton answer;
    LangueId message;  // 0: none
    bool accepted;
  } rows[] = {
      {"Err", "0", "1", UnitSecondes, nullptr, QMessageBox::Ok, TxtAcqCountRefused, false},
      {"Err after a valid count", "99999999", "1", UnitDays, nullptr, QMessageBox::Ok,
       TxtAcqCountRefused, false},
      {"zero samples", "5", "1", UnitMinutes, nullptr, QMessageBox::Ok, TxtAcqCountRefused, false},
      {"new file", "10", "1", UnitSecondes, nullptr, QMessageBox::Ok, LangueId(0), true},
      {"empty file", "10", "1", UnitSecondes, "", QMessageBox::Ok, LangueId(0), true},
      {"file with data, No", "10", "1", UnitSecondes, "10 lines\r\n", QMessageBox::No,
       TxtAcqReplaceFile, false},
      {"file with data, Yes", "10", "1", UnitSecondes, "10 lines\r\n", QMessageBox::Yes,
       TxtAcqReplaceFile, true},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    messages.clear();
    answer = row.answer;
    QFile::remove(Path("acq.txt"));
    if (row.fileData) {
      QFile f(Path("acq.txt"));
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(row.fileData);
    }
    dialog.FormShow();
    dialog.findChild<QComboBox *>("ListeUnitePeriode")->setCurrentIndex(row.unit);
    Type(dialog, "EditPeriode", row.period);
    Type(dialog, "EditDureeMin", row.minutes);
    dialog.setResult(QDialog::Rejected);
    dialog.accept();
    EXPECT_EQ(dialog.result() == QDialog::Accepted, row.accepted);
    if (row.message == 0) {
      EXPECT_TRUE(messages.empty());
    } else {
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_TRUE(messages[0].second.startsWith(Langue(row.message).section("%1", 0, 0)))
          << messages[0].second.toStdString();
    }
    if (row.message == TxtAcqReplaceFile) {
      EXPECT_TRUE(messages[0].second.contains(QDir::toNativeSeparators(Path("acq.txt"))));
      EXPECT_EQ(Contents(Path("acq.txt")), QByteArray(row.fileData)) << "the dialog writes nothing";
    }
    if (row.accepted) {
      EXPECT_EQ(QString::number(dialog.SampleCount()), Count());
      EXPECT_EQ(dialog.PeriodSeconds(), 10);
    }
  }
}

}  // namespace
