// The program entry: the application titled "Nivelix", the six windows
// created once in their order, the main window shown, the event loop.
// Nothing talks to a sensor here: the user starts from the configuration.
#include <csignal>

#include <QApplication>

#include "Illustrations.h"
#include "langue.h"
#include "principale.h"

int main(int argc, char **argv) {
  // An acquisition file that reaches the user's file-size limit must fail its
  // write, which the program reports while the run goes on, instead of the
  // default action of ending the program with the lines not yet written.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication app(argc, argv);
  QApplication::setApplicationName(Langue(TxtAppTitle));
  QApplication::setWindowIcon(ProgramIcon());

  CreateWindows();
  FenetrePrincipale->show();
  const int result = QApplication::exec();
  DestroyWindows();
  return result;
}
