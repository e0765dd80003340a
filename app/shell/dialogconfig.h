// dialogconfig: the configuration dialog (bus scan and environment settings).
// Placeholder until the dialog itself is built: it loads the settings when
// created and offers the seams the main window uses.
#ifndef NIVELIX_DIALOGCONFIG_H
#define NIVELIX_DIALOGCONFIG_H

#include <QDialog>

// What exec() returns.
enum ConfigResult : int { ConfigApply = 1, ConfigCancel = 2 };

class TFenetreConfig : public QDialog {
  Q_OBJECT
 public:
  // Runs LoadSettings, then sets the controls from Settings.
  explicit TFenetreConfig(QWidget *parent = nullptr);
  ~TFenetreConfig() override;

  // Clears the text of the first status panel.
  void ClearFirstStatusPanel();
};

#endif
