// TCP connections and servers, host look-ups, local and peer addresses, the network time-out and
// the online test.
#include <cstring>
#include <new>
#include <string>

#include "base/errors.h"
#include "core/args.h"
#include "libs/network/commands.h"
#include "libs/network/network.h"
#include "platform/sockets.h"
#include "platform/time.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

constexpr int32_t kKindConnection = 'c';
constexpr int32_t kKindUdp = 'u';

std::string gProbeHost = "example.com";
uint16_t gProbePort = 80;

int32_t SocketError(const char* word) {
  SetErrorString(word);
  return ERR_SOCKET;
}

int32_t CheckPort(qvScriptState* L, int index, int32_t low, int32_t* port) {
  *port = VmCheckInt(L, index);
  return *port < low || *port > 65535 ? ERR_WRONGUSAGE : 0;
}

qvNetClient* FindClient(qvScriptState* L, int index, int32_t* code) {
  return reinterpret_cast<qvNetClient*>(
      FindNetObject(kObjectClient, CheckObjectId(L, index), code));
}

// Registers a new record (its header first) under the id and gives what the creating command
// returns: the handle of an automatic id.
int RegisterNetObject(qvScriptState* L, qvObjectHeader* header, int32_t type, qvOptionalId id) {
  AddNetObject(header, type, id.number, id.automatic);
  return PushNewObjectId(L, id, header);
}

// CloseConnection, CloseServer and CloseUDPObject: the record of that kind named by argument 1.
int32_t CloseNetObjectArg(qvScriptState* L, int32_t type) {
  CheckArgCount(L, 1, 1);
  int32_t code = 0;
  qvObjectHeader* object = FindNetObject(type, CheckObjectId(L, 1), &code);
  if (object == nullptr) return code;
  FreeNetObject(object);
  return 0;
}

// The socket of the object that GetLocalIP and GetLocalPort name.
int32_t LocalSocket(qvScriptState* L, int32_t* socket) {
  int32_t kind = VmOptInt(L, 2, kKindConnection);
  int32_t type = kind == kKindUdp          ? kObjectUdpObject
                 : kind == kKindConnection ? kObjectClient
                                           : kObjectServer;
  int32_t code = 0;
  qvObjectHeader* object = FindNetObject(type, CheckObjectId(L, 1), &code);
  if (object == nullptr) return code;
  if (type == kObjectUdpObject) {
    *socket = reinterpret_cast<qvNetUDPObject*>(object)->socket;
  } else if (type == kObjectClient) {
    *socket = reinterpret_cast<qvNetClient*>(object)->stream->socket;
  } else {
    *socket = reinterpret_cast<qvNetServer*>(object)->stream->socket;
  }
  return 0;
}

// The host table of ToIP and ToHostName.
void PushHostTable(qvScriptState* L, const qvHostEntry& entry) {
  VmNewTable(L);
  SetFieldString(L, "name", entry.name.c_str());
  VmPushString(L, "alias");
  VmNewTable(L);
  for (size_t i = 0; i < entry.aliases.size(); ++i) {
    VmPushString(L, entry.aliases[i].c_str());
    VmRawSetI(L, -2, static_cast<int>(i + 1));
  }
  VmSetTable(L, -3);
  VmPushString(L, "ip");
  VmNewTable(L);
  for (size_t i = 0; i < entry.addresses.size(); ++i) {
    VmPushString(L, FormatIPv4(entry.addresses[i]).c_str());
    VmRawSetI(L, -2, static_cast<int>(i + 1));
  }
  VmSetTable(L, -3);
}

// Binds a new socket (TCP for a server, UDP) to interface:port: 0 with *out, or the error.
int32_t BoundSocket(const char* interface, int32_t port, bool datagram, int32_t* out) {
  uint32_t ip = 0;
  if (std::strcmp(interface, "*") != 0) {
    int32_t code = ResolveHost(interface, &ip);
    if (code != 0) return SocketError(NetErrorWord(code));
  }
  int32_t socket = -1;
  int32_t code = CreateSocket(&socket, datagram);
  if (code != 0) return SocketError(NetErrorWordShort(code));
  if (!datagram && SetSocketReuseAddr(socket) != 0) {
    CloseSocketHandle(&socket);
    return ERR_SOCKOPT;
  }
  code = BindSocket(socket, {ip, static_cast<uint16_t>(port)});
  if (code != 0) {
    CloseSocketHandle(&socket);
    return SocketError(NetErrorWordShort(code));
  }
  *out = socket;
  return 0;
}

}  // namespace

