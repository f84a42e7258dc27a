#include "batch.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "audio_io.h"

namespace vocrel::tool {

namespace {

namespace fs = std::filesystem;

struct Job {
  std::string in, out;
  double seconds = 0;  // audio length by the header, 0 when unknown
};

struct Failure {
  std::string in, reason;
};

// The set of files to clean and what went wrong before any of them ran.
struct Plan {
  std::vector<Job> jobs;
  std::vector<Failure> failures;
  int skipped = 0;  // outputs already complete
};

// A signal that ends the batch: the running files are stopped with it, then
// the tool ends by it.
volatile std::sig_atomic_t g_endingSignal = 0;

void on_ending_signal(int sig) { g_endingSignal = sig; }

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void catch_ending_signals() {
  struct sigaction sa {};
  sa.sa_handler = on_ending_signal;  // no SA_RESTART: waitpid() returns to look
  for (const int sig : kEndingSignals) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
      ::sigaction(sig, &sa, nullptr);
  }
}

int core_count() {
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
}

// "wav,FLAC" takes a.wav and b.flac; "" takes every file.
bool extension_wanted(const fs::path& p, const std::string& list) {
  if (list.empty()) return true;
  std::string ext = p.extension().string();
  if (ext.empty()) return false;
  ext.erase(0, 1);
  for (std::size_t at = 0; at <= list.size();) {
    std::size_t end = list.find(',', at);
    if (end == std::string::npos) end = list.size();
    std::string item = list.substr(at, end - at);
    if (!item.empty() && item[0] == '.') item.erase(0, 1);
    if (!item.empty() && strcasecmp(item.c_str(), ext.c_str()) == 0) return true;
    at = end + 1;
  }
  return false;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool newer(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

class Planner {
 public:
  Planner(const Options& opts, const struct stat& outDir) : opts_(opts), outDir_(outDir) {}

  // A file named on the command line or found in a folder.
  void add_file(const fs::path& in, const fs::path& out) {
    struct stat st;
    if (::stat(in.c_str(), &st) != 0)
      return fail(in, std::string("cannot open: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return fail(in, "not a regular file");
    if (!outputs_.insert(out.string()).second)
      return fail(in, "its output '" + out.string() + "' is another input's output");
    struct stat os;
    if (::stat(out.c_str(), &os) == 0) {
      if (same_file(st, os)) return fail(in, "is its own output");
      if (newer(os.st_mtim, st.st_mtim) || opts_.noClobber) {
        ++plan.skipped;
        return;
      }
    }
    plan.jobs.push_back({in.string(), out.string(), 0});
  }

  // Every file under `dir` that the extension filter takes, in name order;
  // folders are walked (not those reached by symbolic links, nor OUTDIR).
  void add_folder(const fs::path& dir, const fs::path& out) {
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
      entries.push_back(*it);
    if (ec) return fail(dir, "cannot read the folder: " + ec.message());
    std::sort(entries.begin(), entries.end());
    for (const fs::directory_entry& e : entries) {
      const fs::path name = e.path().filename();
      if (e.is_directory(ec) && !e.is_symlink(ec)) {
        struct stat st;
        if (::stat(e.path().c_str(), &st) == 0 && same_file(st, outDir_)) continue;
        add_folder(e.path(), out / name);
      } else if (!e.is_directory(ec) && extension_wanted(name, opts_.extensions)) {
        add_file(e.path(), out / name);
      }
    }
  }

  Plan plan;

 private:
  void fail(const fs::path& in, const std::string& reason) {
    plan.failures.push_back({in.string(), reason});
  }
  const Options& opts_;
  struct stat outDir_;
  std::set<std::string> outputs_;
};

// Audio length from a file's header (0 when unknown), for the progress line
// and the summary.
double header_seconds(const std::string& in, const Options& opts) {
  const RawSpec raw{opts.rate.value_or(0), opts.channels.value_or(0), opts.rawIn};
  std::string error;
  const auto source = open_source(in, raw, error);
  if (!source || source->rate <= 0 || source->totalFrames <= 0) return 0;
  return static_cast<double>(source->totalFrames) / source->rate;
}

// Every length before the first run, where the progress line needs the total.
void measure(std::vector<Job>& jobs, const Options& opts) {
  for (Job& job : jobs) job.seconds = header_seconds(job.in, opts);
}

// "1:02:03" or "2:03".
std::string clock_text(double seconds) {
  const long s = std::lround(std::max(0.0, seconds));
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

// The lines a run of the single-file form wrote on stderr, without its name.
std::vector<std::string> message_lines(int fd) {
  std::string text;
  char buf[4096];
  ::lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) text.append(buf, std::size_t(n));
  std::vector<std::string> lines;
  static const std::string kPrefix = "vocrel-clean: ";
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (line.rfind(kPrefix, 0) == 0) line.erase(0, kPrefix.size());
    if (!line.empty() && line.rfind("Try 'vocrel-clean", 0) != 0) lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

bool show_progress_line(const Options& opts) { return !opts.quiet && ::isatty(STDERR_FILENO) != 0; }

class Runner {
 public:
  Runner(const Options& opts, const char* self, const Plan& plan)
      : self_(self), plan_(plan), failures_(plan.failures), opts_(opts) {
    Options perFile = opts;
    perFile.quiet = true;
    perFile.force = !opts.noClobber;  // an output older than its input is replaced
    args_ = file_options(perFile);
    jobs_ = opts.jobs > 0 ? opts.jobs : core_count();
    quiet_ = opts.quiet;
    showProgress_ = show_progress_line(opts);
    for (const Job& j : plan.jobs) {
      seconds_.push_back(j.seconds);
      totalAudio_ += j.seconds;
    }
    // Options the mode does not read are said once here, not by every run.
    const std::string unused = unused_options(opts);
    for (std::size_t at = 0; at < unused.size();) {
      const std::size_t end = unused.find('\n', at);
      const std::string line = "warning: " + unused.substr(at, end - at);
      std::fprintf(stderr, "vocrel-clean: %s\n", line.c_str());
      saidOnce_.insert(line);
      at = end + 1;
    }
  }

  // Runs every job; false when a signal stopped the batch.
  bool run() {
    std::size_t next = 0;
    while (g_endingSignal == 0 && (next < plan_.jobs.size() || !running_.empty())) {
      while (g_endingSignal == 0 && running_.size() < std::size_t(jobs_) &&
             next < plan_.jobs.size())
        start(next++);
      if (running_.empty()) continue;
      int status = 0;
      const pid_t pid = ::waitpid(-1, &status, 0);
      if (pid < 0) continue;  // EINTR: a signal, looked at above
      finish(pid, status);
    }
    if (g_endingSignal == 0) return true;
    for (const auto& [pid, run] : running_) ::kill(pid, g_endingSignal);
    for (const auto& [pid, run] : running_) {
      ::waitpid(pid, nullptr, 0);
      ::close(run.messages);
    }
    clear_progress();
    return false;
  }

  int report() {
    clear_progress();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const std::size_t failed = failures_.size();
    std::stable_sort(failures_.begin(), failures_.end(),
                     [](const Failure& a, const Failure& b) { return a.in < b.in; });
    for (const Failure& f : failures_)
      std::fprintf(stderr, "vocrel-clean: failed: %s: %s\n", f.in.c_str(), f.reason.c_str());
    if (!quiet_) {
      std::fprintf(stderr,
                   "vocrel-clean: %d file%s cleaned, %d skipped (already cleaned), %zu failed; "
                   "%.3f h of audio in %.1f s (%.0fx real time, %d job%s)\n",
                   cleaned_, cleaned_ == 1 ? "" : "s", plan_.skipped, failed, cleanedAudio_ / 3600,
                   wall, wall > 0 ? cleanedAudio_ / wall : 0.0, jobs_, jobs_ == 1 ? "" : "s");
    }
    return failed == 0 ? 0 : 1;
  }

 private:
  struct Running {
    std::size_t job;
    int messages;  // the run's stderr
  };

  void start(std::size_t index) {
    const Job& job = plan_.jobs[index];
    // Without a progress line the lengths (for the summary) are read here,
    // while the runs already started go on, rather than all before the first
    // one; a quiet run shows neither and reads none.
    if (!showProgress_ && !quiet_) seconds_[index] = header_seconds(job.in, opts_);
    std::error_code ec;
    fs::create_directories(fs::path(job.out).parent_path(), ec);
    if (ec) return failed(job, "cannot make the folder of '" + job.out + "': " + ec.message());
    const int messages = ::memfd_create("vocrel-clean-messages", MFD_CLOEXEC);
    if (messages < 0) return failed(job, std::string("memfd_create: ") + std::strerror(errno));
    std::vector<const char*> argv{self_};
    for (const std::string& a : args_) argv.push_back(a.c_str());
    for (const char* a : {"--", job.in.c_str(), job.out.c_str()}) argv.push_back(a);
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, STDIN_FILENO);
      ::dup2(null, STDOUT_FILENO);
      ::dup2(messages, STDERR_FILENO);
      for (const int sig : kEndingSignals) ::signal(sig, SIG_DFL);
      ::execv(self_, const_cast<char* const*>(argv.data()));
      ::_exit(127);
    }
    if (pid < 0) {
      ::close(messages);
      return failed(job, std::string("cannot start: ") + std::strerror(errno));
    }
    running_[pid] = {index, messages};
  }

  void finish(pid_t pid, int status) {
    const auto it = running_.find(pid);
    if (it == running_.end()) return;
    const Job& job = plan_.jobs[it->second.job];
    const double seconds = seconds_[it->second.job];
    std::vector<std::string> lines = message_lines(it->second.messages);
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [&](const std::string& l) { return saidOnce_.count(l) != 0; }),
                lines.end());
    ::close(it->second.messages);
    running_.erase(it);
    audioDone_ += seconds;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
      ++cleaned_;
      cleanedAudio_ += seconds;
      for (const std::string& line : lines) {
        clear_progress();
        std::fprintf(stderr, "vocrel-clean: %s: %s\n", job.in.c_str(), line.c_str());
      }
    } else {
      std::string reason;
      for (const std::string& line : lines) reason += (reason.empty() ? "" : "; ") + line;
      if (WIFSIGNALED(status))
        reason = std::string("ended by signal ") + strsignal(WTERMSIG(status));
      else if (WEXITSTATUS(status) == 127 && reason.empty())
        reason = std::string("cannot run ") + self_;
      failed(job, reason.empty() ? "failed" : reason);
      return;
    }
    ++filesDone_;
    show_progress();
  }

  void failed(const Job& job, const std::string& reason) {
    failures_.push_back({job.in, reason});
    ++filesDone_;
    show_progress();
  }

  // "vocrel-clean: 412/1000 files, 1.14/2.78 h of audio, 310x real time, ETA 0:19"
  void show_progress() {
    if (!showProgress_) return;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double rate = wall > 0 ? audioDone_ / wall : 0;
    const std::string eta = rate > 0 ? clock_text((totalAudio_ - audioDone_) / rate) : "?";
    std::fprintf(stderr,
                 "\rvocrel-clean: %zu/%zu files, %.2f/%.2f h of audio, %.0fx real time, ETA "
                 "%s\033[K",
                 filesDone_, plan_.jobs.size(), audioDone_ / 3600, totalAudio_ / 3600, rate,
                 eta.c_str());
    progressShown_ = true;
  }

  void clear_progress() {
    if (progressShown_) std::fputs("\r\033[K", stderr);
    progressShown_ = false;
  }

  const char* self_;
  const Plan& plan_;
  std::vector<Failure> failures_;
  std::vector<std::string> args_;
  std::set<std::string> saidOnce_;
  int jobs_ = 1;
  bool quiet_ = false, showProgress_ = false, progressShown_ = false;
  std::map<pid_t, Running> running_;
  std::size_t filesDone_ = 0;
  int cleaned_ = 0;
  double audioDone_ = 0, totalAudio_ = 0;  // seconds of audio, failed files included
  const Options& opts_;
  std::vector<double> seconds_;  // audio length of each job
  double cleanedAudio_ = 0;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace

int run_batch(const Options& opts, const char* self) {
  std::error_code ec;
  fs::create_directories(opts.outDir, ec);
  struct stat outDir;
  if (ec || ::stat(opts.outDir.c_str(), &outDir) != 0 || !S_ISDIR(outDir.st_mode)) {
    std::fprintf(stderr, "vocrel-clean: cannot make the output folder '%s': %s\n",
                 opts.outDir.c_str(), ec ? ec.message().c_str() : "not a folder");
    return 1;
  }
  Planner planner(opts, outDir);
  for (const std::string& in : opts.inputs) {
    struct stat st;
    if (::stat(in.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      if (same_file(st, outDir)) {
        std::fprintf(stderr,
                     "vocrel-clean: '%s' is the output folder itself; the batch form does not "
                     "clean in place\n",
                     in.c_str());
        return 1;
      }
      planner.add_folder(in, opts.outDir);
    } else {
      planner.add_file(in, fs::path(opts.outDir) / fs::path(in).filename());
    }
  }
  if (show_progress_line(opts)) measure(planner.plan.jobs, opts);
  catch_ending_signals();
  Runner runner(opts, self, planner.plan);
  if (!runner.run()) {
    const int sig = g_endingSignal;
    ::signal(sig, SIG_DFL);
    ::raise(sig);
    return 128 + sig;
  }
  return runner.report();
}

}  // namespace vocrel::tool
