// DownloadFile and UploadFile: the options table and the progress callback over the core's
// transfer client.
#include <cstdlib>
#include <string>

#include "base/errors.h"
#include "core/args.h"
#include "core/error_table.h"
#include "core/transfer.h"
#include "libs/network/commands.h"
#include "libs/network/network.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

struct Callback {
  qvScriptState* L;
  int function;  // stack index of the callback, 0 for none
  int userdata;  // stack index of the user data, 0 for none
};

void StepCallbackNesting(bool enter) {
  const qvAttrSetItem items[] = {{kAttrCallbackNesting, enter ? 1 : 0}, {0, 0}};
  SetRuntimeAttrs(nullptr, items);
}

// Calls the script's callback with {action, count, total, userdata}: 0, its error, or kRecvStop
// when it returned 1.
int32_t Progress(void* context, uint64_t count, uint64_t total) {
  auto* cb = static_cast<Callback*>(context);
  qvScriptState* L = cb->L;
  int top = VmGetTop(L);
  VmPushValue(L, cb->function);
  VmNewTable(L);
  SetFieldInt(L, "action", 0);
  SetFieldNumber(L, "count", static_cast<double>(count));
  SetFieldNumber(L, "total", static_cast<double>(total));
  if (cb->userdata != 0) {
    VmPushString(L, "userdata");
    VmPushValue(L, cb->userdata);
    VmSetTable(L, -3);
  }
  StepCallbackNesting(true);
  int32_t code = VmPCall(L, 1, 1, 0);
  StepCallbackNesting(false);
  bool stop = code == 0 && VmType(L, -1) == kTypeNumber && VmToNumber(L, -1) == 1;
  VmSetTop(L, top);
  if (code != 0) return code;
  if (VmGetEndFlag(L)) return ERR_USERABORT;
  return stop ? kRecvStop : 0;
}

// Reads the common options and the callback arguments; raises on a field of the wrong type.
void ReadOptions(qvScriptState* L, bool upload, qvTransferOptions* o, bool* silent,
                 Callback* callback) {
  o->upload = upload;
  o->url = VmCheckString(L, 1);
  if (VmType(L, 2) == kTypeTable) {
    double mode = 0;
    int found = 0;
    GetFieldNumber(L, 2, "transfermode", &mode, &found);
    if (found) o->transferMode = mode == 'i' || mode == 'a' ? static_cast<int32_t>(mode) : 0;
    size_t length = 0;
    VmPushString(L, "file");
    VmGetTable(L, 2);
    if (VmType(L, -1) != kTypeNil) {
      o->hasFile = true;
      const char* name = CheckNameField(L, -1, "file");
      o->file = ResolveLinkedFile(L, name, false, nullptr);
    }
    VmSetTop(L, -2);
    const struct {
      const char* key;
      bool* has;
      std::string* value;
    } kTexts[] = {{"proxy", &o->hasProxy, &o->proxy},
                  {"post", upload ? nullptr : &o->hasPost, &o->post},
                  {"data", upload ? &o->hasData : nullptr, &o->data}};
    for (const auto& t : kTexts) {
      if (t.has == nullptr) continue;
      VmPushString(L, t.key);
      VmGetTable(L, 2);
      if (VmType(L, -1) != kTypeNil) {
        const char* text = VmCheckStringField(L, -1, t.key);
        length = VmStrLen(L, -1);
        *t.has = true;
        t.value->assign(text, length);
      }
      VmSetTop(L, -2);
    }
    if (!upload) {
      char text[1024];
      if (GetFieldString(L, 2, "posttype", text, sizeof text, nullptr)) o->postType = text;
      if (GetFieldString(L, 2, "useragent", text, sizeof text, nullptr)) o->userAgent = text;
      const struct {
        const char* key;
        bool* flag;
      } kFlags[] = {{"fail404", &o->fail404}, {"redirect", &o->redirect}};
      for (const auto& f : kFlags) GetFieldFlag(L, 2, f.key, f.flag, nullptr);
    }
    GetFieldFlag(L, 2, "silentfail", silent, nullptr);
  } else if (VmType(L, 2) != kTypeNil && VmType(L, 2) != kTypeNone) {
    VmCheckTable(L, 2);
  }
  callback->L = L;
  if (VmType(L, 3) != kTypeNone && VmType(L, 3) != kTypeNil) {
    VmCheckFunction(L, 3);
    callback->function = 3;
    if (VmType(L, 4) != kTypeNone) callback->userdata = 4;
    o->progress = Progress;
    o->progressContext = callback;
  }
}

int32_t Run(qvScriptState* L, bool upload) {
  qvTransferOptions options;
  bool silent = false;
  Callback callback{L, 0, 0};
  ReadOptions(L, upload, &options, &silent, &callback);
  qvNetContext ctx;
  InitNetContext(&ctx, L, NetworkTimeoutMs());
  qvTransferResult result;
  int32_t code = RunTransfer(&ctx, options, &result);
  if (code != 0) {
    if (!silent) return code;
    char message[1024];
    FormatErrorText(code, message, sizeof message);
    VmPushString(L, message);
    VmPushNumber(L, -1);
    return 2;
  }
  if (upload) return 0;
  VmPushLString(L, result.data.data(), result.data.size());
  VmPushNumber(L, static_cast<double>(result.count));
  return 2;
}

}  // namespace

namespace cmd {

// DownloadFile(url, [options], [callback], [userdata]): the data ("" for a file) and its size.
int32_t DownloadFile(qvScriptState* L) {
  CheckArgCount(L, 1, 4);
  return Run(L, false);
}

// UploadFile(url, options, [callback], [userdata]).
int32_t UploadFile(qvScriptState* L) {
  CheckArgCount(L, 2, 4);
  return Run(L, true);
}

}  // namespace cmd

}  // namespace qv
