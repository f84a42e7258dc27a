#include "output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace vocrel::tool {

namespace {

// ---- signal clean-up ---------------------------------------------------------------
// The one named temporary that may exist, for the signal handler: a fixed
// buffer, since a handler may only call async-signal-safe functions.
char g_tempPath[PATH_MAX + 1];
volatile std::sig_atomic_t g_haveTemp = 0;

// Signals whose default action ends the process, but for SIGKILL and SIGSTOP
// (which cannot be caught) and the real-time ones (added at run time).
constexpr int kEndingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT,
                                  SIGBUS,  SIGFPE,  SIGUSR1,   SIGSEGV, SIGUSR2, SIGPIPE,
                                  SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU, SIGXFSZ, SIGVTALRM,
                                  SIGPROF, SIGIO,   SIGPWR,    SIGSYS};

sigset_t ending_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kEndingSignals) sigaddset(&set, sig);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(&set, sig);
  return set;
}

void remember_temp(const std::string& path) {
  g_haveTemp = 0;
  std::snprintf(g_tempPath, sizeof g_tempPath, "%s", path.c_str());
  g_haveTemp = 1;
}

void forget_temp() { g_haveTemp = 0; }

extern "C" void on_ending_signal(int sig) {
  if (g_haveTemp != 0) ::unlink(g_tempPath);
  // The handler was reset to the default on entry (SA_RESETHAND): the signal
  // raised again ends the process the way it would have without us.
  sigset_t self;
  sigemptyset(&self);
  sigaddset(&self, sig);
  ::sigprocmask(SIG_UNBLOCK, &self, nullptr);
  ::raise(sig);
  ::_exit(128 + sig);
}

// Holds the ending signals while a temporary is created, named or put in
// place, so that none comes between the file and what the handler knows.
class SignalsHeld {
 public:
  SignalsHeld() {
    const sigset_t set = ending_signals();
    ::sigprocmask(SIG_BLOCK, &set, &previous_);
  }
  ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

std::string errno_text(int e) { return std::strerror(e); }

// ---- names -------------------------------------------------------------------------

// The descriptor a path names: /dev/stdout, /dev/stderr, /dev/fd/N,
// /proc/self/fd/N, /proc/<this process>/fd/N; -1 for any other path. Opening
// such a path anew would start a second file position (and lose append mode)
// on a regular file, and fail on a pipe or socket: the descriptor itself is
// used instead.
int descriptor_named(const std::string& path) {
  if (path == "/dev/stdout") return STDOUT_FILENO;
  if (path == "/dev/stderr") return STDERR_FILENO;
  const std::string prefixes[] = {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/",
                                  "/proc/" + std::to_string(::getpid()) + "/fd/"};
  for (const std::string& prefix : prefixes) {
    if (path.compare(0, prefix.size(), prefix) != 0 || path.size() == prefix.size()) continue;
    const std::string digits = path.substr(prefix.size());
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::atoi(digits.c_str());
  }
  return -1;
}

// Six characters from [A-Za-z0-9] for a temporary's name.
std::string random_suffix() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[6];
  if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    // No entropy yet: the clock and the process id still differ between tries.
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    std::uint64_t x = static_cast<std::uint64_t>(ts.tv_nsec) * 0x9E3779B97F4A7C15u ^
                      static_cast<std::uint64_t>(::getpid()) << 32;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(x >>= 8);
  }
  std::string s;
  for (unsigned char b : bytes) s += kChars[b % (sizeof kChars - 1)];
  return s;
}

// ".NAME.XXXXXX", with NAME cut short so that the whole fits a folder entry.
std::string temp_name(const std::string& base) {
  constexpr std::size_t kRoom = NAME_MAX - 8;  // the dots and the suffix
  std::string name(1, '.');
  name.append(base, 0, kRoom);
  name += '.';
  name += random_suffix();
  return name;
}

// The path a symbolic link leads to, relative to the link's folder.
std::string link_target(const std::string& link, const char* target) {
  const auto slash = link.rfind('/');
  return target[0] == '/' || slash == std::string::npos ? std::string(target)
                                                        : link.substr(0, slash + 1) + target;
}