void SetOnlineProbe(const char* host, uint16_t port) {
  gProbeHost = host;
  gProbePort = port;
}

namespace cmd {

// OpenConnection(id or Nil, host, port): a connection made within the network time-out.
int32_t OpenConnection(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  qvOptionalId id = OptObjectId(L, 1);
  const char* host = VmCheckString(L, 2);
  int32_t port = 0;
  if (CheckPort(L, 3, 1, &port) != 0) return ERR_WRONGUSAGE;
  if (!id.automatic) CloseNetObjectNumber(kObjectClient, id.number);
  uint32_t ip = 0;
  int32_t code = ResolveHost(host, &ip);
  if (code != 0) return SocketError(NetErrorWord(code));
  qvNetContext ctx;
  InitNetContext(&ctx, L, NetworkTimeoutMs());
  qvSocketStream* stream = nullptr;
  code = ConnectStream(&ctx, {ip, static_cast<uint16_t>(port)}, &stream);
  if (code != 0) {
    if (ctx.breakCode != 0) return VmGetEndFlag(L) ? 0 : ctx.breakCode;
    return SocketError(NetErrorWordShort(code));
  }
  auto* client = new (std::nothrow) qvNetClient{};
  if (client == nullptr) {
    FreeSocketStream(stream);
    return ERR_MEM;
  }
  client->stream = stream;
  return RegisterNetObject(L, &client->header, kObjectClient, id);
}

int32_t CloseConnection(qvScriptState* L) { return CloseNetObjectArg(L, kObjectClient); }

// CreateServer(id or Nil, port = 0, interface = "*", backlog = 32).
int32_t CreateServer(qvScriptState* L) {
  CheckArgCount(L, 1, 4);
  qvOptionalId id = OptObjectId(L, 1);
  int32_t port = VmOptInt(L, 2, 0);
  if (port < 0 || port > 65535) return ERR_WRONGUSAGE;
  const char* interface = VmOptString(L, 3, "*");
  int32_t backlog = VmOptInt(L, 4, 32);
  if (!id.automatic) CloseNetObjectNumber(kObjectServer, id.number);
  int32_t socket = -1;
  int32_t code = BoundSocket(interface, port, false, &socket);
  if (code != 0) return code;
  code = ListenSocket(socket, backlog);
  if (code != 0) {
    CloseSocketHandle(&socket);
    return SocketError(NetErrorWordShort(code));
  }
  qvSocketStream* stream = NewSocketStream(socket);
  auto* server = stream ? new (std::nothrow) qvNetServer{} : nullptr;
  if (server == nullptr) {
    FreeSocketStream(stream);
    return ERR_MEM;
  }
  stream->timeout.operation = 0;
  stream->timeout.total = 0;
  server->stream = stream;
  return RegisterNetObject(L, &server->header, kObjectServer, id);
}

int32_t CloseServer(qvScriptState* L) { return CloseNetObjectArg(L, kObjectServer); }

// SendData(id, data): the bytes that went out; a short send raises nothing.
int32_t SendData(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  int32_t code = 0;
  qvNetClient* client = FindClient(L, 1, &code);
  size_t length = 0;
  const char* data = VmCheckString(L, 2, &length);
  if (client == nullptr) return code;
  qvNetContext ctx;
  InitNetContext(&ctx, L, NetworkTimeoutMs());
  size_t sent = 0;
  StreamSendAll(&ctx, client->stream, data, length, &sent);
  VmPushNumber(L, static_cast<double>(sent));
  return 1;
}

// ReceiveData(id, mode, [count or wait]): the text, its byte count and the done flag.
int32_t ReceiveData(qvScriptState* L) {
  CheckArgCount(L, 2, 3);
  int32_t code = 0;
  qvNetClient* client = FindClient(L, 1, &code);
  int32_t mode = VmCheckInt(L, 2);
  if (client == nullptr) return code;
  int32_t count = 0;
  bool wait = true;
  if (mode == kReceiveBytes) {
    count = VmCheckInt(L, 3);
    if (count < 1) return ERR_WRONGUSAGE;
  } else if (mode == kReceiveAll) {
    wait = VmOptInt(L, 3, 1) != 0;
  } else if (mode != kReceiveLine) {
    return ERR_WRONGUSAGE;
  }
  qvNetContext ctx;
  InitNetContext(&ctx, L, NetworkTimeoutMs());
  qvStringSink sink;
  bool done = false;
  StreamReceive(&ctx, client->stream, mode, static_cast<uint64_t>(count), wait, &sink, &done);
  client->dataEvent = 0;
  VmPushLString(L, sink.text.data(), sink.text.size());
  VmPushNumber(L, static_cast<double>(sink.text.size()));
  VmPushNumber(L, done ? 1 : 0);
  return 3;
}

int32_t GetConnectionIP(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t code = 0;
  qvNetClient* client = FindClient(L, 1, &code);
  if (client == nullptr) return code;
  qvSockAddr peer;
  if (GetSocketPeer(client->stream->socket, &peer) != 0) return ERR_PEERNAME;
  VmPushString(L, FormatIPv4(peer.ip).c_str());
  return 1;
}

int32_t GetConnectionPort(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t code = 0;
  qvNetClient* client = FindClient(L, 1, &code);
  if (client == nullptr) return code;
  qvSockAddr peer;
  if (GetSocketPeer(client->stream->socket, &peer) != 0) return ERR_PEERNAME;
  VmPushNumber(L, peer.port);
  return 1;
}

int32_t GetHostName(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  char name[257];
  if (GetLocalHostName(name, sizeof name) != 0) return ERR_HOSTNAME;
  VmPushString(L, name);
  return 1;
}

// ToIP(host): the first address as text and the host table.
int32_t ToIP(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* host = VmCheckString(L, 1);
  qvHostEntry entry;
  uint32_t ip = 0;
  int32_t code = 0;
  if (ParseDottedIP(host, &ip)) {
    entry.name = host;
    entry.addresses.push_back(ip);
  } else {
    code = LookupHostByName(host, &entry);
  }
  if (code != 0) return SocketError(NetErrorWord(code));
  VmPushString(L, FormatIPv4(entry.addresses.front()).c_str());
  PushHostTable(L, entry);
  return 2;
}

// ToHostName(host or address): the official name and the host table.
int32_t ToHostName(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* host = VmCheckString(L, 1);
  qvHostEntry entry;
  uint32_t ip = 0;
  int32_t code = ParseDottedIP(host, &ip) ? LookupHostByAddr(ip, &entry)
                                          : LookupHostByName(host, &entry);
  if (code != 0) return SocketError(NetErrorWord(code));
  VmPushString(L, entry.name.c_str());
  PushHostTable(L, entry);
  return 2;
}

int32_t GetLocalIP(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  int32_t socket = -1;
  int32_t code = LocalSocket(L, &socket);
  if (code != 0) return code;
  qvSockAddr local;
  if (GetSocketLocal(socket, &local) != 0) return ERR_SOCKNAME;
  VmPushString(L, FormatIPv4(local.ip).c_str());
  return 1;
}

int32_t GetLocalPort(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  int32_t socket = -1;
  int32_t code = LocalSocket(L, &socket);
  if (code != 0) return code;
  qvSockAddr local;
  if (GetSocketLocal(socket, &local) != 0) return ERR_SOCKNAME;
  VmPushNumber(L, local.port);
  return 1;
}

int32_t SetNetworkTimeout(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t ms = VmCheckInt(L, 1);
  if (ms < 0) return ERR_WRONGUSAGE;
  SetNetworkTimeoutMs(ms);
  return 0;
}

// IsOnline(): whether a connection to a well-known web host succeeds; never raises.
int32_t IsOnline(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  bool online = false;
  uint32_t ip = 0;
  if (ResolveHost(gProbeHost.c_str(), &ip) == 0) {
    qvNetContext ctx;
    InitNetContext(&ctx, L, NetworkTimeoutMs());
    qvSocketStream* stream = nullptr;
    online = ConnectStream(&ctx, {ip, gProbePort}, &stream) == 0;
    FreeSocketStream(stream);
  }
  VmPushNumber(L, online ? 1 : 0);
  return 1;
}

// CreateUDPObject(id or Nil, port = 0, interface = "*").
int32_t CreateUDPObject(qvScriptState* L) {
  CheckArgCount(L, 1, 3);
  qvOptionalId id = OptObjectId(L, 1);
  int32_t port = VmOptInt(L, 2, 0);
  if (port < 0 || port > 65535) return ERR_WRONGUSAGE;
  const char* interface = VmOptString(L, 3, "*");
  if (!id.automatic) CloseNetObjectNumber(kObjectUdpObject, id.number);
  int32_t socket = -1;
  int32_t code = BoundSocket(interface, port, true, &socket);
  if (code != 0) return code;
  auto* udp = new (std::nothrow) qvNetUDPObject{};
  if (udp == nullptr) {
    CloseSocketHandle(&socket);
    return ERR_MEM;
  }
  udp->socket = socket;
  udp->timeout.operation = 0;
  udp->timeout.total = 0;
  return RegisterNetObject(L, &udp->header, kObjectUdpObject, id);
}

int32_t CloseUDPObject(qvScriptState* L) { return CloseNetObjectArg(L, kObjectUdpObject); }

// SendUDPData(id, data, address, port): the bytes sent.
int32_t SendUDPData(qvScriptState* L) {
  CheckArgCount(L, 4, 4);
  int32_t code = 0;
  auto* udp = reinterpret_cast<qvNetUDPObject*>(
      FindNetObject(kObjectUdpObject, CheckObjectId(L, 1), &code));
  size_t length = 0;
  const char* data = VmCheckString(L, 2, &length);
  const char* address = VmCheckString(L, 3);
  int32_t port = VmCheckInt(L, 4);
  if (udp == nullptr) return code;
  if (length == 0 || port < 1 || port > 65535) return ERR_WRONGUSAGE;
  uint32_t ip = 0;
  if (!ParseDottedIP(address, &ip)) return ERR_BADIP;
  size_t sent = 0;
  code = SendToSocket(udp->socket, data, length, {ip, static_cast<uint16_t>(port)}, &sent,
                      NetworkTimeoutMs() > 0 ? NetworkTimeoutMs() : kSockNoLimit, nullptr);
  if (code != 0) {
    return SocketError(code == kSockClosed ? "connection refused" : NetErrorWordShort(code));
  }
  udp->timeout.start = GetUnixTimeFloat();
  VmPushNumber(L, static_cast<double>(sent));
  return 1;
}

// ReceiveUDPData(id, maximum = 8192): the data, the sender's address and port; "", "", 0 when no
// datagram waits.
int32_t ReceiveUDPData(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  int32_t code = 0;
  auto* udp = reinterpret_cast<qvNetUDPObject*>(
      FindNetObject(kObjectUdpObject, CheckObjectId(L, 1), &code));
  int32_t maximum = VmOptInt(L, 2, static_cast<int32_t>(kStreamBufferSize));
  if (udp == nullptr) return code;
  if (maximum < 0) return ERR_WRONGUSAGE;
  if (maximum > static_cast<int32_t>(kStreamBufferSize)) maximum = kStreamBufferSize;
  udp->dataEvent = 0;
  size_t got = 0;
  qvSockAddr from;
  code = RecvFromSocket(udp->socket, udp->buffer, static_cast<size_t>(maximum), &got, &from, 0,
                        nullptr);
  if (code == kSockTimeout) {
    VmPushString(L, "");
    VmPushString(L, "");
    VmPushNumber(L, 0);
    return 3;
  }
  if (code != 0) {
    return SocketError(code == kSockClosed ? "connection refused" : NetErrorWordShort(code));
  }
  VmPushLString(L, udp->buffer, got);
  VmPushString(L, FormatIPv4(from.ip).c_str());
  VmPushNumber(L, from.port);
  return 3;
}

}  // namespace cmd

}  // namespace qv
