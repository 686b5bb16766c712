// Unix stream sockets between running players and their hosts, in a private directory of the
// user's runtime directory.
#pragma once

#include <cstddef>
#include <string>

namespace qv {

// "$XDG_RUNTIME_DIR/quillvane" (else a private folder under /tmp), made with mode 0700 when
// missing; "" when it cannot be made or is not the user's own.
std::string PlayerRuntimeDir();

// A listening socket at the path (an old socket there is replaced), or -1.
int ListenUnix(const std::string& path);
// A socket connected to the path, or -1.
int ConnectUnix(const std::string& path);
// Whole transfers; false on an error, the end of the stream, or no progress within timeoutMs
// (negative: no limit).
bool SendAll(int fd, const void* data, size_t size, int timeoutMs);
bool ReceiveAll(int fd, void* data, size_t size, int timeoutMs);

}  // namespace qv
