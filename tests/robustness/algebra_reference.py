"""A pure-Python model of the expression rules: operand classification, term-map updates,
result types of every operator pairing, the fixed error messages and the text forms.

It is written from the rules, not from the C++ code, so that the fuzzer can check one against
the other. Term maps here keep insertion order, which the module does not promise; texts are
compared through `canonical`, which forgets the order of linear terms wherever it is free.
"""

import math
import operator
import re
from decimal import Decimal

# ---- the fixed messages

ERR_LINEAR = "Unsupported operand type \u2014 use Var, Expr, or numeric"
ERR_VAR_MUL = "Var can be multiplied by a scalar, Var, or NlExpr"
ERR_EXPR_MUL = "Expr can be multiplied by a scalar or NlExpr"
ERR_RHS = "RHS must be a number, Var, or Expr"
ERR_POWER = "Only power of 1 or 2 supported for variables"
ERR_DIV0 = "division by zero"
ERR_SUM = "sum() items must be Var, Expr, or numeric"
ERR_QUAD = "Unsupported operand type for QuadExpr"
ERR_NL = "Expected Var, Expr, NlExpr, or numeric for nonlinear operand"
ERR_OBJECTIVE = "Expected Var, Expr, QuadExpr, NlExpr, or numeric value"


class Refused(Exception):
    """The outcome "raises `kind`"; `message` is None where Python, not the module, words it."""

    def __init__(self, kind, message=None):
        super().__init__(kind, message)
        self.kind = kind
        self.message = message


def fail(message):
    raise Refused(ValueError, message)


def python_type_error():
    raise Refused(TypeError)


# ---- values

class TermMap:
    """Variable index -> coefficient."""

    def __init__(self, items=()):
        self.d = dict(items)

    def copy(self):
        return TermMap(self.d)

    def add_term(self, index, c):
        v = self.d[index] + c if index in self.d else c
        if abs(v) < 1e-15:
            self.d.pop(index, None)
        else:
            self.d[index] = v

    def set_term(self, index, c):
        self.d[index] = c

    def scaled(self, f):
        return TermMap((k, v * f) for k, v in self.d.items())

    def negated(self):
        return TermMap((k, -v) for k, v in self.d.items())

    def items(self):
        return self.d.items()

    def __len__(self):
        return len(self.d)


class Var:
    def __init__(self, index, name):
        self.index = index
        self.name = name


class Expr:
    def __init__(self, terms=None, constant=0.0):
        self.terms = terms if terms is not None else TermMap()
        self.constant = constant


class QuadExpr:
    def __init__(self, quad=(), linear=None, constant=0.0):
        self.quad = list(quad)  # (i, j, coef), i <= j
        self.linear = linear if linear is not None else TermMap()
        self.constant = constant


class NlExpr:
    def __init__(self, terms=(), linear=None, constant=0.0):
        self.terms = list(terms)  # (coef, node)
        self.linear = linear if linear is not None else TermMap()
        self.constant = constant


class LinearRow:
    kind = "linear"

    def __init__(self, terms, rhs, sense):
        self.terms, self.rhs, self.sense = terms, rhs, sense


class NonlinearConstraint:
    kind = "nonlinear"

    def __init__(self, expr, rhs, sense):
        self.expr, self.rhs, self.sense = expr, rhs, sense


# Nodes are tuples: ("var", i), ("const", v), ("add"|"mul"|"div"|"pow", a, b), (name, a) for a
# one-operand function name of UNARY.
UNARY = ("sin", "cos", "sqrt", "exp", "log", "tan", "atan", "tanh", "abs")
def var_node(i):
    return ("var", i)


def const_node(v):
    return ("const", v)


# ---- operand classification

def as_number(o):
    """The double Python's float conversion gives, or None when it refuses (its error is
    dropped). Mirrors the C API: floats as they are, then __float__, then __index__; a str is
    not a number although float("1") parses it."""
    if isinstance(o, float):
        return float(o)
    t = type(o)
    try:
        if hasattr(t, "__float__"):
            r = t.__float__(o)
            return float(r) if isinstance(r, float) else None
        if hasattr(t, "__index__"):
            return float(operator.index(o))
    except Exception:
        return None
    return None


