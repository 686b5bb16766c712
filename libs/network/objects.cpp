// The network library's object lists, its time-out and the polls behind the dispatcher's network
// stages: each kind's event is posted once until the script reads (data) or for good (a close).
#include <cstdlib>
#include <new>

#include "base/errors.h"
#include "libs/libraries.h"
#include "libs/network/network.h"
#include "platform/sockets.h"
#include "platform/time.h"

namespace qv {

namespace {

qvObjectHeader* gClients = nullptr;
qvObjectHeader* gServers = nullptr;
qvObjectHeader* gUdpObjects = nullptr;
int64_t gTimeoutMs = 10000;

// The cursor value for "past the last object": null means "from the head" to the dispatcher.
char gCursorEnd;

qvObjectHeader** ListOf(int32_t type) {
  switch (type) {
    case kObjectClient:
      return &gClients;
    case kObjectServer:
      return &gServers;
    default:
      return &gUdpObjects;
  }
}

void CloseRecord(qvObjectHeader* object) {
  FreeObjectData(GetProcessVm(), object);
  switch (object->type) {
    case kObjectClient:
      FreeSocketStream(reinterpret_cast<qvNetClient*>(object)->stream);
      delete reinterpret_cast<qvNetClient*>(object);
      break;
    case kObjectServer:
      FreeSocketStream(reinterpret_cast<qvNetServer*>(object)->stream);
      delete reinterpret_cast<qvNetServer*>(object);
      break;
    default:
      CloseSocketHandle(&reinterpret_cast<qvNetUDPObject*>(object)->socket);
      delete reinterpret_cast<qvNetUDPObject*>(object);
      break;
  }
}

bool PollClientData(qvNetClient* c) {
  if (c->dataEvent || c->closedEvent) return false;
  if (!StreamHasBuffered(c->stream) && PeekSocket(c->stream->socket, false, 0, nullptr) != 0) {
    return false;
  }
  c->dataEvent = 1;
  return true;
}

bool PollClientClosed(qvNetClient* c) {
  if (c->closedEvent) return false;
  if (StreamHasBuffered(c->stream)) return false;
  int32_t status = PeekSocket(c->stream->socket, false, 0, nullptr);
  if (status != kSockClosed && status < 1) return false;
  c->closedEvent = 1;
  return true;
}

bool PollUdp(qvNetUDPObject* u) {
  if (u->dataEvent) return false;
  if (PeekSocket(u->socket, true, 0, nullptr) != 0) return false;
  u->dataEvent = 1;
  return true;
}

// Accepts a waiting client into the connection list: the new record, or null.
qvNetClient* AcceptClient(qvNetServer* server) {
  int32_t socket = -1;
  if (AcceptSocket(server->stream->socket, &socket, nullptr, 0, nullptr) != 0) return nullptr;
  qvSocketStream* stream = NewSocketStream(socket);
  if (stream == nullptr) return nullptr;
  stream->timeout.operation = 0;
  stream->timeout.total = 0;
  auto* client = new (std::nothrow) qvNetClient{};
  if (client == nullptr) {
    FreeSocketStream(stream);
    return nullptr;
  }
  client->stream = stream;
  AddNetObject(&client->header, kObjectClient, 0, true);
  return client;
}

qvObjectId IdOf(const qvObjectHeader* object) { return {object->id, object->handle}; }

}  // namespace

int64_t NetworkTimeoutMs() { return gTimeoutMs; }
void SetNetworkTimeoutMs(int64_t ms) { gTimeoutMs = ms; }

void AddNetObject(qvObjectHeader* object, int32_t type, int32_t number, bool automatic) {
  AddObject(ListOf(type), object, type, number, automatic);
}

void FreeNetObject(qvObjectHeader* object) {
  for (qvObjectHeader** p = ListOf(object->type); *p != nullptr; p = &(*p)->next) {
    if (*p == object) {
      *p = object->next;
      StepNetworkCursorPast(
          object, object->next != nullptr ? static_cast<void*>(object->next) : &gCursorEnd);
      CloseRecord(object);
      return;
    }
  }
}

qvObjectHeader* FindNetObject(int32_t type, qvObjectId id, int32_t* code) {
  qvObjectHeader* object = FindObject(type, id);
  if (object != nullptr) return object;
  *code = ObjectNotFound(id, type == kObjectClient   ? ERR_FINDCLIENT
                             : type == kObjectServer ? ERR_FINDSERVER
                                                     : ERR_FINDUDPOBJECT);
  return nullptr;
}

void CloseNetObjectNumber(int32_t type, int32_t number) {
  if (qvObjectHeader* old = FindObject(type, {number, nullptr})) FreeNetObject(old);
}

bool PollNetworkSources(int stage, void** cursor, qvDispatchResult* result) {
  if (*cursor == &gCursorEnd) return false;
  int32_t type = stage == 9 ? kObjectUdpObject : stage == 10 ? kObjectServer : kObjectClient;
  qvObjectHeader* object = *cursor != nullptr ? static_cast<qvObjectHeader*>(*cursor)
                                              : *ListOf(type);
  for (; object != nullptr; object = object->next) {
    bool hit = false;
    switch (stage) {
      case 9:
        hit = PollUdp(reinterpret_cast<qvNetUDPObject*>(object));
        if (hit) result->udpObject = object;
        break;
      case 10:
        if (qvNetClient* client = AcceptClient(reinterpret_cast<qvNetServer*>(object))) {
          hit = true;
          result->server = object;
          result->connection = client;
          result->id = IdOf(&client->header);
        }
        break;
      case 11:
        hit = PollClientData(reinterpret_cast<qvNetClient*>(object));
        if (hit) result->connection = object;
        break;
      default:
        hit = PollClientClosed(reinterpret_cast<qvNetClient*>(object));
        if (hit) result->connection = object;
        break;
    }
    if (hit) {
      result->objectId = IdOf(object);
      *cursor = object->next != nullptr ? static_cast<void*>(object->next) : &gCursorEnd;
      return true;
    }
  }
  *cursor = &gCursorEnd;
  return false;
}

int32_t OpenNetworkLibrary(qvScriptState*) {
  for (qvObjectHeader** list : {&gClients, &gServers, &gUdpObjects}) {
    int32_t code = RegisterObjectList(list);
    if (code != 0) return code;
  }
  qvEventSources sources;
  sources.network = PollNetworkSources;
  SetNetworkEventSource(sources.network);
  return 0;
}

void FreeNetworkLibrary() {
  for (int32_t type : {kObjectClient, kObjectServer, kObjectUdpObject}) {
    qvObjectHeader** list = ListOf(type);
    while (*list != nullptr) FreeNetObject(*list);
  }
  gTimeoutMs = 10000;
}

}  // namespace qv
