# Type stubs for the package velmo: the compiled module's names, re-exported.
from velmo_opt import *
from velmo_opt import sum as sum

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
]

__version__: str
