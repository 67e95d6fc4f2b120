// Python-free multi-objective engine: non-dominated sorting, crowding distance, SBX and
// polynomial mutation, the Das-Dennis lattice, reference-point niching and the NSGA-II /
// NSGA-III generation loop.
#pragma once

#include "blackbox/metaheuristic.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velmo::blackbox {

// The order every choice in this file uses: numbers by value, NaN after all of them (+inf
// included) and equal to another NaN. A failed or undefined objective must never look good.
inline bool less_nan_last(double a, double b) noexcept { return a < b || (b != b && a == a); }
// The same order reversed for values where larger is better (crowding): NaN still last.
inline bool greater_nan_last(double a, double b) noexcept { return a > b || (b != b && a == a); }

struct Individual {
  std::vector<double> x;
  std::vector<double> objectives;
  uint64_t rank = 0;
  double crowding = 0.0;
  double violation = 0.0;  // total constraint violation (0 without constraints)
};

// A population stored flat: individual k owns x[k*n .. k*n+n) and f[k*m .. k*m+m).
struct Population {
  size_t n = 0;
  size_t m = 0;
  size_t size = 0;
  std::vector<double> x;
  std::vector<double> f;
  std::vector<uint64_t> rank;
  std::vector<double> crowding;
  std::vector<double> violation;  // all 0 without constraints

  // Room for `capacity` individuals; size starts at 0. Throws std::length_error when the
  // arrays cannot be addressed.
  void reserve(size_t dim, size_t objectives, size_t capacity);
  std::span<double> point(size_t k) noexcept { return std::span<double>(x).subspan(k * n, n); }
  std::span<const double> point(size_t k) const noexcept {
    return std::span<const double>(x).subspan(k * n, n);
  }
  std::span<double> values(size_t k) noexcept { return std::span<double>(f).subspan(k * m, m); }
  std::span<const double> values(size_t k) const noexcept {
    return std::span<const double>(f).subspan(k * m, m);
  }
  // The values of individuals [first, last), individual by individual.
  std::span<double> f_range(size_t first, size_t last) noexcept {
    return std::span<double>(f).subspan(first * m, (last - first) * m);
  }
};

// Fronts of a sort, stored once for all: front k is order[starts[k] .. starts[k+1]).
struct Fronts {
  std::vector<size_t> order;
  std::vector<size_t> starts;
  size_t count() const noexcept { return starts.empty() ? 0 : starts.size() - 1; }
  std::span<const size_t> front(size_t k) const noexcept {
    return std::span<const size_t>(order).subspan(starts[k], starts[k + 1] - starts[k]);
  }
};

// Non-dominated sorting with the dominance relation held as one bit per ordered pair, so the
// memory is N^2 bits and nothing is allocated per pair; buffers are kept between calls of the
// same sorter. Fronts and their member order are exactly those of the pairwise definition:
// front 0 in index order, each later front in the order its members' counts reach zero while
// the previous front is walked member by member, each member's dominated set in index order.
class NonDominatedSorter {
 public:
  // Allocates the buffers for populations of up to `capacity` individuals at once, so that
  // a population too large for memory fails before any work.
  void reserve(size_t capacity, size_t objectives);
  // Sorts the first `size` individuals of `pop`, writes their ranks into pop.rank and
  // returns the fronts (valid until the next call).
  const Fronts& sort(Population& pop);

 private:
  void relation_by_keys(const Population& pop, size_t words);
  void relation_by_ranks(const Population& pop, size_t words);
  void relation_constrained(const Population& pop, size_t words);

  std::vector<uint64_t> bits_;  // row i: the individuals i dominates
  std::vector<uint64_t> count_;  // how many individuals dominate each one
  std::vector<int64_t> keys_;  // objective j of individual k at keys_[j * size + k]
  std::vector<int16_t> ranks_;  // the same as dense ranks, rows padded to 16 entries
  struct KeyIndex {
    int64_t key;
    size_t index;
  };
  std::vector<KeyIndex> sorted_;
  Fronts fronts_;
};

// True when a is no worse than b in every objective and better in one (NaN worst).
bool dominates(std::span<const double> a, std::span<const double> b) noexcept;

// Crowding distance of one front (indices into pop), written into pop.crowding.
void crowding_distance(Population& pop, std::span<const size_t> front);

// All vectors (a_1/H, ..., a_M/H) of non-negative integers summing to H, depth first with
// a_1 ascending: C(H+M-1, M-1) points, flat (point r at [r*M, r*M+M)). H = 0 acts as 1.
// Throws std::length_error when the lattice would not fit in memory.
std::vector<double> das_dennis(size_t m, uint64_t divisions);

// Simulated binary crossover of p1, p2 into c1, c2 (distribution index 15, probability 0.5
// per variable), then no mutation; both children must have room for n coordinates.
void sbx_crossover(std::span<const double> p1, std::span<const double> p2, std::span<double> c1,
                   std::span<double> c2, const SearchBox& box, SolverRng& rng) noexcept;

// Polynomial mutation (distribution index 20, probability 1/n per variable) in place.
void polynomial_mutation(std::span<double> child, const SearchBox& box, SolverRng& rng) noexcept;

enum class NsgaVariant { nsga2, nsga3 };

struct NsgaSettings {
  uint64_t pop_size = 100;
  uint64_t generations = 250;
  uint64_t divisions = 12;  // NSGA-III lattice divisions; 0 acts as 1
  NsgaVariant variant = NsgaVariant::nsga2;
};

// Evaluates the points of one batch side by side (an executor behind the binding):
// values[k * m + j] is objective j at points[k]. The engine makes every point of a batch
// before it asks for their values, so the points and the order of the calls are those of the
// one-by-one run.
class PointBatch {
 public:
  virtual void evaluate(std::span<const std::span<const double>> points, std::span<double> values) = 0;

 protected:
  ~PointBatch() = default;
};

// Evolves settings.pop_size individuals for settings.generations generations and returns
// the first non-dominated front of the final population, in front order. Objective m of a
// point is objectives[m](x); the objectives are called in order for every evaluated point.
// Throws std::invalid_argument for fewer than two objectives and std::length_error when the
// population cannot be held in memory, both before any objective call.
// With `batch`, each generation's points (the initial population, then the offspring) go to
// it as one batch instead of to `objectives` one by one.
// With `control`: a start point (the first individual), the budgets (evaluations count points,
// each calling every objective once), an observer after each generation, integer coordinates
// and constraint domination (a feasible point dominates an infeasible one, two infeasible
// ones compare by violation).
std::vector<Individual> nsga_engine(std::span<const ObjectiveRef> objectives,
                                    const SearchBox& box, const NsgaSettings& settings,
                                    SolverRng& rng, PointBatch* batch = nullptr,
                                    const RunControl* control = nullptr);

}  // namespace velmo::blackbox
