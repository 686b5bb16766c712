// Closures, upvalues and prototypes.
#include "vm/func.h"

#include "vm/gc.h"

namespace qv {

size_t CClosureSize(int n) { return sizeof(qvCClosure) + size_t(n) * sizeof(qvScriptValue); }
size_t LClosureSize(int n) {
  // NOLINTNEXTLINE(bugprone-sizeof-expression): the closure ends in an array of pointers
  return sizeof(qvLClosure) + size_t(n) * sizeof(qvUpVal*);
}

qvCClosure* VmNewCClosure(qvScriptState* L, int n) {
  auto* c = static_cast<qvCClosure*>(VmRealloc(L, nullptr, 0, CClosureSize(n)));
  c->isNative = 1;
  c->nupvalues = static_cast<uint8_t>(n);
  c->gclist = nullptr;
  c->f = nullptr;
  for (int i = 0; i < n; ++i) SetNil(&c->upvalues()[i]);
  VmLinkObject(L, c, kTypeFunction);
  return c;
}

qvLClosure* VmNewScriptClosure(qvScriptState* L, int n, const qvScriptValue* env) {
  auto* c = static_cast<qvLClosure*>(VmRealloc(L, nullptr, 0, LClosureSize(n)));
  c->isNative = 0;
  c->nupvalues = static_cast<uint8_t>(n);
  c->gclist = nullptr;
  c->p = nullptr;
  c->env = *env;
  for (int i = 0; i < n; ++i) c->upvals()[i] = nullptr;
  VmLinkObject(L, c, kTypeFunction);
  return c;
}

qvUpVal* VmFindUpval(qvScriptState* L, qvScriptValue* slot) {
  qvGCObject** pp = &L->openupval;
  qvUpVal* p;
  while ((p = static_cast<qvUpVal*>(*pp)) != nullptr && p->v >= slot) {
    if (p->v == slot) return p;
    pp = &p->next;
  }
  auto* uv = static_cast<qvUpVal*>(VmRealloc(L, nullptr, 0, sizeof(qvUpVal)));
  uv->type = kTypeUpval;
  uv->marked = 1;  // open upvalues live as long as their slot
  uv->v = slot;
  SetNil(&uv->closed);
  uv->next = *pp;
  *pp = uv;
  return uv;
}

void VmCloseUpvals(qvScriptState* L, qvScriptValue* level) {
  qvUpVal* p;
  while ((p = static_cast<qvUpVal*>(L->openupval)) != nullptr && p->v >= level) {
    p->closed = *p->v;
    p->v = &p->closed;
    L->openupval = p->next;
    VmLinkObject(L, p, kTypeUpval);
  }
}

qvProto* VmNewProto(qvScriptState* L) {
  auto* f = static_cast<qvProto*>(VmRealloc(L, nullptr, 0, sizeof(qvProto)));
  f->k = nullptr;
  f->code = nullptr;
  f->p = nullptr;
  f->lineinfo = nullptr;
  f->locvars = nullptr;
  f->upvalues = nullptr;
  f->source = nullptr;
  f->sizeupvalues = f->sizek = f->sizecode = f->sizelineinfo = f->sizep = f->sizelocvars = 0;
  f->linedefined = 0;
  f->gclist = nullptr;
  f->nups = f->numparams = f->isVararg = f->maxstacksize = 0;
  VmLinkObject(L, f, kTypeProto);
  return f;
}

const char* VmLocalName(const qvProto* f, int n, int pc) {
  for (int i = 0; i < f->sizelocvars && f->locvars[i].startpc <= pc; ++i) {
    if (pc < f->locvars[i].endpc) {
      if (--n == 0) return f->locvars[i].name != nullptr ? f->locvars[i].name->data() : nullptr;
    }
  }
  return nullptr;
}

void VmFreeProto(qvScriptState* L, qvProto* f) {
  VmFreeVector(L, f->code, size_t(f->sizecode));
  VmFreeVector(L, f->p, size_t(f->sizep));
  VmFreeVector(L, f->k, size_t(f->sizek));
  VmFreeVector(L, f->lineinfo, size_t(f->sizelineinfo));
  VmFreeVector(L, f->locvars, size_t(f->sizelocvars));
  VmFreeVector(L, f->upvalues, size_t(f->sizeupvalues));
  VmRealloc(L, f, sizeof(qvProto), 0);
}

void VmFreeClosure(qvScriptState* L, qvClosure* c) {
  size_t size = c->isNative ? CClosureSize(c->nupvalues) : LClosureSize(c->nupvalues);
  VmRealloc(L, c, size, 0);
}

}  // namespace qv
