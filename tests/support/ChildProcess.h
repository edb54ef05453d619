#pragma once
// A program run by a test: its standard input is a pipe the test writes, its
// output and error are collected as they come, and the test can wait for a
// text to appear, send signals and collect the exit status.
#include <sys/types.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bcu::testsupport {

class ChildProcess {
 public:
  // Starts `argv` (argv[0] is the program's path) in folder `cwd`. With
  // `closeOutput` the program's standard output is a pipe that nobody reads
  // (its reading end is closed at once).
  ChildProcess(std::vector<std::string> argv, const std::string& cwd, bool closeOutput = false);
  ~ChildProcess();  // kills the program if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  // Writes to the program's input; CloseInput ends it.
  void Write(const std::string& text);
  void CloseInput();
  void Signal(int signo);

  // Waits up to `seconds` for `text` in the output (stdout) or in the error
  // output (stderr); true when it came.
  bool WaitForOutput(const std::string& text, double seconds);
  bool WaitForError(const std::string& text, double seconds);
  // Waits up to `seconds` for the program to end (and for all it wrote). Its
  // exit code; -1 when it is still running, 128 + n when signal n ended it.
  int Wait(double seconds);

  std::string Output() const;
  std::string Error() const;

 private:
  void Collect(int fd, std::string& into);
  bool WaitFor(const std::string& text, const std::string& in, double seconds);

  pid_t pid_ = -1;
  int in_ = -1;
  int exitCode_ = -1;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string out_, err_;
  std::thread outReader_, errReader_;
};

}  // namespace bcu::testsupport
