// Text exports. Both the LP text and the program are read back by other software, so every
// name is written in a form the reader accepts: LP names are cleaned where the format does not
// allow them, and the program uses string literals for names and its own identifiers for
// variables. Plain names keep their text.
#include "results/export.hpp"

#include "expr/errors.hpp"
#include "expr/number_text.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace velmo {
namespace {

bool near_one(double c) noexcept { return std::fabs(c - 1.0) < 1e-15; }
bool near_minus_one(double c) noexcept { return std::fabs(c + 1.0) < 1e-15; }

std::vector<Term> sorted_terms(const TermMap& terms) {
  std::vector<Term> out(terms.begin(), terms.end());
  std::sort(out.begin(), out.end(), [](const Term& a, const Term& b) { return a.index < b.index; });
  return out;
}

void append_count(std::string& out, size_t n) { out += std::to_string(n); }

// ---- unique names

// Gives every entry a unique name: entries whose candidate is acceptable and not yet taken
// keep it; the others get `fallback(k)` made unique with a numeric suffix. Acceptable names
// are reserved first, so a cleaned name never takes a plain name's text.
template <class Accept, class Fallback>
std::vector<std::string> unique_names(const std::vector<std::string>& candidates, Accept accept,
                                      Fallback fallback, const std::unordered_set<std::string>& reserved) {
  std::vector<std::string> out(candidates.size());
  std::unordered_set<std::string> taken(reserved);
  std::vector<bool> done(candidates.size(), false);
  for (size_t k = 0; k < candidates.size(); ++k) {
    if (accept(candidates[k]) && taken.insert(candidates[k]).second) {
      out[k] = candidates[k];
      done[k] = true;
    }
  }
  for (size_t k = 0; k < candidates.size(); ++k) {
    if (done[k]) continue;
    std::string base = fallback(k);
    std::string name = base;
    for (size_t suffix = 1; !taken.insert(name).second; ++suffix) name = base + "_" + std::to_string(suffix);
    out[k] = std::move(name);
  }
  return out;
}

// ---- LP names

bool lp_name_char(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  // The punctuation the LP format allows in names, less '/' (the quadratic section's "/ 2").
  static constexpr std::string_view kPunct = "!\"#$%&(),.;?@_`'{}|~";
  return kPunct.find(static_cast<char>(c)) != std::string_view::npos;
}

bool lp_keyword(std::string_view s) {
  static constexpr std::array<std::string_view, 28> kWords = {
      "free", "inf", "infinity", "end", "st", "s.t.", "st.", "subject", "such", "bound", "bounds",
      "general", "generals", "gen", "integer", "integers", "binary", "binaries", "bin", "semi",
      "semis", "sos", "minimize", "maximize", "minimum", "maximum", "min", "max"};
  std::string lowered(s);
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return std::find(kWords.begin(), kWords.end(), lowered) != kWords.end();
}

// A name an LP reader takes as it stands: allowed characters only, not starting with a digit
// or a period, not read as a number ("e1") or a section keyword, at most 255 characters.
bool plain_lp_name(const std::string& s) {
  if (s.empty() || s.size() > 255) return false;
  for (unsigned char c : s) {
    if (!lp_name_char(c)) return false;
  }
  const char first = s[0];
  if ((first >= '0' && first <= '9') || first == '.') return false;
  if ((first == 'e' || first == 'E') && s.size() > 1 && s[1] >= '0' && s[1] <= '9') return false;
  return !lp_keyword(s);
}

std::string cleaned_lp_name(const std::string& s) {
  std::string out;
  for (size_t k = 0; k < s.size() && out.size() < 200; ++k) {
    const auto c = static_cast<unsigned char>(s[k]);
    if (c >= 0x80) {
      while (k + 1 < s.size() && (static_cast<unsigned char>(s[k + 1]) & 0xC0) == 0x80) ++k;  // one '_' per character
      out += '_';
    } else {
      out += lp_name_char(c) ? static_cast<char>(c) : '_';
    }
  }
  if (!plain_lp_name(out)) out.insert(out.begin(), '_');
  return out;
}

std::vector<std::string> lp_names(const std::vector<std::string>& names) {
  return unique_names(names, plain_lp_name, [&](size_t k) { return cleaned_lp_name(names[k]); }, {});
}

// Comments end at the line break: one inside a name would turn the rest into model text.
std::string comment_text(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) c = ' ';
  }
  return out;
}

// ---- LP expressions

struct Names {
  const std::vector<std::string>& v;
  // Models refuse other models' variables when they are stored, so this cannot happen; if
  // it did, a text naming a variable that is not there would not rebuild the model.
  const std::string& operator()(uint32_t index) const {
    if (index >= v.size()) {
      throw InvalidInput{"variable index " + std::to_string(index) + " is outside this model, which has " +
                         std::to_string(v.size()) + " variables: it belongs to another model"};
    }
    return v[index];
  }
};

