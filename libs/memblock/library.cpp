// The memblock library's table: raw memory blocks, read and written big-endian at byte offsets,
// filled, copied, moved to and from open files and dumped as text.
#include "libs/libraries.h"
#include "libs/memblock/commands.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"AllocMem", cmd::AllocMem}, {"FreeMem", cmd::FreeMem},   {"Peek", cmd::Peek},
    {"Poke", cmd::Poke},         {"FillMem", cmd::FillMem},   {"CopyMem", cmd::CopyMem},
    {"ReadMem", cmd::ReadMem},   {"WriteMem", cmd::WriteMem}, {"DumpMem", cmd::DumpMem},
    {nullptr, nullptr},
};

int32_t OpenMemBlock(qvScriptState*) { return RegisterMemBlocks(); }

}  // namespace

const qvLibrary kMemBlockLibrary{"memblock", kCommands, nullptr, OpenMemBlock};

}  // namespace qv
