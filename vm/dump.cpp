// The bytecode writer: a script function back into the chunk format that the loader reads.
#include <cstring>

#include "base/errors.h"
#include "vm/chunk.h"

namespace qv {

namespace {

void Write(qvDumpState* D, const void* bytes, size_t size) {
  if (size > 0) D->writer(D->L, bytes, size, D->data);
}
void WriteByte(qvDumpState* D, int b) {
  auto c = static_cast<unsigned char>(b);
  Write(D, &c, 1);
}
void WriteInt(qvDumpState* D, int32_t x) { Write(D, &x, sizeof x); }

// The size (length + 1, or 0 for none), the characters and the NUL.
void WriteString(qvDumpState* D, const qvString* s) {
  if (s == nullptr) {
    WriteInt(D, 0);
    return;
  }
  WriteInt(D, int32_t(s->len + 1));
  Write(D, const_cast<qvString*>(s)->data(), s->len + 1);
}

}  // namespace

void VmDumpHeader(qvDumpState* D) {
  Write(D, kSignature, sizeof kSignature);
  WriteByte(D, 1);  // our own, little-endian order
  for (unsigned char size : kHeaderSizes) WriteByte(D, size);
  double test = kTestNumber;
  Write(D, &test, sizeof test);
}

void VmDumpProto(const qvProto* f, const qvString* enclosingSource, qvDumpState* D) {
  WriteString(D, f->source == enclosingSource ? nullptr : f->source);
  WriteInt(D, f->linedefined);
  WriteByte(D, f->nups);
  WriteByte(D, f->numparams);
  WriteByte(D, f->isVararg);
  WriteByte(D, f->maxstacksize);
  WriteInt(D, f->sizelineinfo);
  Write(D, f->lineinfo, size_t(f->sizelineinfo) * sizeof(int32_t));
  WriteInt(D, f->sizelocvars);
  for (int i = 0; i < f->sizelocvars; ++i) {
    WriteString(D, f->locvars[i].name);
    WriteInt(D, f->locvars[i].startpc);
    WriteInt(D, f->locvars[i].endpc);
  }
  WriteInt(D, f->sizeupvalues);
  for (int i = 0; i < f->sizeupvalues; ++i) WriteString(D, f->upvalues[i]);
  WriteInt(D, f->sizek);
  for (int i = 0; i < f->sizek; ++i) {
    const qvScriptValue* o = &f->k[i];
    WriteByte(D, o->type);
    if (o->type == kTypeNumber)
      Write(D, &o->value.n, sizeof(double));
    else if (o->type == kTypeString)
      WriteString(D, StringOf(o));
  }
  WriteInt(D, f->sizep);
  for (int i = 0; i < f->sizep; ++i) VmDumpProto(f->p[i], f->source, D);
  WriteInt(D, f->sizecode);
  Write(D, f->code, size_t(f->sizecode) * sizeof(uint32_t));
}

int32_t VmDump(qvScriptState* L, int index, qvWriter writer, void* data) {
  if (VmType(L, index) != kTypeFunction || VmIsCFunction(L, index)) return ERR_NOQVFUNC;
  const qvScriptValue* o = VmIndexToAddress(L, index);
  qvDumpState D{L, writer, data};
  VmDumpHeader(&D);
  VmDumpProto(static_cast<qvLClosure*>(ClosureOf(o))->p, nullptr, &D);
  return 0;
}

}  // namespace qv