void append_lp_expr(std::string& out, const TermMap& terms, double constant, const Names& name) {
  const size_t start = out.size();
  bool first = true;
  for (const Term& t : sorted_terms(terms)) {
    const double c = t.coef;
    const std::string& v = name(t.index);
    if (!first) out += ' ';
    if (first) {
      if (near_one(c)) {
        out += v;
      } else if (near_minus_one(c)) {
        out += "- " + v;
      } else {
        append_number(out, c);
        out += ' ' + v;
      }
    } else if (c > 0) {
      out += "+ ";
      if (!near_one(c)) {
        append_number(out, c);
        out += ' ';
      }
      out += v;
    } else if (std::isnan(c)) {
      out += "+ NaN " + v;
    } else {
      out += "- ";
      if (!near_minus_one(c)) {
        append_number(out, -c);
        out += ' ';
      }
      out += v;
    }
    first = false;
  }
  if (constant != 0 || std::isnan(constant)) {
    if (!first) out += ' ';
    if (constant > 0 || std::isnan(constant)) {
      out += "+ ";
      append_number(out, constant);
    } else {
      out += "- ";
      append_number(out, -constant);
    }
    first = false;
  }
  if (out.size() == start) out += '0';
}

// Products of a quadratic objective, merged per pair, in the "[ ... ] / 2" section: the
// section holds twice each coefficient.
void append_lp_quadratic(std::string& out, const std::vector<QuadTerm>& quad, const Names& name) {
  std::map<std::pair<uint32_t, uint32_t>, double> merged;
  for (const QuadTerm& t : quad) merged[{t.i, t.j}] += t.coef;
  std::string section;
  for (const auto& [pair, coef] : merged) {
    if (coef == 0) continue;
    const double c = 2.0 * coef;
    if (section.empty()) {
      append_number(section, c);
    } else if (c > 0 || std::isnan(c)) {
      section += " + ";
      append_number(section, c);
    } else {
      section += " - ";
      append_number(section, -c);
    }
    section += ' ' + name(pair.first);
    section += pair.first == pair.second ? " ^ 2" : " * " + name(pair.second);
  }
  if (section.empty()) return;
  out += "[ " + section + " ] / 2";
}

const char* lp_sense(ConstraintSense s) {
  switch (s) {
    case ConstraintSense::Le: return "<=";
    case ConstraintSense::Ge: return ">=";
    case ConstraintSense::Eq: return "=";
  }
  return "=";
}

// ---- Python text

bool py_keyword(std::string_view s) {
  static constexpr std::array<std::string_view, 35> kWords = {
      "False", "None", "True", "and", "as", "assert", "async", "await", "break", "class", "continue",
      "def", "del", "elif", "else", "except", "finally", "for", "from", "global", "if", "import",
      "in", "is", "lambda", "nonlocal", "not", "or", "pass", "raise", "return", "try", "while",
      "with", "yield"};
  return std::find(kWords.begin(), kWords.end(), s) != kWords.end();
}

// ASCII identifiers only: Python folds other identifiers to a normal form, which could make
// two distinct names one variable.
bool plain_identifier(const std::string& s) {
  if (s.empty()) return false;
  for (size_t k = 0; k < s.size(); ++k) {
    const char c = s[k];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !(digit && k > 0)) return false;
  }
  // Keywords and __debug__ are the names Python refuses as assignment targets.
  return !py_keyword(s) && s != "__debug__";
}

std::vector<std::string> identifiers(const ModelData& m) {
  std::vector<std::string> names;
  names.reserve(m.variables.size());
  for (const VariableRecord& v : m.variables) names.push_back(v.name);
  // The program's own names: a variable may not take them.
  const std::unordered_set<std::string> reserved = {"m", "vo", "result", "float", "print"};
  return unique_names(names, plain_identifier, [](size_t k) { return "v_" + std::to_string(k); }, reserved);
}

void append_py_number(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "float('nan')";
  } else if (std::isinf(v)) {
    out += v > 0 ? "float('inf')" : "float('-inf')";
  } else {
    append_number(out, v);
  }
}

std::string py_number(double v) {
  std::string s;
  append_py_number(s, v);
  return s;
}

// Python types of the pieces of a program expression: the modelling operators accept some
// combinations only, and the emitter picks a spelling that each combination accepts.
enum class Kind { Num, Var, Lin, Quad, Nl };

