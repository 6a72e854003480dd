#pragma once
// The kernels behind Md5Context::UpdateMany, for tests and benchmarks that
// compare them on one machine: UpdateMany uses the best the processor has
// unless told to keep to a narrower one here.

namespace vantrove {

enum class Md5ManyKernel {
    Best,    // 16 lanes with AVX-512, 8 lanes with AVX2 or AVX-512VL
    Avx2,    // 8 lanes with AVX2 only
    Scalar,  // one stream at a time
};

// Whether this processor can run `kernel`.
bool Md5ManyKernelAvailable(Md5ManyKernel kernel);
// Keeps UpdateMany to `kernel` (it must be available) from now on, for every
// thread; set it while nothing is being hashed.
void SetMd5ManyKernel(Md5ManyKernel kernel);

}  // namespace vantrove