// ---- temporaries -------------------------------------------------------------------

bool no_tmpfile(int e) { return e == EOPNOTSUPP || e == EISDIR || e == EINVAL; }

// A temporary in the folder dirFd (path dir): unnamed where the file system
// allows (mode 0666 less the umask, as a new file gets, and only its writer
// can reach it), else ".BASE.XXXXXX" (its name in `name`, known to the signal
// handler), private until it is put in place.
int open_temp_in(int dirFd, const std::string& dir, const std::string& base, std::string& name) {
  name.clear();
  const int fd = ::openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd >= 0 || !no_tmpfile(errno)) return fd;
  for (int tries = 0; tries < 100; ++tries) {
    const std::string candidate = temp_name(base);
    SignalsHeld held;
    const int named =
        ::openat(dirFd, candidate.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (named >= 0) {
      name = candidate;
      remember_temp(dir + "/" + candidate);
      return named;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// A temporary without a name in $TMPDIR (or /tmp), for a file that is written
// into: it never needs one, so a named one is removed at once.
int open_scratch() {
  const char* t = std::getenv("TMPDIR");
  const std::string dir = t != nullptr && *t != '\0' ? t : "/tmp";
  const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || !no_tmpfile(errno)) return fd;
  std::string path = dir + "/vocrel-clean.XXXXXX";
  SignalsHeld held;
  const int named = ::mkostemp(path.data(), O_CLOEXEC);
  if (named >= 0) ::unlink(path.c_str());
  return named;
}

// ---- attributes --------------------------------------------------------------------

// Names of a file's extended attributes ("" entries never occur).
bool xattr_names(int fd, std::vector<std::string>& names) {
  names.clear();
  ssize_t size = ::flistxattr(fd, nullptr, 0);
  if (size < 0) return errno == ENOTSUP;  // a file system without them: none
  std::vector<char> list(static_cast<std::size_t>(size) + 1);
  size = ::flistxattr(fd, list.data(), list.size());
  if (size < 0) return false;
  for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::strlen(&list[at])) + 1)
    names.emplace_back(&list[at]);
  return true;
}

// Gives `to` exactly the extended attributes of `from`.
bool copy_xattrs(int from, int to) {
  std::vector<std::string> want, have;
  if (!xattr_names(from, want) || !xattr_names(to, have)) return false;
  for (const std::string& n : have)
    if (std::find(want.begin(), want.end(), n) == want.end() && ::fremovexattr(to, n.c_str()) != 0)
      return false;
  for (const std::string& n : want) {
    const ssize_t size = ::fgetxattr(from, n.c_str(), nullptr, 0);
    if (size < 0) return false;
    std::vector<char> value(static_cast<std::size_t>(size) + 1);
    const ssize_t got = ::fgetxattr(from, n.c_str(), value.data(), value.size());
    if (got < 0 || ::fsetxattr(to, n.c_str(), value.data(), static_cast<std::size_t>(got), 0) != 0)
      return false;
  }
  return true;
}

// Makes the temporary the target's twin in owner, group, extended attributes
// and mode (less setuid and setgid); false where the user may not.
bool take_attributes(int temp, int target, const struct stat& st) {
  struct stat now;
  if (::fstat(temp, &now) != 0) return false;
  if ((now.st_uid != st.st_uid || now.st_gid != st.st_gid) &&
      ::fchown(temp, st.st_uid, st.st_gid) != 0)
    return false;
  // The mode goes last: an access list among the attributes sets the group bits.
  return copy_xattrs(target, temp) && ::fchmod(temp, st.st_mode & 01777) == 0;
}

bool write_all_at(int fd, const unsigned char* p, std::size_t n, off_t at, int& err) {
  while (n > 0) {
    const ssize_t w = ::pwrite(fd, p, n, at);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      err = w < 0 ? errno : EIO;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
    at += w;
  }
  return true;
}

