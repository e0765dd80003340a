// nivelix-sim: plays inclinometers on a pseudo-terminal until interrupted, so
// that the program (or anything else speaking the sensors' protocols) can be
// run without hardware.
#include <signal.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "SimBus.h"

namespace {

const char *const Usage =
    "Usage: nivelix-sim [--rs485|--rs232] --sensor a:ID[:FAULT] --sensor b:ID[:FAULT] ...\n"
    "                   [--link PATH] [--turnaround MS] [--angle SOURCE] [--verbose]\n"
    "\n"
    "Creates a pseudo-terminal, prints the path of its slave side and plays the\n"
    "sensors on it at 9600 baud until SIGINT or SIGTERM.\n"
    "\n"
    "  --rs485            sensors answer at their identifier (default)\n"
    "  --rs232            one sensor, attention byte 0x02 answered by 0x06\n"
    "  --sensor a:ID[:FAULT]  a family A (KV72500) sensor with identifier ID (1..255)\n"
    "  --sensor b:ID[:FAULT]  a family B (KV72800) sensor, see docs/family-b-protocol.md\n"
    "      two sensors of a bus need two identifiers; FAULT, either family, one of:\n"
    "      noack, silence, unplug, wrongchecksum, echomismatch, errorbyte=N (error\n"
    "      byte N), truncated=N (first N bytes), garbage=N (N bytes 0x55 first),\n"
    "      longgap=MS (pause mid-answer, 60 ms); e.g. --sensor a:5:wrongchecksum,\n"
    "      --sensor b:7:noack\n"
    "  --link PATH        also make PATH a symbolic link to the device (a link\n"
    "                     left there by an ended simulator is replaced; one of a\n"
    "                     simulator still running is refused; removed while\n"
    "                     unplugged and on exit)\n"
    "  --turnaround MS    pause between a request and its answer (default 2)\n"
    "  --angle SOURCE     angle of every sensor in mRad: const:V (default 0),\n"
    "                     sine:OFFSET:AMPLITUDE:PERIOD_S, walk:START:STEP\n"
    "  --verbose          log every byte on stderr: time in ms, direction, hex\n"
    "  --help             this text\n"
    "\n"
    "Commands on standard input (when it is a terminal or a pipe):\n"
    "  power N            switch sensor N (its place in the --sensor list, from 1)\n"
    "                     off and on: a family B sensor applies written settings\n"
    "  unplug             close the device as pulling out an adapter does; the\n"
    "                     --link goes, as an adapter's /dev/serial/by-id/ link does\n"
    "  replug             plug it back: a new device, its path printed on standard\n"
    "                     output and taken by the --link\n"
    "  quit               end\n";

struct SensorSpec {
  bool familyB = false;
  int identifier = 0;
  nivsim::Fault fault = nivsim::Fault::None;
  int faultParam = 0;
};

struct Options {
  bool rs232 = false;
  bool verbose = false;
  double turnaroundMs = 2.0;
  std::string link;
  nivsim::AngleSource angle;
  std::vector<SensorSpec> sensors;
};

[[noreturn]] void Fail(const std::string &message) {
  std::cerr << "nivelix-sim: " << message << "\n(nivelix-sim --help for the options)\n";
  std::exit(2);
}

std::vector<std::string> Split(const std::string &text, char separator) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

bool ToNumber(const std::string &text, double &value) {
  char *end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && end && *end == '\0';
}

bool ToInt(const std::string &text, int &value) {
  double d;
  if (!ToNumber(text, d) || d != static_cast<int>(d)) return false;
  value = static_cast<int>(d);
  return true;
}

void ParseFault(const std::string &text, SensorSpec &spec) {
  static const std::map<std::string, nivsim::Fault> faults = {
      {"noack", nivsim::Fault::NoAck},
      {"silence", nivsim::Fault::Silence},
      {"unplug", nivsim::Fault::Unplug},
      {"wrongchecksum", nivsim::Fault::WrongChecksum},
      {"echomismatch", nivsim::Fault::EchoMismatch},
      {"errorbyte", nivsim::Fault::ErrorByte},
      {"truncated", nivsim::Fault::Truncated},
      {"garbage", nivsim::Fault::LeadingGarbage},
      {"longgap", nivsim::Fault::LongGap},
  };
  const size_t eq = text.find('=');
  const auto found = faults.find(text.substr(0, eq));
  if (found == faults.end()) Fail("unknown fault \"" + text + "\"");
  spec.fault = found->second;
  if (eq != std::string::npos && (!ToInt(text.substr(eq + 1), spec.faultParam) || spec.faultParam < 0))
    Fail("bad fault parameter in \"" + text + "\"");
}

SensorSpec ParseSensor(const std::string &text) {
  const auto parts = Split(text, ':');
  SensorSpec spec;
  if (parts.size() < 2 || parts.size() > 3 || (parts[0] != "a" && parts[0] != "b"))
    Fail("bad --sensor \"" + text + "\": expected a:ID, b:ID or a:ID:FAULT");
  spec.familyB = parts[0] == "b";
  if (!ToInt(parts[1], spec.identifier) || spec.identifier < 1 || spec.identifier > 255)
    Fail("bad identifier in \"" + text + "\": expected 1 to 255");
  if (parts.size() == 3) ParseFault(parts[2], spec);
  return spec;
}

nivsim::AngleSource ParseAngle(const std::string &text) {
  const auto parts = Split(text, ':');
  std::vector<double> v;
  for (size_t i = 1; i < parts.size(); ++i) {
    double d;
    if (!ToNumber(parts[i], d)) Fail("bad number in --angle \"" + text + "\"");
    v.push_back(d);
  }
  if (!parts.empty() && parts[0] == "const" && v.size() == 1) return nivsim::AngleSource::constant(v[0]);
  if (!parts.empty() && parts[0] == "sine" && v.size() == 3 && v[2] > 0)
    return nivsim::AngleSource::sine(v[0], v[1], v[2]);
  if (!parts.empty() && parts[0] == "walk" && v.size() == 2) return nivsim::AngleSource::randomWalk(v[0], v[1]);
  Fail("bad --angle \"" + text + "\": expected const:V, sine:OFFSET:AMP:PERIOD or walk:START:STEP");
}

Options Parse(int argc, char **argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Fail(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::cout << Usage;
      std::exit(0);
    } else if (arg == "--rs485") {
      o.rs232 = false;
    } else if (arg == "--rs232") {
      o.rs232 = true;
    } else if (arg == "--verbose") {
      o.verbose = true;
    } else if (arg == "--sensor") {
      o.sensors.push_back(ParseSensor(value()));
    } else if (arg == "--link") {
      o.link = value();
    } else if (arg == "--turnaround") {
      if (!ToNumber(value(), o.turnaroundMs) || o.turnaroundMs < 0) Fail("bad --turnaround");
    } else if (arg == "--angle") {
      o.angle = ParseAngle(value());
    } else {
      Fail("unknown option \"" + arg + "\"");
    }
  }
  if (o.sensors.empty()) Fail("no --sensor given");
  if (o.rs232 && o.sensors.size() > 1) Fail("an RS232 line carries one sensor");
  for (size_t i = 0; i < o.sensors.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (o.sensors[i].identifier == o.sensors[j].identifier)
        Fail("two sensors at identifier " + std::to_string(o.sensors[i].identifier) +
             ": they would answer over each other");
  return o;
}

// Claims the link path for this process: an abstract socket named after the
// path's absolute form, which the system releases whatever way the process
// ends, so a link left behind by a killed simulator never blocks the next
// one. False when a running simulator holds the claim.
bool ClaimLink(const std::string &link) {
  std::string absolute = link;
  if (link.empty() || link[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) != nullptr) absolute = std::string(cwd) + "/" + link;
  }
  const std::string name = "nivelix-sim:" + std::to_string(std::hash<std::string>{}(absolute));
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return true;  // no claim can be made: behave as before
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());  // leading zero: abstract
  const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (bind(fd, reinterpret_cast<const sockaddr *>(&address), length) != 0) {
    close(fd);
    return errno != EADDRINUSE;
  }
  return true;  // the descriptor stays open for the life of the process
}

