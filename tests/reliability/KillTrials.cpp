// kill_trials LORVANE FEEDGEN [KILLS]: runs `lorvane --once` on a generated feed and kills it
// with SIGKILL at random moments, then starts pairs of runs over one feed at random offsets
// (a third as many pairs as kills). After every kill no text or index in a target or mirror
// may be torn and no delivered section file may be lost; every few kills a run that is left
// alone must finish without failures and leave the outputs an unkilled run leaves. The
// kills of one round hit the successive states of the same feed; each round starts afresh.
//
// The kill moments come from a seed, printed at the start and with any fault; LORVANE_SEED
// set to it draws the same moments again (what a moment hits still varies with the machine).
//
// Exit status 0 when every trial holds; each fault is printed.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

constexpr int kKillsPerRound = 4;
const char* const kOutputs[] = {"sh/dst", "sz/dst", "mirror/sh", "mirror/sz", "mirror/both"};
const char* const kSources[] = {"sh/src", "sz/src"};

int GFaults = 0;

void Fault(const std::string& what) {
  ++GFaults;
  if (GFaults <= 40) std::cerr << "FAULT: " << what << "\n";
}

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Files under `root` by relative path; `filter` picks them by name.
template <typename F>
std::map<std::string, std::string> Files(const fs::path& root, F filter) {
  std::map<std::string, std::string> out;
  if (!fs::exists(root)) return out;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file() && filter(e.path().filename().string()))
      out[fs::relative(e.path(), root).generic_string()] = Read(e.path());
  return out;
}

bool IsOutput(const std::string& name) { return EndsWith(name, ".txt") || EndsWith(name, ".F10"); }

// The outputs of a feed folder, keyed "folder/name".
std::map<std::string, std::string> Outputs(const fs::path& feed) {
  std::map<std::string, std::string> out;
  for (const char* dir : kOutputs)
    for (auto& [rel, bytes] : Files(feed / dir, IsOutput)) out[std::string(dir) + "/" + rel] = bytes;
  return out;
}

// An index with the day taken out: the generated records carry the date of the run (and the
// check byte sums it), which the reference run need not share.
std::string WithoutDates(std::string index) {
  for (std::size_t at = 16; at + 256 <= index.size(); at += 256) {
    std::memset(&index[at + 3], 0, 4);
    index[at + 255] = 0;
  }
  return index;
}

bool WholeIndex(const std::string& bytes) {
  if (bytes.size() < 16 || (bytes.size() - 16) % 256 != 0) return false;
  std::int16_t count;
  std::memcpy(&count, bytes.data() + 10, 2);
  return count >= 0 && static_cast<std::size_t>(count) == (bytes.size() - 16) / 256;
}

// The composites are joined text by text, each join saved whole: a killed run leaves one
// that is the start of the full composite.
bool IsComposite(const std::string& key) {
  const std::string name = key.substr(key.rfind('/') + 1);
  return name.rfind("1X", 0) == 0 || name.rfind("3988", 0) == 0;
}

struct TRun {
  bool Killed = false;
  int Status = -1;
  double Seconds = 0;
};

