// Message ports between running players: a player names its port, others send it texts.
#pragma once

#include <cstddef>

namespace qv {

// Names this program's port ("" or null: no port); 0 or ERR_CREATEPORT.
int SetPortName(const char* name);
// 0 once a running player took the message; ERR_WRONGUSAGE for one's own port; ERR_MEM;
// ERR_FINDPORT (with the port as error text) when no running player has that port.
int SendPortMessage(const char* port, const char* text);
// A received message: data holds the port name, a zero, the text and a zero; node and data are
// one block, freed with std::free.
struct qvPortMessage {
  qvPortMessage* next;
  char* data;
  size_t size;
};
// The oldest received message, unlinked (the caller frees it), or null.
qvPortMessage* TakePortMessage(char** data, size_t* size);

}  // namespace qv