void MakeLink(const std::string &link, const std::string &target) {
  if (!ClaimLink(link)) Fail(link + " is the link of another simulator still running; not replaced");
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) Fail(link + " exists and is not a symbolic link; not replaced");
    unlink(link.c_str());
  }
  if (symlink(target.c_str(), link.c_str()) != 0) Fail("cannot create " + link + ": " + std::strerror(errno));
}

void RemoveLink(const std::string &link, const std::string &target) {
  char buffer[4096];
  const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
  if (n > 0 && std::string(buffer, static_cast<size_t>(n)) == target) unlink(link.c_str());
}

bool StdinTakesCommands() {
  struct stat st {};
  return isatty(STDIN_FILENO) || (fstat(STDIN_FILENO, &st) == 0 && S_ISFIFO(st.st_mode));
}

// The device the simulator plays on now, and its link.
struct Line {
  std::string path;
  std::string link;
};

// Runs one command line; false for quit.
bool RunCommand(const std::string &line, nivsim::SimBus &bus, Line &device) {
  std::istringstream in(line);
  std::string word;
  if (!(in >> word)) return true;
  if (word == "quit" || word == "exit") return false;
  if (word == "unplug") {
    bus.Unplug();
    // A link left to the closed device would name whatever pseudo-terminal
    // the system makes next under its number, often another program's.
    if (!device.link.empty()) RemoveLink(device.link, device.path);
    std::cerr << "nivelix-sim: unplugged\n";
  } else if (word == "replug") {
    bus.Replug();
    const std::string path = bus.SlavePath();
    if (!device.link.empty()) {
      // Our own link: replaced in one step, so that it never dangles.
      const std::string fresh = device.link + ".new";
      unlink(fresh.c_str());
      if (symlink(path.c_str(), fresh.c_str()) != 0 || rename(fresh.c_str(), device.link.c_str()) != 0)
        std::cerr << "nivelix-sim: cannot point " << device.link << " at " << path << ": " << std::strerror(errno) << "\n";
    }
    device.path = path;
    std::cout << path << std::endl;
    std::cerr << "nivelix-sim: plugged back as " << path << "\n";
  } else if (word == "power") {
    int n = 0;
    if (!(in >> n) || n < 1 || n > bus.SensorCount()) {
      std::cerr << "nivelix-sim: power N, N from 1 to " << bus.SensorCount() << "\n";
    } else {
      bus.PowerCycle(n - 1);
      std::cerr << "nivelix-sim: sensor " << n << " switched off and on\n";
    }
  } else {
    std::cerr << "nivelix-sim: unknown command \"" << word << "\" (power N, unplug, replug, quit)\n";
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  const Options options = Parse(argc, argv);

  // Signals are taken as events, in every thread including the bus thread.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
  signal(SIGPIPE, SIG_IGN);

  nivsim::SimBus bus;
  bus.SetVerbose(options.verbose);
  bus.SetTurnaroundMs(options.turnaroundMs);
  try {
    for (const SensorSpec &s : options.sensors) {
      int index;
      if (s.familyB) {
        nivsim::SensorBConfig c;
        c.identifier = static_cast<uint8_t>(s.identifier);
        c.rs232 = options.rs232;
        c.angle = options.angle;
        index = bus.AddSensorB(c);
      } else {
        nivsim::SensorAConfig c;
        c.identifier = static_cast<uint8_t>(s.identifier);
        c.rs232 = options.rs232;
        c.angle = options.angle;
        index = bus.AddSensorA(c);
      }
      if (s.fault != nivsim::Fault::None) bus.SetFault(index, s.fault, s.faultParam);
    }
  } catch (const std::invalid_argument &refused) {
    Fail(refused.what());
  }

  Line device{bus.SlavePath(), options.link};
  if (!options.link.empty()) MakeLink(options.link, device.path);
  std::cout << device.path << std::endl;

  bool readStdin = StdinTakesCommands();
  std::string pending;
  for (bool running = true; running;) {
    pollfd fds[2] = {{signalFd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (poll(fds, readStdin ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents & POLLIN) break;
    if (readStdin && (fds[1].revents & (POLLIN | POLLHUP))) {
      char buffer[256];
      const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
      if (n <= 0) {
        readStdin = false;  // end of the commands, not of the simulation
        continue;
      }
      pending.append(buffer, static_cast<size_t>(n));
      for (size_t eol; running && (eol = pending.find('\n')) != std::string::npos;) {
        running = RunCommand(pending.substr(0, eol), bus, device);
        pending.erase(0, eol + 1);
      }
    }
  }

  if (!options.link.empty()) RemoveLink(options.link, device.path);
  return 0;
}
