#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace mirelo {

namespace {

// A shell runs the commands in a background subshell and exits at once; the
// subshell is adopted by init (or the nearest subreaper), which reaps it. The
// arguments travel as positional parameters, never through the script text,
// so no quoting can go wrong.
std::string detachedScript(const std::vector<std::vector<std::string>>& commands) {
  std::string script = "(";
  size_t parameter = 0;
  for (const auto& command : commands) {
    if (command.empty()) continue;
    if (parameter > 0) script += ";";
    for (size_t i = 0; i < command.size(); ++i) {
      script += " \"${" + std::to_string(++parameter) + "}\"";
    }
  }
  script += " ) </dev/null >/dev/null 2>&1 &";
  return script;
}

struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
  }
};

}  // namespace

bool runDetached(const std::vector<std::vector<std::string>>& commands) {
  std::vector<std::string> arguments{"sh", "-c", "", "sh"};
  for (const auto& command : commands)
    for (const auto& argument : command) arguments.push_back(argument);
  if (arguments.size() == 4) return true;  // nothing to run
  arguments[2] = detachedScript(commands);

  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  SpawnSetup setup;
  for (int fd = 0; fd <= 2; ++fd)
    posix_spawn_file_actions_addopen(&setup.actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                     0);
  posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);
  // The caller's blocked or ignored signals must not reach the utilities.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&setup.attributes, &none);
  posix_spawnattr_setsigdefault(&setup.attributes, &all);
  posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t shell = 0;
  if (posix_spawn(&shell, "/bin/sh", &setup.actions, &setup.attributes, argv.data(), environ) != 0)
    return false;
  // The shell only forks the subshell and exits: a short wait, and no zombie.
  int status = 0;
  while (waitpid(shell, &status, 0) < 0) {
    if (errno != EINTR) return errno == ECHILD;  // SIGCHLD ignored: reaped already
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace mirelo
