// The program's windows driven as a user drives them: start-up, the menu
// enabling rules through the real menu actions, the help windows, and the
// layout of the live panels.
#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>
#include <QTimer>

#include <functional>

#include "CadreAcquisition.h"
#include "DialogCapteur.h"
#include "DialogConfigAcqu.h"
#include "DialogSupport.h"
#include "ListeAfficheAngle.h"
#include "ListeCapteurs.h"
#include "ShellTest.h"
#include "dialogApropos.h"
#include "dialogconfig.h"
#include "langue.h"
#include "principale.h"

namespace {

class MainWindowTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    CreateWindows();
    ASSERT_NE(FenetrePrincipale, nullptr);
    FenetrePrincipale->show();
  }
  void TearDown() override {
    DestroyWindows();
    ShellTest::TearDown();
  }

  static QAction *Action(const char *name) {
    auto *a = FenetrePrincipale->findChild<QAction *>(QString::fromLatin1(name));
    EXPECT_NE(a, nullptr) << name;
    return a;
  }
  static bool Enabled(const char *name) { return Action(name)->isEnabled(); }

  // Runs trigger; the modal dialog it opens is given inside() (while it is
  // open) and then closed with result.
  static void WithModal(const char *action, int result, const std::function<void()> &inside = {}) {
    bool seen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
        poll.stop();
        seen = true;
        if (inside) inside();
        d->done(result);
      }
    });
    poll.start(5);
    Action(action)->trigger();
    EXPECT_TRUE(seen) << action << " opened no modal dialog";
  }
};

TEST_F(MainWindowTest, StartUpCreatesEachWindowOnceInOrder) {
  // The dialogs are the main window's, in the order they were created.
  QStringList order;
  for (QObject *child : FenetrePrincipale->children())
    if (qobject_cast<QDialog *>(child)) order << child->metaObject()->className();
  EXPECT_EQ(order, (QStringList{"TFenetreConfig", "TFenetreAPropos", "TFenetreCapteur",
                                "TConfigAcquisition", "TFenetreSupport"}));
  const QWidget *dialogs[] = {FenetreConfig, FenetreAPropos, FenetreCapteur, ConfigAcquisition,
                              FenetreSupport};
  for (const QWidget *d : dialogs) {
    ASSERT_NE(d, nullptr);
    EXPECT_FALSE(d->isVisible()) << d->metaObject()->className();
  }
  // Creating the configuration dialog loaded the settings: the file exists.
  EXPECT_EQ(FileBytes().size(), 532);
  EXPECT_TRUE(messages.empty());

  EXPECT_EQ(FenetrePrincipale->windowTitle(), QStringLiteral("Nivelix v3.6.2"));
  const struct {
    const char *name;
    const char *caption;
  } captions[] = {{"MenuFichier", "&File"},       {"MenuQuitter", "&Quit"},
                  {"MenuSys", "&System"},         {"MenuConfig", "&Configuration"},
                  {"MenuCapteur", "Sens&or"},     {"MenuAffiche", "Sensor &reading"},
                  {"MenuAcquisition", "&Acquisition"}, {"MenuAide", "&Help"},
                  {"MenuAPropos", "A&bout ..."},  {"MenuSuppTech", "&Technical support"}};
  for (const auto &c : captions) EXPECT_EQ(Action(c.name)->text(), QString::fromUtf8(c.caption));
  EXPECT_EQ(FenetrePrincipale->menuBar()->objectName(), QStringLiteral("MenuPrincipal"));
  EXPECT_EQ(FenetrePrincipale->statusBar()->objectName(), QStringLiteral("BarreStatusPrincipale"));
  EXPECT_EQ(FenetrePrincipale->statusBar()->height(), 19);
  EXPECT_EQ(FenetrePrincipale->centralWidget(), FenetrePrincipale->PanelCadres());
  ASSERT_NE(SensorList, nullptr);
  EXPECT_EQ(SensorList->Count(), 0);

  DestroyWindows();
  EXPECT_EQ(FenetrePrincipale, nullptr);
  EXPECT_EQ(FenetreSupport, nullptr);
  EXPECT_EQ(SensorList, nullptr);
}

