#include "core/textout.h"

#include <cstdio>

namespace qv {

void OutputText(const char* text) { std::fputs(text, stdout); }

}  // namespace qv
