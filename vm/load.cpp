// The chunk loader: the refilling input stream and the binary reader of function records. No
// count or length is trusted: arrays and strings grow as their bytes really arrive.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/errors.h"
#include "vm/call.h"
#include "vm/chunk.h"
#include "vm/func.h"
#include "vm/gc.h"
#include "vm/table.h"

namespace qv {

// ---- the stream ----

void VmStreamInit(qvStream* z, qvReader reader, void* data, const char* name) {
  z->n = 0;
  z->p = nullptr;
  z->reader = reader;
  z->data = data;
  z->name = name;
}

int VmStreamFill(qvStream* z) {
  size_t size = 0;
  const char* block = z->reader(nullptr, z->data, &size);
  if (block == nullptr || size == 0) return -1;
  z->n = size - 1;
  z->p = block;
  return static_cast<unsigned char>(*z->p++);
}

int VmStreamPeek(qvStream* z) {
  if (z->n == 0) {
    if (VmStreamFill(z) == -1) return -1;
    ++z->n;  // put the byte back
    --z->p;
  }
  return static_cast<unsigned char>(*z->p);
}

size_t VmStreamRead(qvStream* z, void* buffer, size_t n) {
  auto* out = static_cast<char*>(buffer);
  while (n > 0) {
    if (VmStreamPeek(z) == -1) return n;
    size_t m = std::min(n, z->n);
    std::memcpy(out, z->p, m);
    z->n -= m;
    z->p += m;
    out += m;
    n -= m;
  }
  return 0;
}

const char* ChunkReader(qvScriptState*, void* chunkBuffer, size_t* size) {
  auto* b = static_cast<qvChunkBuffer*>(chunkBuffer);
  *size = b->size;
  b->size = 0;  // nothing after the first call
  return *size > 0 ? b->data : nullptr;
}

void VmFreeBuffer(qvScriptState* L, qvBuffer* b) {
  VmRealloc(L, b->data, b->size, 0);
  b->data = nullptr;
  b->size = 0;
}

// ---- the reader ----

namespace {

struct LoadState {
  qvScriptState* L;
  qvStream* z;
  qvBuffer* buffer;
  bool swap;  // the chunk's byte order differs from ours
  int depth;
};

[[noreturn]] void Fail(LoadState* S, int32_t code) { VmRaiseError(S->L, code); }

void ReadBlock(LoadState* S, void* b, size_t n) {
  if (VmStreamRead(S->z, b, n) != 0) Fail(S, ERR_UNEXPECTEDEOF);
}

int ReadByte(LoadState* S) {
  unsigned char c;
  ReadBlock(S, &c, 1);
  return c;
}

// A multi-byte value in the chunk's byte order.
void ReadValue(LoadState* S, void* out, size_t size) {
  unsigned char bytes[8];
  ReadBlock(S, bytes, size);
  if (S->swap) std::reverse(bytes, bytes + size);
  std::memcpy(out, bytes, size);
}

int32_t ReadInt(LoadState* S) {
  int32_t x;
  ReadValue(S, &x, sizeof x);
  return x;
}

// A count, line defined or local pc: never negative.
int32_t ReadCount(LoadState* S) {
  int32_t x = ReadInt(S);
  if (x < 0) Fail(S, ERR_BADINTEGER);
  return x;
}

double ReadNumber(LoadState* S) {
  double d;
  ReadValue(S, &d, sizeof d);
  return d;
}

// A string: its size L (0: none), then L bytes of which the last is the NUL. The scratch
// buffer grows only as the bytes arrive, so a false size ends in ERR_UNEXPECTEDEOF.
qvString* ReadString(LoadState* S) {
  uint32_t size;
  ReadValue(S, &size, sizeof size);
  if (size == 0) return nullptr;
  qvBuffer* b = S->buffer;
  size_t have = 0;
  while (have < size) {
    if (have == b->size) {
      size_t newSize = std::min<size_t>(size, std::max<size_t>(32, 2 * b->size));
      b->data = static_cast<char*>(VmRealloc(S->L, b->data, b->size, newSize));
      b->size = newSize;
    }
    size_t part = std::min<size_t>(size, b->size) - have;
    ReadBlock(S, b->data + have, part);
    have += part;
  }
  // A prototype's strings are read as C strings (names, the debug interface, the writer).
  qvString* s = VmInternString(S->L, b->data, size - 1);
  VmStringText(S->L, s);
  return s;
}

// Grows a prototype array so that element `index` exists, keeping the recorded size equal to
// the allocated one (the collector and the free routine rely on it). The size reaches exactly
// `count` with the last element.
template <typename T>
void Reserve(LoadState* S, T*& array, int32_t& size, int32_t index, int32_t count, T empty) {
  if (index < size) return;
  int32_t newSize = std::min(count, std::max(16, 2 * size));
  // NOLINTNEXTLINE(bugprone-sizeof-expression): T is the element type, a pointer for some arrays
  constexpr size_t kElementSize = sizeof(T);
  array = static_cast<T*>(
      VmRealloc(S->L, array, size_t(size) * kElementSize, size_t(newSize) * kElementSize));
  for (int32_t i = size; i < newSize; ++i) array[i] = empty;
  size = newSize;
}

// Reads `count` elements into a prototype array through read(i).
template <typename T, typename Read>
void ReadArray(LoadState* S, T*& array, int32_t& size, int32_t count, T empty, Read read) {
  for (int32_t i = 0; i < count; ++i) {
    Reserve(S, array, size, i, count, empty);
    array[i] = read();
  }
}

qvProto* ReadFunction(LoadState* S, qvString* enclosingSource);

void ReadConstants(LoadState* S, qvProto* f) {
  int32_t n = ReadCount(S);
  ReadArray(S, f->k, f->sizek, n, kNilValue, [&]() {
    qvScriptValue v;
    switch (ReadByte(S)) {
      case kTypeNil:
        SetNil(&v);
        break;
      case kTypeNumber:
        SetNumber(&v, ReadNumber(S));
        break;
      case kTypeString: {
        qvString* s = ReadString(S);
        if (s == nullptr) Fail(S, ERR_BADCONSTANT);
        SetString(&v, s);
        break;
      }
      default:
        Fail(S, ERR_BADCONSTANT);
    }
    return v;
  });
  // The four bytes between each constant's type and payload: a string's hint for table lookups.
  for (int32_t i = 0; i < f->sizek; ++i) SetConstantHint(&f->k[i], 0);
  n = ReadCount(S);
  ReadArray(S, f->p, f->sizep, n, static_cast<qvProto*>(nullptr),
            [&]() { return ReadFunction(S, f->source); });
}

qvProto* ReadFunction(LoadState* S, qvString* enclosingSource) {
  if (++S->depth > kMaxFunctionNesting) Fail(S, ERR_BADBYTECODE);
  qvProto* f = VmNewProto(S->L);
  f->source = ReadString(S);
  if (f->source == nullptr) f->source = enclosingSource;
  f->linedefined = ReadCount(S);
  f->nups = static_cast<uint8_t>(ReadByte(S));
  f->numparams = static_cast<uint8_t>(ReadByte(S));
  f->isVararg = static_cast<uint8_t>(ReadByte(S));
  f->maxstacksize = static_cast<uint8_t>(ReadByte(S));
  int32_t n = ReadCount(S);
  ReadArray(S, f->lineinfo, f->sizelineinfo, n, int32_t(0), [&]() { return ReadInt(S); });
  n = ReadCount(S);
  ReadArray(S, f->locvars, f->sizelocvars, n, qvLocVar{nullptr, 0, 0}, [&]() {
    qvLocVar v;
    v.name = ReadString(S);
    v.startpc = ReadCount(S);
    v.endpc = ReadCount(S);
    return v;
  });
  n = ReadCount(S);
  if (n != 0 && n != f->nups) Fail(S, ERR_BADUPVALUES);
  ReadArray(S, f->upvalues, f->sizeupvalues, n, static_cast<qvString*>(nullptr),
            [&]() { return ReadString(S); });
  ReadConstants(S, f);
  n = ReadCount(S);
  ReadArray(S, f->code, f->sizecode, n, uint32_t(0), [&]() {
    uint32_t i;
    ReadValue(S, &i, sizeof i);
    return i;
  });
  if (!VmCheckCode(f)) Fail(S, ERR_BADBYTECODE);
  --S->depth;
  return f;
}

void ReadHeader(LoadState* S) {
  for (unsigned char expected : kSignature)
    if (ReadByte(S) != expected) Fail(S, ERR_BADSIGNATURE);
  S->swap = ReadByte(S) != 1;
  for (unsigned char expected : kHeaderSizes)
    if (ReadByte(S) != expected) Fail(S, ERR_VMMISMATCH);
  if (std::trunc(ReadNumber(S)) != 31415926.0) Fail(S, ERR_UNKNUMFMT);
}

}  // namespace

qvProto* VmUndump(qvScriptState* L, qvStream* z, qvBuffer* buffer) {
  LoadState S{L, z, buffer, false, 0};
  ReadHeader(&S);
  return ReadFunction(&S, nullptr);
}

// ---- VmLoad ----

namespace {

struct LoadArgs {
  qvStream* z;
  qvBuffer buffer;
};

void LoadBody(qvScriptState* L, void* arg) {
  auto* args = static_cast<LoadArgs*>(arg);
  VmGCStep(L);
  qvProto* p = VmUndump(L, args->z, &args->buffer);
  // A function dumped with upvalues runs with fresh ones holding nil.
  qvLClosure* cl = VmNewScriptClosure(L, p->nups, &L->gt);
  cl->p = p;
  for (int i = 0; i < p->nups; ++i) {
    auto* uv = static_cast<qvUpVal*>(VmRealloc(L, nullptr, 0, sizeof(qvUpVal)));
    uv->v = &uv->closed;
    SetNil(&uv->closed);
    VmLinkObject(L, uv, kTypeUpval);
    cl->upvals()[i] = uv;
  }
  SetObject(VmPushSlot(L), kTypeFunction, cl);
}

}  // namespace

int32_t VmLoad(qvScriptState* L, qvReader reader, void* data, const char* chunkName) {
  qvStream z;
  VmStreamInit(&z, reader, data, chunkName != nullptr ? chunkName : "?");
  VmStreamPeek(&z);  // every chunk goes to the binary loader, which checks the signature
  LoadArgs args{&z, {nullptr, 0}};
  const ptrdiff_t oldTop = SaveStack(L, L->top);
  int32_t status = VmProtectedCall(L, LoadBody, &args, oldTop, L->errfunc);
  if (status != 0) L->top = RestoreStack(L, oldTop);  // nothing pushed
  VmFreeBuffer(L, &args.buffer);
  return status;
}

}  // namespace qv
