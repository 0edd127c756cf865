// Standard output that cannot be written: the executable is run with its
// output on /dev/full or on a pipe nobody reads, and must not pass a lost
// report off as a completed run.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace {

enum class Output { devFull, closedPipe, readPipe };
enum class SigPipe { asDefault, ignored };

struct Outcome {
  int status = -1;  // exit status, or -1 when ended by a signal
  int signal = 0;
  bool coreDumped = false;
  std::string out;
  std::string err;
};

std::string readAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(fd);
  return text;
}

std::string example(const char* name) {
  return std::string(SEEDMATCH_SOURCE_DIR) + "/examples/" + name;
}

// Runs the executable with args, standard input from /dev/null, standard output
// as given and SIGPIPE at its default or ignored, as a shell or a parent
// process may leave it.
Outcome run(const std::vector<std::string>& args, Output output, SigPipe sigpipe) {
  int errPipe[2];
  int outPipe[2] = {-1, -1};
  if (pipe2(errPipe, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (output == Output::devFull) {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
  } else {
    if (pipe2(outPipe, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe";
    if (output == Output::closedPipe) {
      close(outPipe[0]);
      outPipe[0] = -1;
    }
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  }
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);

  // A spawned process keeps an ignored signal ignored; SETSIGDEF resets it.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, pipeOnly;
  sigemptyset(&none);
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  posix_spawnattr_setsigmask(&attr, &none);
  short flags = POSIX_SPAWN_SETSIGMASK;
  if (sigpipe == SigPipe::asDefault) {
    posix_spawnattr_setsigdefault(&attr, &pipeOnly);
    flags |= POSIX_SPAWN_SETSIGDEF;
  }
  posix_spawnattr_setflags(&attr, flags);
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  if (sigpipe == SigPipe::ignored) sigaction(SIGPIPE, &ignore, &previous);

  std::vector<char*> argv{const_cast<char*>(SEEDMATCH_EXE)};
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, SEEDMATCH_EXE, &actions, &attr, argv.data(), environ);
  if (sigpipe == SigPipe::ignored) sigaction(SIGPIPE, &previous, nullptr);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  close(errPipe[1]);
  if (outPipe[1] >= 0) close(outPipe[1]);

  Outcome outcome;
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << SEEDMATCH_EXE;
    close(errPipe[0]);
    if (outPipe[0] >= 0) close(outPipe[0]);
    return outcome;
  }
  // The error stream holds a line at most, so draining standard output first
  // cannot block the child.
  if (outPipe[0] >= 0) outcome.out = readAll(outPipe[0]);
  outcome.err = readAll(errPipe[0]);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  if (WIFEXITED(wstatus)) {
    outcome.status = WEXITSTATUS(wstatus);
  } else if (WIFSIGNALED(wstatus)) {
    outcome.signal = WTERMSIG(wstatus);
    outcome.coreDumped = WCOREDUMP(wstatus);
  }
  return outcome;
}

struct Command {
  const char* name;
  std::vector<std::string> args;
  int completedStatus;
};

// Each prints something: a report with pairs, a longer one that fills the
// output buffer more than once, the line for no pairs, help and version.
const std::vector<Command>& commands() {
  static const std::vector<Command> table = {
      {"report", {example("three_a.seeds"), example("three_b.seeds"), "1", "1", "1", "100"}, 1},
      {"long report", {example("forty_a.seeds"), example("forty_b.seeds"), "1", "1", "1", "1e9"}, 1},
      {"no pairs", {example("three_a.seeds"), example("three_b.seeds"), "1", "1", "1", "0"}, 1},
      {"help", {"--help"}, 0},
      {"version", {"--version"}, 0},
  };
  return table;
}

TEST(Output, EveryCommandWritesToAReadPipe) {
  for (const auto& command : commands()) {
    SCOPED_TRACE(command.name);
    const Outcome outcome = run(command.args, Output::readPipe, SigPipe::asDefault);
    EXPECT_EQ(outcome.status, command.completedStatus);
    EXPECT_FALSE(outcome.out.empty());
    EXPECT_EQ(outcome.err, "");
  }
}

TEST(Output, FullDeviceIsAnError) {
  for (const auto& command : commands()) {
    SCOPED_TRACE(command.name);
    const Outcome outcome = run(command.args, Output::devFull, SigPipe::asDefault);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.err, "seedmatch: cannot write standard output: no space left on device\n");
  }
}

// Like any filter, seedmatch in `... | head` whose reader has gone ends
// quietly by SIGPIPE: no message and no core dump.
TEST(Output, ClosedPipeEndsQuietlyBySigpipe) {
  for (const auto& command : commands()) {
    SCOPED_TRACE(command.name);
    const Outcome outcome = run(command.args, Output::closedPipe, SigPipe::asDefault);
    EXPECT_EQ(outcome.status, -1);
    EXPECT_EQ(outcome.signal, SIGPIPE);
    EXPECT_FALSE(outcome.coreDumped);
    EXPECT_EQ(outcome.err, "");
  }
}

// With SIGPIPE ignored by whoever started it, the write fails instead and the
// run ends with the error.
TEST(Output, ClosedPipeWithSigpipeIgnoredIsAnError) {
  for (const auto& command : commands()) {
    SCOPED_TRACE(command.name);
    const Outcome outcome = run(command.args, Output::closedPipe, SigPipe::ignored);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.err, "seedmatch: cannot write standard output: broken pipe\n");
  }
}

}  // namespace