Kind join(Kind a, Kind b) {
  if (a == Kind::Nl || b == Kind::Nl) return Kind::Nl;
  if (a == Kind::Quad || b == Kind::Quad) return Kind::Quad;
  if (a == Kind::Num && b == Kind::Num) return Kind::Num;
  return Kind::Lin;
}

Kind scaled(Kind k) { return k == Kind::Var ? Kind::Lin : k; }

struct Piece {
  std::string text;
  Kind kind = Kind::Num;
};

class Emitter {
 public:
  explicit Emitter(const std::vector<std::string>& ids) : name_{ids} {}

  const std::string& var(uint32_t index) const { return name_(index); }

  // One tree, written so that Python rebuilds the same value. Kinds are found bottom-up
  // first (shared subtrees once), then the text is written top-down; both walks use explicit
  // stacks, since trees may be far deeper than the C++ stack.
  Piece node(const NodeRef& root) {
    Piece p;
    p.kind = info(root).kind;
    // Shared subtrees are written once per use, so a small DAG can stand for a text beyond
    // any memory: such a program is refused before it is written.
    if (info(root).length > kMaxTreeText) {
      throw InvalidInput{"program text would exceed " + std::to_string(kMaxTreeText) +
                         " characters: an expression repeats shared subexpressions too often to write"};
    }
    struct Step {
      const NodeRef* n;  // null: append `text`
      const char* text;
    };
    std::vector<Step> stack{{&root, nullptr}};
    auto lit = [&](const char* t) { return Step{nullptr, t}; };
    auto sub = [&](const NodeRef& n) { return Step{&n, nullptr}; };
    std::string& out = p.text;
    while (!stack.empty()) {
      const Step s = stack.back();
      stack.pop_back();
      if (s.n == nullptr) {
        out += s.text;
        continue;
      }
      const NodeRef& n = *s.n;
      const NodeKind kind = n.kind();
      // Steps are pushed in reverse writing order.
      auto push = [&](std::initializer_list<Step> steps) {
        for (auto it = std::rbegin(steps); it != std::rend(steps); ++it) stack.push_back(*it);
      };
      switch (kind) {
        case NodeKind::Var: out += var(n.var_index()); break;
        case NodeKind::Const: append_py_number(out, n.value()); break;
        case NodeKind::Neg: push({lit("(-"), sub(n.child(0)), lit(")")}); break;
        case NodeKind::Sin: push({lit("vo.sin("), sub(n.child(0)), lit(")")}); break;
        case NodeKind::Cos: push({lit("vo.cos("), sub(n.child(0)), lit(")")}); break;
        case NodeKind::Sqrt: push({lit("vo.sqrt("), sub(n.child(0)), lit(")")}); break;
        case NodeKind::Exp: push({lit("vo.exp("), sub(n.child(0)), lit(")")}); break;
        case NodeKind::Log: push({lit("vo.log("), sub(n.child(0)), lit(")")}); break;
        case NodeKind::Tan: push({lit("vo.tan("), sub(n.child(0)), lit(")")}); break;
        case NodeKind::Atan: push({lit("vo.atan("), sub(n.child(0)), lit(")")}); break;
        case NodeKind::Tanh: push({lit("vo.tanh("), sub(n.child(0)), lit(")")}); break;
        case NodeKind::Abs: push({lit("vo.abs("), sub(n.child(0)), lit(")")}); break;
        // Only power() builds this node, never with exponent 1 or with 2 over a linear base,
        // so the call rebuilds the node itself.
        case NodeKind::Pow: push({lit("vo.power("), sub(n.child(0)), lit(", "), sub(n.child(1)), lit(")")}); break;
        case NodeKind::Add: push({lit("("), sub(n.child(0)), lit(" + "), sub(n.child(1)), lit(")")}); break;
        case NodeKind::Div:
          // A number divisor would scale instead of dividing (and refuse zero): an
          // expression holding only the constant keeps the quotient.
          if (info(n.child(1)).kind == Kind::Num) {
            push({lit("("), sub(n.child(0)), lit(" / (vo.sum([]) + "), sub(n.child(1)), lit("))")});
          } else {
            push({lit("("), sub(n.child(0)), lit(" / "), sub(n.child(1)), lit(")")});
          }
          break;
        case NodeKind::Mul: {
          const NodeRef& a = n.child(0);
          const NodeRef& b = n.child(1);
          const Kind ka = info(a).kind;
          if (info(b).kind == Kind::Num && ka != Kind::Num) {
            // A constant right factor came from an expression operand (numbers scale and
            // leave no node), so it is written as one: the product stays a product.
            if (ka == Kind::Var) {
              push({lit("(("), sub(a), lit(" ** 1) * (vo.sum([]) + "), sub(b), lit("))")});
            } else if (ka == Kind::Lin) {
              widened_.push_back(var(*info(a).some_var) + " ** 1)) * (vo.sum([]) + ");
              push({lit("(("), sub(a), lit(" + 0 * ("), lit(widened_.back().c_str()), sub(b), lit("))")});
            } else {
              push({lit("("), sub(a), lit(" * (vo.sum([]) + "), sub(b), lit("))")});
            }
            break;
          }
          switch (product_form(ka, info(b).kind)) {
            case Form::Plain: push({lit("("), sub(a), lit(" * "), sub(b), lit(")")}); break;
            case Form::Swapped: push({lit("("), sub(b), lit(" * "), sub(a), lit(")")}); break;
            case Form::LeftPower: push({lit("(("), sub(a), lit(" ** 1) * "), sub(b), lit(")")}); break;
            case Form::RightPower: push({lit("(("), sub(b), lit(" ** 1) * "), sub(a), lit(")")}); break;
            case Form::Widened:
              // Two linear factors: the left one plus a zero QuadExpr is a QuadExpr of the
              // same value, which multiplies into the nonlinear product.
              widened_.push_back(var(*info(a).some_var) + " ** 1)) * ");
              push({lit("(("), sub(a), lit(" + 0 * ("), lit(widened_.back().c_str()), sub(b), lit(")")});
              break;
          }
          break;
        }
      }
    }
    return p;
  }

