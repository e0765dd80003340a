// The nivelix-sim command: started as a separate process, it must print its
// device, answer on it, obey its commands and clean up its link.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "HostSide.h"

using V = std::vector<uint8_t>;

extern char **environ;

namespace {

std::string SimCommandPath() {
  char self[PATH_MAX] = {};
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
  dir = dir.substr(0, dir.rfind('/'));
  return dir + "/../sim/nivelix-sim";
}

// The command with pipes on its standard input and output.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string path = SimCommandPath();
    args.insert(args.begin(), path);
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }

  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(stdin_);
    close(stdout_);
  }

  bool Started() const { return pid_ > 0; }

  // The first line of its output, within a second.
  std::string FirstLine() {
    std::string line;
    char c;
    pollfd p{stdout_, POLLIN, 0};
    while (poll(&p, 1, 1000) == 1 && read(stdout_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }

  void Say(const std::string &command) {
    if (write(stdin_, command.data(), command.size()) < 0) ADD_FAILURE() << "stdin closed";
  }

  void Signal(int signal) { kill(pid_, signal); }

  // Exit status, or -1 when it has not ended within two seconds.
  int Wait() {
    for (int i = 0; i < 200; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(10 * 1000);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1, stdout_ = -1;
};

bool Exists(const std::string &path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(NivelixSim, PrintsItsDeviceAnswersAndCleansUpItsLink) {
  ASSERT_TRUE(Exists(SimCommandPath())) << SimCommandPath() << " is not built";
  const std::string link = "/tmp/nivelix-sim-test-" + std::to_string(getpid());
  ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);  // an old link is replaced
  SimProcess sim({"--rs485", "--sensor", "a:3", "--sensor", "b:7", "--link", link, "--angle", "const:-12.5"});
  ASSERT_TRUE(sim.Started());
  const std::string path = sim.FirstLine();
  ASSERT_FALSE(path.empty());
  char target[PATH_MAX] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(path, target);

  {
    // A second simulator does not take the link of a running one over.
    SimProcess second({"--sensor", "a:4", "--link", link});
    EXPECT_EQ(second.FirstLine(), "");
    EXPECT_EQ(second.Wait(), 2);
    char now[PATH_MAX] = {};
    ASSERT_GT(readlink(link.c_str(), now, sizeof now - 1), 0);
    EXPECT_EQ(path, now);
  }

  {
    HostSide host(link);
    EXPECT_EQ(host.Attention(0x03), V{0x03});
    const V m = host.Exchange(0x03, {0x03, 0x92, 0x00, 0x00, 0x00}, 14);
    ASSERT_EQ(m.size(), 14u);
    EXPECT_EQ(V(m.begin() + 5, m.begin() + 13), Bytes("-12.5000"));

    // A family B identifier change waits for the power cycle asked on stdin.
    EXPECT_EQ(host.Exchange(0x07, {0x07, 0xC2, 0x08, 0x00}, 3), WithChecksum({0x07, 0xC2}));
    EXPECT_EQ(host.Attention(0x08), V{});
    sim.Say("power 2\n");
    usleep(100 * 1000);
    EXPECT_EQ(host.Attention(0x08), V{0x08});
  }

  // Pulled out and plugged back: a new device, printed, and the link follows it.
  sim.Say("unplug\nreplug\n");
  const std::string replugged = sim.FirstLine();
  ASSERT_FALSE(replugged.empty());
  EXPECT_NE(replugged, path) << "the old line keeps its number while the simulator runs";
  char now[PATH_MAX] = {};
  ASSERT_GT(readlink(link.c_str(), now, sizeof now - 1), 0);
  EXPECT_EQ(replugged, now);
  {
    HostSide host(link);
    EXPECT_EQ(host.Attention(0x03), V{0x03});
  }

  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_FALSE(Exists(link));
}

TEST(NivelixSim, QuitsOnCommandAndRefusesBadOptions) {
  ASSERT_TRUE(Exists(SimCommandPath())) << SimCommandPath() << " is not built";
  {
    SimProcess sim({"--rs232", "--sensor", "a:1:wrongchecksum"});
    const std::string path = sim.FirstLine();
    ASSERT_FALSE(path.empty());
    HostSide host(path);
    const V answer = host.Exchange(0x02, {0xB1, 0x46, 0x00, 0x01}, 7);
    ASSERT_EQ(answer.size(), 7u);
    EXPECT_NE(answer.back(), HostSide::Xor(V(answer.begin(), answer.end() - 1)));
    sim.Say("quit\n");
    EXPECT_EQ(sim.Wait(), 0);
  }
  for (const auto &bad : std::vector<std::vector<std::string>>{
           {"--sensor", "c:3"}, {"--sensor", "a:256"}, {"--sensor", "a:3:melt"}, {"--rs232", "--sensor", "a:1", "--sensor", "a:2"},
           {"--sensor", "a:3", "--sensor", "b:3"},
           {"--sensor", "a:3", "--angle", "sine:1"}, {"--bogus"}, {}}) {
    SimProcess sim(bad);
    EXPECT_EQ(sim.FirstLine(), "");
    EXPECT_EQ(sim.Wait(), 2);
  }
}
