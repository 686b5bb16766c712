// The network library's commands: TCP connections and servers, UDP objects, host look-ups, the
// network time-out, and the HTTP/FTP transfers.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}

namespace qv::cmd {

int32_t OpenConnection(qvScriptState* L);
int32_t CloseConnection(qvScriptState* L);
int32_t CreateServer(qvScriptState* L);
int32_t CloseServer(qvScriptState* L);
int32_t SendData(qvScriptState* L);
int32_t ReceiveData(qvScriptState* L);
int32_t GetConnectionIP(qvScriptState* L);
int32_t GetConnectionPort(qvScriptState* L);
int32_t GetHostName(qvScriptState* L);
int32_t ToIP(qvScriptState* L);
int32_t ToHostName(qvScriptState* L);
int32_t GetLocalIP(qvScriptState* L);
int32_t GetLocalPort(qvScriptState* L);
int32_t SetNetworkTimeout(qvScriptState* L);
int32_t CreateUDPObject(qvScriptState* L);
int32_t CloseUDPObject(qvScriptState* L);
int32_t SendUDPData(qvScriptState* L);
int32_t ReceiveUDPData(qvScriptState* L);
int32_t IsOnline(qvScriptState* L);
int32_t DownloadFile(qvScriptState* L);
int32_t UploadFile(qvScriptState* L);

}  // namespace qv::cmd
