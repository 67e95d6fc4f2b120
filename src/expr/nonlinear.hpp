// Nonlinear expressions: shared immutable trees, weighted, beside a linear part.
#pragma once

#include "expr/linear.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmo {

// The kinds after Sqrt are the velmo package's additions (its one-operand functions and the
// power with a constant exponent, held as Pow(base, Const(p))). Sixteen kinds fill the four
// bits a node header has for its kind.
enum class NodeKind : uint8_t { Var = 0, Const, Neg, Add, Mul, Div, Sin, Cos, Sqrt, Exp, Log, Tan, Atan, Tanh, Abs, Pow };
constexpr size_t kNodeKinds = 16;

// 0 for leaves, 2 for Add, Mul, Div and Pow, 1 for the others.
int child_count(NodeKind k) noexcept;

struct NlNode;

// A counted reference to an immutable tree node. Variable leaves live inline in the
// reference itself (a tagged word), so the commonest leaf costs no allocation. Counts are
// only touched with the interpreter lock held, so they are plain integers. Releasing a
// reference frees a whole chain iteratively: trees a million levels deep are ordinary input.
class NodeRef {
 public:
  NodeRef() noexcept = default;
  NodeRef(const NodeRef& o) noexcept;
  NodeRef(NodeRef&& o) noexcept : bits_(o.bits_) { o.bits_ = 0; }
  NodeRef& operator=(const NodeRef& o) noexcept;
  NodeRef& operator=(NodeRef&& o) noexcept;
  ~NodeRef() { drop(bits_); }

  static NodeRef var(uint32_t index) noexcept { return NodeRef((uintptr_t{index} << 1) | 1u); }
  static NodeRef constant(double value);
  static NodeRef unary(NodeKind kind, NodeRef a);
  static NodeRef binary(NodeKind kind, NodeRef a, NodeRef b);

  bool empty() const noexcept { return bits_ == 0; }
  NodeKind kind() const noexcept;
  uint32_t var_index() const noexcept { return static_cast<uint32_t>(bits_ >> 1); }
  double value() const noexcept;             // Const only
  const NodeRef& child(int i) const noexcept;  // one-operand kinds: 0; Add/Mul/Div/Pow: 0 and 1
  bool same_node(const NodeRef& o) const noexcept { return bits_ == o.bits_; }
  // Identity of the referenced node, for visited sets in walks over shared subtrees.
  uintptr_t id() const noexcept { return bits_; }

 private:
  explicit NodeRef(uintptr_t bits) noexcept : bits_(bits) {}
  NlNode* node() const noexcept { return reinterpret_cast<NlNode*>(bits_); }
  static void drop(uintptr_t bits) noexcept;

  uintptr_t bits_ = 0;
  friend struct NlNode;
};
static_assert(sizeof(void*) == 8, "inline variable leaves need 64-bit references");

struct NlTerm {
  double coef;
  NodeRef node;
};

// Terms stay in creation order and are never merged or simplified.
struct NlExpr {
  std::vector<NlTerm> terms;
  TermMap linear;
  double constant = 0.0;
};

// `expr` holds left minus right with constant 0; it relates to `rhs` by `sense`.
struct NonlinearConstraint {
  NlExpr expr;
  OptionalName name;
  double rhs = 0.0;
  ConstraintSense sense = ConstraintSense::Le;
};

// One left-deep tree for the whole expression: linear entries, the constant, then the terms.
NodeRef to_node(const NlExpr& g);

// The largest variable index in an expression (linear part and trees), if it has any. Shared
// subtrees are walked once, so a deeply shared DAG costs its size, not its tree size.
std::optional<uint32_t> max_var_index(const NlExpr& g);

void append_node_text(std::string& out, const NodeRef& root);
std::string node_text(const NodeRef& root);
void append_nl_text(std::string& out, const NlExpr& g);
std::string nl_text(const NlExpr& g);
std::string nl_constraint_text(const NonlinearConstraint& c);

// The name a one-operand kind prints with ("sin", "exp", ...); nullptr for the others.
const char* function_name(NodeKind k) noexcept;

}  // namespace velmo