def classify(o):
    """("var"|"expr"|"quad"|"nl"|"number"|"other", payload)."""
    for cls, kind in ((Var, "var"), (Expr, "expr"), (QuadExpr, "quad"), (NlExpr, "nl")):
        if isinstance(o, cls):
            return kind, o
    if isinstance(o, (LinearRow, NonlinearConstraint)):
        return "other", o
    n = as_number(o)
    return ("number", n) if n is not None else ("other", o)


# ---- conversions

def promote(kind, v):
    """A Var or Expr operand as an Expr (copy)."""
    if kind == "var":
        return Expr(TermMap({v.index: 1.0}), 0.0)
    return Expr(v.terms.copy(), v.constant)


def quad_to_nl(q):
    return NlExpr([(c, ("mul", var_node(i), var_node(j))) for i, j, c in q.quad],
                  q.linear.copy(), q.constant)


def to_nl_expr(kind, v):
    if kind == "nl":
        return NlExpr(list(v.terms), v.linear.copy(), v.constant)
    if kind == "var":
        lin = TermMap()
        lin.set_term(v.index, 1.0)
        return NlExpr([], lin, 0.0)
    if kind == "expr":
        return NlExpr([], v.terms.copy(), v.constant)
    if kind == "quad":
        return quad_to_nl(v)
    if kind == "number":
        return NlExpr([], TermMap(), v)
    fail(ERR_NL)


def near_one(c):
    return abs(c - 1.0) < 1e-15


def to_node(g):
    parts = []
    for i, c in g.linear.items():
        parts.append(var_node(i) if near_one(c) else ("mul", const_node(c), var_node(i)))
    if not (g.constant == 0 and (len(g.linear) or g.terms)):
        parts.append(const_node(g.constant))
    for c, node in g.terms:
        parts.append(node if near_one(c) else ("mul", const_node(c), node))
    tree = parts[0]
    for p in parts[1:]:
        tree = ("add", tree, p)
    return tree


def node_of(kind, v):
    return to_node(to_nl_expr(kind, v))


def single(node):
    return NlExpr([(1.0, node)], TermMap(), 0.0)


def negated_nl(g):
    return NlExpr([(-c, n) for c, n in g.terms], g.linear.negated(), -g.constant)


def scaled_nl(g, t):
    return NlExpr([(c * t, n) for c, n in g.terms], g.linear.scaled(t), g.constant * t)


def scaled_quad(q, t):
    return QuadExpr([(i, j, c * t) for i, j, c in q.quad], q.linear.scaled(t), q.constant * t)


def negated_quad(q):
    return QuadExpr([(i, j, -c) for i, j, c in q.quad], q.linear.negated(), -q.constant)


def nl_sum(g, r):
    """g + r for expressions already converted: r's linear entries merged into a copy of g,
    constants added, r's terms after g's."""
    out = NlExpr(list(g.terms), g.linear.copy(), g.constant)
    for i, c in r.linear.items():
        out.linear.add_term(i, c)
    out.constant = out.constant + r.constant
    out.terms.extend(r.terms)
    return out


# ---- the operators, per class of the receiver

def linear_addsub(sk, s, ok, o, sign):
    if ok == "quad":
        q = o if sign > 0 else negated_quad(o)
        e = promote(sk, s)
        out = QuadExpr(list(q.quad), q.linear.copy(), q.constant)
        for i, c in e.terms.items():
            out.linear.add_term(i, c)
        out.constant = out.constant + e.constant
        return out
    if ok == "nl":
        g = to_nl_expr(sk, s)
        return nl_sum(g, o if sign > 0 else negated_nl(o))
    e = promote(sk, s)
    if ok == "var":
        e.terms.add_term(o.index, sign)
    elif ok == "expr":
        for i, c in o.terms.items():
            e.terms.add_term(i, c * sign)
        e.constant += sign * o.constant
    elif ok == "number":
        e.constant += sign * o
    else:
        fail(ERR_LINEAR)
    return e


def linear_reflected_addsub(lk, left, sk, s, sign):
    if lk != "number":
        fail(ERR_LINEAR)
    e = promote(sk, s) if sign > 0 else negate(sk, s)
    e.constant += left
    return e


def linear_mul(sk, s, ok, o):
    if ok == "number":
        if sk == "var":
            t = TermMap()
            t.set_term(s.index, o)
            return Expr(t, 0.0)
        return Expr(s.terms.scaled(o), s.constant * o)
    if sk == "var" and ok == "var":
        return QuadExpr([(min(s.index, o.index), max(s.index, o.index), 1.0)])
    if ok == "nl":
        return single(("mul", node_of(sk, s), to_node(o)))
    fail(ERR_VAR_MUL if sk == "var" else ERR_EXPR_MUL)