  // A weighted piece: coefficient one writes the piece alone, minus one its negation. Only
  // exact ones: a coefficient a rounding away from one must come back as itself.
  static Piece weighted(double c, Piece p) {
    if (c == 1.0) return p;
    if (c == -1.0) return {"(-" + p.text + ")", scaled(p.kind)};
    return {py_number(c) + " * " + p.text, scaled(p.kind)};
  }

  // c * (a * b), the product of two variables. Scaling the product (a QuadExpr with constant
  // 0) by inf or NaN would make its constant NaN, so such a c scales a factor first.
  static Piece scaled_product(double c, const std::string& a, const std::string& b) {
    if (std::isfinite(c)) return weighted(c, {"(" + a + " * " + b + ")", Kind::Quad});
    return {"vo.product(" + a + ", " + py_number(c) + " * " + b + ")", Kind::Quad};
  }

  // What a linear part must come out as. A sum keeps the entries of its leftmost operand
  // and adds the others with add_term, which drops coefficients of magnitude below 1e-15
  // (zero included). Entries stored with such a coefficient are therefore gathered in a first
  // piece: a QuadExpr where products follow (an Expr would lose them when a QuadExpr is added
  // to it). MakeQuadratic also makes the sum a QuadExpr when it has no such piece, without
  // adding an entry.
  enum class Sum { Linear, Quadratic, MakeQuadratic };

  static bool fragile(double c) noexcept { return std::fabs(c) < 1e-15; }

  // The first piece holding every fragile entry exactly. Zeros come from a sum scaled by 0;
  // the small ones are added scaled up by 2^k, so that add_term keeps them, and the whole
  // piece is scaled back by 2^-k: both scalings are exact (a power of two, and each result is
  // a representable double), and the scaled values stay far from overflow.
  std::string fragile_piece(const std::vector<Term>& sorted, bool quad) const {
    std::vector<uint32_t> zeros;
    std::vector<Term> small;
    for (const Term& t : sorted) {
      if (t.coef == 0) {
        zeros.push_back(t.index);
      } else if (fragile(t.coef)) {
        small.push_back(t);
      }
    }
    std::string text;
    if (!zeros.empty()) {
      if (!quad && zeros.size() == 1 && small.empty()) return "0 * " + var(zeros[0]);
      text = "(";
      for (size_t k = 0; k < zeros.size(); ++k) text += (k > 0 ? " + " : "") + var(zeros[k]) + (k == 0 && quad ? " ** 1" : "");
      text += ") * 0";
    }
    if (small.empty()) return text;
    double least = std::fabs(small.front().coef);
    for (const Term& t : small) least = std::min(least, std::fabs(t.coef));
    int k = 0;
    while (std::ldexp(least, k) < 0x1p-49) ++k;  // 2^-49 > 1e-15; k <= 1025 for subnormals
    for (const Term& t : small) {
      const double c = std::ldexp(t.coef, k);
      if (text.empty()) {
        text = quad ? "(" + var(t.index) + " ** 1) * " + py_number(c) : py_number(c) + " * " + var(t.index);
      } else {
        text += " + " + weighted(c, {var(t.index), Kind::Var}).text;
      }
    }
    return "(" + text + ") * " + py_number(std::ldexp(1.0, -k));
  }

