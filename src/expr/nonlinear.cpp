// Tree nodes, the expression-to-tree conversion and the nonlinear text forms.
#include "expr/nonlinear.hpp"

#include "expr/errors.hpp"
#include "expr/number_text.hpp"
#include "expr/quadratic.hpp"

#include <cmath>
#include <cstddef>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace velmo {

// The header holds the reference count above the low byte and the kind in it. Once a node
// is dying the count is meaningless, and the header instead links it into the list of dying
// nodes whose children still need releasing (aligned pointers leave the low bits free).
struct NlNode {
  uint64_t header;
  union {
    double value;
    NodeRef kids[2];
  };
  NlNode() noexcept : header(0), value(0.0) {}
  ~NlNode() {}  // children are released by NodeRef::drop, never by recursion
};
static_assert(sizeof(NlNode) == 24);
static_assert(alignof(std::max_align_t) >= 16, "dying-list links use the low 4 bits");

int child_count(NodeKind k) noexcept {
  switch (k) {
    case NodeKind::Var:
    case NodeKind::Const: return 0;
    case NodeKind::Add:
    case NodeKind::Mul:
    case NodeKind::Div:
    case NodeKind::Pow: return 2;
    default: return 1;
  }
}

const char* function_name(NodeKind k) noexcept {
  switch (k) {
    case NodeKind::Sin: return "sin";
    case NodeKind::Cos: return "cos";
    case NodeKind::Sqrt: return "sqrt";
    case NodeKind::Exp: return "exp";
    case NodeKind::Log: return "log";
    case NodeKind::Tan: return "tan";
    case NodeKind::Atan: return "atan";
    case NodeKind::Tanh: return "tanh";
    case NodeKind::Abs: return "abs";
    default: return nullptr;
  }
}

namespace {

constexpr uint64_t kOneRef = 256;
constexpr size_t kMaxTextLength = size_t{1} << 30;
constexpr size_t kMeasureAfter = size_t{1} << 26;
constexpr uint64_t kKindMask = 0xF;

NlNode* new_node(NodeKind kind) {
  NlNode* n = new NlNode();
  n->header = kOneRef | static_cast<uint64_t>(kind);
  return n;
}

bool near_one(double c) noexcept { return std::fabs(c - 1.0) < 1e-15; }

}  // namespace

NodeRef::NodeRef(const NodeRef& o) noexcept : bits_(o.bits_) {
  if (bits_ != 0 && (bits_ & 1) == 0) node()->header += kOneRef;
}

NodeRef& NodeRef::operator=(const NodeRef& o) noexcept {
  if (this != &o) {
    NodeRef tmp(o);
    *this = std::move(tmp);
  }
  return *this;
}

NodeRef& NodeRef::operator=(NodeRef&& o) noexcept {
  if (this != &o) {
    const uintptr_t old = bits_;
    bits_ = o.bits_;
    o.bits_ = 0;
    drop(old);
  }
  return *this;
}

void NodeRef::drop(uintptr_t bits) noexcept {
  if (bits == 0 || (bits & 1) != 0) return;
  NlNode* n = reinterpret_cast<NlNode*>(bits);
  n->header -= kOneRef;
  if ((n->header >> 8) != 0) return;

  // Iterative release without allocating: dying nodes with children form a linked stack.
  NlNode* stack = nullptr;
  auto kill = [&stack](NlNode* dead) {
    const auto kind = static_cast<NodeKind>(dead->header & kKindMask);
    if (child_count(kind) == 0) {
      delete dead;
      return;
    }
    dead->header = reinterpret_cast<uint64_t>(stack) | static_cast<uint64_t>(kind);
    stack = dead;
  };
  kill(n);
  while (stack != nullptr) {
    NlNode* top = stack;
    const auto kind = static_cast<NodeKind>(top->header & kKindMask);
    uintptr_t kid;
    if (child_count(kind) == 2 && top->kids[1].bits_ != 0) {
      kid = top->kids[1].bits_;
      top->kids[1].bits_ = 0;
    } else {
      kid = top->kids[0].bits_;
      top->kids[0].bits_ = 0;
      stack = reinterpret_cast<NlNode*>(top->header & ~kKindMask);
      delete top;
    }
    if (kid != 0 && (kid & 1) == 0) {
      NlNode* k = reinterpret_cast<NlNode*>(kid);
      k->header -= kOneRef;
      if ((k->header >> 8) == 0) kill(k);
    }
  }
}