def linear_div(sk, s, ok, o):
    if ok == "number":
        if o == 0:
            fail(ERR_DIV0)
        f = 1.0 / o
        if sk == "var":
            t = TermMap()
            t.set_term(s.index, f)
            return Expr(t, 0.0)
        return Expr(s.terms.scaled(f), s.constant * f)
    return single(("div", node_of(sk, s), node_of(ok, o)))


def reflected_div(lk, left, sk, s):
    return single(("div", node_of(lk, left), node_of(sk, s)))


def quad_add(q, ok, o):
    if ok == "nl":
        return nl_sum(quad_to_nl(q), o)
    out = QuadExpr(list(q.quad), q.linear.copy(), q.constant)
    if ok == "var":
        out.linear.add_term(o.index, 1.0)
    elif ok == "expr":
        for i, c in o.terms.items():
            out.linear.add_term(i, c)
        out.constant += o.constant
    elif ok == "quad":
        for i, c in o.linear.items():
            out.linear.add_term(i, c)
        out.constant += o.constant
        out.quad.extend(o.quad)
    elif ok == "number":
        out.constant += o
    else:
        fail(ERR_QUAD)
    return out


def quad_sub(q, ok, o):
    if ok == "nl":
        return nl_sum(quad_to_nl(q), negated_nl(o))
    out = QuadExpr(list(q.quad), q.linear.copy(), q.constant)
    if ok == "var":
        out.linear.add_term(o.index, -1.0)
    elif ok == "expr":
        for i, c in o.terms.items():
            out.linear.add_term(i, -c)
        out.constant -= o.constant
    elif ok == "number":
        out.constant -= o
    else:
        fail(ERR_QUAD)
    return out


def quad_mul(q, ok, o):
    if ok == "number":
        return scaled_quad(q, o)
    return single(("mul", to_node(quad_to_nl(q)), node_of(ok, o)))


def quad_div(q, ok, o):
    if ok == "number":
        if o == 0:
            fail(ERR_DIV0)
        return scaled_quad(q, 1.0 / o)
    return single(("div", to_node(quad_to_nl(q)), node_of(ok, o)))


def nl_add(g, ok, o):
    return nl_sum(g, to_nl_expr(ok, o))


def nl_sub(g, ok, o):
    return nl_sum(g, negated_nl(to_nl_expr(ok, o)))


def nl_rsub(lk, left, g):
    return nl_sum(to_nl_expr(lk, left), negated_nl(g))


def nl_mul(g, ok, o):
    if ok == "number":
        return scaled_nl(g, o)
    return single(("mul", to_node(g), node_of(ok, o)))


def nl_div(g, ok, o):
    if ok == "number":
        if o == 0:
            fail(ERR_DIV0)
        return scaled_nl(g, 1.0 / o)
    return single(("div", to_node(g), node_of(ok, o)))


def negate(sk, s):
    if sk == "var":
        t = TermMap()
        t.set_term(s.index, -1.0)
        return Expr(t, 0.0)
    if sk == "expr":
        return Expr(s.terms.negated(), -s.constant)
    if sk == "quad":
        return negated_quad(s)
    return negated_nl(s)


def nl_constraint(d, sense):
    rhs = -d.constant
    return NonlinearConstraint(NlExpr(d.terms, d.linear, 0.0), rhs, sense)


def compare(sk, s, ok, o, sense):
    if sk in ("var", "expr"):
        if ok == "nl":
            return nl_constraint(nl_sum(to_nl_expr(sk, s), negated_nl(o)), sense)
        e = promote(sk, s)
        if ok == "number":
            return LinearRow(e.terms, o - e.constant, sense)
        if ok == "var":
            e.terms.add_term(o.index, -1.0)
            return LinearRow(e.terms, -e.constant, sense)
        if ok == "expr":
            for i, c in o.terms.items():
                e.terms.add_term(i, -c)
            return LinearRow(e.terms, -(e.constant - o.constant), sense)
        fail(ERR_RHS)
    if sk == "quad":
        if not s.quad and ok == "number":
            return LinearRow(s.linear.copy(), o - s.constant, sense)
        r = to_nl_expr(ok, o)
        return nl_constraint(nl_sum(quad_to_nl(s), negated_nl(r)), sense)
    r = to_nl_expr(ok, o)
    return nl_constraint(nl_sum(s, negated_nl(r)), sense)


