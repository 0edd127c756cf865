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

std::string readAll(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  close(fd);
  return text;
}

// Runs seedmatch with its output on /dev/full, on a pipe whose reader has gone
// or on a pipe that is read, and SIGPIPE at its default or ignored, as a shell
// or a parent process may leave it: "status N|ERR" or "signal N|ERR", and OUT.
std::string run(std::vector<const char*> args, const std::string& output, bool ignorePipe, std::string& out) {
  int err[2], pipeFds[2];
  if (pipe(err) != 0 || pipe(pipeFds) != 0) return "pipe failed";
  if (output == "closed pipe") close(pipeFds[0]);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, ignorePipe ? SIG_IGN : SIG_DFL);
    dup2(output == "full device" ? open("/dev/full", O_WRONLY) : pipeFds[1], 1);
    dup2(err[1], 2);
    args.insert(args.begin(), SEEDMATCH_EXE);
    args.push_back(nullptr);
    execv(SEEDMATCH_EXE, const_cast<char* const*>(args.data()));
    _exit(127);
  }
  close(err[1]);
  close(pipeFds[1]);
  if (output == "full device") close(pipeFds[0]);
  out = output == "read pipe" ? readAll(pipeFds[0]) : "";  // the error stream holds a line at most
  const std::string errText = readAll(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return (WIFEXITED(status) ? "status " + std::to_string(WEXITSTATUS(status))
                            : "signal " + std::to_string(WTERMSIG(status)) + (WCOREDUMP(status) ? " core" : "")) +
         "|" + errText;
}

TEST(Output, FullDevicesAndClosedPipes) {
  const std::string three = SEEDMATCH_SOURCE_DIR "/examples/three_", forty = SEEDMATCH_SOURCE_DIR "/examples/forty_";
  const std::string a = three + "a.seeds", b = three + "b.seeds", longA = forty + "a.seeds", longB = forty + "b.seeds";
  // A report, one that fills the output buffer more than once, the line for no pairs, help and version.
  const struct { std::vector<const char*> args; const char* completed; } commands[] = {
      {{a.c_str(), b.c_str(), "1", "1", "1", "100"}, "status 1|"},
      {{longA.c_str(), longB.c_str(), "1", "1", "1", "1e9"}, "status 1|"},
      {{a.c_str(), b.c_str(), "1", "1", "1", "0"}, "status 1|"},
      {{"--help"}, "status 0|"},
      {{"--version"}, "status 0|"},
  };
  const char* const noSpace = "status 2|seedmatch: cannot write standard output: no space left on device\n";
  const struct { const char* output; bool ignorePipe; const char* expected; } outputs[] = {
      {"read pipe", false, nullptr},
      {"full device", false, noSpace},
      {"closed pipe", false, "signal 13|"},  // quietly, as any filter in `... | head`
      {"closed pipe", true, "status 2|seedmatch: cannot write standard output: broken pipe\n"},
  };
  for (const auto& command : commands) {
    for (const auto& o : outputs) {
      std::string out;
      EXPECT_EQ(run(command.args, o.output, o.ignorePipe, out), o.expected ? o.expected : command.completed)
          << command.args[0] << " to a " << o.output << (o.ignorePipe ? ", SIGPIPE ignored" : "");
      EXPECT_EQ(out.empty(), o.expected != nullptr);
    }
  }
}

}  // namespace
