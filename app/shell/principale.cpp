#include "principale.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

#include "AfficheAngle.h"
#include "CadreAcquisition.h"
#include "Capteur.h"
#include "DialogCapteur.h"
#include "DialogConfigAcqu.h"
#include "DialogSupport.h"
#include "ListeAfficheAngle.h"
#include "ListeCapteurs.h"
#include "ThreadSec.h"
#include "WmPanelStop.h"
#include "dialogApropos.h"
#include "dialogconfig.h"
#include "globales.h"
#include "langue.h"

TFenetrePrincipale *FenetrePrincipale = nullptr;
TFenetreConfig *FenetreConfig = nullptr;
TFenetreAPropos *FenetreAPropos = nullptr;
TFenetreCapteur *FenetreCapteur = nullptr;
TConfigAcquisition *ConfigAcquisition = nullptr;
TFenetreSupport *FenetreSupport = nullptr;

namespace {

constexpr int DesignWidth = 528;
constexpr int DesignHeight = 383;
constexpr int StatusBarHeight = 19;
// What the acquisition settings dialog returns when the user confirms.
constexpr int AcquisitionConfirmed = 1;

// Destroys window and clears the pointer to it when owner owns it.
template <typename Window>
void DeleteOwnedWindow(Window *&window, QWidget *owner) {
  if (window && window->parentWidget() == owner) {
    delete window;
    window = nullptr;
  }
}

}  // namespace

QRect PanelSlot(int index, int count, QSize area) {
  if (count <= 0) return QRect();
  const int h = area.height() / count;
  return QRect(0, h * index, area.width(), h);
}

TFenetrePrincipale::TFenetrePrincipale(QWidget *parent)
    : QMainWindow(parent), m_panels(std::make_unique<TListAfficheAngle>()) {
  setObjectName(QStringLiteral("FenetrePrincipale"));
  setWindowTitle(Langue(TxtCaptionPrincipale));
  resize(DesignWidth, DesignHeight);

  m_panelCadres = new QWidget(this);
  m_panelCadres->setObjectName(QStringLiteral("PanelCadres"));
  m_panelCadres->setAccessibleName(Langue(TxtAccPanelCadres));
  m_panelCadres->installEventFilter(this);
  setCentralWidget(m_panelCadres);

  m_barreStatus = new QStatusBar(this);
  m_barreStatus->setObjectName(QStringLiteral("BarreStatusPrincipale"));
  m_barreStatus->setAccessibleName(Langue(TxtAccStatusBar));
  m_barreStatus->setFixedHeight(StatusBarHeight);
  setStatusBar(m_barreStatus);

  CreateMenus();
  ConnectMenus();

  m_menuAcquisition->setEnabled(false);
  m_menuAffiche->menuAction()->setEnabled(false);

  delete SensorList;
  SensorList = new TlistCapteur;
}

TFenetrePrincipale::~TFenetrePrincipale() {
  // The dialogs belong to this window; they go first, newest first, so that
  // none of them outlives the sensors it may show.
  DeleteOwnedWindow(FenetreSupport, this);
  DeleteOwnedWindow(ConfigAcquisition, this);
  DeleteOwnedWindow(FenetreCapteur, this);
  DeleteOwnedWindow(FenetreAPropos, this);
  DeleteOwnedWindow(FenetreConfig, this);
  // Panels and the frame read sensors of SensorList: they go next.
  m_panels->RemoveAll();
  DeleteAcquisitionFrame();
  delete SensorList;
  SensorList = nullptr;
  if (FenetrePrincipale == this) FenetrePrincipale = nullptr;
}

void TFenetrePrincipale::CreateMenus() {
  QMenuBar *bar = menuBar();
  bar->setObjectName(QStringLiteral("MenuPrincipal"));

  auto menu = [bar](const char *name, LangueId caption) {
    QMenu *m = bar->addMenu(Langue(caption));
    m->setObjectName(QString::fromLatin1(name));
    m->menuAction()->setObjectName(QString::fromLatin1(name));
    return m;
  };
  auto item = [](QMenu *owner, const char *name, LangueId caption) {
    QAction *a = owner->addAction(Langue(caption));
    a->setObjectName(QString::fromLatin1(name));
    return a;
  };

  m_menuFichier = menu("MenuFichier", TxtMenuFichier);
  m_menuQuitter = item(m_menuFichier, "MenuQuitter", TxtMenuQuitter);

  m_menuSys = menu("MenuSys", TxtMenuSys);
  m_menuConfig = item(m_menuSys, "MenuConfig", TxtMenuConfig);

  m_menuCapteur = menu("MenuCapteur", TxtMenuCapteur);
  m_menuAffiche = m_menuCapteur->addMenu(Langue(TxtMenuAffiche));
  m_menuAffiche->setObjectName(QStringLiteral("MenuAffiche"));
  m_menuAffiche->menuAction()->setObjectName(QStringLiteral("MenuAffiche"));
  m_menuAcquisition = item(m_menuCapteur, "MenuAcquisition", TxtMenuAcquisition);

  m_menuAide = menu("MenuAide", TxtMenuAide);
  m_menuAPropos = item(m_menuAide, "MenuAPropos", TxtMenuAPropos);
  m_menuSuppTech = item(m_menuAide, "MenuSuppTech", TxtMenuSuppTech);
}

