// The network library's table: TCP connections and servers, UDP objects, look-ups, the network
// time-out and the HTTP/FTP transfers; the receive modes, FTP transfer types, transfer callback
// actions and object kinds.
#include "libs/libraries.h"
#include "libs/network/commands.h"
#include "libs/network/network.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"OpenConnection", cmd::OpenConnection},
    {"CloseConnection", cmd::CloseConnection},
    {"CreateServer", cmd::CreateServer},
    {"CloseServer", cmd::CloseServer},
    {"SendData", cmd::SendData},
    {"ReceiveData", cmd::ReceiveData},
    {"GetConnectionIP", cmd::GetConnectionIP},
    {"GetConnectionPort", cmd::GetConnectionPort},
    {"GetHostName", cmd::GetHostName},
    {"ToIP", cmd::ToIP},
    {"ToHostName", cmd::ToHostName},
    {"GetLocalIP", cmd::GetLocalIP},
    {"GetLocalPort", cmd::GetLocalPort},
    {"SetNetworkTimeout", cmd::SetNetworkTimeout},
    {"CreateUDPObject", cmd::CreateUDPObject},
    {"CloseUDPObject", cmd::CloseUDPObject},
    {"SendUDPData", cmd::SendUDPData},
    {"ReceiveUDPData", cmd::ReceiveUDPData},
    {"IsOnline", cmd::IsOnline},
    {"DownloadFile", cmd::DownloadFile},
    {"UploadFile", cmd::UploadFile},
    {nullptr, nullptr},
};

const qvConstantRow kConstants[] = {
    {"RECEIVEALL", nullptr, 0},
    {"RECEIVEBYTES", nullptr, 1},
    {"RECEIVELINE", nullptr, 2},
    {"FTPASCII", nullptr, 97},
    {"FTPBINARY", nullptr, 105},
    {"DOWNLOADFILE_STATUS", nullptr, 0},
    {"UPLOADFILE_STATUS", nullptr, 0},
    {"NETWORKCONNECTION", nullptr, 99},
    {"NETWORKSERVER", nullptr, 115},
    {"NETWORKUDP", nullptr, 117},
    {nullptr, nullptr, 0},
};

}  // namespace

const qvLibrary kNetworkLibrary{"network", kCommands, kConstants, OpenNetworkLibrary};

}  // namespace qv