# ---- Python's operator protocol over the classes above

def binary(op, a, b):
    """`a op b` for op in + - * /: the left operand's class answers if it is one of ours,
    otherwise the right operand's reflected form. Only objects whose own operators answer
    NotImplemented for our classes (plain numbers, NumPy scalars, str, None, ...) may stand on
    the left without being ours."""
    ak, av = classify(a)
    bk, bv = classify(b)
    if ak in ("var", "expr", "quad", "nl"):
        return _forward(op, ak, av, bk, bv)
    if bk in ("var", "expr", "quad", "nl"):
        return _reflected(op, ak, av, bk, bv)
    raise AssertionError("one operand must be an expression")


def _forward(op, ak, a, bk, b):
    if ak in ("var", "expr"):
        if op == "+":
            return linear_addsub(ak, a, bk, b, 1.0)
        if op == "-":
            return linear_addsub(ak, a, bk, b, -1.0)
        if op == "*":
            return linear_mul(ak, a, bk, b)
        if bk == "other":
            fail(ERR_NL)
        return linear_div(ak, a, bk, b)
    if ak == "quad":
        if op == "+":
            return quad_add(a, bk, b)
        if op == "-":
            return quad_sub(a, bk, b)
        if bk == "other":
            fail(ERR_NL)
        return quad_mul(a, bk, b) if op == "*" else quad_div(a, bk, b)
    if bk == "other":
        fail(ERR_NL)
    return {"+": nl_add, "-": nl_sub, "*": nl_mul, "/": nl_div}[op](a, bk, b)


def _reflected(op, ak, a, bk, b):
    if bk in ("var", "expr"):
        if op in "+-":
            return linear_reflected_addsub(ak, a, bk, b, 1.0 if op == "+" else -1.0)
        if op == "*":
            return linear_mul(bk, b, ak, a)
        if ak == "other":
            fail(ERR_NL)
        return reflected_div(ak, a, bk, b)
    if bk == "quad":
        if op == "+":
            return quad_add(b, ak, a)
        if op == "-":
            python_type_error()  # no reflected subtraction
        if ak == "other":
            fail(ERR_NL)
        return quad_mul(b, ak, a) if op == "*" else reflected_div(ak, a, bk, b)
    if ak == "other":
        fail(ERR_NL)
    if op == "+":
        return nl_add(b, ak, a)
    if op == "-":
        return nl_rsub(ak, a, b)
    if op == "*":
        return nl_mul(b, ak, a)
    return reflected_div(ak, a, bk, b)


SWAPPED = {"<=": ">=", ">=": "<=", "==": "==", "!=": "!="}
SENSES = {"<=": "<=", ">=": ">=", "==": "==", "!=": "=="}


def comparison(op, a, b):
    """`a op b`; returns a constraint, or False for a successful !=."""
    if op in ("<", ">"):
        python_type_error()
    ak, av = classify(a)
    bk, bv = classify(b)
    if ak not in ("var", "expr", "quad", "nl"):
        ak, av, bk, bv, op = bk, bv, ak, av, SWAPPED[op]
    result = compare(ak, av, bk, bv, SENSES[op])
    return False if op == "!=" else result


def unary_minus(a):
    return negate(*classify(a))


def power(a, e, mod=None, three=False):
    """`a ** e` (or `pow(a, e, mod)` with `three`)."""
    ak, av = classify(a)
    if ak != "var":
        python_type_error()
    exponent = small_integer(e)
    if exponent is None:
        python_type_error()
    integer_mod = not isinstance(mod, float) and hasattr(type(mod), "__index__")
    if three and mod is not None and not integer_mod:
        python_type_error()
    if exponent == 1:
        t = TermMap()
        t.set_term(av.index, 1.0)
        return QuadExpr([], t, 0.0)
    if exponent == 2:
        return QuadExpr([(av.index, av.index, 1.0)])
    fail(ERR_POWER)


def small_integer(o):
    if isinstance(o, float):
        return None
    try:
        v = operator.index(o)
    except Exception:
        return None
    return v if -2 ** 31 <= v < 2 ** 31 else None


