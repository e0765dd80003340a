#include "SyncDisque.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

bool NothingToSync(int error) { return error == EINVAL || error == EROFS; }

// fn(fd) until it is not interrupted: 0, or the error that is no EINVAL/EROFS.
template <typename Sync>
int Retried(Sync fn, int fd) {
  int r;
  do {
    r = fn(fd);
  } while (r != 0 && errno == EINTR);
  return r == 0 || NothingToSync(errno) ? 0 : errno;
}

}  // namespace

int SyncData(int fd) { return Retried(::fdatasync, fd); }

int SyncFolder(const char *path) {
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  const int error = Retried(::fsync, fd);
  ::close(fd);
  return error;
}
