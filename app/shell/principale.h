// principale: the main window. Its menus lead from configuring the line to
// reading sensors live and recording an acquisition, and their enabling
// follows the user along that path. PanelCadres shows either live angle
// panels or one acquisition frame, never both.
#ifndef NIVELIX_PRINCIPALE_H
#define NIVELIX_PRINCIPALE_H

#include <memory>

#include <QMainWindow>
#include <QPointer>
#include <QRect>
#include <QSize>

class QAction;
class QMenu;
class QStatusBar;
class QWidget;
class TCapteur;
class TListAfficheAngle;
class TThreadSec;
class TFenetreConfig;
class TFenetreAPropos;
class TFenetreCapteur;
class TConfigAcquisition;
class TFenetreSupport;

// Where live panel index of count panels goes in an area of size: the full
// width, height area / count truncated, stacked from the top; the remainder
// of the division stays empty at the bottom.
QRect PanelSlot(int index, int count, QSize area);

class TFenetrePrincipale : public QMainWindow {
  Q_OBJECT
 public:
  // Sets the captions, disables MenuAcquisition and MenuAffiche, creates the
  // empty SensorList and the empty live panel list.
  explicit TFenetrePrincipale(QWidget *parent = nullptr);
  // Removes the panels and the acquisition frame, then destroys SensorList
  // with every sensor in it.
  ~TFenetrePrincipale() override;

  // Appends an item "<reference> n°<serial number>" for sensor under
  // MenuAffiche; its tag (the action's data) is its position, which is the
  // sensor's index in SensorList. Called once per sensor at the end of a scan.
  void AddSensorReadingItem(TCapteur *sensor);
  // Deletes the items of MenuAffiche one by one from the first, enabling
  // MenuAcquisition with each deletion. Called before a scan.
  void ClearSensorReadingItems();

  // Removes the live panel numbered number, enables MenuAcquisition when no
  // panel is left and repaints. Run by the worker that a panel's Stop starts.
  void RemovePanel(int number);

  // Destroys AcquisitionFrame if there is one and records that there is none.
  // Lines still waiting for its file are first saved or discarded as the
  // user says (TFrameAcquisition::SettleWaitingLines).
  void DiscardAcquisitionFrame();

  // The live angle panels shown in PanelCadres.
  TListAfficheAngle &Panels() { return *m_panels; }
  // The area of the live panels or of the acquisition frame.
  QWidget *PanelCadres() const { return m_panelCadres; }

  // Places the live panels (and the acquisition frame) in PanelCadres.
  void LayoutPanels();

  // The menu handlers; public so that other windows and tests can reach
  // them as the menus do.
  void MenuConfigClick();
  void SensorReadingItemClick(int tag);
  void MenuAcquisitionClick();
  void MenuAProposClick();
  void MenuSuppTechClick();
  void MenuQuitterClick();

 protected:
  void closeEvent(QCloseEvent *e) override;
  bool event(QEvent *e) override;
  bool eventFilter(QObject *watched, QEvent *e) override;

 private:
  // WM_PANELSTOP: a live panel's Stop button was clicked (synchronous).
  void WMPanelStop(int number);
  void CreateMenus();
  void ConnectMenus();
  void SetAcquisitionRunning(bool running);
  // Asks what becomes of the lines still waiting in the acquisition frame.
  void SettleAcquisitionFrame();
  // Destroys the frame without a question (the program's end: Quit and a
  // close have settled it).
  void DeleteAcquisitionFrame();
  void Repaint();

  QMenu *m_menuFichier = nullptr;
  QAction *m_menuQuitter = nullptr;
  QMenu *m_menuSys = nullptr;
  QAction *m_menuConfig = nullptr;
  QMenu *m_menuCapteur = nullptr;
  QMenu *m_menuAffiche = nullptr;
  QAction *m_menuAcquisition = nullptr;
  QMenu *m_menuAide = nullptr;
  QAction *m_menuAPropos = nullptr;
  QAction *m_menuSuppTech = nullptr;
  QWidget *m_panelCadres = nullptr;
  QStatusBar *m_barreStatus = nullptr;
  std::unique_ptr<TListAfficheAngle> m_panels;
  // The most recent worker started by WMPanelStop; it frees itself.
  QPointer<TThreadSec> m_threadSec;
};

// The six windows of the program, each created once by CreateWindows.
extern TFenetrePrincipale *FenetrePrincipale;
extern TFenetreConfig *FenetreConfig;
extern TFenetreAPropos *FenetreAPropos;
extern TFenetreCapteur *FenetreCapteur;
extern TConfigAcquisition *ConfigAcquisition;
extern TFenetreSupport *FenetreSupport;

// Creates the windows in the start-up order: the main window, the
// configuration dialog (which loads the settings), the about window, the
// sensor settings dialog, the acquisition settings dialog and the support
// window, all hidden. The dialogs belong to the main window.
void CreateWindows();
// Destroys them in the reverse order and clears the pointers.
void DestroyWindows();

#endif
