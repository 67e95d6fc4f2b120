// Copy-on-write arrays: a model's variables and linear constraints, shared with the Results
// of its solves.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace velmo {

// Reads look like a const std::vector. A Result keeps a snapshot (the same array, shared),
// so a solve copies nothing; the next change to the model copies the array first when a
// snapshot still holds it, and changes the model's own copy. use_count() is exact here:
// snapshots are only taken under the model's lock, so nobody can add an owner while the
// owner holding the lock decides.
template <class T>
class CowVector {
 public:
  using Snapshot = std::shared_ptr<const std::vector<T>>;

  CowVector() : p_(std::make_shared<std::vector<T>>()) {}
  CowVector(const CowVector& o) : p_(std::make_shared<std::vector<T>>(*o.p_)) {}
  CowVector& operator=(const CowVector& o) {
    p_ = std::make_shared<std::vector<T>>(*o.p_);
    return *this;
  }

  const std::vector<T>& get() const noexcept { return *p_; }
  operator const std::vector<T>&() const noexcept { return *p_; }
  size_t size() const noexcept { return p_->size(); }
  bool empty() const noexcept { return p_->empty(); }
  const T& operator[](size_t i) const noexcept { return (*p_)[i]; }
  auto begin() const noexcept { return p_->cbegin(); }
  auto end() const noexcept { return p_->cend(); }
  const T& back() const noexcept { return p_->back(); }

  Snapshot snapshot() const noexcept { return p_; }

  // The array to change: this model's own, copied first while a snapshot shares it.
  std::vector<T>& edit() {
    if (p_.use_count() > 1) p_ = std::make_shared<std::vector<T>>(*p_);
    return *p_;
  }
  void push_back(T v) { edit().push_back(std::move(v)); }
  // Room for n entries, grown at least geometrically: callers reserve for each batch, and an
  // exact reserve per small batch would copy the whole array every time.
  void reserve(size_t n) {
    std::vector<T>& v = edit();
    if (n > v.capacity()) v.reserve(std::max(n, 2 * v.capacity()));
  }

 private:
  std::shared_ptr<std::vector<T>> p_;
};

// A read-only array taken from a CowVector snapshot, or empty. Reads look like a const
// std::vector, so code written for the copies it replaced reads it unchanged.
template <class T>
class SharedArray {
 public:
  SharedArray() = default;
  explicit SharedArray(std::shared_ptr<const std::vector<T>> p) noexcept : p_(std::move(p)) {}

  const std::vector<T>& get() const noexcept { return p_ ? *p_ : kEmpty; }
  operator const std::vector<T>&() const noexcept { return get(); }
  size_t size() const noexcept { return get().size(); }
  bool empty() const noexcept { return get().empty(); }
  const T& operator[](size_t i) const noexcept { return get()[i]; }
  auto begin() const noexcept { return get().cbegin(); }
  auto end() const noexcept { return get().cend(); }

 private:
  static inline const std::vector<T> kEmpty{};
  std::shared_ptr<const std::vector<T>> p_;
};

}  // namespace velmo
