#include "core/args.h"

#include <locale.h>
#include <stdlib.h>

#include <cstdlib>
#include <cstring>

#include "base/support.h"
#include "core/error_table.h"
#include "core/errors.h"
#include "core/eventqueue.h"
#include "core/layer_system.h"
#include "core/player_state.h"
#include "core/vfile.h"

namespace qv {

namespace {

constexpr int64_t kMaxObjectBytes = 0x7FFFFFFF;

// The leading number of a text by strtod's rules, in the "C" locale whatever the process's
// locale is. Returns the end of the number, or null when there is none.
const char* ScanLeadingNumber(const char* text, double* value) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  char* end = nullptr;
  *value = strtod_l(text, &end, cLocale);
  return end == text ? nullptr : end;
}

// How a percentage failure names its argument.
struct ErrorTarget {
  int index;        // stored as numeric argument
  const char* key;  // stored as text argument when not null
  void Store() const {
    SetErrorNumber(index);
    if (key != nullptr) SetErrorString(key);
  }
};

double NumberOrPercent(qvScriptState* L, int index, int32_t reference, int allowOver100,
                       int* percent, const ErrorTarget& target) {
  if (percent != nullptr) *percent = 0;
  int32_t type = VmType(L, index);
  if (type == kTypeNil || type == kTypeNumber) return VmCheckNumber(L, index);
  target.Store();
  if (type != kTypeString) VmRaiseError(L, ERR_STRORNUM);
  double value;
  const char* end = ScanLeadingNumber(VmToString(L, index), &value);
  if (end == nullptr) VmRaiseError(L, ERR_PERCENTFORMAT);
  if (*end != '%') return value;
  if (!(value >= 0) || (value > 100 && !allowOver100)) VmRaiseError(L, ERR_PERCENTFORMAT);
  if (reference != 0) return value * reference / 100;
  if (percent != nullptr) *percent = 1;
  return value / 100;
}

// The option-table reader convention: pushes table[key], hands its index to `read` when it is
// not Nil, pops it.
template <typename Read>
int ReadField(qvScriptState* L, int table, const char* key, int* found, Read read) {
  table = VmAbsIndex(L, table);
  VmPushString(L, key);
  VmGetTable(L, table);
  bool present = VmType(L, -1) != kTypeNil;
  if (present) read(VmGetTop(L));
  VmSetTop(L, -2);
  if (present && found != nullptr) *found = 1;
  return present;
}

[[noreturn]] void RaiseWithKey(qvScriptState* L, const char* key, int32_t code) {
  SetErrorString(key);
  VmRaiseError(L, code);
}

bool IsConstantNameChar(unsigned char c) {
  return IsAlnumChar(c) || c == '_' || c == '$' || c == '!';
}

}  // namespace

qvScriptState* CheckArgCount(qvScriptState* L, int min, int max) {
  int n = VmGetTop(L);
  if (min == 0 && max == 0 && n > 0) VmRaiseError(L, ERR_TOOMANYARGS);
  if (n < min) VmRaiseError(L, ERR_MISSINGPARAMTR);
  if (max > 0 && n > max) VmRaiseError(L, ERR_TOOMANYARGS);
  return L;
}

qvObjectId CheckObjectId(qvScriptState* L, int index) {
  if (VmType(L, index) == kTypeLightUserdata) return {0, VmToUserdata(L, index)};
  return {VmCheckInt(L, index), nullptr};
}

qvOptionalId OptObjectId(qvScriptState* L, int index) {
  if (VmType(L, index) == kTypeNil) return {0, 1};
  return {VmCheckInt(L, index), 0};
}

int PushNewObjectId(qvScriptState* L, qvOptionalId id, void* record) {
  if (!id.automatic) return 0;
  VmPushLightUserdata(L, record);
  return 1;
}

double GetNumberOrPercent(qvScriptState* L, int index, int32_t reference, int allowOver100,
                          int* percent) {
  return NumberOrPercent(L, index, reference, allowOver100, percent, {index, nullptr});
}

int32_t LookupConstant(qvScriptState* L, const char* text, double* value, int* consumed) {
  const char* string = nullptr;
  int32_t code = LookupConstantValue(L, text, &string, value, consumed);
  if (code == 0 && string != nullptr) return ERR_WRONGUSAGE;
  return code;
}