// Marks the lengths in a container header as unknown, for a stream whose
// header cannot be rewritten at the end: RIFF (WAV) and AU have a value for
// that. The first bytes of the stream are the header.
void mark_length_unknown(std::vector<unsigned char>& b) {
  auto is = [&](std::size_t at, const char* id) {
    return b.size() >= at + 4 && std::memcmp(b.data() + at, id, 4) == 0;
  };
  auto fill = [&](std::size_t at, std::size_t n) {
    if (b.size() >= at + n) std::memset(b.data() + at, 0xFF, n);
  };
  if (is(0, "RIFF") || is(0, "RIFX")) {
    const bool big = is(0, "RIFX");
    fill(4, 4);
    for (std::size_t at = 12; at + 8 <= b.size();) {
      std::uint32_t size = 0;
      for (int k = 0; k < 4; ++k)
        size |= std::uint32_t{b[at + 4 + static_cast<std::size_t>(big ? 3 - k : k)]} << (8 * k);
      if (is(at, "data")) {
        fill(at + 4, 4);
        break;
      }
      at += 8 + size + (size & 1);
    }
  } else if (is(0, ".snd")) {
    fill(8, 4);
  }
}

}  // namespace

// ---- the output --------------------------------------------------------------------

OutputFile::~OutputFile() {
  if (staged_ && !committed_ && !tempName_.empty()) {
    ::unlinkat(dirFd_, tempName_.c_str(), 0);
    forget_temp();
  }
  for (int fd : {fd_, targetFd_, dirFd_})
    if (fd >= 0) ::close(fd);
}

bool OutputFile::send(const unsigned char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd_, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      writeErrno_ = w < 0 ? errno : EIO;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
    sent_ += w;
  }
  return true;
}

long long OutputFile::write(const void* data, long long count) {
  if (count <= 0) return 0;
  const auto* p = static_cast<const unsigned char*>(data);
  auto n = static_cast<std::size_t>(count);
  if (!stream_) {
    if (!write_all_at(fd_, p, n, static_cast<off_t>(base_ + pos_), writeErrno_)) return 0;
  } else if (!sealed_) {
    if (held_.size() < static_cast<std::size_t>(pos_) + n) held_.resize(pos_ + n);
    std::memcpy(held_.data() + pos_, p, n);
  } else {
    // What would land before the bytes sent is a rewrite of the header: dropped.
    const std::size_t skip =
        std::min<std::size_t>(n, pos_ < sent_ ? static_cast<std::size_t>(sent_ - pos_) : 0);
    const std::vector<unsigned char> gap(pos_ > sent_ ? static_cast<std::size_t>(pos_ - sent_) : 0);
    if (skip < n && (!send(gap.data(), gap.size()) || !send(p + skip, n - skip))) return 0;
  }
  pos_ += count;
  end_ = std::max(end_, pos_);
  return count;
}

bool OutputFile::seek(long long offset, int whence) {
  const long long to = whence == SEEK_SET   ? offset
                       : whence == SEEK_CUR ? pos_ + offset
                       : whence == SEEK_END ? end_ + offset
                                            : -1;
  if (to < 0) return false;
  pos_ = to;
  return true;
}

long long OutputFile::read(void* data, long long count) {
  if (count <= 0) return 0;
  if (!stream_) {
    const ssize_t n =
        ::pread(fd_, data, static_cast<std::size_t>(count), static_cast<off_t>(base_ + pos_));
    if (n > 0) pos_ += n;
    return n > 0 ? n : 0;
  }
  if (sealed_ || pos_ >= static_cast<long long>(held_.size())) return 0;
  const auto n = std::min<long long>(count, static_cast<long long>(held_.size()) - pos_);
  std::memcpy(data, held_.data() + pos_, static_cast<std::size_t>(n));
  pos_ += n;
  return n;
}

bool OutputFile::seal() {
  if (!stream_ || sealed_) return true;
  sealed_ = true;
  mark_length_unknown(held_);
  const bool ok = send(held_.data(), held_.size());
  std::vector<unsigned char>().swap(held_);
  return ok;
}

std::string OutputFile::write_error() const {
  return "cannot write '" + name_ + "': " + errno_text(writeErrno_ != 0 ? writeErrno_ : EIO);
}

