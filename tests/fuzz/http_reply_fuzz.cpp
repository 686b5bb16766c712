// Fuzz target of the HTTP reply reader: the input is what a server sends, fed from memory in
// pieces whose size the first byte chooses. The head (status line, header lines, 100 responses)
// and the body (Content-Length, chunked, up to the close) are read into memory. The reader must
// end with success or an error code, never hold more body than the input had, and count what it
// kept.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/transfer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t piece = data[0] % 17;  // 0: as much as asked
  const char* input = reinterpret_cast<const char*>(data + 1);
  qv::qvSocketStream* stream = qv::NewMemoryStream(input, size - 1, piece, false, nullptr);
  qv::qvNetContext ctx;
  qv::InitNetContext(&ctx, nullptr, 1000);
  qv::qvHttpHead head;
  qv::qvMemoryPayload sink;
  int32_t code = qv::ReadHttpHead(&ctx, stream, &head);
  if (code == 0) code = qv::ReadHttpBody(&ctx, stream, head, &sink);
  if (code < 0 || (code > 0 && code < 1000)) std::abort();
  if (sink.data.size() > size || sink.count != sink.data.size()) std::abort();
  qv::FreeSocketStream(stream);

  // The line parsers alone, on the whole input.
  std::string_view text(input, size - 1);
  int32_t status = 0;
  qv::ParseStatusLine(text, &status);
  qv::ParseHeaderLine(text, &head);
  uint64_t chunk = 0;
  if (qv::ParseChunkSize(text, &chunk) && chunk > INT64_MAX) std::abort();
  qv::qvUrlParts base;
  if (qv::ParseTransferUrl("http://h/a/b?c", &base) == 0) qv::ResolveLocation(base, text);
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(HttpReplyFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