TEST_F(MainWindowTest, MenusFollowTheUserFromConfigurationToAcquisition) {
  // Created: nothing to read or record yet; clearing an empty submenu changes nothing.
  FenetrePrincipale->ClearSensorReadingItems();
  EXPECT_FALSE(Enabled("MenuAffiche"));
  EXPECT_FALSE(Enabled("MenuAcquisition"));
  EXPECT_TRUE(Enabled("MenuCapteur"));
  EXPECT_TRUE(Enabled("MenuSys"));

  // Cancel, then apply with no sensor: the menus stay; only apply saves.
  WithModal("MenuConfig", ConfigCancel);
  EXPECT_EQ(FileBytes().size(), 532);
  WithModal("MenuConfig", ConfigApply);
  EXPECT_EQ(FileBytes().size(), 1064);
  EXPECT_FALSE(Enabled("MenuAffiche"));
  EXPECT_FALSE(Enabled("MenuAcquisition"));

  // A scan found two sensors: one item each, then apply enables both menus.
  SensorData a;
  a.Family = 1;
  a.Reference = "KV72500-10";
  a.SerialNumber = 1234;
  SensorData b;
  b.Reference = "KV72800 & co";
  b.SerialNumber = 77;
  FenetrePrincipale->AddSensorReadingItem(SensorList->AddSensor(a, 1));
  FenetrePrincipale->AddSensorReadingItem(SensorList->AddSensor(b, 1));
  QMenu *submenu = FenetrePrincipale->findChild<QMenu *>(QStringLiteral("MenuAffiche"));
  ASSERT_EQ(submenu->actions().size(), 2);
  EXPECT_EQ(submenu->actions()[0]->text(), QString::fromUtf8("KV72500-10 n°1234"));
  EXPECT_EQ(submenu->actions()[1]->text(), QString::fromUtf8("KV72800 && co n°77"));
  EXPECT_EQ(submenu->actions()[1]->data().toInt(), 1);
  WithModal("MenuConfig", ConfigApply);
  EXPECT_TRUE(Enabled("MenuAffiche"));
  EXPECT_TRUE(Enabled("MenuAcquisition"));

  // A sensor chosen for live reading: no acquisition until its panel goes.
  submenu->actions()[0]->trigger();
  EXPECT_FALSE(Enabled("MenuAcquisition"));
  const int panels = FenetrePrincipale->Panels().Count();
  for (int n = panels; n >= 1; --n) FenetrePrincipale->RemovePanel(n);
  if (panels == 0) FenetrePrincipale->RemovePanel(1);
  EXPECT_EQ(FenetrePrincipale->Panels().Count(), 0);
  EXPECT_TRUE(Enabled("MenuAcquisition"));

  // A new scan starts: the items go and the acquisition command is enabled.
  submenu->actions()[1]->trigger();
  EXPECT_FALSE(Enabled("MenuAcquisition"));
  FenetrePrincipale->ClearSensorReadingItems();
  EXPECT_TRUE(submenu->actions().isEmpty());
  EXPECT_TRUE(Enabled("MenuAcquisition"));
  EXPECT_EQ(FenetrePrincipale->Panels().Count() > 0, panels > 0);

  // Acquisition: while its dialog is open only File and Help are available;
  // the live panels are gone; cancelling gives the menus back.
  WithModal("MenuAcquisition", 0, [] {
    EXPECT_FALSE(Enabled("MenuCapteur"));
    EXPECT_FALSE(Enabled("MenuSys"));
    EXPECT_TRUE(Enabled("MenuFichier"));
    EXPECT_TRUE(Enabled("MenuAide"));
    EXPECT_EQ(FenetrePrincipale->Panels().Count(), 0);
  });
  EXPECT_TRUE(Enabled("MenuCapteur"));
  EXPECT_TRUE(Enabled("MenuSys"));

  // Confirmed, but the file cannot be created: no frame, menus as before.
  SetShortStringText(Settings.AcquisitionFile, QStringLiteral("/proc/nivelix/none/Acquisition.txt"));
  WithModal("MenuAcquisition", 1);
  EXPECT_EQ(AcquisitionFrame, nullptr);
  EXPECT_TRUE(Enabled("MenuCapteur"));
  EXPECT_TRUE(Enabled("MenuSys"));
}