NodeRef NodeRef::constant(double value) {
  NlNode* n = new_node(NodeKind::Const);
  n->value = value;
  return NodeRef(reinterpret_cast<uintptr_t>(n));
}

NodeRef NodeRef::unary(NodeKind kind, NodeRef a) {
  NlNode* n = new_node(kind);
  new (&n->kids[0]) NodeRef(std::move(a));
  new (&n->kids[1]) NodeRef();
  return NodeRef(reinterpret_cast<uintptr_t>(n));
}

NodeRef NodeRef::binary(NodeKind kind, NodeRef a, NodeRef b) {
  NlNode* n = new_node(kind);
  new (&n->kids[0]) NodeRef(std::move(a));
  new (&n->kids[1]) NodeRef(std::move(b));
  return NodeRef(reinterpret_cast<uintptr_t>(n));
}

NodeKind NodeRef::kind() const noexcept {
  if ((bits_ & 1) != 0) return NodeKind::Var;
  return static_cast<NodeKind>(node()->header & 0xFF);
}

double NodeRef::value() const noexcept { return node()->value; }

const NodeRef& NodeRef::child(int i) const noexcept { return node()->kids[i]; }

NodeRef to_node(const NlExpr& g) {
  NodeRef result;
  auto append = [&result](NodeRef t) {
    result = result.empty() ? std::move(t) : NodeRef::binary(NodeKind::Add, std::move(result), std::move(t));
  };
  for (const Term& t : g.linear) {
    if (near_one(t.coef)) {
      append(NodeRef::var(t.index));
    } else {
      append(NodeRef::binary(NodeKind::Mul, NodeRef::constant(t.coef), NodeRef::var(t.index)));
    }
  }
  const bool skip_constant = g.constant == 0 && (!g.linear.empty() || !g.terms.empty());
  if (!skip_constant) append(NodeRef::constant(g.constant));
  for (const NlTerm& t : g.terms) {
    if (near_one(t.coef)) {
      append(t.node);
    } else {
      append(NodeRef::binary(NodeKind::Mul, NodeRef::constant(t.coef), t.node));
    }
  }
  return result;
}

std::optional<uint32_t> max_var_index(const NlExpr& g) {
  std::optional<uint32_t> best;
  auto see = [&best](uint32_t i) {
    if (!best || i > *best) best = i;
  };
  for (const Term& t : g.linear) see(t.index);
  std::unordered_set<uintptr_t> seen;
  std::vector<const NodeRef*> pending;
  for (const NlTerm& t : g.terms) pending.push_back(&t.node);
  while (!pending.empty()) {
    const NodeRef& n = *pending.back();
    pending.pop_back();
    const NodeKind kind = n.kind();
    if (kind == NodeKind::Var) {
      see(n.var_index());
      continue;
    }
    if (!seen.insert(n.id()).second) continue;
    for (int k = 0; k < child_count(kind); ++k) pending.push_back(&n.child(k));
  }
  return best;
}

namespace {

// Length of a node's text, counting each use of a shared subtree; saturates above the limit.
uint64_t node_text_length(const NodeRef& root) {
  std::unordered_map<uintptr_t, uint64_t> known;
  auto length_of = [&known](const NodeRef& n) -> uint64_t {
    if (n.kind() == NodeKind::Var) return 1 + std::to_string(n.var_index()).size();
    if (n.kind() == NodeKind::Const) return number_text(n.value()).size();
    return known.at(n.id());
  };
  std::vector<std::pair<const NodeRef*, bool>> stack{{&root, false}};
  while (!stack.empty()) {
    auto [node, expanded] = stack.back();
    stack.pop_back();
    const NodeKind kind = node->kind();
    if (kind == NodeKind::Var || kind == NodeKind::Const || known.count(node->id()) != 0) continue;
    const int kids = child_count(kind);
    if (!expanded) {
      stack.push_back({node, true});
      for (int k = 0; k < kids; ++k) stack.push_back({&node->child(k), false});
      continue;
    }
    // Fixed characters: "(-" and ")", "(", an infix of three or four and ")", or name, "(" and ")".
    const char* fname = function_name(kind);
    uint64_t total = fname != nullptr ? std::char_traits<char>::length(fname) + 2
                     : kind == NodeKind::Neg ? 3 : kind == NodeKind::Pow ? 6 : 5;
    for (int k = 0; k < kids; ++k) total += length_of(node->child(k));
    known[node->id()] = std::min<uint64_t>(total, uint64_t{kMaxTextLength} + 1);
  }
  return length_of(root);
}

}  // namespace