bool OutputFile::commit(std::string& error) {
  if (!staged_) {
    // A stream whose audio never came holds a complete file, final lengths and all.
    if (stream_ && !sealed_) {
      sealed_ = true;
      if (!send(held_.data(), held_.size())) {
        error = write_error();
        return false;
      }
    }
    return true;
  }
  if (::fdatasync(fd_) != 0 && errno != EINVAL) {
    error = "cannot write '" + name_ + "': " + errno_text(errno);
    return false;
  }
  SignalsHeld held;
  bool ok = false;
  if (existed_) {
    // Links or attributes may have changed while the output was made.
    if (::fstat(targetFd_, &targetStat_) != 0) {
      error = "cannot write '" + name_ + "': " + errno_text(errno);
      return false;
    }
    const bool replace =
        !writeInto_ && targetStat_.st_nlink == 1 && take_attributes(fd_, targetFd_, targetStat_);
    ok = replace ? put_in_place(error) : write_into_target(error);
  } else {
    ok = put_in_place(error);
  }
  committed_ = ok;
  return ok;
}

// Gives the temporary the target's name: a new file is linked there (never
// over one that appeared meanwhile), an existing one is replaced by a rename.
bool OutputFile::put_in_place(std::string& error) {
  const auto slash = target_.rfind('/');
  const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  if (tempName_.empty()) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
    for (int tries = 0; tries < 100; ++tries) {
      const std::string name = existed_ ? temp_name(base) : base;
      if (existed_) remember_temp(dir_ + "/" + name);
      int rc = ::linkat(AT_FDCWD, self, dirFd_, name.c_str(), AT_SYMLINK_FOLLOW);
      if (rc != 0 && errno == ENOENT)  // no /proc: the way that needs privilege
        rc = ::linkat(fd_, "", dirFd_, name.c_str(), AT_EMPTY_PATH);
      if (rc == 0) {
        tempName_ = name;
        break;
      }
      const int e = errno;
      forget_temp();
      if (e != EEXIST || !existed_) {
        error = e == EEXIST ? "'" + name_ + "' appeared while the output was made: left as it is"
                            : "cannot create '" + name_ + "': " + errno_text(e);
        return false;
      }
    }
    if (tempName_.empty()) {
      error = "cannot replace '" + name_ + "': no free name for its temporary";
      return false;
    }
    if (!existed_) {
      tempName_.clear();
      return true;
    }
  } else if (!existed_) {
    // A named temporary was private while it was written; a new file gets the
    // mode new files get.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
    if (::linkat(dirFd_, tempName_.c_str(), dirFd_, base.c_str(), 0) != 0) {
      error = errno == EEXIST ? "'" + name_ + "' appeared while the output was made: left as it is"
                              : "cannot create '" + name_ + "': " + errno_text(errno);
      return false;
    }
    ::unlinkat(dirFd_, tempName_.c_str(), 0);
    tempName_.clear();
    forget_temp();
    return true;
  }
  if (::renameat(dirFd_, tempName_.c_str(), dirFd_, base.c_str()) != 0) {
    error = "cannot replace '" + name_ + "': " + errno_text(errno);
    ::unlinkat(dirFd_, tempName_.c_str(), 0);
    tempName_.clear();
    forget_temp();
    return false;
  }
  tempName_.clear();
  forget_temp();
  return true;
}

// Writes the finished output into the existing file, which keeps its inode:
// its owner, group, mode (less setuid and setgid), attributes and other names.
// The space is reserved first where the file system can, so that a full disk
// leaves the file as it was.
bool OutputFile::write_into_target(std::string& error) {
  struct stat st;
  if (::fstat(fd_, &st) != 0) {
    error = "cannot write '" + name_ + "': " + errno_text(errno);
    return false;
  }
  const off_t size = st.st_size;
  if (size > 0 && ::fallocate(targetFd_, FALLOC_FL_KEEP_SIZE, 0, size) != 0 &&
      errno != EOPNOTSUPP && errno != ENOSYS) {
    error = "cannot write '" + name_ + "': " + errno_text(errno) + " (left as it was)";
    return false;
  }
  std::vector<unsigned char> buf(1 << 16);
  int err = 0;
  for (off_t at = 0; at < size;) {
    const ssize_t n = ::pread(fd_, buf.data(), buf.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      break;
    }
    if (!write_all_at(targetFd_, buf.data(), static_cast<std::size_t>(n), at, err)) break;
    at += n;
  }
  if (err == 0 && ::ftruncate(targetFd_, size) != 0) err = errno;
  if (err != 0) {
    error = "cannot write '" + name_ + "': " + errno_text(err) + " (the file is incomplete)";
    return false;
  }
  if ((targetStat_.st_mode & 06000) != 0) ::fchmod(targetFd_, targetStat_.st_mode & 01777);
  return true;
}