def vsum(items):
    if not isinstance(items, list):
        python_type_error()
    acc = Expr()
    for item in items:
        k, v = classify(item)
        if k == "var":
            acc.terms.add_term(v.index, 1.0)
        elif k == "expr":
            for i, c in v.terms.items():
                acc.terms.add_term(i, c)
            acc.constant += v.constant
        elif k == "number":
            acc.constant += v
        else:
            fail(ERR_SUM)
    return acc


def function(name, arg):
    k, v = classify(arg)
    return single((name, node_of(k, v)))


def objective_class(v):
    """Problem type of a model of continuous variables whose objective is set to v."""
    k, v = classify(v)
    if k == "quad":
        return "QP"
    if k == "nl" and v.terms:
        return "NLP"
    if k == "other":
        fail(ERR_OBJECTIVE)
    return "LP"


# ---- text forms

def number_text(v):
    if math.isnan(v):
        return "NaN"
    if math.isinf(v):
        return "-inf" if v < 0 else "inf"
    if v == 0:
        return "-0" if math.copysign(1.0, v) < 0 else "0"
    text = format(Decimal(repr(v)), "f")
    if "." in text:
        text = text.rstrip("0").rstrip(".")
    return text


def expr_text(terms, constant):
    if not len(terms):
        return number_text(constant)
    out = []
    for k, (i, c) in enumerate(terms.items()):
        if k == 0:
            out.append("-" if c < 0 else "")
        elif c >= 0:
            out.append(" + ")
        elif c < 0:
            out.append(" - ")
        out.append(f"x{i}" if abs(abs(c) - 1.0) < 1e-15 else f"{number_text(abs(c))}*x{i}")
    if constant != 0:
        if constant >= 0:
            out.append(" + " + number_text(constant))
        elif constant < 0:
            out.append(" - " + number_text(-constant))
        else:
            out.append(number_text(constant))
    return "".join(out)


def node_text(node):
    kind = node[0]
    if kind == "var":
        return f"x{node[1]}"
    if kind == "const":
        return number_text(node[1])
    if kind in UNARY:
        return f"{kind}({node_text(node[1])})"
    sep = {"add": " + ", "mul": " * ", "div": " / ", "pow": " ** "}[kind]
    return f"({node_text(node[1])}{sep}{node_text(node[2])})"


def _weighted(c, node):
    return node_text(node) if near_one(abs(c)) else f"{number_text(abs(c))}*{node_text(node)}"


def nl_text(g):
    out = []
    rest = g.terms
    if len(g.linear) or not (g.constant == 0) or not g.terms:
        out.append(expr_text(g.linear, g.constant))
    else:
        c, node = g.terms[0]
        out.append(("-" if c < 0 else "") + _weighted(c, node))
        rest = g.terms[1:]
    for c, node in rest:
        out.append((" + " if c >= 0 else " - ") + _weighted(c, node))
    return "".join(out)


def quad_text(q):
    return f"QuadExpr(linear={expr_text(q.linear, q.constant)}, quad_terms={len(q.quad)})"


def constraint_text(c):
    left = expr_text(c.terms, 0.0) if isinstance(c, LinearRow) else nl_text(c.expr)
    return f"{left} {c.sense} {number_text(c.rhs)}"


def text(v):
    if isinstance(v, Var):
        return f"Var('{v.name}')"
    if isinstance(v, Expr):
        return expr_text(v.terms, v.constant)
    if isinstance(v, QuadExpr):
        return quad_text(v)
    if isinstance(v, NlExpr):
        return nl_text(v)
    return constraint_text(v)


def type_name(v):
    if isinstance(v, (LinearRow, NonlinearConstraint)):
        return "Constraint"
    return type(v).__name__


# ---- canonical forms: texts equal up to the order of linear terms

_NUM = r"(?:inf|NaN|\d+(?:\.\d+)?)"
_LIN_TERM = re.compile(rf"(?:({_NUM})\*)?x(\d+)")
_NUMBER = re.compile(rf"-?{_NUM}")
_VAR = re.compile(r"x(\d+)")


