// The NSGA-II / NSGA-III engine and its pieces.
#include "blackbox/moo.hpp"

#include "blackbox/run_control.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velmo::blackbox {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTiny = 1e-30;  // smallest denominator
constexpr double kSameParents = 1e-14;
constexpr double kCrossoverExp = -16.0;  // distribution index 15
constexpr double kCrossoverRoot = 1.0 / 16.0;
constexpr double kMutationExp = 21.0;  // distribution index 20
constexpr double kMutationRoot = 1.0 / 21.0;
// Largest reference lattice, in doubles (1 GiB): beyond it the association alone would take
// hours, so the request is refused up front like any other allocation that cannot succeed.
constexpr uint64_t kMaxLatticeDoubles = uint64_t{1} << 27;
#if defined(__SSE2__)
constexpr bool kVectorRelation = true;
#else
constexpr bool kVectorRelation = false;
#endif
constexpr size_t kMaxRank16 = 32767;  // dense ranks 0 .. size-1 must fit a signed 16-bit lane

// max and min that return the other operand when one is NaN, as the box clamp does.
inline double max_of(double a, double b) noexcept {
  if (a != a) return b;
  if (b != b) return a;
  return a < b ? b : a;
}
inline double min_of(double a, double b) noexcept {
  if (a != a) return b;
  if (b != b) return a;
  return a > b ? b : a;
}
inline double limit(double v, double lb, double ub) noexcept { return min_of(max_of(v, lb), ub); }

// An integer with the order of less_nan_last: IEEE bits made monotonic, both zeros equal and
// every NaN above +inf. Integer keys make the quadratic dominance loop branch-light.
inline int64_t order_key(double v) noexcept {
  if (v != v) return std::numeric_limits<int64_t>::max();
  const int64_t bits = std::bit_cast<int64_t>(v + 0.0);  // -0 + 0 is +0
  return bits < 0 ? bits ^ std::numeric_limits<int64_t>::max() : bits;
}

size_t checked_mul(size_t a, size_t b) {
  if (a != 0 && b > std::numeric_limits<size_t>::max() / a) {
    throw std::length_error("the population does not fit in memory");
  }
  return a * b;
}

}  // namespace

void Population::reserve(size_t dim, size_t objectives, size_t capacity) {
  n = dim;
  m = objectives;
  size = 0;
  x.resize(checked_mul(capacity, dim));
  f.resize(checked_mul(capacity, objectives));
  rank.resize(capacity);
  crowding.resize(capacity);
  violation.assign(capacity, 0.0);
}

bool dominates(std::span<const double> a, std::span<const double> b) noexcept {
  bool better = false;
  for (size_t k = 0; k < a.size(); ++k) {
    if (less_nan_last(b[k], a[k])) return false;
    if (less_nan_last(a[k], b[k])) better = true;
  }
  return better;
}

void NonDominatedSorter::reserve(size_t capacity, size_t objectives) {
  const size_t words = capacity / 64 + 1;
  bits_.reserve(checked_mul(capacity, words));
  count_.reserve(capacity);
  if (kVectorRelation) {
    const size_t ranked = std::min(capacity, kMaxRank16);
    ranks_.reserve(checked_mul(ranked + 16, objectives));
    sorted_.reserve(ranked);
  }
  if (!kVectorRelation || capacity > kMaxRank16) keys_.reserve(checked_mul(capacity, objectives));
  fronts_.order.reserve(capacity);
  fronts_.starts.reserve(capacity + 1);
}

