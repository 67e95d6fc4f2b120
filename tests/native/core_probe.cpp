// A C entry into pieces of the Python-free core that the tests check on their own, loaded
// with ctypes; not part of the installed package.
#include "blackbox/metaheuristic.hpp"

#include <cstddef>
#include <span>

extern "C" __attribute__((visibility("default"))) void velmo_probe_jacobi_eigen(double* a, size_t n,
                                                                                double* vectors) {
  velmo::blackbox::jacobi_eigen(std::span<double>(a, n * n), n, std::span<double>(vectors, n * n));
}
