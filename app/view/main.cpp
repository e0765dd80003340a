// nivelix-view: acquisition files charted; --stats, --png and --pdf work
// without a display.
#include <cstdio>

#include <QApplication>
#include <QCoreApplication>

#include "LigneCommande.h"

int main(int argc, char *argv[]) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const OptionsVue options = ParseArguments(arguments);
  switch (options.action) {
    case OptionsVue::Action::Help: {
      const QByteArray text = HelpText().toLocal8Bit();
      std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
      return SortieOk;
    }
    case OptionsVue::Action::Error: {
      const QByteArray text = ("nivelix-view: " + options.error + "\n").toLocal8Bit();
      std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stderr);
      return SortieUsage;
    }
    case OptionsVue::Action::Stats:
      return RunStats(options, stdout, stderr);
    case OptionsVue::Action::Png:
    case OptionsVue::Action::Pdf:
      return RunPicture(options, stderr, argc, argv);
    case OptionsVue::Action::Window:
      break;
  }
  QApplication app(argc, argv);
#ifdef NIVELIX_VIEW_WINDOW
  return RunViewerWindow(options.file);
#else
  std::fputs("nivelix-view: this build has no window; see --help\n", stderr);
  return SortieUsage;
#endif
}