// Scalar form: each unordered pair is compared once and fills both directions.
void NonDominatedSorter::relation_by_keys(const Population& pop, size_t words) {
  const size_t size = pop.size;
  const size_t m = pop.m;
  keys_.resize(checked_mul(size, m));
  for (size_t k = 0; k < size; ++k) {
    for (size_t j = 0; j < m; ++j) keys_[j * size + k] = order_key(pop.f[k * m + j]);
  }
  for (size_t i = 0; i + 1 < size; ++i) {
    uint64_t* row_i = bits_.data() + i * words;
    for (size_t l = i + 1; l < size; ++l) {
      bool i_better = false;
      bool l_better = false;
      for (size_t j = 0; j < m; ++j) {
        const int64_t a = keys_[j * size + i];
        const int64_t b = keys_[j * size + l];
        i_better |= a < b;
        l_better |= b < a;
      }
      if (i_better == l_better) continue;
      if (i_better) {
        row_i[l >> 6] |= uint64_t{1} << (l & 63);
        ++count_[l];
      } else {
        bits_[l * words + (i >> 6)] |= uint64_t{1} << (i & 63);
        ++count_[i];
      }
    }
  }
}

// Constraint domination, pair by pair: only runs with an infeasible individual come here.
void NonDominatedSorter::relation_constrained(const Population& pop, size_t words) {
  const size_t size = pop.size;
  auto beats = [&](size_t a, size_t b) {
    const double va = pop.violation[a];
    const double vb = pop.violation[b];
    if (va == 0.0 && vb == 0.0) return dominates(pop.values(a), pop.values(b));
    if (va == 0.0 || vb == 0.0) return va == 0.0;
    return va < vb;
  };
  for (size_t i = 0; i + 1 < size; ++i) {
    for (size_t l = i + 1; l < size; ++l) {
      if (beats(i, l)) {
        bits_[i * words + (l >> 6)] |= uint64_t{1} << (l & 63);
        ++count_[l];
      } else if (beats(l, i)) {
        bits_[l * words + (i >> 6)] |= uint64_t{1} << (i & 63);
        ++count_[i];
      }
    }
  }
}

// Vector form: objective values replaced by their dense ranks (same order, NaN last), 16-bit
// so that one SSE2 register compares eight individuals; every row is filled on its own, 16
// columns at a time, with no scattered writes. Twice the comparisons of the scalar form, yet
// several times faster.
void NonDominatedSorter::relation_by_ranks(const Population& pop, size_t words) {
#if defined(__SSE2__)
  const size_t size = pop.size;
  const size_t m = pop.m;
  const size_t stride = (size + 15) / 16 * 16;
  // Padding lanes rank above every individual, so they never count as dominating one.
  ranks_.assign(checked_mul(stride, m), std::numeric_limits<int16_t>::max());
  sorted_.resize(size);
  for (size_t j = 0; j < m; ++j) {
    for (size_t k = 0; k < size; ++k) sorted_[k] = {order_key(pop.f[k * m + j]), k};
    std::sort(sorted_.begin(), sorted_.end(),
              [](const KeyIndex& a, const KeyIndex& b) { return a.key < b.key; });
    int16_t rank = 0;
    for (size_t p = 0; p < size; ++p) {
      if (p > 0 && sorted_[p].key != sorted_[p - 1].key) ++rank;
      ranks_[j * stride + sorted_[p].index] = rank;
    }
  }
  const int16_t* ranks = ranks_.data();
  for (size_t i = 0; i < size; ++i) {
    uint64_t* row = bits_.data() + i * words;
    __m128i dominators = _mm_setzero_si128();  // per lane; a row has at most 32766
    for (size_t l0 = 0; l0 < size; l0 += 16) {
      __m128i better_lo = _mm_setzero_si128();
      __m128i better_hi = _mm_setzero_si128();
      __m128i worse_lo = _mm_setzero_si128();
      __m128i worse_hi = _mm_setzero_si128();
      for (size_t j = 0; j < m; ++j) {
        const int16_t* column = ranks + j * stride;
        const __m128i mine = _mm_set1_epi16(column[i]);
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(column + l0));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(column + l0 + 8));
        better_lo = _mm_or_si128(better_lo, _mm_cmpgt_epi16(lo, mine));
        better_hi = _mm_or_si128(better_hi, _mm_cmpgt_epi16(hi, mine));
        worse_lo = _mm_or_si128(worse_lo, _mm_cmpgt_epi16(mine, lo));
        worse_hi = _mm_or_si128(worse_hi, _mm_cmpgt_epi16(mine, hi));
      }
      uint32_t dominated = static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(
          _mm_andnot_si128(worse_lo, better_lo), _mm_andnot_si128(worse_hi, better_hi))));
      // Masks are -1 per true lane, so subtracting them counts.
      dominators = _mm_sub_epi16(dominators, _mm_andnot_si128(better_lo, worse_lo));
      dominators = _mm_sub_epi16(dominators, _mm_andnot_si128(better_hi, worse_hi));
      if (size - l0 < 16) dominated &= (uint32_t{1} << (size - l0)) - 1;  // padding lanes
      row[l0 >> 6] |= uint64_t{dominated} << (l0 & 63);
    }
    alignas(16) uint16_t lanes[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), dominators);
    uint64_t total = 0;
    for (uint16_t v : lanes) total += v;
    count_[i] = total;
  }
