// The system library's table: ending the script, errors and how they are handled, debugging
// output, timers, dates and waiting, tables and values; the unit, date-part, type and
// integer-width constants and one "ERR_" constant per built-in error code.
#include "libs/libraries.h"
#include "libs/system/commands.h"
#include "vm/vm.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"End", cmd::End},
    {"Error", cmd::Error},
    {"Assert", cmd::Assert},
    {"GetLastError", cmd::GetLastError},
    {"GetErrorName", cmd::GetErrorName},
    {"ExitOnError", cmd::ExitOnError},
    {"RaiseOnError", cmd::RaiseOnError},
    {"DebugPrint", cmd::DebugPrint},
    {"DebugStr", cmd::DebugPrint},
    {"DebugVal", cmd::DebugPrint},
    {"DebugOutput", cmd::DebugOutput},
    {"GetCommandLine", cmd::GetCommandLine},
    {"StartTimer", cmd::StartTimer},
    {"GetTimer", cmd::GetTimer},
    {"PauseTimer", cmd::PauseTimer},
    {"ResumeTimer", cmd::ResumeTimer},
    {"ResetTimer", cmd::ResetTimer},
    {"StopTimer", cmd::StopTimer},
    {"WaitTimer", cmd::WaitTimer},
    {"Wait", cmd::Wait},
    {"GetDate", cmd::GetDate},
    {"GetTime", cmd::GetTime},
    {"GetWeekday", cmd::GetWeekday},
    {"GetDateNum", cmd::GetDateNum},
    {"CompareDates", cmd::CompareDates},
    {"GetType", cmd::GetType},
    {"IIf", cmd::IIf},
    {"InsertItem", cmd::InsertItem},
    {"RemoveItem", cmd::RemoveItem},
    {"ListItems", cmd::ListItems},
    {"Unpack", cmd::Unpack},
    {"GetMetaTable", cmd::GetMetaTable},
    {"SetMetaTable", cmd::SetMetaTable},
    {"RawEqual", cmd::RawEqual},
    {"RawGet", cmd::RawGet},
    {"RawSet", cmd::RawSet},
    {"GCInfo", cmd::GCInfo},
    {"CollectGarbage", cmd::CollectGarbage},
    {"IPairs", cmd::IPairs},
    {"Pairs", cmd::Pairs},
    {"NextItem", cmd::NextItem},
    {"CopyTable", cmd::CopyTable},
    {"ForEach", cmd::ForEach},
    {"ForEachI", cmd::ForEachI},
    {"Concat", cmd::Concat},
    {"Sort", cmd::Sort},
    {"SystemRequest", cmd::SystemRequest},
    {"FileRequest", cmd::FileRequest},
    {"PathRequest", cmd::PathRequest},
    {"StringRequest", cmd::StringRequest},
    {"FontRequest", cmd::FontRequest},
    {"ListRequest", cmd::ListRequest},
    {"ColorRequest", cmd::ColorRequest},
    {nullptr, nullptr},
};

const qvConstantRow kConstants[] = {
    // time units
    {"SECONDS", nullptr, 0},
    {"MILLISECONDS", nullptr, 1},
    {"TICKS", nullptr, 2},
    // parts of a date
    {"DATEYEAR", nullptr, 0},
    {"DATEMONTH", nullptr, 1},
    {"DATEDAY", nullptr, 2},
    {"DATETIME", nullptr, 3},
    // type codes
    {"NIL", nullptr, 0},
    {"NUMBER", nullptr, 2},
    {"STRING", nullptr, 3},
    {"TABLE", nullptr, 4},
    {"FUNCTION", nullptr, 5},
    {"USERDATA", nullptr, 8},
    {"LIGHTUSERDATA", nullptr, 9},
    // file requester modes
    {"REQ_NORMAL", nullptr, 0},
    {"REQ_MULTISELECT", nullptr, 1},
    {"REQ_SAVEMODE", nullptr, 2},
    {"THREAD", nullptr, 10},
    // integer widths
    {"INTEGER", nullptr, 1},
    {"SHORT", nullptr, 6},
    {"WORD", nullptr, 6},
    {"BYTE", nullptr, 7},
// the built-in error codes
#define QV_ERROR(name, code, textId) {#name, nullptr, code},
#include "base/errors.def"
#undef QV_ERROR
    {nullptr, nullptr, 0},
};

// The machine keeps the last error code for GetLastError's own call; timers join the object
// registry.
int32_t Open(qvScriptState* L) {
  VmSetLastErrorReader(L, cmd::GetLastError);
  return OpenTimers();
}

}  // namespace

const qvLibrary kSystemLibrary{"system", kCommands, kConstants, Open};

}  // namespace qv
