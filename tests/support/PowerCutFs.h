// PowerCutFs: a file system that keeps only what was synced, to play a power
// cut in the tests.
//
// An in-memory FUSE file system, served by a thread of the test process and
// mounted at a fresh folder. Every file keeps two images, the one programs
// see and the one a disk would still hold after the power went: fsync or
// fdatasync of a file copies the first to the second (data and size), fsync
// of a folder does the same for its entries. Nothing else ever reaches the
// second image: a file whose folder was not synced after it was made is gone
// after a cut, as on a real disk, however often the file itself was synced.
//
// The power goes at the n-th change the programs ask for (a write, a cut to
// size, a creation, a removal, a rename, a sync): that change is refused and
// so is every request after it, as a machine without power answers none.
// PowerBack then puts the synced image in place of everything and the file
// system works again, as after a reboot.
#ifndef NIVELIX_POWERCUTFS_H
#define NIVELIX_POWERCUTFS_H

#include <memory>
#include <string>

class PowerCutFs {
 public:
  // Mounts at a new folder in the test's temporary folder. Mounted() says
  // whether it could (it needs /dev/fuse and the right to mount); Why() says
  // what stood in the way.
  PowerCutFs();
  ~PowerCutFs();  // unmounts; nothing may still be open under Root()
  PowerCutFs(const PowerCutFs &) = delete;
  PowerCutFs &operator=(const PowerCutFs &) = delete;

  bool Mounted() const;
  const std::string &Why() const;
  const std::string &Root() const;  // the mount point, without a trailing '/'

  // The power goes as the n-th change from now arrives (n >= 1); 0: never.
  // torn: when that change is a write, its first half reaches the disk, as a
  // write the power stopped part way through (a disk promises nothing of an
  // unsynced write, neither all of it nor none).
  void CutAtChange(int n, bool torn = false);
  // The changes asked for since the mount or the last PowerBack, the one
  // that met the cut included.
  int Changes() const;
  bool PowerOff() const;
  // Only what was synced before the cut is left; changes work again and are
  // counted from 0.
  void PowerBack();

  struct State;

 private:
  std::unique_ptr<State> m_state;
};

#endif