#else
  relation_by_keys(pop, words);
#endif
}

const Fronts& NonDominatedSorter::sort(Population& pop) {
  const size_t size = pop.size;
  fronts_.order.clear();
  fronts_.starts.assign(1, 0);
  if (size == 0) return fronts_;

  const size_t words = (size + 63) / 64;
  bits_.assign(checked_mul(size, words), 0);
  count_.assign(size, 0);
  const bool infeasible =
      pop.violation.size() >= size &&
      std::any_of(pop.violation.begin(), pop.violation.begin() + static_cast<std::ptrdiff_t>(size),
                  [](double v) { return v != 0.0; });
  if (infeasible) {
    relation_constrained(pop, words);
  } else if (kVectorRelation && size <= kMaxRank16) {
    relation_by_ranks(pop, words);
  } else {
    relation_by_keys(pop, words);
  }

  for (size_t k = 0; k < size; ++k) {
    if (count_[k] == 0) {
      pop.rank[k] = 0;
      fronts_.order.push_back(k);
    }
  }
  fronts_.starts.push_back(fronts_.order.size());
  for (uint64_t front = 0;; ++front) {
    const size_t begin = fronts_.starts[front];
    const size_t end = fronts_.starts[front + 1];
    if (begin == end) break;
    for (size_t p = begin; p < end; ++p) {
      const uint64_t* row = bits_.data() + fronts_.order[p] * words;
      for (size_t w = 0; w < words; ++w) {
        for (uint64_t word = row[w]; word != 0; word &= word - 1) {
          const size_t l = w * 64 + static_cast<size_t>(std::countr_zero(word));
          if (--count_[l] == 0) {
            pop.rank[l] = front + 1;
            fronts_.order.push_back(l);
          }
        }
      }
    }
    if (fronts_.order.size() == end) break;  // the next front is empty
    fronts_.starts.push_back(fronts_.order.size());
  }
  return fronts_;
}

void crowding_distance(Population& pop, std::span<const size_t> front) {
  for (size_t k : front) pop.crowding[k] = 0.0;
  if (front.size() <= 2) {
    for (size_t k : front) pop.crowding[k] = kInf;
    return;
  }
  std::vector<size_t> sorted(front.size());
  const size_t last = front.size() - 1;
  for (size_t j = 0; j < pop.m; ++j) {
    auto value = [&](size_t k) { return pop.f[k * pop.m + j]; };
    std::copy(front.begin(), front.end(), sorted.begin());
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](size_t a, size_t b) { return less_nan_last(value(a), value(b)); });
    pop.crowding[sorted[0]] = kInf;
    pop.crowding[sorted[last]] = kInf;
    const double range = max_of(value(sorted[last]) - value(sorted[0]), kTiny);
    for (size_t k = 1; k < last; ++k) {
      pop.crowding[sorted[k]] += (value(sorted[k + 1]) - value(sorted[k - 1])) / range;
    }
  }
}

