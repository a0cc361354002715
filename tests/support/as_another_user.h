// Runs a check as an unprivileged user, in a child process: the tests run
// as root in CI, and root may write files whatever their permissions say.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace pagetrim::test {

// The exit status of check() run as the user "nobody" (or as the current
// user when that is not root already), or -1 when it could not run.
inline int RunAsAnotherUser(const std::function<int()>& check) {
  const pid_t child = ::fork();
  if (child < 0)
    return -1;
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
      ::_exit(126);
    ::_exit(check());
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
    return -1;
  return WEXITSTATUS(status);
}

}  // namespace pagetrim::test