namespace {

// Follows symbolic links from `name` to the file they lead to (its lstat in
// st; exists false when there is none yet), or to a descriptor named by path
// (`descriptor` >= 0). A link that leads nowhere is refused: it would create
// a file under a name the user did not give.
bool follow_links(const std::string& name, std::string& path, int& descriptor, struct stat& st,
                  bool& exists, std::string& error) {
  path = name;
  exists = false;
  for (int hops = 0;; ++hops) {
    descriptor = descriptor_named(path);
    if (descriptor >= 0) return true;
    if (::lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT) {
        error = "cannot write '" + name + "': " + errno_text(errno);
        return false;
      }
      if (hops > 0) {
        error = "'" + name + "' is a symbolic link to '" + path +
                "', which does not exist: not created (name the file itself)";
        return false;
      }
      return true;
    }
    if (!S_ISLNK(st.st_mode)) {
      exists = true;
      return true;
    }
    char target[PATH_MAX + 1];
    const ssize_t n = ::readlink(path.c_str(), target, PATH_MAX);
    if (hops == 40 || n < 0) {
      error = "cannot write '" + name + "': " + errno_text(n < 0 ? errno : ELOOP);
      return false;
    }
    target[n] = '\0';
    path = link_target(path, target);
  }
}

// Whether the existing file `target` (open as targetFd) may be replaced: the
// input itself always; another file with --force, or after a yes on a
// terminal (not when stdin carries the audio).
bool may_replace(const std::string& name, const struct stat& target, const OutputRules& rules,
                 std::string& error) {
  const std::string quoted = "'" + name + "'";
  if (rules.noClobber) {
    error = quoted + " exists: left as it is (-n, --no-clobber)";
    return false;
  }
  struct stat in;
  const bool inPlace = rules.input != "-" && ::stat(rules.input.c_str(), &in) == 0 &&
                       in.st_dev == target.st_dev && in.st_ino == target.st_ino;
  if (inPlace || rules.force) return true;
  if (rules.input != "-" && ::isatty(STDIN_FILENO) != 0) {
    std::fprintf(stderr, "vocrel-clean: replace %s? [y/N] ", quoted.c_str());
    char answer[64];
    if (std::fgets(answer, sizeof answer, stdin) != nullptr &&
        (answer[0] == 'y' || answer[0] == 'Y'))
      return true;
  }
  error = quoted + " exists: not replaced (-f, --force replaces it)";
  return false;
}

}  // namespace

// A descriptor named by path, taken as it is: a regular file not in append
// mode is written at its offset (and its header completed at the end);
// anything else is a stream.
bool OutputFile::open_descriptor(int descriptor, const OutputRules& rules, std::string& error) {
  const std::string said = "cannot write '" + name_ + "': ";
  fd_ = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
  const int flags = fd_ < 0 ? 0 : ::fcntl(fd_, F_GETFL);
  struct stat st {};
  if (fd_ < 0 || (flags & O_ACCMODE) == O_RDONLY || ::fstat(fd_, &st) != 0) {
    error = said + "descriptor " + std::to_string(descriptor) +
            (fd_ < 0 ? " is not open" : " is open for reading only");
    return false;
  }
  base_ = S_ISREG(st.st_mode) && (flags & O_APPEND) == 0 ? ::lseek(fd_, 0, SEEK_CUR) : -1;
  stream_ = base_ < 0;
  base_ = std::max(base_, 0LL);
  if (stream_ && !rules.noStream.empty()) {
    error = said + rules.noStream;
    return false;
  }
  return true;
}