std::vector<double> das_dennis(size_t m, uint64_t divisions) {
  const uint64_t h = divisions == 0 ? 1 : divisions;
  if (m == 0) return {};
  // C(h + m - 1, m - 1) built as C(h + i, i) = C(h + i - 1, i - 1) * (h + i) / i, exact.
  unsigned __int128 count = 1;
  for (size_t i = 1; i < m; ++i) {
    count = count * (static_cast<unsigned __int128>(h) + i) / i;
    if (count * m > kMaxLatticeDoubles) {
      throw std::length_error("the reference lattice of " + std::to_string(m) +
                              " objectives and das_dennis_divisions=" + std::to_string(h) +
                              " does not fit in memory");
    }
  }
  std::vector<double> points;
  points.reserve(static_cast<size_t>(count) * m);
  const double hd = static_cast<double>(h);
  // Odometer over the first m - 1 entries in lexicographic order; the last takes the rest.
  std::vector<uint64_t> a(m - 1, 0);
  uint64_t sum = 0;
  for (;;) {
    for (uint64_t v : a) points.push_back(static_cast<double>(v) / hd);
    points.push_back(static_cast<double>(h - sum) / hd);
    if (m == 1) break;
    if (sum < h) {
      ++a[m - 2];
      ++sum;
      continue;
    }
    size_t k = m - 2;
    while (a[k] == 0) --k;
    if (k == 0) break;
    sum -= a[k] - 1;
    a[k] = 0;
    ++a[k - 1];
  }
  return points;
}

void sbx_crossover(std::span<const double> p1, std::span<const double> p2, std::span<double> c1,
                   std::span<double> c2, const SearchBox& box, SolverRng& rng) noexcept {
  std::copy(p1.begin(), p1.end(), c1.begin());
  std::copy(p2.begin(), p2.end(), c2.begin());
  for (size_t j = 0; j < p1.size(); ++j) {
    if (rng.uniform() > 0.5) continue;
    const double x1 = p1[j];
    const double x2 = p2[j];
    if (std::fabs(x1 - x2) < kSameParents) continue;
    const double y1 = min_of(x1, x2);
    const double y2 = max_of(x1, x2);
    const double lb = box.lower[j];
    const double ub = box.upper[j];
    const double r = rng.uniform();
    const double d = max_of(y2 - y1, kTiny);
    const double beta1 = 1.0 + 2.0 * (y1 - lb) / d;
    const double alpha1 = 2.0 - std::pow(beta1, kCrossoverExp);
    const double beta2 = 1.0 + 2.0 * (ub - y2) / d;
    const double alpha2 = 2.0 - std::pow(beta2, kCrossoverExp);
    auto spread = [r](double alpha) {
      return r <= 1.0 / alpha ? std::pow(r * alpha, kCrossoverRoot)
                              : std::pow(1.0 / (2.0 - r * alpha), kCrossoverRoot);
    };
    const double betaq1 = spread(alpha1);
    const double betaq2 = spread(alpha2);
    const double va = limit(0.5 * ((x1 + x2) - betaq1 * (y2 - y1)), lb, ub);
    const double vb = limit(0.5 * ((x1 + x2) + betaq2 * (y2 - y1)), lb, ub);
    if (rng.uniform() < 0.5) {
      c1[j] = vb;
      c2[j] = va;
    } else {
      c1[j] = va;
      c2[j] = vb;
    }
  }
}

void polynomial_mutation(std::span<double> child, const SearchBox& box, SolverRng& rng) noexcept {
  const double pm = 1.0 / static_cast<double>(child.size());
  for (size_t j = 0; j < child.size(); ++j) {
    if (!(rng.uniform() <= pm)) continue;
    const double lb = box.lower[j];
    const double ub = box.upper[j];
    const double d = max_of(ub - lb, kTiny);
    const double r = rng.uniform();
    const double y = child[j];
    double dq;
    if (r < 0.5) {
      const double xy = 1.0 - (y - lb) / d;
      const double val = 2.0 * r + (1.0 - 2.0 * r) * std::pow(xy, kMutationExp);
      dq = std::pow(val, kMutationRoot) - 1.0;
    } else {
      const double xy = 1.0 - (ub - y) / d;
      const double val = 2.0 * (1.0 - r) + 2.0 * (r - 0.5) * std::pow(xy, kMutationExp);
      dq = 1.0 - std::pow(val, kMutationRoot);
    }
    child[j] = limit(y + dq * d, lb, ub);
  }
}

