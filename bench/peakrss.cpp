// lorvane-peakrss: runs a command and reports its wall-clock time, processor time and peak
// resident memory, so the benchmark needs no package beyond the compiler. The child's own
// output passes through.
//
//   lorvane-peakrss REPORT_FILE COMMAND [ARGS...]
//
// REPORT_FILE gets one line "SECONDS PEAK_KIB STATUS CPU_SECONDS" (user + system time of the
// command and every thread it ran); the exit status is the command's own (128 + signal when a
// signal ended it, 127 when it could not be started).

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

double Now() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: lorvane-peakrss REPORT_FILE COMMAND [ARGS...]\n");
    return 2;
  }
  const double start = Now();
  const pid_t child = ::fork();
  if (child < 0) {
    std::fprintf(stderr, "lorvane-peakrss: fork: %s\n", std::strerror(errno));
    return 127;
  }
  if (child == 0) {
    ::execvp(argv[2], argv + 2);
    std::fprintf(stderr, "lorvane-peakrss: %s: %s\n", argv[2], std::strerror(errno));
    ::_exit(127);
  }
  int raw = 0;
  rusage usage{};
  pid_t got;
  do {
    got = ::wait4(child, &raw, 0, &usage);
  } while (got < 0 && errno == EINTR);
  const double seconds = Now() - start;
  if (got < 0) {
    std::fprintf(stderr, "lorvane-peakrss: wait4: %s\n", std::strerror(errno));
    return 127;
  }
  const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  std::FILE* report = std::fopen(argv[1], "w");
  if (!report) {
    std::fprintf(stderr, "lorvane-peakrss: %s: %s\n", argv[1], std::strerror(errno));
    return 127;
  }
  // ru_maxrss is in KiB on Linux.
  const auto secondsOf = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  std::fprintf(report, "%.3f %ld %d %.3f\n", seconds, usage.ru_maxrss, status,
               secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime));
  if (std::fclose(report) != 0) return 127;
  return status;
}
