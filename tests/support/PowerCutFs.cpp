// PowerCutFs: a file system that keeps only what was synced.
#define FUSE_USE_VERSION 31
#include "PowerCutFs.h"

#include <fuse.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Node {
  bool folder = false;
  mode_t mode = 0644;
  uid_t uid = 0;
  gid_t gid = 0;
  std::string data, syncedData;                         // a file's bytes
  std::map<std::string, uint64_t> entries, syncedEntries;  // a folder's names
};

constexpr uint64_t RootNode = 1;

}  // namespace

struct PowerCutFs::State {
  std::mutex lock;
  std::map<uint64_t, Node> nodes;
  uint64_t nextNode = RootNode + 1;
  int changes = 0;
  int cutAt = 0;
  bool torn = false;  // the write that meets the cut is half kept
  bool off = false;
  bool justCut = false;  // the change being answered met the cut

  struct fuse *fuse = nullptr;
  std::thread loop;
  std::string root, why;
  bool mounted = false;

  // The node at path, 0 when none.
  uint64_t Find(const char *path) {
    uint64_t id = RootNode;
    std::string rest(path);
    std::size_t at = 0;
    while (at < rest.size()) {
      while (at < rest.size() && rest[at] == '/') ++at;
      if (at >= rest.size()) break;
      const std::size_t end = rest.find('/', at);
      const std::string name = rest.substr(at, end == std::string::npos ? std::string::npos : end - at);
      const Node &node = nodes[id];
      if (!node.folder) return 0;
      const auto it = node.entries.find(name);
      if (it == node.entries.end()) return 0;
      id = it->second;
      at = end == std::string::npos ? rest.size() : end;
    }
    return id;
  }
  // The folder that holds path and the last name of path; folder 0 when the
  // folder is not there.
  uint64_t Parent(const char *path, std::string &name) {
    std::string p(path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const std::size_t slash = p.rfind('/');
    name = p.substr(slash + 1);
    const std::string folder = slash == 0 ? "/" : p.substr(0, slash);
    const uint64_t id = Find(folder.c_str());
    return id != 0 && nodes[id].folder ? id : 0;
  }
  // 0 when a change may go on; -EIO once the power is off, the change that
  // meets the cut included.
  int Change() {
    justCut = false;
    if (off) return -EIO;
    ++changes;
    if (cutAt > 0 && changes >= cutAt) {
      off = justCut = true;
      return -EIO;
    }
    return 0;
  }
  uint64_t Make(uint64_t parent, const std::string &name, bool folder, mode_t mode) {
    const uint64_t id = nextNode++;
    Node &node = nodes[id];
    node.folder = folder;
    node.mode = mode & 07777;
    node.uid = fuse_get_context()->uid;
    node.gid = fuse_get_context()->gid;
    nodes[parent].entries[name] = id;
    return id;
  }
};

namespace {

using State = PowerCutFs::State;

State &Fs() { return *static_cast<State *>(fuse_get_context()->private_data); }

void *Init(struct fuse_conn_info *, struct fuse_config *cfg) {
  // Every request reaches the file system: nothing cached by the kernel
  // survives a cut that the file system does not also keep.
  cfg->entry_timeout = 0;
  cfg->negative_timeout = 0;
  cfg->attr_timeout = 0;
  cfg->direct_io = 1;
  cfg->kernel_cache = 0;
  cfg->hard_remove = 1;
  cfg->use_ino = 1;
  return fuse_get_context()->private_data;
}

int GetAttr(const char *path, struct stat *st, struct fuse_file_info *) {
  State &fs = Fs();
  std::lock_guard<std::mutex> guard(fs.lock);
  if (fs.off) return -EIO;
  const uint64_t id = fs.Find(path);
  if (id == 0) return -ENOENT;
  const Node &node = fs.nodes[id];
  std::memset(st, 0, sizeof *st);
  st->st_ino = id;
  st->st_mode = (node.folder ? S_IFDIR : S_IFREG) | node.mode;
  st->st_nlink = node.folder ? 2 : 1;
  st->st_uid = node.uid;
  st->st_gid = node.gid;
  st->st_size = static_cast<off_t>(node.data.size());
  st->st_blksize = 4096;
  st->st_blocks = (st->st_size + 511) / 512;
  return 0;
}

int ReadDir(const char *path, void *buffer, fuse_fill_dir_t fill, off_t, struct fuse_file_info *,
            enum fuse_readdir_flags) {
  State &fs = Fs();
  std::lock_guard<std::mutex> guard(fs.lock);
  if (fs.off) return -EIO;
  const uint64_t id = fs.Find(path);
  if (id == 0) return -ENOENT;
  if (!fs.nodes[id].folder) return -ENOTDIR;
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  for (const auto &entry : fs.nodes[id].entries)
    fill(buffer, entry.first.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  return 0;
}

int MkDir(const char *path, mode_t mode) {
  State &fs = Fs();
  std::lock_guard<std::mutex> guard(fs.lock);
  if (const int r = fs.Change()) return r;
  std::string name;
  const uint64_t parent = fs.Parent(path, name);
  if (parent == 0) return -ENOENT;
  if (fs.nodes[parent].entries.count(name)) return -EEXIST;
  fs.Make(parent, name, true, mode);
  return 0;
}

// Opening with O_TRUNC empties the file: a change like any other.
int Truncated(State &fs, uint64_t id, int flags) {
  if (!(flags & O_TRUNC) || (flags & O_ACCMODE) == O_RDONLY) return 0;
  if (const int r = fs.Change()) return r;
  fs.nodes[id].data.clear();
  return 0;
}

int Create(const char *path, mode_t mode, struct fuse_file_info *fi) {
  State &fs = Fs();
  std::lock_guard<std::mutex> guard(fs.lock);
  std::string name;
  const uint64_t parent = fs.Parent(path, name);
  if (fs.off) return -EIO;
  if (parent == 0) return -ENOENT;
  const auto it = fs.nodes[parent].entries.find(name);
  if (it != fs.nodes[parent].entries.end()) {
    if (fi->flags & O_EXCL) return -EEXIST;
    if (fs.nodes[it->second].folder) return -EISDIR;
    return Truncated(fs, it->second, fi->flags);
  }
  if (const int r = fs.Change()) return r;
  fs.Make(parent, name, false, mode);
  fi->direct_io = 1;
  return 0;
}

int Open(const char *path, struct fuse_file_info *fi) {
  State &fs = Fs();
  std::lock_guard<std::mutex> guard(fs.lock);
  if (fs.off) return -EIO;
  const uint64_t id = fs.Find(path);
  if (id == 0) return -ENOENT;
  fi->direct_io = 1;
  return Truncated(fs, id, fi->flags);
}

int Read(const char *path, char *buffer, size_t size, off_t offset, struct fuse_file_info *) {
  State &fs = Fs();
  std::lock_guard<std::mutex> guard(fs.lock);
  if (fs.off) return -EIO;
  const uint64_t id = fs.Find(path);
  if (id == 0) return -ENOENT;
  const std::string &data = fs.nodes[id].data;
  if (offset >= static_cast<off_t>(data.size())) return 0;
  const std::size_t n = std::min(size, data.size() - static_cast<std::size_t>(offset));
  std::memcpy(buffer, data.data() + offset, n);
  return static_cast<int>(n);
}

int Write(const char *path, const char *buffer, size_t size, off_t offset, struct fuse_file_info *) {
  State &fs = Fs();
  std::lock_guard<std::mutex> guard(fs.lock);
  const int refused = fs.Change();
  const uint64_t id = fs.Find(path);
  if (id == 0) return refused ? refused : -ENOENT;
  auto put = [&](std::string &data, std::size_t n) {
    if (data.size() < static_cast<std::size_t>(offset) + n) data.resize(static_cast<std::size_t>(offset) + n);
    std::memcpy(&data[static_cast<std::size_t>(offset)], buffer, n);
  };
  if (refused) {
    if (fs.justCut && fs.torn) put(fs.nodes[id].syncedData, size / 2);
    return refused;
  }
  put(fs.nodes[id].data, size);
  return static_cast<int>(size);
}

int Truncate(const char *path, off_t size, struct fuse_file_info *) {
  State &fs = Fs();
  std::lock_guard<std::mutex> guard(fs.lock);
  if (const int r = fs.Change()) return r;
  const uint64_t id = fs.Find(path);
  if (id == 0) return -ENOENT;
  fs.nodes[id].data.resize(static_cast<std::size_t>(size));
  return 0;
}

int Remove(const char *path, bool folder) {
  State &fs = Fs();
  std::lock_guard<std::mutex> guard(fs.lock);
  if (const int r = fs.Change()) return r;
  std::string name;
  const uint64_t parent = fs.Parent(path, name);
  if (parent == 0) return -ENOENT;
  auto &entries = fs.nodes[parent].entries;
  const auto it = entries.find(name);
  if (it == entries.end()) return -ENOENT;
  const Node &node = fs.nodes[it->second];
  if (node.folder != folder) return folder ? -ENOTDIR : -EISDIR;
  if (folder && !node.entries.empty()) return -ENOTEMPTY;
  entries.erase(it);
  return 0;
}
int Unlink(const char *path) { return Remove(path, false); }
int RmDir(const char *path) { return Remove(path, true); }

int Rename(const char *from, const char *to, unsigned int flags) {
  State &fs = Fs();
  std::lock_guard<std::mutex> guard(fs.lock);
  if (const int r = fs.Change()) return r;
  std::string fromName, toName;
  const uint64_t fromParent = fs.Parent(from, fromName), toParent = fs.Parent(to, toName);
  if (fromParent == 0 || toParent == 0) return -ENOENT;
  auto &source = fs.nodes[fromParent].entries;
  const auto it = source.find(fromName);
  if (it == source.end()) return -ENOENT;
  if ((flags & RENAME_NOREPLACE) && fs.nodes[toParent].entries.count(toName)) return -EEXIST;
  const uint64_t id = it->second;
  source.erase(it);
  fs.nodes[toParent].entries[toName] = id;
  return 0;
}

// A sync: what the programs see of the file, or of the folder's names,
// becomes what the disk keeps.
int Sync(const char *path, bool folder) {
  State &fs = Fs();
  std::lock_guard<std::mutex> guard(fs.lock);
  if (const int r = fs.Change()) return r;
  const uint64_t id = fs.Find(path);
  if (id == 0) return -ENOENT;
  Node &node = fs.nodes[id];
  if (folder)
    node.syncedEntries = node.entries;
  else
    node.syncedData = node.data;
  return 0;
}
int FSync(const char *path, int, struct fuse_file_info *) { return Sync(path, false); }
int FSyncDir(const char *path, int, struct fuse_file_info *) { return Sync(path, true); }

// Modes and owners are not what a cut is about: they change in place.
int ChMod(const char *path, mode_t mode, struct fuse_file_info *) {
  State &fs = Fs();
  std::lock_guard<std::mutex> guard(fs.lock);
  if (fs.off) return -EIO;
  const uint64_t id = fs.Find(path);
  if (id == 0) return -ENOENT;
  fs.nodes[id].mode = mode & 07777;
  return 0;
}
int ChOwn(const char *path, uid_t uid, gid_t gid, struct fuse_file_info *) {
  State &fs = Fs();
  std::lock_guard<std::mutex> guard(fs.lock);
  if (fs.off) return -EIO;
  const uint64_t id = fs.Find(path);
  if (id == 0) return -ENOENT;
  if (uid != static_cast<uid_t>(-1)) fs.nodes[id].uid = uid;
  if (gid != static_cast<gid_t>(-1)) fs.nodes[id].gid = gid;
  return 0;
}
int UTimens(const char *path, const struct timespec[2], struct fuse_file_info *) {
  State &fs = Fs();
  std::lock_guard<std::mutex> guard(fs.lock);
  if (fs.off) return -EIO;
  return fs.Find(path) != 0 ? 0 : -ENOENT;
}

fuse_operations Operations() {
  fuse_operations ops{};
  ops.init = Init;
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.mkdir = MkDir;
  ops.create = Create;
  ops.open = Open;
  ops.read = Read;
  ops.write = Write;
  ops.truncate = Truncate;
  ops.unlink = Unlink;
  ops.rmdir = RmDir;
  ops.rename = Rename;
  ops.fsync = FSync;
  ops.fsyncdir = FSyncDir;
  ops.chmod = ChMod;
  ops.chown = ChOwn;
  ops.utimens = UTimens;
  return ops;
}

}  // namespace

PowerCutFs::PowerCutFs() : m_state(std::make_unique<State>()) {
  State &s = *m_state;
  s.nodes[RootNode].folder = true;
  s.nodes[RootNode].mode = 0755;
  if (::access("/dev/fuse", R_OK | W_OK) != 0) {
    s.why = std::string("/dev/fuse cannot be used: ") + std::strerror(errno);
    return;
  }
  const char *tmp = std::getenv("TMPDIR");
  std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/powercut-XXXXXX";
  std::vector<char> name(folder.begin(), folder.end());
  name.push_back('\0');
  if (::mkdtemp(name.data()) == nullptr) {
    s.why = std::string("no folder to mount at: ") + std::strerror(errno);
    return;
  }
  s.root = name.data();
  char program[] = "powercutfs";
  char *argv[] = {program, nullptr};
  fuse_args args = FUSE_ARGS_INIT(1, argv);
  const fuse_operations ops = Operations();
  s.fuse = fuse_new(&args, &ops, sizeof ops, &s);
  fuse_opt_free_args(&args);
  if (s.fuse == nullptr) {
    s.why = "fuse_new failed";
    return;
  }
  if (fuse_mount(s.fuse, s.root.c_str()) != 0) {
    s.why = "mounting a FUSE file system at " + s.root + " was refused (no right to mount here?)";
    fuse_destroy(s.fuse);
    s.fuse = nullptr;
    ::rmdir(s.root.c_str());
    return;
  }
  s.mounted = true;
  // One thread answers the requests in turn; the test's own thread makes
  // them, so it must never be this one.
  s.loop = std::thread([fuse = s.fuse] { fuse_loop(fuse); });
}

PowerCutFs::~PowerCutFs() {
  State &s = *m_state;
  if (!s.mounted) return;
  struct stat st {};
  const bool known = ::stat(s.root.c_str(), &st) == 0;
  fuse_exit(s.fuse);
  if (::umount2(s.root.c_str(), 0) != 0) {
    // Something still open under the mount: let it go and end the
    // connection, or the serving thread would wait for requests for ever.
    ::umount2(s.root.c_str(), MNT_DETACH);
    if (known) {
      std::ofstream abort("/sys/fs/fuse/connections/" + std::to_string(minor(st.st_dev)) + "/abort");
      abort << "1";
    }
  }
  s.loop.join();
  fuse_unmount(s.fuse);
  fuse_destroy(s.fuse);
  ::rmdir(s.root.c_str());
}

bool PowerCutFs::Mounted() const { return m_state->mounted; }
const std::string &PowerCutFs::Why() const { return m_state->why; }
const std::string &PowerCutFs::Root() const { return m_state->root; }

void PowerCutFs::CutAtChange(int n, bool torn) {
  std::lock_guard<std::mutex> guard(m_state->lock);
  m_state->cutAt = n > 0 ? m_state->changes + n : 0;
  m_state->torn = torn;
}

int PowerCutFs::Changes() const {
  std::lock_guard<std::mutex> guard(m_state->lock);
  return m_state->changes;
}

bool PowerCutFs::PowerOff() const {
  std::lock_guard<std::mutex> guard(m_state->lock);
  return m_state->off;
}

void PowerCutFs::PowerBack() {
  std::lock_guard<std::mutex> guard(m_state->lock);
  for (auto &entry : m_state->nodes) {
    entry.second.data = entry.second.syncedData;
    entry.second.entries = entry.second.syncedEntries;
  }
  m_state->off = false;
  m_state->cutAt = 0;
  m_state->changes = 0;
}
