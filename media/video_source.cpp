// The list of packet sources a video file is offered to.
#include "media/video_source.h"

#include "base/errors.h"
#include "core/vfile.h"
#include "media/cdxl_source.h"

namespace qv {

int32_t OpenVideoSource(const char* name, std::unique_ptr<qvVideoSource>* out) {
  out->reset();
  SetErrorString(name);
  qvFile* file = OpenFileQ(name, kFileRead);
  if (file == nullptr) return ERR_READFILE;
  CloseFileQ(file);
  const int32_t code = OpenCdxlSource(name, out);
  // The file's name stays the error's text, whatever the reader stored.
  SetErrorString(name);
  if (code == ERR_MEM) return ERR_MEM;
  return code == 0 ? 0 : ERR_LOADVIDEO;
}

}  // namespace qv