void TFenetrePrincipale::ConnectMenus() {
  connect(m_menuQuitter, &QAction::triggered, this, [this] { MenuQuitterClick(); });
  connect(m_menuConfig, &QAction::triggered, this, [this] { MenuConfigClick(); });
  connect(m_menuAcquisition, &QAction::triggered, this, [this] { MenuAcquisitionClick(); });
  connect(m_menuAPropos, &QAction::triggered, this, [this] { MenuAProposClick(); });
  connect(m_menuSuppTech, &QAction::triggered, this, [this] { MenuSuppTechClick(); });
}

void TFenetrePrincipale::AddSensorReadingItem(TCapteur *sensor) {
  if (!sensor) return;
  const QString caption = QString::fromStdString(sensor->Data.Reference) +
                          Langue(TxtSerialNumberSeparator) +
                          QString::number(sensor->Data.SerialNumber);
  // The caption is the sensor's own text: no mnemonic may be taken from it.
  QString shown = caption;
  shown.replace(QLatin1Char('&'), QLatin1String("&&"));
  QAction *a = m_menuAffiche->addAction(shown);
  const int tag = static_cast<int>(m_menuAffiche->actions().size()) - 1;
  a->setData(tag);
  a->setObjectName(QStringLiteral("MenuAffiche%1").arg(tag));
  connect(a, &QAction::triggered, this, [this, a] { SensorReadingItemClick(a->data().toInt()); });
}

void TFenetrePrincipale::ClearSensorReadingItems() {
  while (!m_menuAffiche->actions().isEmpty()) {
    QAction *first = m_menuAffiche->actions().constFirst();
    m_menuAffiche->removeAction(first);
    delete first;
    m_menuAcquisition->setEnabled(true);
  }
}

void TFenetrePrincipale::SettleAcquisitionFrame() {
  if (AcquisitionFrame) AcquisitionFrame->SettleWaitingLines();
}

void TFenetrePrincipale::DeleteAcquisitionFrame() {
  delete AcquisitionFrame;
  AcquisitionFrame = nullptr;
}

void TFenetrePrincipale::DiscardAcquisitionFrame() {
  // The question runs a nested event loop: the frame is the one asked about
  // only if nothing else discarded it meanwhile.
  const QPointer<TFrameAcquisition> frame = AcquisitionFrame;
  SettleAcquisitionFrame();
  if (frame && AcquisitionFrame == frame) DeleteAcquisitionFrame();
}

void TFenetrePrincipale::SetAcquisitionRunning(bool running) {
  m_menuCapteur->menuAction()->setEnabled(!running);
  m_menuSys->menuAction()->setEnabled(!running);
}

void TFenetrePrincipale::MenuConfigClick() {
  DiscardAcquisitionFrame();
  if (!FenetreConfig) return;
  // What a scan started in the dialog does to this window, and the sensor
  // dialog its Edit opens.
  ConfigMainWindowHooks hooks;
  hooks.RemoveAllPanels = [this] {
    m_panels->RemoveAll();
    Repaint();
  };
  hooks.ClearSensorReadingItems = [this] { ClearSensorReadingItems(); };
  hooks.AddSensorReadingItem = [this](TCapteur *sensor) { AddSensorReadingItem(sensor); };
  hooks.DiscardAcquisitionFrame = [this] { DiscardAcquisitionFrame(); };
  FenetreConfig->SetMainWindowHooks(hooks);
  FenetreConfig->SetSensorDialog(FenetreCapteur);
  FenetreConfig->ClearFirstStatusPanel();
  if (FenetreConfig->exec() != ConfigApply) return;

  // The menus are enabled between reading the previous record and writing
  // the new one: a failure to read stops here with the menus as they were,
  // a failure to write is reported after they were enabled.
  TSettingsSave save;
  if (!save.ReadPrevious()) return;
  if (SensorList && SensorList->Count() > 0) {
    m_menuAcquisition->setEnabled(true);
    m_menuAffiche->menuAction()->setEnabled(true);
  }
  save.WriteRecords();
}