class _Reader:
    def __init__(self, s):
        self.s = s
        self.i = 0

    def take(self, literal):
        if not self.s.startswith(literal, self.i):
            raise ValueError(f"expected {literal!r} at {self.i} in {self.s!r}")
        self.i += len(literal)

    def node(self):
        s, i = self.s, self.i
        # Longer names first: "tanh(" before "tan(".
        for fn in sorted((f + "(" for f in UNARY), key=len, reverse=True):
            if s.startswith(fn, i):
                self.i += len(fn)
                child = self.node()
                self.take(")")
                return (fn[:-1], child)
        if s.startswith("(", i):
            self.i += 1
            a = self.node()
            for sep, kind in ((" + ", "add"), (" ** ", "pow"), (" * ", "mul"), (" / ", "div")):
                if s.startswith(sep, self.i):
                    self.i += len(sep)
                    b = self.node()
                    self.take(")")
                    return (kind, a, b)
            raise ValueError(f"expected an operator at {self.i} in {s!r}")
        m = _VAR.match(s, i)
        if m:
            self.i = m.end()
            return ("var", int(m.group(1)))
        m = _NUMBER.match(s, i)
        if m:
            self.i = m.end()
            return ("const", m.group(0))
        raise ValueError(f"bad node at {i} in {s!r}")


def _linear_entry(node):
    return node[0] == "var" or (node[0] == "mul" and node[1][0] == "const" and node[2][0] == "var")


def canonical_node(node):
    """Add chains are flattened; their leading run of linear entries, which comes from a term
    map, is sorted."""
    kind = node[0]
    if kind in ("var", "const"):
        return node
    if kind in UNARY:
        return (kind, canonical_node(node[1]))
    if kind != "add":
        return (kind, canonical_node(node[1]), canonical_node(node[2]))
    leaves = []
    while node[0] == "add":
        leaves.append(node[2])
        node = node[1]
    leaves.append(node)
    leaves = [canonical_node(n) for n in reversed(leaves)]
    run = 0
    while run < len(leaves) and _linear_entry(leaves[run]):
        run += 1
    return ("add*", tuple(sorted(leaves[:run], key=repr)) + tuple(leaves[run:]))


def _split_top(s):
    """[(separator, segment)] split at " + " and " - " outside parentheses."""
    parts = []
    depth = 0
    start = 0
    sep = ""
    i = 0
    while i < len(s):
        ch = s[i]
        if ch == "(":
            depth += 1
        elif ch == ")":
            depth -= 1
        elif depth == 0 and s.startswith((" + ", " - "), i):
            parts.append((sep, s[start:i]))
            sep = s[i:i + 3]
            i += 3
            start = i
            continue
        i += 1
    parts.append((sep, s[start:]))
    return parts


def canonical_nl(s):
    """(sorted linear terms, constant, ordered weighted nodes) of an expression text; covers
    linear texts, NlExpr texts and the left side of constraint texts."""
    linear = []
    constant = None
    nodes = []
    for k, (sep, seg) in enumerate(_split_top(s)):
        if k == 0 and seg.startswith("-") and not _NUMBER.fullmatch(seg):
            sep, seg = " - ", seg[1:]  # a leading minus on the first term
        if "(" in seg:
            m = re.match(rf"({_NUM})\*", seg)
            weight = m.group(1) if m else None
            reader = _Reader(seg)
            reader.i = m.end() if m else 0
            node = reader.node()
            if reader.i != len(seg):
                raise ValueError(f"trailing text in {seg!r}")
            if k == 0 and sep == "":
                sep = " + "
            nodes.append((sep, weight, canonical_node(node)))
            continue
        assert not nodes, s  # the linear part comes first
        pos = 0
        while pos < len(seg):
            m = _LIN_TERM.match(seg, pos)
            if m:
                weight = m.group(1)
                item_sep = sep if pos == 0 else ""
                if k == 0 and pos == 0 and item_sep == "" and weight != "NaN":
                    item_sep = " + "
                linear.append((int(m.group(2)), item_sep, weight))
                pos = m.end()
                continue
            m = _NUMBER.match(seg, pos)
            if not m or m.end() != len(seg) or constant is not None:
                raise ValueError(f"bad linear text {seg!r} in {s!r}")
            constant = (sep if pos == 0 else "", m.group(0))
            pos = m.end()
    return (tuple(sorted(linear)), constant, tuple(nodes))


