# Type stubs for the package velmo: the compiled module's names, re-exported.
from velmo_opt import *
from velmo._ext import exp as exp, log as log, tan as tan, atan as atan, tanh as tanh, abs as abs
from velmo._ext import power as power, square as square, product as product, dot as dot
from velmo._ext import quad_form as quad_form, sum as sum

ADDITIONS: tuple[str, ...]

# The names of velmo_opt; additions of our own are listed after them, with their stub files.
__all__ = [
    "BlackBoxResult",
    "Constraint",
    "Expr",
    "Model",
    "NlExpr",
    "PersistentHighs",
    "QuadExpr",
    "Result",
    "Var",
    "cos",
    "maximize",
    "minimize",
    "pareto_frontier",
    "sin",
    "solve_admm",
    "solve_cmaes",
    "solve_de",
    "solve_parallel_de",
    "solve_pso",
    "solve_sa",
    "solve_portfolio",
    "sqrt",
    "stochastic_solve",
    "sum",
    "exp",
    "log",
    "tan",
    "atan",
    "tanh",
    "power",
    "square",
    "product",
    "dot",
    "quad_form",
]

__version__: str