  // The linear part as "{c} * {v}" pieces, "(-v)" and "v" for minus one and one, then the constant.
  void linear(std::vector<Piece>& out, const TermMap& terms, double constant, Sum sum) const {
    const std::vector<Term> sorted = sorted_terms(terms);
    size_t fragile_count = 0;
    for (const Term& t : sorted) fragile_count += fragile(t.coef) ? 1 : 0;
    const bool quad = sum != Sum::Linear;
    // A lone fragile entry in first place of a linear sum is kept by the product that writes it.
    const bool group = fragile_count > 0 && (quad || fragile_count > 1 || !fragile(sorted.front().coef));
    if (group) out.push_back({fragile_piece(sorted, quad), quad ? Kind::Quad : Kind::Lin});
    for (const Term& t : sorted) {
      if (!group || !fragile(t.coef)) out.push_back(weighted(t.coef, {var(t.index), Kind::Var}));
    }
    if (constant != 0 || std::isnan(constant)) out.push_back({py_number(constant), Kind::Num});
    if (sum == Sum::MakeQuadratic && !group) {
      if (sorted.empty()) {
        out.insert(out.begin(), {"(" + var(0) + " ** 1 + (-" + var(0) + "))", Kind::Quad});  // no entries
      } else {
        out.push_back({"0 * (" + var(sorted.front().index) + " ** 1)", Kind::Quad});  // adds to its own entry
      }
    }
  }

  static Piece joined(const std::vector<Piece>& pieces) {
    Piece all{"", Kind::Num};
    for (size_t k = 0; k < pieces.size(); ++k) {
      if (k > 0) all.text += " + ";
      all.text += pieces[k].text;
      all.kind = k == 0 ? pieces[k].kind : join(all.kind, pieces[k].kind);
    }
    if (pieces.empty()) all.text = "0";
    return all;
  }

 private:
  enum class Form { Plain, Swapped, LeftPower, RightPower, Widened };

  struct Info {
    Kind kind;
    std::optional<uint32_t> some_var;  // a variable inside, for widening a linear factor
    uint64_t length = 0;                // at least the written length, saturated
  };
  static constexpr uint64_t kMaxTreeText = uint64_t{1} << 30;

  // How a product of two factors of these kinds is written so that Python accepts it.
  static Form product_form(Kind a, Kind b) {
    if (a == Kind::Num || b == Kind::Num || a == Kind::Nl || b == Kind::Nl || a == Kind::Quad) return Form::Plain;
    if (b == Kind::Quad) return Form::Swapped;
    if (a == Kind::Var && b == Kind::Var) return Form::Plain;
    if (a == Kind::Var) return Form::LeftPower;
    if (b == Kind::Var) return Form::RightPower;
    return Form::Widened;
  }

  static Kind product_kind(Kind a, Kind b) {
    if (a == Kind::Num && b == Kind::Num) return Kind::Num;
    if (a == Kind::Num) return scaled(b);
    if (b == Kind::Num) return Kind::Nl;  // written as a product with an expression
    if (a == Kind::Var && b == Kind::Var) return Kind::Quad;
    return Kind::Nl;
  }

  const Info& info(const NodeRef& root) {
    if (auto it = memo_.find(root.id()); it != memo_.end()) return it->second;
    std::vector<std::pair<const NodeRef*, bool>> stack{{&root, false}};
    while (!stack.empty()) {
      auto [n, expanded] = stack.back();
      stack.pop_back();
      if (memo_.count(n->id()) != 0) continue;
      const NodeKind kind = n->kind();
      if (kind == NodeKind::Var) {
        memo_.emplace(n->id(), Info{Kind::Var, n->var_index(), var(n->var_index()).size()});
        continue;
      }
      if (kind == NodeKind::Const) {
        memo_.emplace(n->id(), Info{Kind::Num, std::nullopt, py_number(n->value()).size()});
        continue;
      }
      const bool two = child_count(kind) == 2;
      if (!expanded) {
        stack.push_back({n, true});
        stack.push_back({&n->child(0), false});
        if (two) stack.push_back({&n->child(1), false});
        continue;
      }
      const Info a = memo_.at(n->child(0).id());
      const Info b = two ? memo_.at(n->child(1).id()) : Info{Kind::Num, std::nullopt, 0};
      // Decorations add under 64 characters per node; lengths saturate far above the limit.
      Info r{Kind::Nl, a.some_var ? a.some_var : b.some_var,
             std::min<uint64_t>(a.length + b.length + 64, 4 * kMaxTreeText)};
      switch (kind) {
        case NodeKind::Neg: r.kind = scaled(a.kind); break;
        case NodeKind::Add: r.kind = join(a.kind, b.kind); break;
        case NodeKind::Mul: r.kind = product_kind(a.kind, b.kind); break;
        default: break;  // Div, Pow and the one-operand functions
      }
      memo_.emplace(n->id(), r);
    }
    return memo_.at(root.id());
  }

