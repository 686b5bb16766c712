// What the network library's files share: the object records and lists, the network time-out,
// and the polls that the event dispatcher asks for network traffic.
#pragma once

#include <cstdint>

#include "core/events.h"
#include "core/netstream.h"
#include "core/registry.h"

namespace qv {

// A TCP connection (also every accepted client).
struct qvNetClient {
  qvObjectHeader header;
  qvSocketStream* stream;
  int32_t dataEvent;    // "onreceivedata" posted; cleared by ReceiveData
  int32_t closedEvent;  // "ondisconnect" posted; never cleared
};

struct qvNetServer {
  qvObjectHeader header;
  qvSocketStream* stream;  // the listening socket
};

struct qvNetUDPObject {
  qvObjectHeader header;
  int32_t socket;
  qvNetTimeout timeout;
  int32_t dataEvent;  // "onreceiveudpdata" posted; cleared by ReceiveUDPData
  char buffer[kStreamBufferSize];
};

// The network time-out in milliseconds (0: no limit).
int64_t NetworkTimeoutMs();
void SetNetworkTimeoutMs(int64_t ms);
// The host and port that IsOnline tries (tests point it at a loopback peer).
void SetOnlineProbe(const char* host, uint16_t port);

// Stamps a new record (its header first) with its type and id and appends it to its list; an
// automatic id is the record's own address.
void AddNetObject(qvObjectHeader* object, int32_t type, int32_t number, bool automatic);
// Unlinks, moves the dispatcher's cursor past it, closes its socket and frees it.
void FreeNetObject(qvObjectHeader* object);
// The record of that type and id, or null with the error code in *code (the kind's "not found"
// error with the number stored, or ERR_FINDARRAY for a handle).
qvObjectHeader* FindNetObject(int32_t type, qvObjectId id, int32_t* code);
// Closes an existing object of that type with that number (a creating command's explicit id).
void CloseNetObjectNumber(int32_t type, int32_t number);

// The dispatcher's question for the network stages (qvEventSources::network).
bool PollNetworkSources(int stage, void** cursor, qvDispatchResult* result);

// The library's open (registers the lists and the event source) and teardown.
int32_t OpenNetworkLibrary(qvScriptState* L);

}  // namespace qv
