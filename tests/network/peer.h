// Loopback peers for the network tests: a python3 script started in its own process, which
// prints the port it listens on as its first line and is stopped (by its process id) when the
// peer goes away.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fixtures/temp_dir.h"

namespace qv::testing {

class Peer {
 public:
  Peer() = default;
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;
  ~Peer() { Stop(); }

  // Runs /usr/bin/python3 with the arguments; true once the port line came (within 20 s).
  bool Start(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return false;
    std::vector<std::string> argv = {"/usr/bin/python3", "-u"};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      int null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, 2);
      std::vector<char*> cargv;
      for (auto& a : argv) cargv.push_back(a.data());
      cargv.push_back(nullptr);
      execv(cargv[0], cargv.data());
      _exit(127);
    }
    close(out[1]);
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && poll(&p, 1, 20000) > 0) {
      char c[64];
      ssize_t n = read(out[0], c, sizeof c);
      if (n <= 0) break;
      line.append(c, static_cast<size_t>(n));
    }
    close(out[0]);
    // Our scripts print the port alone; http.server says "Serving HTTP on ... port N ...".
    size_t at = line.find(" port ");
    port_ = static_cast<uint16_t>(std::atoi(line.c_str() + (at == std::string::npos ? 0 : at + 6)));
    return port_ != 0;
  }
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }
  uint16_t port() const { return port_; }
  std::string Url(const std::string& scheme, const std::string& path) const {
    return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

inline std::string PeerScript(const char* name) { return std::string(QV_NET_PEERS) + "/" + name; }

using qvtest::TempDir;

// Bytes that no simple pattern gives: a 48-bit generator's high bytes.
inline std::string BinaryBytes(size_t size) {
  std::string bytes(size, '\0');
  uint64_t x = 0x330E;
  for (auto& b : bytes) {
    x = (x * 0x5DEECE66DULL + 0xB) & ((1ULL << 48) - 1);
    b = static_cast<char>(x >> 40);
  }
  return bytes;
}

}  // namespace qv::testing
