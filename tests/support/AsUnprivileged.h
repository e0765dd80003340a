// While it lives, this thread's file access is checked as user "nobody": the
// tests run as root, which file permissions do not stop. setfsuid changes
// the calling thread only and drops the file capabilities.
//
// A lock taken meanwhile (a port's, a settings or acquisition file's) may go
// to this user's own fallback folder when "nobody" cannot write the shared
// one, and "nobody" then makes that folder. Left behind, it would be someone
// else's folder to every later test program of this user, whose locks would
// all be refused: a folder that came into being that way goes with this
// object.
#ifndef NIVELIX_ASUNPRIVILEGED_H
#define NIVELIX_ASUNPRIVILEGED_H

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

class AsUnprivileged {
 public:
  static constexpr uid_t Nobody = 65534;

  AsUnprivileged() : m_ownFolder("/tmp/nivelix-" + std::to_string(::geteuid())) {
    struct stat st {};
    m_ownFolderWasThere = ::lstat(m_ownFolder.c_str(), &st) == 0;
    m_old = setfsuid(Nobody);
    m_active = static_cast<uid_t>(setfsuid(Nobody)) == Nobody;
  }
  ~AsUnprivileged() {
    setfsuid(static_cast<uid_t>(m_old));
    struct stat st {};
    if (!m_ownFolderWasThere && ::lstat(m_ownFolder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
        st.st_uid == Nobody) {
      std::error_code ignored;
      std::filesystem::remove_all(m_ownFolder, ignored);
    }
  }
  bool Active() const { return m_active; }

 private:
  std::string m_ownFolder;
  bool m_ownFolderWasThere = false;
  int m_old = 0;
  bool m_active = false;
};

#endif
