// Where vocrel-clean's output bytes go, and how an existing file is replaced.
//
// A regular file (or a new one) is written to a temporary in its folder that
// commit() puts into place; the temporary has no name while it is written
// (O_TMPFILE), so nothing is left behind even on SIGKILL, and where the file
// system cannot do that a named one is removed on every signal that can be
// caught. A file that the new one could not replace with the same owner,
// group, mode and extended attributes (a file of another user, one with other
// hard links, one in a folder the user cannot write) is instead written into
// once the whole output is ready. Pipes, FIFOs, devices and descriptors named
// by path (/dev/stdout, /dev/fd/N) are written directly as the output is made.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

namespace vocrel::tool {

// What may be written.
struct OutputRules {
  bool force = false;      // replace an existing file without asking
  bool noClobber = false;  // never replace an existing file
  std::string input;       // the input's path ("-": stdin): cleaning it in place is allowed
  std::string noStream;    // why the output cannot go to a stream ("" when it can)
};

class OutputFile {
 public:
  ~OutputFile();  // an output not committed is discarded (a direct one stays as written)
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Random access for the encoder. A stream keeps what is written in memory
  // until seal(); afterwards it only appends, and rewrites of what has gone
  // (a header's final lengths) are dropped.
  long long write(const void* data, long long count);
  bool seek(long long offset, int whence);
  long long tell() const { return pos_; }
  long long length() const { return end_; }
  long long read(void* data, long long count);

  // A stream: no seeking back, so the container must be one that can say
  // "length unknown" in its header.
  bool streaming() const { return stream_; }
  // Written to a temporary that commit() puts in place (else directly).
  bool staged() const { return staged_; }
  // Sends the bytes held so far (the header and the first audio) on their
  // way, with the header's lengths marked unknown. Called after each write of
  // audio; does something only the first time.
  bool seal();
  // Makes the output complete and visible; false with a reason on failure.
  bool commit(std::string& error);
  // What a failed write was, with the output's name.
  std::string write_error() const;
  int write_errno() const { return writeErrno_; }
  const std::string& name() const { return name_; }

 private:
  friend std::unique_ptr<OutputFile> open_output(const std::string&, const OutputRules&,
                                                 std::string&);
  OutputFile() = default;
  bool open_descriptor(int descriptor, const OutputRules& rules, std::string& error);
  bool open_stream(const std::string& path, const OutputRules& rules, std::string& error);
  bool open_staged(const std::string& path, bool exists, const OutputRules& rules,
                   std::string& error);
  bool send(const unsigned char* data, std::size_t count);
  bool put_in_place(std::string& error);
  bool write_into_target(std::string& error);

  std::string name_;     // as the user gave it
  int fd_ = -1;          // where the bytes go: the temporary, or the destination itself
  bool stream_ = false;  // fd_ cannot seek back
  long long base_ = 0;   // fd_'s offset of byte 0 (a descriptor handed over part-written)
  long long pos_ = 0;    // the encoder's position
  long long end_ = 0;    // the encoder's length
  long long sent_ = 0;   // stream: bytes gone out
  bool sealed_ = false;  // stream: held_ has gone out
  std::vector<unsigned char> held_;
  int writeErrno_ = 0;

  // A temporary to put in place.
  bool staged_ = false;
  bool committed_ = false;
  std::string target_;         // the file symbolic links lead to
  std::string dir_;            // its folder
  int dirFd_ = -1;             // the folder, for linking and renaming
  std::string tempName_;       // name of a named temporary in dir_ ("" when it has none)
  bool tempInFolder_ = false;  // the temporary is in dir_ (it can be linked there)
  int targetFd_ = -1;          // an existing target, open for writing
  bool writeInto_ = false;     // the target is written into rather than replaced
  bool existed_ = false;
  struct stat targetStat_ {};  // the existing target's owner, mode, links
};

// Opens the output `name` (not "-"): refuses, before any work, what must not
// or cannot be written, with a reason that names the file.
std::unique_ptr<OutputFile> open_output(const std::string& name, const OutputRules& rules,
                                        std::string& error);

// Every signal whose default action ends the process removes a named
// temporary first and then takes its default action. Signals the caller
// ignores stay ignored.
void install_signal_cleanup();

}  // namespace vocrel::tool
