// Start points, budgets, observers, integer coordinates and constraints of black-box runs.
#include "blackbox/run_control.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace velmo::blackbox {

const char* stop_text(StopReason reason) noexcept {
  switch (reason) {
    case StopReason::converged: return "converged";
    case StopReason::max_evals: return "max_evals";
    case StopReason::time_limit: return "time_limit";
    case StopReason::callback: return "callback";
    case StopReason::max_generations: break;
  }
  return "max_generations";
}

size_t best_index(std::span<const Score> scores) noexcept {
  size_t best = 0;
  for (size_t k = 1; k < scores.size(); ++k) {
    if (improves(scores[best], scores[k])) best = k;
  }
  return best;
}

void sort_by_score(std::vector<size_t>& order, std::span<const Score> scores) {
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return score_less(scores[a], scores[b]); });
}

SearchBox integral_box(const SearchBox& box, std::span<const char> integral) {
  SearchBox out = box;
  for (size_t i = 0; i < integral.size() && i < box.dim(); ++i) {
    if (!integral[i]) continue;
    out.lower[i] = std::ceil(box.lower[i]);
    out.upper[i] = std::floor(box.upper[i]);
    if (!(out.lower[i] <= out.upper[i])) {
      throw std::invalid_argument("integrality: the bounds of coordinate " + std::to_string(i) +
                                  " hold no integer");
    }
  }
  return out;
}

Run::Run(ObjectiveRef objective, const SearchBox& box, const RunControl* control)
    : objective_(objective), start_(std::chrono::steady_clock::now()) {
  if (control != nullptr) control_ = *control;
  box_ = control_.integral.empty() ? box : integral_box(box, control_.integral);
  if (!control_.integral.empty()) scratch_.resize(box.dim());
}

void Run::start_point(std::span<double> out) const noexcept {
  if (control_.x0.size() != out.size()) return;  // none given (the binding checks the length)
  std::copy(control_.x0.begin(), control_.x0.end(), out.begin());
}

void Run::round(std::span<double> x) const noexcept {
  for (size_t i = 0; i < control_.integral.size() && i < x.size(); ++i) {
    if (!control_.integral[i]) continue;
    // std::round is half away from zero; the clamp keeps a start point such as 3.5 in [1, 3].
    x[i] = std::min(std::max(std::round(x[i]), box_.lower[i]), box_.upper[i]);
  }
}

std::span<const double> Run::prepare(std::span<const double> x) {
  if (control_.integral.empty()) return x;
  scratch_.assign(x.begin(), x.end());
  round(scratch_);
  return scratch_;
}

Score Run::evaluate(std::span<const double> x) {
  const std::span<const double> point = prepare(x);
  ++evaluations_;
  Score s;
  // Constraints first: a constraint function that cannot answer at all fails the call before
  // the objective has run.
  if (control_.constraints != nullptr) s.violation = control_.constraints->violation(point);
  s.value = objective_(point);
  return s;
}

void Run::evaluate_all(std::span<const double> points, size_t n, std::span<Score> scores,
                       CandidateBatch* batch) {
  if (batch == nullptr) {
    for (size_t k = 0; k < scores.size(); ++k) scores[k] = evaluate(points.subspan(k * n, n));
    return;
  }
  const size_t count = scores.size();
  std::vector<double> rounded;
  std::span<const double> sent = points.first(count * n);
  if (!control_.integral.empty()) {
    rounded.assign(sent.begin(), sent.end());
    for (size_t k = 0; k < count; ++k) round(std::span<double>(rounded).subspan(k * n, n));
    sent = rounded;
  }
  for (size_t k = 0; k < count; ++k) {
    scores[k].violation = control_.constraints != nullptr
                              ? control_.constraints->violation(sent.subspan(k * n, n))
                              : 0.0;
  }
  std::vector<double> values(count);
  batch->evaluate(sent, n, values);
  evaluations_ += count;
  for (size_t k = 0; k < count; ++k) scores[k].value = values[k];
}

bool Run::time_up() const {
  if (!(control_.time_limit < std::numeric_limits<double>::infinity())) return false;
  const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start_;
  return spent.count() >= control_.time_limit;
}

std::optional<StopReason> Run::stop_before_loop() const {
  if (exhausted()) return StopReason::max_evals;
  if (time_up()) return StopReason::time_limit;
  return std::nullopt;
}

std::optional<StopReason> Run::after_generation(bool converged, const Progress& progress) {
  ++generation_;
  bool asked = false;
  if (control_.observer != nullptr) {
    Progress p = progress;
    p.generation = generation_;
    p.evaluations = evaluations_;
    std::vector<double> shown;
    if (!control_.integral.empty() && !p.best_x.empty()) {
      shown.assign(p.best_x.begin(), p.best_x.end());
      round(shown);
      p.best_x = shown;
    }
    asked = control_.observer->stop_after(p);
  }
  if (converged) return StopReason::converged;
  if (asked) return StopReason::callback;
  if (exhausted()) return StopReason::max_evals;
  if (time_up()) return StopReason::time_limit;
  return std::nullopt;
}

bool Run::end_generation(SolverOutcome& out, bool converged) {
  Progress p;
  p.best_x = out.x;
  p.best = Score{out.objective, out.violation};
  const std::optional<StopReason> stop = after_generation(converged, p);
  if (!stop) return false;
  out.stop = *stop;
  out.converged = *stop == StopReason::converged;
  return true;
}

void Run::finish(SolverOutcome& out) const noexcept { round(out.x); }

}  // namespace velmo::blackbox