// A FIFO, a device, a socket: written as the output is made. (Opening a FIFO
// waits for its reader, so a refusal comes first.)
bool OutputFile::open_stream(const std::string& path, const OutputRules& rules,
                             std::string& error) {
  stream_ = true;
  if (!rules.noStream.empty()) {
    error = "cannot write '" + name_ + "': " + rules.noStream;
    return false;
  }
  fd_ = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) error = "cannot write '" + name_ + "': " + errno_text(errno);
  return fd_ >= 0;
}

// A regular file or a new one: a temporary in its folder, or where the folder
// takes none and the file exists, one in the temporary folder and the file
// written into.
bool OutputFile::open_staged(const std::string& path, bool exists, const OutputRules& rules,
                             std::string& error) {
  staged_ = true;
  target_ = path;
  const auto slash = path.rfind('/');
  dir_ = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  dirFd_ = ::open(dir_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dirFd_ < 0 || base.empty()) {
    error = "cannot create '" + name_ + "': " + errno_text(base.empty() ? EISDIR : errno);
    return false;
  }
  if (exists) {
    // Opening for writing asks the kernel itself whether the user may write it.
    targetFd_ = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (targetFd_ < 0 || ::fstat(targetFd_, &targetStat_) != 0) {
      error = "cannot write '" + name_ + "': " + errno_text(errno);
      return false;
    }
    if (!may_replace(name_, targetStat_, rules, error)) return false;
    existed_ = true;
    writeInto_ = targetStat_.st_nlink > 1;  // other names of the file see the new audio too
  } else {
    const long nameMax = ::fpathconf(dirFd_, _PC_NAME_MAX);
    if (base.size() > static_cast<std::size_t>(nameMax > 0 ? nameMax : NAME_MAX)) {
      error = "cannot create '" + name_ + "': " + errno_text(ENAMETOOLONG);
      return false;
    }
  }
  fd_ = open_temp_in(dirFd_, dir_, base, tempName_);
  if (fd_ >= 0) return true;
  if (!exists || (errno != EACCES && errno != EPERM && errno != EROFS)) {
    error = "cannot create '" + name_ + "': " + errno_text(errno);
    return false;
  }
  writeInto_ = true;
  fd_ = open_scratch();
  if (fd_ < 0)
    error = "cannot write '" + name_ + "': neither its folder nor the temporary folder takes " +
            "a temporary: " + errno_text(errno);
  return fd_ >= 0;
}

std::unique_ptr<OutputFile> open_output(const std::string& name, const OutputRules& rules,
                                        std::string& error) {
  std::unique_ptr<OutputFile> out(new OutputFile);
  out->name_ = name;
  std::string path;
  int descriptor = -1;
  struct stat st {};
  bool exists = false;
  if (!follow_links(name, path, descriptor, st, exists, error)) return nullptr;
  bool ok = false;
  if (descriptor >= 0) {
    ok = out->open_descriptor(descriptor, rules, error);
  } else if (exists && S_ISDIR(st.st_mode)) {
    error = "cannot write '" + name + "': " + errno_text(EISDIR);
  } else if (exists && !S_ISREG(st.st_mode)) {
    ok = out->open_stream(path, rules, error);
  } else {
    ok = out->open_staged(path, exists, rules, error);
  }
  return ok ? std::move(out) : nullptr;
}

void install_signal_cleanup() {
  struct sigaction sa {};
  sa.sa_handler = on_ending_signal;
  sa.sa_mask = ending_signals();
  sa.sa_flags = SA_RESETHAND;
  sigset_t all = ending_signals();
  for (int sig = 1; sig < NSIG; ++sig) {
    struct sigaction old {};
    if (sigismember(&all, sig) != 1 || ::sigaction(sig, nullptr, &old) != 0 ||
        old.sa_handler == SIG_IGN)
      continue;
    ::sigaction(sig, &sa, nullptr);
  }
}

}  // namespace vocrel::tool