  Names name_;
  std::unordered_map<uintptr_t, Info> memo_;
  std::deque<std::string> widened_;  // texts the write stack points into
};

// The pieces of a nonlinear expression (linear part, constant, then one per term), and the
// kind of its terms alone.
struct NlPieces {
  Piece all;
  Kind terms = Kind::Num;
};

NlPieces nonlinear_pieces(Emitter& e, const NlExpr& g, Emitter::Sum sum) {
  std::vector<Piece> pieces;
  e.linear(pieces, g.linear, g.constant, sum);
  Kind terms = Kind::Num;
  for (const NlTerm& t : g.terms) {
    const NodeRef& n = t.node;
    if (!std::isfinite(t.coef) && n.kind() == NodeKind::Mul && n.child(0).kind() == NodeKind::Var &&
        n.child(1).kind() == NodeKind::Var) {
      pieces.push_back(Emitter::scaled_product(t.coef, e.var(n.child(0).var_index()), e.var(n.child(1).var_index())));
    } else {
      pieces.push_back(Emitter::weighted(t.coef, e.node(t.node)));
    }
    terms = join(terms, pieces.back().kind);
  }
  return {Emitter::joined(pieces), terms};
}

std::string objective_call(const ModelData& m, Emitter& e) {
  const Objective& o = *m.objective;
  std::vector<Piece> pieces;
  std::string text;
  if (const auto* lin = std::get_if<Expr>(&o)) {
    e.linear(pieces, lin->terms, lin->constant, Emitter::Sum::Linear);
    text = Emitter::joined(pieces).text;
  } else if (const auto* q = std::get_if<QuadExpr>(&o)) {
    // Without products the objective is still quadratic (and solved as such).
    const bool make = q->quad.empty() && !m.variables.empty();
    e.linear(pieces, q->linear, q->constant, make ? Emitter::Sum::MakeQuadratic : Emitter::Sum::Quadratic);
    for (const QuadTerm& t : q->quad) {
      pieces.push_back(Emitter::scaled_product(t.coef, e.var(t.i), e.var(t.j)));
    }
    text = Emitter::joined(pieces).text;
  } else {
    const NlExpr& g = std::get<NlExpr>(o);
    NlPieces p = nonlinear_pieces(e, g, Emitter::Sum::Quadratic);
    text = p.all.text;
    if (!g.terms.empty() && p.terms != Kind::Nl) text += " + 0 * vo.sin(0)";  // stays nonlinear
  }
  return (m.sense == ObjectiveSense::Maximize ? "m.maximize(" : "m.minimize(") + text + ")\n";
}

const char* py_sense(ConstraintSense s) { return sense_text(s); }

void append_linear_row(std::string& out, const LinearRow& row, size_t i, const Emitter& e) {
  std::vector<Piece> pieces;
  e.linear(pieces, row.expr.terms, row.expr.constant, Emitter::Sum::Linear);
  // Without variables the comparison would be between two numbers (a bool): an empty sum
  // keeps it a constraint.
  const std::string lhs = pieces.empty() ? "vo.sum([])" : Emitter::joined(pieces).text;
  out += "m.add(" + lhs + " " + py_sense(row.sense) + " " + py_number(row.rhs) + ", name=" +
         python_string_literal(row_label(row, i, "c")) + ")\n";
}

void append_nonlinear_row(std::string& out, const NonlinearConstraint& c, const ModelData& m, Emitter& e) {
  NlPieces p = nonlinear_pieces(e, c.expr, Emitter::Sum::Quadratic);
  std::string lhs = p.all.text;
  std::string rhs = py_number(c.rhs);
  if (p.terms != Kind::Nl && p.terms != Kind::Quad) {
    // No nonlinear term survives: compared with a number this would be a linear row. A
    // QuadExpr compared with an expression is stored as a nonlinear constraint.
    if (!m.variables.empty()) {
      lhs = nonlinear_pieces(e, c.expr, Emitter::Sum::MakeQuadratic).all.text;
      rhs = "(vo.sum([]) + " + rhs + ")";
    } else {
      lhs += " + 0 * vo.sin(0)";
    }
  }
  out += "m.add(" + lhs + " " + py_sense(c.sense) + " " + rhs;
  if (c.name.has_value()) out += ", name=" + python_string_literal(*c.name);
  out += ")\n";
}

void append_cone(std::string& out, const char* method, const std::vector<uint32_t>& vars, const Emitter& e) {
  out += "m.";
  out += method;
  out += "([";
  for (size_t k = 0; k < vars.size(); ++k) {
    if (k > 0) out += ", ";
    out += e.var(vars[k]);
  }
  out += "])\n";
}

