// kavrin --headless as the benchmarks run it: its server port and protocol
// stored through the driver object, started on a free loopback port, ready
// once it answers a scan, stopped with SIGTERM.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "mirelo/vistel.h"
#include "platform/cp1251.h"
#include "tools/termsim/scanner.h"

namespace mirelo::bench {

struct KavrinSetup {
  bool udp = false;
  bool quiet = true;                    // --quiet; else its request lines go to /dev/null
  rlim_t descriptors = 0;               // 0: as inherited; else soft and hard limit
  std::string log;                      // the driver's log file; "" leaves logging off
  std::string probe = "4607001234562";  // a code whose scan shows it is serving
};

class KavrinService {
 public:
  KavrinService(const std::string& folder, const std::string& prices, const KavrinSetup& setup) {
    const std::string program = std::string(MIRELO_BINARY_DIR) + "/responder/kavrin";
    for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
      port_ = freePort(setup.udp);
      storeSettings(setup, port_);
      std::string err = folder + "/kavrin.err";
      std::vector<std::string> args = {program, "--headless", "--prices",
                                       prices,  "--settings", folder + "/none.ini"};
      if (setup.quiet) args.push_back("--quiet");
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      pid_t pid = fork();
      if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(null, 1);
        dup2(errFd, 2);
        if (setup.descriptors) {
          rlimit limit{setup.descriptors, setup.descriptors};
          setrlimit(RLIMIT_NOFILE, &limit);
        }
        execv(program.c_str(), argv.data());
        _exit(127);
      }
      auto start = std::chrono::steady_clock::now();
      while (std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
        if (termsim::scan("127.0.0.1", port_, setup.probe, setup.udp, 200).ok) {
          pid_ = pid;
          break;
        }
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) break;  // a port taken meanwhile: try another
        usleep(10000);
      }
      if (pid_ < 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
    if (pid_ < 0) throw std::runtime_error("kavrin did not start (see " + folder + "/kavrin.err)");
  }
  ~KavrinService() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      std::fprintf(stderr, "kavrin ended with status %d\n", status);
  }
  KavrinService(const KavrinService&) = delete;
  KavrinService& operator=(const KavrinService&) = delete;

  uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }

 private:
  static uint16_t freePort(bool udp) {
    int fd = socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
  }
  static void storeSettings(const KavrinSetup& setup, uint16_t port) {
    ComPtr<IVistel4> object = createVistelObject<IVistel4>();
    LONG result = 0;
    object->put_ServerProtocol(setup.udp ? 0 : 1);
    object->put_ServerPort(port);
    object->put_LogFileName(ansiToWide(utf8ToAnsi(setup.log)));
    object->put_LogEnabled(setup.log.empty() ? VARIANT_FALSE : VARIANT_TRUE);
    object->SaveParams(&result);
    if (result != 0) throw std::runtime_error("cannot store the server settings");
  }

  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

}  // namespace mirelo::bench
