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

  static bool CompilePrivateLocale() {
    static int compiled = -1;  // once per test program: localedef takes a second or two
    if (compiled < 0) {
      const std::string dir = "/tmp/nivelix-utilcapt-locale-" + std::to_string(getuid());
      const std::string command = "mkdir -p " + dir + " && localedef -i fr_FR -f UTF-8 " + dir +
                                  "/fr_FR.UTF-8 >/dev/null 2>&1";
      // localedef may warn and still write a usable locale: setlocale decides.
      compiled = std::system(command.c_str()) != -1 ? 1 : 0;
      setenv("LOCPATH", dir.c_str(), 1);
    }
    return compiled == 1;
  }

  static bool Activate() {
    if (TryNames()) return true;
    return CompilePrivateLocale() && TryNames();
  }

  bool available_ = false;
};

#endif