// The code point at `k` of UTF-8 text, advancing k past it; a byte that starts no valid
// sequence reads as itself (names come from Python strings, so this does not happen).
uint32_t next_code_point(std::string_view s, size_t& k) {
  const auto b0 = static_cast<unsigned char>(s[k]);
  const size_t extra = b0 >= 0xF0 ? 3 : b0 >= 0xE0 ? 2 : b0 >= 0xC0 ? 1 : 0;
  uint32_t cp = b0 & (0x7Fu >> extra);
  bool valid = b0 < 0x80 || (extra > 0 && k + extra < s.size());
  for (size_t j = 1; valid && j <= extra; ++j) {
    const auto b = static_cast<unsigned char>(s[k + j]);
    valid = (b & 0xC0) == 0x80;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (!valid) {
    ++k;
    return b0;
  }
  k += extra + 1;
  return cp;
}

// Characters written as escapes although Python accepts them raw in a literal: invisible
// ones and those that change how the source line displays.
bool escaped_code_point(uint32_t cp) {
  return (cp >= 0x80 && cp <= 0xA0) || cp == 0xAD || (cp >= 0x200B && cp <= 0x200F) ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2060 && cp <= 0x2069) || cp == 0xFEFF;
}

}  // namespace

std::string python_string_literal(std::string_view s) {
  const bool single = s.find('\'') != std::string_view::npos;
  const bool dbl = s.find('"') != std::string_view::npos;
  const char quote = single && !dbl ? '"' : '\'';
  std::string out(1, quote);
  char buf[16];
  for (size_t k = 0; k < s.size();) {
    const size_t at = k;
    const uint32_t cp = next_code_point(s, k);
    if (cp == static_cast<unsigned char>(quote) || cp == '\\') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (cp == '\n') {
      out += "\\n";
    } else if (cp == '\r') {
      out += "\\r";
    } else if (cp == '\t') {
      out += "\\t";
    } else if (cp < 0x20 || cp == 0x7f || (cp >= 0x80 && cp <= 0xFF && escaped_code_point(cp)) ||
               (cp >= 0x80 && k == at + 1)) {
      std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(cp));
      out += buf;
    } else if (escaped_code_point(cp)) {
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
      out += buf;
    } else {
      out.append(s.substr(at, k - at));
    }
  }
  out += quote;
  return out;
}

std::string lp_text(const ModelData& m) {
  std::vector<std::string> raw;
  raw.reserve(m.variables.size());
  for (const VariableRecord& v : m.variables) raw.push_back(v.name);
  const std::vector<std::string> cols = lp_names(raw);
  raw.clear();
  for (size_t i = 0; i < m.linear_constraints.size(); ++i) raw.push_back(row_label(m.linear_constraints[i], i, "c"));
  const std::vector<std::string> rows = lp_names(raw);
  const Names name{cols};

  std::string out = "\\ Problem: " + comment_text(m.name) + "\n";
  out += m.sense == ObjectiveSense::Maximize ? "Maximize\n" : "Minimize\n";
  out += " obj: ";
  if (m.objective) {
    const Objective& o = *m.objective;
    if (const auto* e = std::get_if<Expr>(&o)) {
      append_lp_expr(out, e->terms, e->constant, name);
    } else if (const auto* q = std::get_if<QuadExpr>(&o)) {
      std::string products;
      append_lp_quadratic(products, q->quad, name);
      if (products.empty() || !q->linear.empty() || q->constant != 0 || std::isnan(q->constant)) {
        append_lp_expr(out, q->linear, q->constant, name);
        if (!products.empty()) out += " + ";
      }
      out += products;
    } else {
      const NlExpr& g = std::get<NlExpr>(o);
      if (g.terms.empty()) {
        append_lp_expr(out, g.linear, g.constant, name);
      } else {
        out += "\\ <nonlinear objective: LP export unsupported>";
      }
    }
  }
  out += "\nSubject To\n";
  for (size_t i = 0; i < m.linear_constraints.size(); ++i) {
    const LinearRow& row = m.linear_constraints[i];
    out += ' ' + rows[i] + ": ";
    append_lp_expr(out, row.expr.terms, row.expr.constant, name);
    out += ' ';
    out += lp_sense(row.sense);
    out += ' ';
    append_number(out, row.rhs);
    out += '\n';
  }
  for (size_t k = 0; k < m.nonlinear_constraints.size(); ++k) {
    const NonlinearConstraint& c = m.nonlinear_constraints[k];
    const std::string label = c.name.has_value() ? comment_text(*c.name) : "nl" + std::to_string(k);
    out += "\\ <nonlinear constraint " + label + ": LP export unsupported>\n";
  }
  for (size_t k = 0; k < m.soc_cones.size(); ++k) {
    out += "\\ <second-order cone " + std::to_string(k) + ": LP export unsupported>\n";
  }
  for (size_t k = 0; k < m.psd_cones.size(); ++k) {
    out += "\\ <PSD cone " + std::to_string(k) + ": LP export unsupported>\n";
  }
  out += "Bounds\n";
  bool any_integer = false;
  bool any_binary = false;
  for (const VariableRecord& v : m.variables) {
    const std::string& n = cols[v.index];
    const bool free_lower = std::isinf(v.lower) && v.lower < 0;
    const bool free_upper = std::isinf(v.upper) && v.upper > 0;
    out += ' ';
    if (free_lower && free_upper) {
      out += n + " free";
    } else if (free_lower) {
      out += "-inf <= " + n + " <= ";
      append_number(out, v.upper);
    } else if (free_upper) {
      out += n + " >= ";
      append_number(out, v.lower);
    } else {
      append_number(out, v.lower);
      out += " <= " + n + " <= ";
      append_number(out, v.upper);
    }
    out += '\n';
    any_integer = any_integer || v.kind == VarKind::Integer;
    any_binary = any_binary || v.kind == VarKind::Binary;
  }
  auto section = [&](VarKind kind, const char* title) {
    out += title;
    for (const VariableRecord& v : m.variables) {
      if (v.kind == kind) out += ' ' + cols[v.index] + '\n';
    }
  };
  if (any_integer) section(VarKind::Integer, "General\n");
  if (any_binary) section(VarKind::Binary, "Binary\n");
  out += "End\n";
  return out;
}