void append_node_text(std::string& out, const NodeRef& root) {
  // Explicit stack: stage 0 writes the opening and descends into the first child, stage 1
  // writes the infix and descends into the second, stage 2 closes.
  struct Frame {
    const NodeRef* node;
    int stage;
  };
  std::vector<Frame> stack;
  stack.push_back({&root, 0});
  // Shared subtrees print once per use, so a small DAG (e = e * e, sixty times) can stand for
  // a text far beyond any memory. Texts that grow large are measured first, and refused when
  // they would pass the limit.
  const size_t start = out.size();
  bool measured = false;
  while (!stack.empty()) {
    if (!measured && out.size() - start > kMeasureAfter) {
      if (node_text_length(root) > kMaxTextLength) {
        throw InvalidInput{"expression text would exceed " + std::to_string(kMaxTextLength) +
                           " characters: the expression repeats shared subexpressions too often to print"};
      }
      measured = true;
    }
    Frame& f = stack.back();
    const NodeRef& n = *f.node;
    const NodeKind kind = n.kind();
    if (kind == NodeKind::Var) {
      out += 'x';
      out += std::to_string(n.var_index());
      stack.pop_back();
      continue;
    }
    if (kind == NodeKind::Const) {
      append_number(out, n.value());
      stack.pop_back();
      continue;
    }
    const int stage = f.stage++;
    if (stage == 0) {
      if (kind == NodeKind::Neg) {
        out += "(-";
      } else {
        if (const char* fname = function_name(kind)) out += fname;
        out += '(';
      }
      stack.push_back({&n.child(0), 0});
    } else if (stage == 1 && child_count(kind) == 2) {
      out += kind == NodeKind::Add ? " + " : kind == NodeKind::Mul ? " * " : kind == NodeKind::Pow ? " ** " : " / ";
      stack.push_back({&n.child(1), 0});
    } else {
      out += ')';
      stack.pop_back();
    }
  }
}

std::string node_text(const NodeRef& root) {
  std::string s;
  append_node_text(s, root);
  return s;
}

namespace {

void append_weighted(std::string& out, const NlTerm& t) {
  if (!near_one(std::fabs(t.coef))) {
    append_number(out, std::fabs(t.coef));
    out += '*';
  }
  append_node_text(out, t.node);
}

}  // namespace

void append_nl_text(std::string& out, const NlExpr& g) {
  size_t rest = 0;
  if (!g.linear.empty() || !(g.constant == 0) || g.terms.empty()) {
    append_expr_text(out, g.linear, g.constant);
  } else {
    if (g.terms[0].coef < 0) out += '-';
    append_weighted(out, g.terms[0]);
    rest = 1;
  }
  for (size_t k = rest; k < g.terms.size(); ++k) {
    out += g.terms[k].coef >= 0 ? " + " : " - ";
    append_weighted(out, g.terms[k]);
  }
}

std::string nl_text(const NlExpr& g) {
  std::string s;
  append_nl_text(s, g);
  return s;
}

std::string nl_constraint_text(const NonlinearConstraint& c) {
  std::string s;
  if (c.name.has_value()) {
    s += *c.name;
    s += ": ";
  }
  append_nl_text(s, c.expr);
  append_relation(s, c.sense, c.rhs);
  return s;
}

std::string quad_text(const QuadExpr& q) {
  std::string s = "QuadExpr(linear=";
  append_expr_text(s, q.linear, q.constant);
  s += ", quad_terms=";
  s += std::to_string(q.quad.size());
  s += ')';
  return s;
}

}  // namespace velmo
