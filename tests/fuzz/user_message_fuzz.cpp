// Fuzz target of the user-message reader: the input is a port message block as another player's
// message arrives (the port's name, a zero, the text, a zero), read and split as the dispatcher
// does for "onusermessage". The block lies in a buffer of exactly its size, so a read past it
// shows up under the sanitizers; the parts are checked against the text.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/events.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char* block = static_cast<char*>(std::malloc(size ? size : 1));
  if (block == nullptr) return 0;
  if (size) std::memcpy(block, data, size);
  std::string_view text = qv::PortMessageText(block, size);
  if (!text.empty() && (text.data() < block || text.data() + text.size() > block + size))
    std::abort();
  qv::qvUserMessageParts parts;
  qv::SplitUserMessage(text, &parts);
  size_t quotes = 0, zeros = 0;
  for (char c : parts.rawargs) quotes += c == '"';
  for (char c : parts.args) zeros += c == '\0';
  size_t rawZeros = 0;
  for (char c : parts.rawargs) rawZeros += c == '\0';
  // The args are the raw arguments without their quotes; each blank made a zero counts once.
  if (parts.args.size() != parts.rawargs.size() - quotes) std::abort();
  if (parts.argc != 0 && static_cast<size_t>(parts.argc) != 1 + zeros - rawZeros) std::abort();
  if (parts.command.size() + (parts.argc ? 1 + parts.rawargs.size() : 0) != text.size())
    std::abort();
  std::free(block);
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(UserMessageFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
