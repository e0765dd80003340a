// Switches LC_NUMERIC to a locale whose decimal separator is a comma for the
// lifetime of the object, and back to "C" afterwards.
//
// An installed French or German locale is used when there is one; otherwise
// one is compiled with localedef into a private directory named by LOCPATH,
// which glibc reads at every setlocale. Available() is false when neither
// works, and the test skips its comma cases.
#ifndef NIVELIX_TESTS_COMMALOCALE_H
#define NIVELIX_TESTS_COMMALOCALE_H

#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <string>

class CommaLocale {
 public:
  CommaLocale() { available_ = Activate(); }
  ~CommaLocale() { std::setlocale(LC_NUMERIC, "C"); }
  CommaLocale(const CommaLocale &) = delete;
  CommaLocale &operator=(const CommaLocale &) = delete;

  bool Available() const { return available_; }

 private:
  static bool TryNames() {
    for (const char *name : {"fr_FR.UTF-8", "de_DE.UTF-8", "fr_FR.utf8", "de_DE.utf8", "fr_FR",
                             "de_DE", "fr_FR@euro", "de_DE@euro"}) {
      if (std::setlocale(LC_NUMERIC, name) != nullptr) {
        const struct lconv *conventions = std::localeconv();
        if (conventions->decimal_point[0] == ',') return true;
      }
    }
    std::setlocale(LC_NUMERIC, "C");
    return false;
  }

  static std::string PrivateDirectory() {
    return "/tmp/nivelix-utilcapt-locale-" + std::to_string(getuid());
  }

  static bool PrivateLocaleExists() {
    return access((PrivateDirectory() + "/fr_FR.UTF-8/LC_NUMERIC").c_str(), R_OK) == 0;
  }

  // glibc remembers a locale it failed to find, so LOCPATH is only tried once
  // the compiled locale is there.
  static bool TryPrivateLocale() {
    if (!PrivateLocaleExists()) return false;
    setenv("LOCPATH", PrivateDirectory().c_str(), 1);
    if (TryNames()) return true;
    unsetenv("LOCPATH");
    return false;
  }

  // Once per directory: localedef takes a second or two, and later test
  // processes find its result.
  static void CompilePrivateLocale() {
    const std::string dir = PrivateDirectory();
    // Built aside and renamed, so that test processes running side by side
    // never read a half-written locale. localedef may warn and still write a
    // usable locale: setlocale decides.
    const std::string target = dir + "/fr_FR.UTF-8";
    const std::string aside = target + "." + std::to_string(getpid());
    const std::string command = "mkdir -p " + dir + " && { localedef -i fr_FR -f UTF-8 " + aside +
                                " >/dev/null 2>&1; mv -T " + aside + " " + target +
                                " 2>/dev/null || rm -rf " + aside + "; }";
    if (std::system(command.c_str()) == -1) return;
  }

  static bool Activate() {
    if (TryNames()) return true;
    if (!PrivateLocaleExists()) CompilePrivateLocale();
    return TryPrivateLocale();
  }

  bool available_ = false;
};

#endif