// Starts the program on the feed.
pid_t Start(const std::string& lorvane, const fs::path& feed) {
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("fork");
    std::exit(2);
  }
  if (pid == 0) {
    const std::string home = (feed / "home").string();
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
    execl(lorvane.c_str(), lorvane.c_str(), "--once", "--home", home.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// The exit status of a run that ended, -1 when it did not end by itself.
int Finish(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs the program on the feed; with a delay, kills it after that long.
TRun Run(const std::string& lorvane, const fs::path& feed, double killAfter) {
  const auto start = TClock::now();
  const pid_t pid = Start(lorvane, feed);
  TRun run;
  int status = 0;
  if (killAfter >= 0) {
    const auto deadline = start + std::chrono::duration<double>(killAfter);
    for (;;) {
      if (waitpid(pid, &status, WNOHANG) == pid) break;
      if (TClock::now() >= deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  } else {
    waitpid(pid, &status, 0);
  }
  run.Seconds = std::chrono::duration<double>(TClock::now() - start).count();
  run.Killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

void Restore(const fs::path& pristine, const fs::path& feed) {
  fs::remove_all(feed);
  fs::copy(pristine, feed, fs::copy_options::recursive);
}

class TTrials {
 public:
  TTrials(std::string lorvane, fs::path pristine, fs::path feed)
      : FLorvane(std::move(lorvane)), FPristine(std::move(pristine)), FFeed(std::move(feed)) {
    for (const char* src : kSources)
      for (auto& [rel, bytes] : Files(FPristine / src, [](const std::string& n) { return EndsWith(n, ".sub"); }))
        if (rel.find('/') == std::string::npos) FDelivered[std::string(src) + "/" + rel] = bytes;
  }

  // Runs the whole feed once, unkilled, and keeps what it leaves; returns its time.
  double MakeReference() {
    Restore(FPristine, FFeed);
    const TRun run = Run(FLorvane, FFeed, -1);
    if (run.Status != 0) Fault("the reference run failed with status " + std::to_string(run.Status));
    FReference = Outputs(FFeed);
    Restore(FPristine, FFeed);
    return run.Seconds;
  }

  // What must hold whenever the program has stopped, killed or not.
  void CheckSafe(const std::string& when) {
    for (const auto& [key, bytes] : Outputs(FFeed)) {
      const auto ref = FReference.find(key);
      if (ref == FReference.end()) {
        Fault(when + ": an output the reference run does not make: " + key);
        continue;
      }
      if (EndsWith(key, ".txt")) {
        const bool ok = bytes == ref->second || bytes.empty() ||
                        (IsComposite(key) && ref->second.compare(0, bytes.size(), bytes) == 0);
        if (!ok) Fault(when + ": torn text " + key);
      } else if (!WholeIndex(bytes) || WithoutDates(bytes) != WithoutDates(ref->second)) {
        Fault(when + ": torn index " + key);
      }
    }
    for (const auto& [key, bytes] : FDelivered) {
      const std::string src = key.substr(0, key.rfind('/'));
      const std::string name = key.substr(key.rfind('/') + 1);
      const std::string code = name.substr(0, name.size() - 5);
      const fs::path left = FFeed / key, staged = FFeed / src / "DATA" / code / name;
      const bool safe = (fs::exists(left) && Read(left) == bytes) ||
                        (fs::exists(staged) && Read(staged) == bytes);
      if (!safe) Fault(when + ": delivered section lost or changed: " + key);
    }
  }

  // A run left alone after kills: no failure, and the outputs of an unkilled run.
  void CheckRecovery(const std::string& when) {
    const TRun run = Run(FLorvane, FFeed, -1);
    if (run.Status != 0) Fault(when + ": the next run failed with status " + std::to_string(run.Status));
    const auto now = Outputs(FFeed);
    for (const auto& [key, bytes] : FReference) {
      const auto it = now.find(key);
      const bool same = it != now.end() && (EndsWith(key, ".txt") ? it->second == bytes
                                                                  : WithoutDates(it->second) == WithoutDates(bytes));
      if (!same) Fault(when + ": after the next run, not as the reference: " + key);
    }
    if (now.size() != FReference.size()) Fault(when + ": after the next run, extra outputs");
    for (const char* src : kSources) {
      for (const auto& e : fs::directory_iterator(FFeed / src))
        if (EndsWith(e.path().filename().string(), ".sub")) Fault(when + ": still waiting: " + e.path().string());
      for (const auto& e : fs::directory_iterator(FFeed / src / "DATA"))
        if (EndsWith(e.path().filename().string(), ".pending")) Fault(when + ": still marked: " + e.path().string());
    }
    CheckSafe(when + " (after the next run)");
  }

  // Hidden temporary files that killed saves left (never read, never listed as data).
  int Leftovers() const {
    int n = 0;
    for (const auto& e : fs::recursive_directory_iterator(FFeed))
      if (e.path().filename().string().rfind(".~lorvane.", 0) == 0) ++n;
    return n;
  }

  const std::string FLorvane;
  const fs::path FPristine, FFeed;
  std::map<std::string, std::string> FDelivered, FReference;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: kill_trials LORVANE FEEDGEN [KILLS]\n";
    return 2;
  }
  const std::string lorvane = fs::absolute(argv[1]).string();
  const std::string feedgen = fs::absolute(argv[2]).string();
  const int wanted = argc > 3 ? std::atoi(argv[3]) : 60;
  unsigned seed = std::random_device{}();
  if (const char* given = std::getenv("LORVANE_SEED"); given && *given) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(given, &end, 10);
    if (*end != '\0' || value > std::numeric_limits<unsigned>::max()) {
      std::cerr << "LORVANE_SEED is not a number: " << given << "\n";
      return 2;
    }
    seed = static_cast<unsigned>(value);
  }
  std::cout << "kill trials: seed " << seed << std::endl;

  std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/lorvane-kill-XXXXXX"
                                                      : (fs::temp_directory_path() / "lorvane-kill-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 2;
  const fs::path scratch = pattern;
  const fs::path feed = scratch / "feed", pristine = scratch / "pristine";

  // The feed names its own folder as drive D:, so it is generated where the runs happen
  // and kept aside as it was.
  const std::string generate = "'" + feedgen + "' --out '" + feed.string() +
                               "' --sh 30 --sz 30 --sections 6 --index > /dev/null";
  if (std::system(generate.c_str()) != 0) {
    std::cerr << "feed generation failed\n";
    return 2;
  }
  fs::copy(feed, pristine, fs::copy_options::recursive);

  TTrials trials(lorvane, pristine, feed);
  std::vector<double> times;
  for (int i = 0; i < 3; ++i) times.push_back(trials.MakeReference());
  std::sort(times.begin(), times.end());
  const double typical = times[1];

  std::mt19937 random(seed);
  std::uniform_real_distribution<double> delay(0.0, typical);
  int kills = 0, finished = 0, rounds = 0, leftovers = 0;
  while (kills < wanted && GFaults == 0) {
    ++rounds;
    Restore(pristine, feed);
    for (int k = 0; k < kKillsPerRound && kills < wanted; ++k) {
      const double after = delay(random);
      const TRun run = Run(lorvane, feed, after);
      const std::string when = "round " + std::to_string(rounds) + ", kill at " +
                               std::to_string(static_cast<int>(after * 1000)) + " ms";
      if (!run.Killed) {
        // The run ended before the kill: the feed's work is done.
        ++finished;
        if (run.Status != 0) Fault(when + ": the run failed with status " + std::to_string(run.Status));
        break;
      }
      ++kills;
      trials.CheckSafe(when);
    }
    leftovers += trials.Leftovers();
    trials.CheckRecovery("round " + std::to_string(rounds));
  }

  // Two runs over the one feed, the second started at a random moment of the first: one of
  // them works and the other, finding the feed claimed, does not start (or, started after
  // the first ended, finds nothing left to do). Nothing may be torn or lost either way.
  int overlaps = 0, gaveWay = 0;
  for (; overlaps < wanted / 3 && GFaults == 0; ++overlaps) {
    Restore(pristine, feed);
    const double after = delay(random);
    const std::string when = "overlap " + std::to_string(overlaps + 1) + ", second run at " +
                             std::to_string(static_cast<int>(after * 1000)) + " ms";
    const pid_t first = Start(lorvane, feed);
    std::this_thread::sleep_for(std::chrono::duration<double>(after));
    const pid_t second = Start(lorvane, feed);
    const int a = Finish(first), b = Finish(second);
    for (const int status : {a, b})
      if (status != 0 && status != 3) Fault(when + ": a run ended with status " + std::to_string(status));
    if (a != 0 && b != 0) Fault(when + ": neither run went through");
    gaveWay += (a == 3) + (b == 3);
    trials.CheckSafe(when);
    trials.CheckRecovery(when);
  }

  std::cout << "kill trials: " << overlaps << " overlapping pairs of runs (" << gaveWay
            << " runs gave way to the other)\n";
  std::cout << "kill trials: " << kills << " kills survived in " << rounds << " rounds (runs of about "
            << static_cast<int>(typical * 1000) << " ms; " << finished
            << " runs ended before their kill), " << leftovers
            << " temporary files left by killed saves, " << GFaults << " faults\n";
  const bool held = GFaults == 0 && kills >= wanted && overlaps >= wanted / 3;
  if (!held)
    std::cerr << "kill trials failed with seed " << seed << " (LORVANE_SEED=" << seed << " replays it)\n";
  std::error_code ec;
  fs::remove_all(scratch, ec);
  return held ? 0 : 1;
}