def canonical(type_name_, s):
    if type_name_ == "Var":
        return s
    if type_name_ == "QuadExpr":
        m = re.fullmatch(r"QuadExpr\(linear=(.*), quad_terms=(\d+)\)", s)
        if m is None:
            raise ValueError(s)
        return (canonical_nl(m.group(1)), int(m.group(2)))
    if type_name_ == "Constraint":
        m = re.fullmatch(rf"(.*) (<=|>=|==) ({_NUMBER.pattern})", s)
        if m is None:
            raise ValueError(s)
        return (canonical_nl(m.group(1)), m.group(2), m.group(3))
    return canonical_nl(s)


# ---- the velmo package's functions (velmo._ext)

ERR_FINITE = "power(): the exponent must be a finite number"


def _is_linear(k, v):
    return k in ("var", "expr") or (k == "quad" and not v.quad) or (k == "nl" and not v.terms)


def _linear_parts(k, v):
    if k == "var":
        t = TermMap()
        t.set_term(v.index, 1.0)
        return t, 0.0
    if k == "expr":
        return v.terms, v.constant
    return v.linear, v.constant


def _expand(ak, a, bk, b, same):
    la, ca = _linear_parts(ak, a)
    lb, cb = (la, ca) if same else _linear_parts(bk, b)
    quad = []
    if same:
        items = list(la.items())
        for n, (i, c) in enumerate(items):
            quad.append((i, i, c * c))
            for j, d in items[n + 1:]:
                quad.append((min(i, j), max(i, j), 2.0 * c * d))
    else:
        quad = [(min(i, j), max(i, j), c * d) for i, c in la.items() for j, d in lb.items()]
    linear = TermMap()
    if cb != 0:
        for i, c in la.items():
            linear.add_term(i, c * cb)
    if ca != 0:
        for j, d in lb.items():
            linear.add_term(j, d * ca)
    return QuadExpr(quad, linear, ca * cb)


def pkg_power(a, p):
    exponent = as_number(p)
    if exponent is None:
        python_type_error()
    k, v = classify(a)
    if k == "other":
        fail(ERR_NL)
    if not math.isfinite(exponent):
        fail(ERR_FINITE)
    if exponent == 1:
        if k == "number":
            return Expr(TermMap(), v)
        if k == "var":
            return promote(k, v)
        if k == "expr":
            return Expr(v.terms.copy(), v.constant)
        if k == "quad":
            return QuadExpr(list(v.quad), v.linear.copy(), v.constant)
        return NlExpr(list(v.terms), v.linear.copy(), v.constant)
    if exponent == 2 and _is_linear(k, v):
        return _expand(k, v, k, v, True)
    return single(("pow", node_of(k, v), const_node(exponent)))


def pkg_product(a, b):
    ak, av = classify(a)
    bk, bv = classify(b)
    if ak == "other" or bk == "other":
        fail(ERR_NL)
    if ak == "number" and bk == "number":
        return Expr(TermMap(), av * bv)
    if ak == "number" or bk == "number":
        (sk, s), (tk, t) = ((bk, bv), (ak, av)) if ak == "number" else ((ak, av), (bk, bv))
        if sk in ("var", "expr"):
            return linear_mul(sk, s, tk, t)
        if sk == "quad":
            return quad_mul(s, tk, t)
        return nl_mul(s, tk, t)
    if _is_linear(ak, av) and _is_linear(bk, bv):
        return _expand(ak, av, bk, bv, False)
    return single(("mul", node_of(ak, av), node_of(bk, bv)))


def pkg_sum(items):
    """velmo.sum over any iterable: the narrowest type that holds the sum."""
    linear, constant, quad, terms, nonlinear = TermMap(), 0.0, [], [], False
    for n, item in enumerate(items):
        k, v = classify(item)
        if k == "other":
            fail(f"sum() items must be Var, Expr, QuadExpr, NlExpr, or numeric (item {n} is {type_name(v)})")
        if k == "number":
            constant += v
            continue
        lin, const = _linear_parts(k, v)
        for i, c in lin.items():
            linear.add_term(i, c)
        constant += const
        if k == "quad":
            if nonlinear:
                terms.extend((c, ("mul", var_node(i), var_node(j))) for i, j, c in v.quad)
            else:
                quad.extend(v.quad)
        elif k == "nl" and v.terms:
            if not nonlinear:
                terms = [(c, ("mul", var_node(i), var_node(j))) for i, j, c in quad]
                quad, nonlinear = [], True
            terms.extend(v.terms)
    if nonlinear:
        return NlExpr(terms, linear, constant)
    if quad:
        return QuadExpr(quad, linear, constant)
    return Expr(linear, constant)
