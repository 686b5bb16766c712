// Message ports between running players: a player names its port, others send it texts.
#pragma once

#include <cstddef>

namespace qv {

// Names this program's port (null or "": no port, and its socket is closed): 0, or ERR_CREATEPORT
// when its socket cannot be made (the program then has no port). Any thread.
int SetPortName(const char* name);
// Offers the text to the running players: 0 once one took it; ERR_WRONGUSAGE for one's own port
// or a null argument; ERR_MEM for a message over 1 MB; ERR_FINDPORT (with the port as error text)
// when no running player has that port. Any thread; waits at most a few seconds for each player.
int SendPortMessage(const char* port, const char* text);
// A received message: data holds the port name, a zero, the text and a zero; node and data are
// one block, freed with std::free.
struct qvPortMessage {
  qvPortMessage* next;
  char* data;
  size_t size;
};
// The oldest received message, unlinked (the caller frees it), or null when there is none; data
// and size (when given) get its block. Any thread.
qvPortMessage* TakePortMessage(char** data, size_t* size);

}  // namespace qv