int32_t LookupConstantValue(qvScriptState* L, const char* text, const char** string, double* value,
                            int* consumed) {
  if (text[0] != '#') return ERR_WRONGUSAGE;
  unsigned char first = static_cast<unsigned char>(text[1]);
  if (!IsLetterChar(ToLowerChar(first)) && first != '_') return ERR_SYNTAXERROR;
  char name[kConstantNameLimit + 1];
  size_t n = 0;
  while (n < kConstantNameLimit && IsConstantNameChar(static_cast<unsigned char>(text[1 + n]))) {
    name[n] = text[1 + n];
    ++n;
  }
  name[n] = '\0';
  *string = nullptr;
  double number = 0;
  if (!VmGetConstant(L, name, string, &number)) return ERR_FINDCST;
  *value = number;
  if (consumed != nullptr) *consumed = int(n) + 1;
  return 0;
}

// ---- filling tables ----

void SetFieldNumber(qvScriptState* L, const char* key, double value) {
  VmPushString(L, key);
  VmPushNumber(L, value);
  VmSetTable(L, -3);
}

void SetFieldInt(qvScriptState* L, const char* key, int32_t value) {
  SetFieldNumber(L, key, value);
}

void SetFieldString(qvScriptState* L, const char* key, const char* value) {
  VmPushString(L, key);
  VmPushString(L, value);
  VmSetTable(L, -3);
}

void SetFieldObjectId(qvScriptState* L, const char* key, qvObjectId id) {
  if (id.handle == nullptr) {
    SetFieldNumber(L, key, id.number);
    return;
  }
  VmPushString(L, key);
  VmPushLightUserdata(L, id.handle);
  VmSetTable(L, -3);
}

// ---- option-table readers ----

int GetFieldInt(qvScriptState* L, int table, const char* key, int32_t* out, int* found) {
  return ReadField(L, table, key, found, [&](int v) { *out = VmCheckIntField(L, v, key); });
}

int GetFieldUInt(qvScriptState* L, int table, const char* key, uint32_t* out, int* found) {
  return ReadField(L, table, key, found,
                   [&](int v) { *out = static_cast<uint32_t>(VmCheckIntField(L, v, key)); });
}

int GetFieldNumber(qvScriptState* L, int table, const char* key, double* out, int* found) {
  return ReadField(L, table, key, found, [&](int v) { *out = VmCheckNumberField(L, v, key); });
}

int GetFieldFlag(qvScriptState* L, int table, const char* key, bool* out, int* found) {
  return ReadField(L, table, key, found, [&](int v) {
    *out = VmType(L, v) == kTypeBoolean ? VmToBoolean(L, v) != 0
                                        : VmCheckNumberField(L, v, key) != 0;
  });
}

int GetFieldString(qvScriptState* L, int table, const char* key, char* out, size_t size,
                   int* found) {
  return ReadField(L, table, key, found, [&](int v) {
    size_t len = 0;
    const char* s = VmCheckStringField(L, v, key, &len);
    if (size == 0) return;
    if (len >= size) len = size - 1;
    std::memcpy(out, s, len);
    out[len] = '\0';
  });
}

int GetFieldObjectId(qvScriptState* L, int table, const char* key, qvObjectId* out, int* found) {
  return ReadField(L, table, key, found, [&](int v) {
    if (VmType(L, v) == kTypeLightUserdata)
      *out = {0, VmToUserdata(L, v)};
    else
      *out = {VmCheckIntField(L, v, key), nullptr};
  });
}

int GetFieldLayer(qvScriptState* L, int table, const char* key, int32_t* out, int* found) {
  return ReadField(L, table, key, found, [&](int v) {
    switch (VmType(L, v)) {
      case kTypeNumber:
        *out = VmCheckIntField(L, v, key);
        break;
      case kTypeString: {
        const char* name = VmToString(L, v);
        int32_t position = FindLayerByName(name);
        if (position == 0) RaiseWithKey(L, name, ERR_FINDLAYER);
        *out = position;
        break;
      }
      default:
        RaiseWithKey(L, key, ERR_WRONGUSAGE);
    }
  });
}