std::string summary_text(const ModelData& m) {
  size_t kinds[3] = {0, 0, 0};
  for (const VariableRecord& v : m.variables) ++kinds[static_cast<size_t>(v.kind)];
  size_t senses[3] = {0, 0, 0};
  size_t nnz = 0;
  for (const LinearRow& row : m.linear_constraints) {
    ++senses[static_cast<size_t>(row.sense)];
    nnz += row.expr.terms.size();
  }
  std::string out = "Model '" + m.name + "': ";
  auto put = [&out](size_t n, const char* after) {
    append_count(out, n);
    out += after;
  };
  put(m.variables.size(), " vars (");
  put(kinds[0], " cont, ");
  put(kinds[1], " int, ");
  put(kinds[2], " bin), ");
  put(m.linear_constraints.size(), " constraints (");
  put(senses[0], " <=, ");
  put(senses[1], " >=, ");
  put(senses[2], " ==), ");
  put(nnz, " nonzeros, type=");
  out += problem_type_text(classify_problem(m));
  return out;
}

std::string python_text(const ModelData& m) {
  const std::vector<std::string> ids = identifiers(m);
  Emitter e(ids);
  std::string out = "\"\"\"Auto-generated by Velmo \u2014 standalone solver code.\"\"\"\n";
  out += "import velmo as vo\n\n";
  out += "m = vo.Model(" + python_string_literal(m.name) + ")\n\n";
  out += "# Variables\n";
  for (const VariableRecord& v : m.variables) {
    const std::string& id = ids[v.index];
    const std::string literal = python_string_literal(v.name);
    switch (v.kind) {
      case VarKind::Binary: out += id + " = m.binary(" + literal + ")\n"; break;
      case VarKind::Integer:
      case VarKind::Continuous:
        out += id + (v.kind == VarKind::Integer ? " = m.integer(" : " = m.variable(") + literal +
               ", lower=" + py_number(v.lower) + ", upper=" + py_number(v.upper) + ")\n";
        break;
    }
  }
  out += "\n# Objective\n";
  if (m.objective) out += objective_call(m, e);
  out += "\n# Constraints\n";
  for (size_t i = 0; i < m.linear_constraints.size(); ++i) append_linear_row(out, m.linear_constraints[i], i, e);
  for (const NonlinearConstraint& c : m.nonlinear_constraints) append_nonlinear_row(out, c, m, e);
  if (!m.soc_cones.empty() || !m.psd_cones.empty()) {
    out += "\n# Cones\n";
    for (const auto& cone : m.soc_cones) append_cone(out, "add_soc_cone", cone, e);
    for (const auto& cone : m.psd_cones) append_cone(out, "add_psd_cone", cone, e);
  }
  out += "\n# Solve\n";
  out += "result = m.solve()\n";
  out += "print(f'Status: {result.status}')\n";
  out += "print(f'Objective: {result.objective}')\n";
  out += "print(f'Values: {result.values()}')\n";
  return out;
}

}  // namespace velmo