void TFenetrePrincipale::SensorReadingItemClick(int tag) {
  DiscardAcquisitionFrame();
  m_menuAcquisition->setEnabled(false);
  TCapteur *sensor = SensorList ? SensorList->GetSensor(tag) : nullptr;
  if (sensor) m_panels->AddPanel(m_panelCadres, sensor);
  Repaint();
}

void TFenetrePrincipale::MenuAcquisitionClick() {
  DiscardAcquisitionFrame();
  SetAcquisitionRunning(true);
  if (m_panels->Count() > 0) m_panels->RemoveAll();

  if (!ConfigAcquisition || ConfigAcquisition->exec() != AcquisitionConfirmed) {
    SetAcquisitionRunning(false);
    return;
  }
  // The frame reads the period, the sample count and the file from the
  // dialog; its timer starts only once WriteHeader has succeeded.
  AcquisitionFrame = new TFrameAcquisition(m_panelCadres, ConfigAcquisition);
  connect(AcquisitionFrame, &TFrameAcquisition::AcquisitionEnded, this,
          [this] { SetAcquisitionRunning(false); });
  if (AcquisitionFrame->WriteHeader()) {
    DiscardAcquisitionFrame();
    SetAcquisitionRunning(false);
    return;
  }
  AcquisitionFrame->setGeometry(m_panelCadres->rect());
  AcquisitionFrame->show();
}

void TFenetrePrincipale::MenuAProposClick() {
  if (FenetreAPropos) FenetreAPropos->show();
}

void TFenetrePrincipale::MenuSuppTechClick() {
  if (!FenetreSupport) return;
  FenetreSupport->show();
  FenetreSupport->raise();
  FenetreSupport->activateWindow();
}

void TFenetrePrincipale::MenuQuitterClick() {
  SettleAcquisitionFrame();
  QApplication::quit();
}

void TFenetrePrincipale::WMPanelStop(int number) {
  // The panel is not removed here: this runs inside the panel's own Stop
  // handler. The worker waits for the panel's close signal, then runs
  // RemovePanel(number) on this thread and frees itself.
  m_threadSec = new TThreadSec(number, this, [this](int n) { RemovePanel(n); });
}

void TFenetrePrincipale::RemovePanel(int number) {
  m_panels->RemoveByNumber(number);
  if (m_panels->Count() == 0) m_menuAcquisition->setEnabled(true);
  Repaint();
}

void TFenetrePrincipale::Repaint() {
  LayoutPanels();
  update();
}

void TFenetrePrincipale::LayoutPanels() {
  const QSize area = m_panelCadres->size();
  if (AcquisitionFrame && AcquisitionFrame->parentWidget() == m_panelCadres)
    AcquisitionFrame->setGeometry(m_panelCadres->rect());
  const int n = m_panels->Count();
  for (int i = 0; i < n; ++i) {
    QWidget *panel = m_panels->Item(i);
    if (panel) panel->setGeometry(PanelSlot(i, n, area));
  }
}

void TFenetrePrincipale::closeEvent(QCloseEvent *e) {
  // The main form: closing it ends the program, even with a help window
  // still open; what waits for the acquisition file is settled first.
  SettleAcquisitionFrame();
  QMainWindow::closeEvent(e);
  if (e->isAccepted()) QApplication::quit();
}

bool TFenetrePrincipale::event(QEvent *e) {
  if (e->type() == WM_PANELSTOP) {
    WMPanelStop(static_cast<TPanelStopEvent *>(e)->PanelNumber());
    return true;
  }
  return QMainWindow::event(e);
}

bool TFenetrePrincipale::eventFilter(QObject *watched, QEvent *e) {
  // Every repaint and resize of the area lays the panels out again.
  if (watched == m_panelCadres && (e->type() == QEvent::Resize || e->type() == QEvent::Paint))
    LayoutPanels();
  return QMainWindow::eventFilter(watched, e);
}

void CreateWindows() {
  FenetrePrincipale = new TFenetrePrincipale;
  FenetreConfig = new TFenetreConfig(FenetrePrincipale);
  FenetreAPropos = new TFenetreAPropos(FenetrePrincipale);
  FenetreCapteur = new TFenetreCapteur(FenetrePrincipale);
  ConfigAcquisition = new TConfigAcquisition(FenetrePrincipale);
  FenetreSupport = new TFenetreSupport(FenetrePrincipale);
}

void DestroyWindows() {
  // The main window destroys its dialogs, newest first, then itself.
  delete FenetrePrincipale;
  FenetrePrincipale = nullptr;
}
