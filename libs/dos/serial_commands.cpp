// Script functions and tables stored in open files and read back (the records of
// core/serial.h), at the file object's position, which they move like every transfer.
#include "base/errors.h"
#include "core/args.h"
#include "core/serial.h"
#include "libs/dos/commands.h"
#include "libs/dos/dos_files.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

qvSerialFile Counted(qvDosFile* f) { return {f->file, &f->position, &f->length}; }

}  // namespace

// WriteFunction(id, function, text = 0): a bytecode record, in Base64 lines with `text`.
int32_t WriteFunction(qvScriptState* L) {
  CheckArgCount(L, 2, 3);
  qvDosFile* f;
  int32_t code = FindWritableFile(L, 1, &f);
  if (code != 0) return code;
  VmCheckFunction(L, 2);
  bool text = VmOptInt(L, 3, 0) != 0;
  qvSerialFile io = Counted(f);
  return WriteFunctionRecord(L, 2, text, &io);
}

// ReadFunction(id): the function of the record at the position.
int32_t ReadFunction(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvDosFile* f;
  int32_t code = FindReadableFile(L, 1, &f);
  if (code != 0) return code;
  qvSerialFile io = Counted(f);
  code = ReadFunctionRecord(L, &io);
  return code != 0 ? code : 1;
}

// WriteTable(id, table, text = 0): the table as a record, its functions in Base64 lines with
// `text`.
int32_t WriteTable(qvScriptState* L) {
  CheckArgCount(L, 2, 3);
  qvDosFile* f;
  int32_t code = FindWritableFile(L, 1, &f);
  if (code != 0) return code;
  VmCheckTable(L, 2);
  bool text = VmOptInt(L, 3, 0) != 0;
  qvSerialFile io = Counted(f);
  return WriteTableRecord(L, 2, text, &io);
}

// ReadTable(id): a new table from the record at the position.
int32_t ReadTable(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvDosFile* f;
  int32_t code = FindReadableFile(L, 1, &f);
  if (code != 0) return code;
  qvSerialFile io = Counted(f);
  code = ReadTableRecord(L, &io);
  return code != 0 ? code : 1;
}

}  // namespace qv::cmd