int GetFieldSizeOrPercent(qvScriptState* L, int table, const char* key, int allowOver100,
                          int32_t* out, int* found) {
  return ReadField(L, table, key, found, [&](int v) {
    if (VmType(L, v) != kTypeString) {
      *out = VmCheckIntField(L, v, key);
      return;
    }
    SetErrorString(key);
    double n;
    const char* end = ScanLeadingNumber(VmToString(L, v), &n);
    if (end == nullptr) VmRaiseError(L, ERR_PERCENTFORMATSTR);
    if (*end != '%') {
      *out = DoubleToInt32(n);
      return;
    }
    if (!(n >= 0) || (n > 100 && !allowOver100)) VmRaiseError(L, ERR_PERCENTFORMATSTR);
    *out = DoubleToInt32(-n);
  });
}

int GetFieldNumberOrPercent(qvScriptState* L, int table, const char* key, int32_t reference,
                            int allowOver100, int* percent, double* out, int* found) {
  // A failure names the key and, as its number, the option table's own argument position.
  ErrorTarget target{VmAbsIndex(L, table), key};
  return ReadField(L, table, key, found, [&](int v) {
    *out = NumberOrPercent(L, v, reference, allowOver100, percent, target);
  });
}

int GetFieldMatrix(qvScriptState* L, int table, const char* key, double out[4], int* found) {
  return ReadField(L, table, key, found, [&](int v) {
    if (VmType(L, v) != kTypeTable) RaiseWithKey(L, key, ERR_TABEXPECTED2);
    double m[4];
    for (int i = 0; i < 4; ++i) {
      VmRawGetI(L, v, i);
      if (VmType(L, -1) == kTypeNil) RaiseWithKey(L, key, ERR_MISSINGPARAMTR);
      m[i] = VmCheckNumberField(L, -1, key);
      VmSetTop(L, -2);
    }
    std::memcpy(out, m, sizeof m);
  });
}

const char* ResolveLinkedFile(qvScriptState* L, const char* name, bool fontFlag, bool* isFont) {
  if (isFont != nullptr) *isFont = false;
  const qvAppletSettings* settings = GetAppletSettings(L);
  const qvPlayerState* state = GetProcessPlayerState();
  char* buffer = RuntimeNameBuffer();
  // Without an applet, or outside a run, nothing is linked.
  if (settings == nullptr || state == nullptr || buffer == nullptr) return name;
  return ResolveLinkedFile(settings->linkedFiles, state->appletOffset, state->scriptPath, name,
                           fontFlag, isFont, buffer, kRuntimeBufferSize);
}

const char* CheckName(qvScriptState* L, int index) {
  size_t length = 0;
  const char* name = VmCheckString(L, index, &length);
  if (std::memchr(name, '\0', length) != nullptr) VmRaiseError(L, ERR_WRONGUSAGE);
  return name;
}

const char* OptName(qvScriptState* L, int index) {
  int type = VmType(L, index);
  return type == kTypeNone || type == kTypeNil ? nullptr : CheckName(L, index);
}

const char* CheckNameField(qvScriptState* L, int index, const char* key) {
  size_t length = 0;
  const char* name = VmCheckStringField(L, index, key, &length);
  if (std::memchr(name, '\0', length) != nullptr) RaiseWithKey(L, key, ERR_WRONGUSAGE);
  return name;
}

const char* ResolveLinkedFileArg(qvScriptState* L, int index, int kind, bool* isFont) {
  return ResolveLinkedFile(L, CheckName(L, index), kind == kLinkedFileFont, isFont);
}

int GetFieldFileName(qvScriptState* L, int table, const char* key, int kind, bool* isFont,
                     char** out, size_t* len, int* found) {
  char* copy = nullptr;
  size_t n = 0;
  int present = ReadField(L, table, key, found, [&](int v) {
    const char* name = CheckNameField(L, v, key);
    if (kind != kLinkedFileNone) name = ResolveLinkedFile(L, name, kind == kLinkedFileFont, isFont);
    n = std::strlen(name);
    copy = static_cast<char*>(std::malloc(n + 1));
    if (copy != nullptr) std::memcpy(copy, name, n + 1);
  });
  if (!present) return 0;
  *out = copy;
  if (copy == nullptr) return 0;
  if (len != nullptr) *len = n;
  return 1;
}

int32_t CheckObjectSize(int32_t width, int32_t height, int32_t unitSize, size_t* bytes) {
  if (width < 0 || height < 0 || unitSize < 0) return ERR_MEM;
  int64_t area = int64_t(width) * height;  // below 2^62: no overflow
  if (unitSize != 0 && area > kMaxObjectBytes / unitSize) return ERR_MEM;
  *bytes = size_t(area * unitSize);
  return 0;
}

}  // namespace qv
