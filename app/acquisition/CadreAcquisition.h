// CadreAcquisition: the frame of one acquisition run. Placeholder until it is
// built: its header always fails, so no run starts.
#ifndef NIVELIX_CADREACQUISITION_H
#define NIVELIX_CADREACQUISITION_H

#include <QFrame>

class TFrameAcquisition : public QFrame {
  Q_OBJECT
 public:
  // Fills parent; the creation starts the sampling timer.
  explicit TFrameAcquisition(QWidget *parent);
  ~TFrameAcquisition() override;

  // Creates the acquisition file and writes its header. False when the whole
  // header was written, true on failure (after showing the message).
  bool WriteHeader();

 signals:
  // The run has ended or the user stopped it: the main window enables the
  // sensor and system menus again.
  void AcquisitionEnded();
};

#endif
