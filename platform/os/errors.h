// The error codes that the platform returns, under the runtime's names. The runtime's own table
// replaces this list once it exists.
#pragma once

namespace qv::perr {

constexpr int ERR_MEM = 1000;
constexpr int ERR_USERABORT = 1003;
constexpr int ERR_WRONGUSAGE = 1055;
constexpr int ERR_CREATEDIR = 1084;
constexpr int ERR_FILEEXIST = 1213;
constexpr int ERR_NOTADIR = 1250;
constexpr int ERR_CREATEPORT = 1256;
constexpr int ERR_FINDPORT = 1275;
constexpr int ERR_THREAD = 1287;
constexpr int ERR_CREATEEVENT = 1290;
constexpr int ERR_SEMAPHORE = 1298;

}  // namespace qv::perr
