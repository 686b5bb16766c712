// Fuzz target of the FTP reply reader: the input is what a server sends on the control
// connection, fed from memory in pieces whose size the first byte chooses. Replies are read one
// after another (multi-line ones to the line with their code and a blank), and each reply's text
// goes to the PASV and 150-size parsers. Every reply must end with success or an error code and
// stay within the reply limit.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/transfer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t piece = data[0] % 17;
  qv::qvSocketStream* stream = qv::NewMemoryStream(reinterpret_cast<const char*>(data + 1),
                                                   size - 1, piece, false, nullptr);
  qv::qvNetContext ctx;
  qv::InitNetContext(&ctx, nullptr, 1000);
  for (int replies = 0; replies < 1000; ++replies) {
    qv::qvFtpReply reply;
    int32_t code = qv::ReadFtpReply(&ctx, stream, &reply);
    if (code != 0) {
      if (code < 1000) std::abort();
      break;
    }
    if (reply.text.size() > 1023) std::abort();
    qv::qvSockAddr address;
    qv::ParsePasvReply(reply.text, &address);
    if (qv::ParseFtpSize(reply.text) < -1) std::abort();
  }
  qv::FreeSocketStream(stream);
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(FtpReplyFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
