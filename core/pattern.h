// The pattern matcher of the string library: a backtracking matcher over byte strings (zero
// bytes allowed in subject and pattern) with classes, sets, four repetitions, anchors, up to 32
// captures (also position captures), back-references, balanced pairs and frontiers. It knows
// nothing of the script machine, so tests and fuzz targets drive it directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv {

constexpr int kMaxPatternCaptures = 32;
// Nesting of the matcher's own recursion (captures, optional items, repetitions followed by
// more pattern). Single items loop, so the subject's length never deepens it; a pattern that
// nests deeper than this fails with ERR_STACK instead of exhausting the machine stack.
constexpr int kMaxPatternDepth = 200;

constexpr ptrdiff_t kCaptureUnfinished = -1;
constexpr ptrdiff_t kCapturePosition = -2;

struct qvPatternCapture {
  const char* start;
  ptrdiff_t length;  // or kCaptureUnfinished, kCapturePosition
};

// Backtracking can take exponential time ("a?a?a?...b" against many "a"s), and one step can scan
// the whole subject ("%b()" or "a*" over a megabyte): every this many steps or bytes scanned the
// matcher asks `poll`, so a break request (or a fuzzer's budget) can end it.
constexpr uint32_t kPatternPollSteps = 1u << 16;

struct qvPatternMatch {
  const char* subject;  // the whole subject
  const char* subjectEnd;
  const char* patternEnd;
  int level;  // captures opened so far
  int depth;
  qvPatternCapture capture[kMaxPatternCaptures];
  // Called every kPatternPollSteps steps or bytes scanned when set: 0 goes on, an error code ends
  // the attempt with that code.
  int32_t (*poll)(void* data);
  void* pollData;
  uint32_t steps;
};

// Prepares `m` for matches of a pattern in the subject [subject, subject + size), without a
// poll function.
void PatternBegin(qvPatternMatch* m, const char* subject, size_t size, const char* pattern,
                  size_t patternSize);

// Tries the pattern (from `pattern`, up to the end given to PatternBegin) at `at`. Returns 0
// with *end the match's end, or null when there is no match there; or an error code:
// ERR_INVCAPIDX (a back-reference to a capture that does not exist or is open),
// ERR_INVPATCAP (")" without an open capture), ERR_MALFORMPAT1 (a pattern ending in "%"),
// ERR_MALFORMPAT2 (a set without "]"), ERR_UNBALANCEDPAT ("%b" without two bytes),
// ERR_TOOMANYCAPTURES (a 33rd capture), ERR_MISSINGOPBRACK ("%f" without a set) or ERR_STACK.
int32_t PatternMatchAt(qvPatternMatch* m, const char* at, const char* pattern, const char** end);

// Capture i (0-based) of the last match: 0 with the bytes or, for a position capture, the
// position counted from 1 in *position (and *start null); ERR_UNFINISHEDCAPTURE for one still
// open. With no captures at all, capture 0 is the whole match [matchStart, matchEnd).
int32_t PatternCapture(const qvPatternMatch* m, int i, const char* matchStart, const char* matchEnd,
                       const char** start, size_t* length, size_t* position);

// What replaces one match: Add appends it to *out and returns 0 or an error code, which ends
// the replacement.
class qvPatternReplacer {
 public:
  virtual int32_t Add(const qvPatternMatch& m, const char* start, const char* end,
                      std::string* out) = 0;

 protected:
  ~qvPatternReplacer() = default;
};

// Appends the template for one match: "%1" to "%9" insert captures (a position capture as its
// number), "%" and any other byte that byte. "%0", a digit past the captures (any digit when
// the pattern has none) or an open capture give ERR_INVCAPIDX.
int32_t PatternExpandTemplate(const qvPatternMatch& m, const char* tmpl, size_t size,
                              const char* start, const char* end, std::string* out);

// Replaces up to `maximum` matches of the pattern in the subject, appending the result to *out
// and the number of matches to *count. A leading "^" anchors: one attempt, at the start. After an
// empty match, and where nothing matches, one subject byte is copied and the search goes on
// after it. Returns 0 or the error code of the matcher or of the replacer. May throw
// std::bad_alloc.
// `poll` (may be null) and `pollData` go to the match state.
int32_t PatternReplace(const char* subject, size_t size, const char* pattern, size_t patternSize,
                       int64_t maximum, qvPatternReplacer& replacer, std::string* out,
                       int64_t* count, int32_t (*poll)(void* data) = nullptr,
                       void* pollData = nullptr);

}  // namespace qv
