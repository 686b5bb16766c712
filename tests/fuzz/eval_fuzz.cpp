// Fuzz target of the expression evaluator behind Eval. The input is the expression, then after a
// zero byte the variable names, one per line (each valued by its position; names that Eval would
// refuse are left out). The text is copied to a buffer of exactly its length and terminator, so a
// lexer that steps past the end reads outside it. Every result is a value or one of the
// evaluator's error codes.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/eval.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  const char* zero = static_cast<const char*>(std::memchr(bytes, 0, size));
  size_t textLength = zero != nullptr ? static_cast<size_t>(zero - bytes) : size;
  std::unique_ptr<char[]> text(new char[textLength + 1]);
  std::memcpy(text.get(), bytes, textLength);
  text[textLength] = '\0';

  std::vector<qv::qvEvalVariable> variables;
  if (zero != nullptr) {
    std::string rest(zero + 1, size - textLength - 1);
    size_t start = 0;
    while (start <= rest.size()) {
      size_t end = rest.find('\n', start);
      if (end == std::string::npos) end = rest.size();
      std::string name = rest.substr(start, end - start);
      if (qv::IsEvalVariableName(name.data(), name.size())) {
        variables.push_back({name, static_cast<double>(variables.size())});
      }
      start = end + 1;
    }
  }

  double value = 0;
  int32_t code = qv::EvaluateExpression(text.get(), variables, &value);
  switch (code) {
    case 0:
    case qv::ERR_SYNTAXERROR:
    case qv::ERR_VALUEEXPECTED:
    case qv::ERR_UNMPARENTHESES:
    case qv::ERR_WRONGOPCST:
    case qv::ERR_ZERODIVISION:
    case qv::ERR_STACK:
      break;
    default:
      std::abort();  // a code the evaluator does not promise
  }
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(EvalFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