namespace {

// Reference-point niching for NSGA-III; its buffers live for the run.
class Niching {
 public:
  Niching(size_t m, uint64_t divisions) : m_(m), refs_(das_dennis(m, divisions)) {
    nref_ = refs_.size() / m;
    norm2_.resize(nref_);
    for (size_t r = 0; r < nref_; ++r) {
      double s = 0.0;
      for (size_t j = 0; j < m; ++j) s += refs_[r * m + j] * refs_[r * m + j];
      norm2_[r] = max_of(s, kTiny);
    }
    niche_.resize(nref_);
    remaining_.resize(nref_);
    ideal_.resize(m);
    scale_.resize(m);
    normal_.resize(m);
  }

  // Completes `selected` (indices into pop) up to `target` from the members of `front`.
  void select(const Population& pop, std::vector<size_t>& selected, std::span<const size_t> front,
              size_t target) {
    const size_t chosen = selected.size();
    const size_t total = chosen + front.size();
    auto member = [&](size_t s) { return s < chosen ? selected[s] : front[s - chosen]; };

    for (size_t j = 0; j < m_; ++j) {
      double lo = kInf;
      double hi = -kInf;
      for (size_t s = 0; s < total; ++s) {
        const double v = pop.f[member(s) * m_ + j];  // NaN fails both tests and is skipped
        if (v < lo) lo = v;
        if (v > hi) hi = v;
      }
      ideal_[j] = lo;
      scale_[j] = max_of(hi - lo, kTiny);
    }

    assoc_.resize(total);
    dist_.resize(total);
    for (size_t s = 0; s < total; ++s) {
      std::span<const double> f = pop.values(member(s));
      for (size_t j = 0; j < m_; ++j) normal_[j] = (f[j] - ideal_[j]) / scale_[j];
      size_t best = 0;
      double best_d = 0.0;
      for (size_t r = 0; r < nref_; ++r) {
        const double* w = refs_.data() + r * m_;
        double dot = 0.0;
        for (size_t j = 0; j < m_; ++j) dot += normal_[j] * w[j];
        const double t = dot / norm2_[r];
        double d2 = 0.0;
        for (size_t j = 0; j < m_; ++j) {
          const double e = normal_[j] - t * w[j];
          d2 += e * e;
        }
        const double d = std::sqrt(d2);
        if (r == 0 || less_nan_last(d, best_d)) {
          best = r;
          best_d = d;
        }
      }
      assoc_[s] = best;
      dist_[s] = best_d;
    }

    std::fill(niche_.begin(), niche_.end(), 0);
    std::fill(remaining_.begin(), remaining_.end(), 0);
    for (size_t s = 0; s < chosen; ++s) ++niche_[assoc_[s]];
    candidates_.clear();
    for (size_t s = chosen; s < total; ++s) {
      candidates_.push_back(s);
      ++remaining_[assoc_[s]];
    }

    constexpr size_t kNone = std::numeric_limits<size_t>::max();
    while (selected.size() < target && !candidates_.empty()) {
      size_t point = kNone;
      for (size_t r = 0; r < nref_; ++r) {
        if (remaining_[r] > 0 && (point == kNone || niche_[r] < niche_[point])) point = r;
      }
      if (point == kNone) break;
      size_t pos = kNone;
      for (size_t p = 0; p < candidates_.size(); ++p) {
        const size_t s = candidates_[p];
        if (assoc_[s] == point && (pos == kNone || less_nan_last(dist_[s], dist_[candidates_[pos]]))) {
          pos = p;
        }
      }
      selected.push_back(member(candidates_[pos]));
      candidates_[pos] = candidates_.back();
      candidates_.pop_back();
      --remaining_[point];
      ++niche_[point];
    }
    for (size_t p = 0; p < candidates_.size() && selected.size() < target; ++p) {
      selected.push_back(member(candidates_[p]));
    }
  }

