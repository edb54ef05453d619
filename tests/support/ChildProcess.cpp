#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace bcu::testsupport {

namespace {

void Pipe(int fds[2]) {
  if (::pipe2(fds, O_CLOEXEC) != 0) fds[0] = fds[1] = -1;
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, const std::string& cwd,
                           bool closeOutput) {
  int in[2], out[2], err[2];
  Pipe(in);
  Pipe(out);
  Pipe(err);
  if (in[0] < 0 || out[0] < 0 || err[0] < 0) return;
  // Everything the child needs is made before the fork: between fork and exec
  // it may not allocate (another thread of the test may hold the heap's lock).
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    // The test's own signal settings are not the program's.
    ::signal(SIGPIPE, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  in_ = in[1];
  if (closeOutput) {
    ::close(out[0]);
  } else {
    outReader_ = std::thread([this, fd = out[0]] { Collect(fd, out_); });
  }
  errReader_ = std::thread([this, fd = err[0]] { Collect(fd, err_); });
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && Wait(0) < 0) {
    ::kill(pid_, SIGKILL);
    Wait(10);
  }
  CloseInput();
  if (outReader_.joinable()) outReader_.join();
  if (errReader_.joinable()) errReader_.join();
}

void ChildProcess::Collect(int fd, std::string& into) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    std::lock_guard<std::mutex> lock(mutex_);
    into.append(buffer, static_cast<std::size_t>(n));
    changed_.notify_all();
  }
  ::close(fd);
}

void ChildProcess::Write(const std::string& text) {
  if (in_ >= 0) {
    const ssize_t ignored = ::write(in_, text.data(), text.size());
    (void)ignored;
  }
}

void ChildProcess::CloseInput() {
  if (in_ >= 0) ::close(in_);
  in_ = -1;
}

void ChildProcess::Signal(int signo) {
  if (pid_ > 0 && exitCode_ < 0) ::kill(pid_, signo);
}

bool ChildProcess::WaitFor(const std::string& text, const std::string& in, double seconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::duration<double>(seconds),
                           [&] { return in.find(text) != std::string::npos; });
}

bool ChildProcess::WaitForOutput(const std::string& text, double seconds) {
  return WaitFor(text, out_, seconds);
}

bool ChildProcess::WaitForError(const std::string& text, double seconds) {
  return WaitFor(text, err_, seconds);
}

int ChildProcess::Wait(double seconds) {
  if (pid_ <= 0) return -1;
  if (exitCode_ >= 0) return exitCode_;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      // Everything the program wrote is collected before the caller looks.
      if (outReader_.joinable()) outReader_.join();
      if (errReader_.joinable()) errReader_.join();
      return exitCode_;
    }
    if (std::chrono::steady_clock::now() >= end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::string ChildProcess::Output() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return out_;
}

std::string ChildProcess::Error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return err_;
}

}  // namespace bcu::testsupport
