// While it lives, this thread's file access is checked as user "nobody": the
// tests run as root, which file permissions do not stop. setfsuid changes
// the calling thread only and drops the file capabilities.
#ifndef NIVELIX_ASUNPRIVILEGED_H
#define NIVELIX_ASUNPRIVILEGED_H

#include <sys/fsuid.h>
#include <sys/types.h>

class AsUnprivileged {
 public:
  static constexpr uid_t Nobody = 65534;

  AsUnprivileged() {
    m_old = setfsuid(Nobody);
    m_active = static_cast<uid_t>(setfsuid(Nobody)) == Nobody;
  }
  ~AsUnprivileged() { setfsuid(static_cast<uid_t>(m_old)); }
  bool Active() const { return m_active; }

 private:
  int m_old = 0;
  bool m_active = false;
};

#endif
