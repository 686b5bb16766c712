// Second process for the platform tests.
//   send <port> <text>      sends the text to the port: exit 0 when delivered, 1 for an unknown
//                           port, 2 otherwise
//   args <file> [args...]   writes each argument on a line of the file
//   exit <n>                exits with status n
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "send") == 0) {
    if (qv::InitPlatform() != 0) return 2;
    int rc = qv::SendPortMessage(argv[2], argv[3]);
    qv::ShutdownPlatform();
    return rc == 0 ? 0 : rc == qv::ERR_FINDPORT ? 1 : 2;
  }
  if (argc >= 3 && std::strcmp(argv[1], "args") == 0) {
    FILE* f = std::fopen(argv[2], "w");
    if (!f) return 2;
    for (int i = 3; i < argc; ++i) std::fprintf(f, "%s\n", argv[i]);
    std::fclose(f);
    return 0;
  }
  if (argc >= 3 && std::strcmp(argv[1], "exit") == 0) return std::atoi(argv[2]);
  return 2;
}
