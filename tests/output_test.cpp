// Standard output that cannot be written: a lost report must not pass for a
// completed run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// Runs seedmatch with its output on /dev/full or on a pipe whose reader has
// gone, SIGPIPE at its default or ignored, as a shell or a parent process may
// leave it: "status N|ERR" or "signal N|ERR".
std::string run(std::vector<const char*> args, bool fullDevice, bool ignorePipe) {
  int err[2], out[2];
  if (pipe(err) != 0 || pipe(out) != 0) return "pipe failed";
  close(out[0]);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, ignorePipe ? SIG_IGN : SIG_DFL);
    dup2(fullDevice ? open("/dev/full", O_WRONLY) : out[1], 1);
    dup2(err[1], 2);
    args.insert(args.begin(), SEEDMATCH_EXE);
    args.push_back(nullptr);
    execv(SEEDMATCH_EXE, const_cast<char* const*>(args.data()));
    _exit(127);
  }
  close(err[1]);
  close(out[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return (WIFEXITED(status) ? "status " + std::to_string(WEXITSTATUS(status))
                            : "signal " + std::to_string(WTERMSIG(status)) + (WCOREDUMP(status) ? " core" : "")) + "|" + text;
}

TEST(Output, FullDevicesAndClosedPipes) {
  const std::string dir = SEEDMATCH_SOURCE_DIR "/examples/", a = dir + "three_a.seeds", b = dir + "three_b.seeds";
  const std::string longA = dir + "forty_a.seeds", longB = dir + "forty_b.seeds";
  // A report, one that fills the output buffer more than once, the line for no pairs, help and version.
  const std::vector<std::vector<const char*>> commands = {
      {a.c_str(), b.c_str(), "1", "1", "1", "100"}, {longA.c_str(), longB.c_str(), "1", "1", "1", "1e9"},
      {a.c_str(), b.c_str(), "1", "1", "1", "0"}, {"--help"}, {"--version"}};
  for (const auto& args : commands) {
    EXPECT_EQ(run(args, true, false), "status 2|seedmatch: cannot write standard output: no space left on device\n") << args[0];
    // Quietly, as any filter in `... | head`, unless SIGPIPE is ignored.
    EXPECT_EQ(run(args, false, false), "signal " + std::to_string(SIGPIPE) + "|") << args[0];
    EXPECT_EQ(run(args, false, true), "status 2|seedmatch: cannot write standard output: broken pipe\n") << args[0];
  }
}

}  // namespace