 private:
  size_t m_;
  std::vector<double> refs_;
  size_t nref_ = 0;
  std::vector<double> norm2_;
  std::vector<uint64_t> niche_;
  std::vector<uint64_t> remaining_;
  std::vector<double> ideal_;
  std::vector<double> scale_;
  std::vector<double> normal_;
  std::vector<size_t> assoc_;
  std::vector<double> dist_;
  std::vector<size_t> candidates_;
};

}  // namespace

std::vector<Individual> nsga_engine(std::span<const ObjectiveRef> objectives,
                                    const SearchBox& search_box, const NsgaSettings& settings,
                                    SolverRng& rng, PointBatch* batch, const RunControl* control) {
  const size_t m = objectives.size();
  const size_t n = search_box.dim();
  if (m < 2) throw std::invalid_argument("Need at least 2 objectives");
  Run run(objectives[0], search_box, control);
  const SearchBox& box = run.box();
  if (settings.pop_size == 0) return {};
  if (settings.pop_size > std::numeric_limits<size_t>::max() / 4) {
    throw std::length_error("the population does not fit in memory");
  }
  const size_t p = static_cast<size_t>(settings.pop_size);

  // Everything is allocated before the first objective call, so a population that cannot
  // be held fails at once.
  Population pop;
  Population next;
  NonDominatedSorter sorter;
  std::optional<Niching> niching;
  std::vector<double> spare(n);
  std::vector<size_t> selected;
  std::vector<size_t> split;
  try {
    sorter.reserve(2 * p, m);  // the largest: its size check comes first
    pop.reserve(n, m, 2 * p);
    next.reserve(n, m, 2 * p);
    selected.reserve(p);
    split.reserve(p);
  } catch (const std::bad_alloc&) {
    throw std::length_error("the population does not fit in memory");
  }
  if (settings.variant == NsgaVariant::nsga3) niching.emplace(m, settings.divisions);

  // Points [first, last) of the population, made before any of them is evaluated.
  std::vector<std::span<const double>> batch_points;
  std::vector<double> rounded;  // integer coordinates as evaluated, for a batch
  auto evaluate = [&](size_t first, size_t last) {
    run.add_evaluations(last - first);
    if (batch == nullptr) {
      for (size_t k = first; k < last; ++k) {
        std::span<const double> x = run.prepare(pop.point(k));
        pop.violation[k] = run.violation_at(x);  // first, as in single-objective runs
        std::span<double> f = pop.values(k);
        for (size_t j = 0; j < m; ++j) f[j] = objectives[j](x);
      }
      return;
    }
    batch_points.clear();
    rounded.clear();
    for (size_t k = first; k < last; ++k) {
      std::span<const double> x = run.prepare(pop.point(k));
      rounded.insert(rounded.end(), x.begin(), x.end());
    }
    for (size_t k = first; k < last; ++k) {
      batch_points.push_back(std::span<const double>(rounded).subspan((k - first) * n, n));
    }
    for (size_t k = first; k < last; ++k) pop.violation[k] = run.violation_at(batch_points[k - first]);
    batch->evaluate(batch_points, pop.f_range(first, last));
  };
  // The first front's objective vectors, for the observer.
  std::vector<double> front_values;
  auto stop_after = [&](const Fronts& fronts) {
    front_values.clear();
    if (run.observed() && fronts.count() > 0) {
      for (size_t k : fronts.front(0)) {
        std::span<const double> f = pop.values(k);
        front_values.insert(front_values.end(), f.begin(), f.end());
      }
    }
    Progress progress;
    progress.front = front_values;
    progress.m = m;
    return run.after_generation(false, progress).has_value();
  };
  auto sort_and_crowd = [&]() -> const Fronts& {
    const Fronts& fronts = sorter.sort(pop);
    for (size_t k = 0; k < fronts.count(); ++k) crowding_distance(pop, fronts.front(k));
    return fronts;
  };
  auto tournament = [&]() {
    const size_t a = static_cast<size_t>(rng.index_below(p));
    const size_t b = static_cast<size_t>(rng.index_below(p));
    const bool a_wins = pop.rank[a] < pop.rank[b] ||
                        (pop.rank[a] == pop.rank[b] && greater_nan_last(pop.crowding[a], pop.crowding[b]));
    return a_wins ? a : b;
  };

  for (size_t k = 0; k < p; ++k) random_point(rng, box, pop.point(k));
  run.start_point(pop.point(0));  // after every draw, so the others do not shift
  // A budget below the population evaluates its first members and ends the run there.
  const size_t first_count = static_cast<size_t>(std::min<uint64_t>(p, run.remaining()));
  evaluate(0, first_count);
  pop.size = first_count;
  const Fronts* fronts = &sort_and_crowd();

  const bool early = run.stop_before_loop().has_value();
  for (uint64_t g = 0; !early && g < settings.generations; ++g) {
    // Parents are drawn from the first p only, so the offspring can all be made first.
    size_t made = pop.size;
    while (made < 2 * p) {
      const size_t a = tournament();
      const size_t b = tournament();
      std::span<double> child = pop.point(made);
      sbx_crossover(pop.point(a), pop.point(b), child, spare, box, rng);
      polynomial_mutation(child, box, rng);
      polynomial_mutation(spare, box, rng);
      ++made;
      if (made < 2 * p) {  // otherwise the second child is dropped unevaluated
        std::copy(spare.begin(), spare.end(), pop.point(made).begin());
        ++made;
      }
    }
    made = pop.size + static_cast<size_t>(std::min<uint64_t>(made - pop.size, run.remaining()));
    evaluate(pop.size, made);
    pop.size = made;

    const Fronts& all = sorter.sort(pop);
    selected.clear();
    for (size_t k = 0; k < all.count() && selected.size() < p; ++k) {
      std::span<const size_t> front = all.front(k);
      if (selected.size() + front.size() <= p) {
        selected.insert(selected.end(), front.begin(), front.end());
        continue;
      }
      if (settings.variant == NsgaVariant::nsga2) {
        crowding_distance(pop, front);
        split.assign(front.begin(), front.end());
        std::stable_sort(split.begin(), split.end(), [&](size_t x, size_t y) {
          return greater_nan_last(pop.crowding[x], pop.crowding[y]);
        });
        split.resize(p - selected.size());
        selected.insert(selected.end(), split.begin(), split.end());
      } else {
        niching->select(pop, selected, front, p);
      }
    }

    for (size_t k = 0; k < selected.size(); ++k) {
      std::span<const double> x = pop.point(selected[k]);
      std::span<const double> f = pop.values(selected[k]);
      std::copy(x.begin(), x.end(), next.point(k).begin());
      std::copy(f.begin(), f.end(), next.values(k).begin());
      next.violation[k] = pop.violation[selected[k]];
    }
    next.size = selected.size();
    std::swap(pop, next);
    fronts = &sort_and_crowd();
    if (stop_after(*fronts)) break;
  }

  std::vector<Individual> first;
  if (fronts->count() == 0) return first;
  for (size_t k : fronts->front(0)) {
    std::vector<double> x(pop.point(k).begin(), pop.point(k).end());
    run.round(x);  // as evaluated
    std::span<const double> f = pop.values(k);
    first.push_back(Individual{std::move(x), {f.begin(), f.end()}, pop.rank[k], pop.crowding[k],
                               pop.violation[k]});
  }
  return first;
}

}  // namespace velmo::blackbox
