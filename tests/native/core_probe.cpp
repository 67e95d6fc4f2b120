// C entries into pieces of the Python-free core that the tests check on their own and the
// benchmarks time, loaded with ctypes; not part of the installed package.
#include "blackbox/metaheuristic.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" __attribute__((visibility("default"))) void velmo_probe_jacobi_eigen(double* a, size_t n,
                                                                                double* vectors) {
  velmo::blackbox::jacobi_eigen(std::span<double>(a, n * n), n, std::span<double>(vectors, n * n));
}

// Draws `count` normal variates from a generator seeded with `seed` and returns their sum, so
// a benchmark can time the sampling cost that the engines pay per coordinate.
extern "C" __attribute__((visibility("default"))) double velmo_probe_normals(uint64_t seed,
                                                                           uint64_t count) {
  velmo::blackbox::SolverRng rng(seed);
  double sum = 0.0;
  for (uint64_t k = 0; k < count; ++k) sum += rng.normal();
  return sum;
}