TEST_F(MainWindowTest, ApplyWhoseSaveFailsLeavesTheMenusAndKeepsTheSettings) {
  SensorData a;
  a.Reference = "KV72800";
  FenetrePrincipale->AddSensorReadingItem(SensorList->AddSensor(a, 1));
  // Something stands at the file's name that cannot be read as a record.
  ASSERT_TRUE(QFile::remove(QString::fromLatin1(SettingsFileName)));
  ASSERT_TRUE(QDir().mkdir(QString::fromLatin1(SettingsFileName)));
  PendingSettings.AngleUnit = 3;
  WithModal("MenuConfig", ConfigApply, [] { ApplyPendingSettings(); });
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].kind, MessageKind::Error);
  EXPECT_FALSE(Enabled("MenuAffiche"));
  EXPECT_FALSE(Enabled("MenuAcquisition"));
  EXPECT_EQ(Settings.AngleUnit, 3);
  EXPECT_TRUE(QFileInfo(QString::fromLatin1(SettingsFileName)).isDir());
}

TEST_F(MainWindowTest, QuitAndClosingTheMainWindowEndTheProgram) {
  // Table: how the user ends it; a help window left open does not keep it.
  const std::function<void()> ends[] = {
      [] { Action("MenuQuitter")->trigger(); },
      [] { FenetrePrincipale->close(); },
  };
  for (const auto &end : ends) {
    FenetrePrincipale->show();
    Action("MenuAPropos")->trigger();
    QTimer::singleShot(0, FenetrePrincipale, end);
    QTimer::singleShot(10000, [] { QApplication::exit(1); });  // the loop did not end
    EXPECT_EQ(QApplication::exec(), 0);
  }
}

TEST_F(MainWindowTest, HelpWindowsAreOneEachAndLeaveTheMainWindowUsable) {
  Action("MenuAPropos")->trigger();
  Action("MenuAPropos")->trigger();
  EXPECT_EQ(FenetrePrincipale->findChildren<TFenetreAPropos *>().size(), 1);
  EXPECT_TRUE(FenetreAPropos->isVisible());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(FenetreAPropos->windowTitle(), QStringLiteral("A Propos ..."));
  auto *image = FenetreAPropos->findChild<QLabel *>(QStringLiteral("Image1"));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->pixmap().size(), QSize(295, 62));
  auto *ok = FenetreAPropos->findChild<QPushButton *>(QStringLiteral("BoutOKApropos"));
  ASSERT_NE(ok, nullptr);
  EXPECT_TRUE(ok->isDefault());
  ok->click();
  EXPECT_FALSE(FenetreAPropos->isVisible());
  Action("MenuAPropos")->trigger();
  EXPECT_TRUE(FenetreAPropos->isVisible());

  Action("MenuSuppTech")->trigger();
  EXPECT_TRUE(FenetreSupport->isVisible());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(FenetreSupport->windowTitle(), QStringLiteral("Support technique"));
  auto *texte = FenetreSupport->findChild<QTextEdit *>(QStringLiteral("Texte"));
  ASSERT_NE(texte, nullptr);
  EXPECT_EQ(texte->toPlainText().split(QLatin1Char('\n')),
            (QStringList{Langue(TxtSupportCompany), Langue(TxtSupportAddress1),
                         Langue(TxtSupportAddress2), Langue(TxtSupportPhoneFax),
                         Langue(TxtSupportWeb)}));
  EXPECT_EQ(texte->toPlainText().split(QLatin1Char('\n')).first(), QStringLiteral("KORVALIS S.A."));
  EXPECT_TRUE(texte->isReadOnly());
  EXPECT_EQ(texte->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(texte->font().pixelSize(), 32);
  // Every line shows whole, whatever the platform's font.
  EXPECT_GE(texte->viewport()->width(), qRound(texte->document()->idealWidth()));
  EXPECT_GE(texte->size().width(), 369);
  EXPECT_GE(texte->size().height(), 145);
  FenetreSupport->findChild<QPushButton *>(QStringLiteral("BoutOK"))->click();
  EXPECT_FALSE(FenetreSupport->isVisible());
}

TEST(PanelSlotTest, PanelsShareTheAreaFromTheTop) {
  const struct {
    int count, width, height, h;
  } cases[] = {{1, 528, 320, 320}, {2, 528, 300, 150}, {3, 400, 310, 103}, {7, 100, 6, 0}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.count);
    for (int i = 0; i < c.count; ++i)
      EXPECT_EQ(PanelSlot(i, c.count, QSize(c.width, c.height)), QRect(0, c.h * i, c.width, c.h));
  }
  // Three in 310 pixels: one pixel stays empty at the bottom.
  EXPECT_EQ(PanelSlot(2, 3, QSize(400, 310)).bottom(), 308);
  EXPECT_TRUE(PanelSlot(0, 0, QSize(400, 310)).isNull());
}

}  // namespace
