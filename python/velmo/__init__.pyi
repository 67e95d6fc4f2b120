# Type stubs for the package velmo: the compiled module's names, re-exported.
# velmo_opt's names, except `sum`, which the package widens (velmo._ext.sum).
from velmo_opt import (
    BlackBoxResult as BlackBoxResult,
    Constraint as Constraint,
    Expr as Expr,
    Model as Model,
    NlExpr as NlExpr,
    PersistentHighs as PersistentHighs,
    QuadExpr as QuadExpr,
    Result as Result,
    Var as Var,
    cos as cos,
    maximize as maximize,
    minimize as minimize,
    pareto_frontier as pareto_frontier,
    sin as sin,
    solve_admm as solve_admm,
    solve_cmaes as solve_cmaes,
    solve_de as solve_de,
    solve_parallel_de as solve_parallel_de,
    solve_pso as solve_pso,
    solve_sa as solve_sa,
    solve_portfolio as solve_portfolio,
    sqrt as sqrt,
    stochastic_solve as stochastic_solve,
)
from velmo._ext import exp as exp, log as log, tan as tan, atan as atan, tanh as tanh, abs as abs
from velmo._ext import power as power, square as square, product as product, dot as dot
from velmo._ext import quad_form as quad_form, sum as sum
from velmo.model_files import read_model as read_model

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
    "read_model",
]

__version__: str
from velmo.model_files import read_model as read_model
