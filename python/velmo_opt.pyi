# Type stubs for the compiled module velmo_opt.
#
# Every keyword option a function reads is a typed keyword parameter here, so editors complete
# them and mypy or pyright flag a misspelt one. A default written as `...` means "absent": the
# option then has no value of its own (no time limit, the solver's own setting, ...). The
# docstrings here are for readers of the stubs and the API reference; the module's own
# docstrings are the short ones that `help()` shows.
import os
from typing import Any, Callable, Literal, NoReturn, Protocol, Sequence, SupportsFloat, SupportsIndex, Union, final

_Number = Union[SupportsFloat, SupportsIndex]
_Linear = Union["Var", "Expr"]
_Operand = Union["Var", "Expr", "QuadExpr", "NlExpr", _Number]
_Objective = Callable[[list[float]], SupportsFloat]
_Bounds = Sequence[tuple[SupportsFloat, SupportsFloat]]
# Names are lower-cased before use; any other name is solved by HiGHS.
_SolverName = Literal["highs", "osqp", "clarabel", "ipopt", "bonmin", "scipy", "slsqp"]
# Matched without regard to case.
_Method = Literal["nsga2", "nsga3", "NSGA2", "NSGA3"]

# Sequences of numbers; NumPy arrays are read in one copy.
_IndexArray = Union[Sequence[SupportsIndex], Any]
_FloatArray = Union[Sequence[SupportsFloat], Any]

class _Executor(Protocol):
    """Anything with ``submit(fn, *args)`` returning a future: concurrent.futures, Dask, Ray."""
    def submit(self, fn: Callable[..., Any], /, *args: Any) -> Any: ...

@final
class Model:
    """The main Model class exposed to Python."""
    def __new__(cls, name: str | None = None) -> Model: ...
    def variable(self, name: str, lower: SupportsFloat = ..., upper: SupportsFloat = ...) -> Var:
        """Add a continuous variable. It is free (unbounded) unless ``lower`` or ``upper`` is
        given.

        :param lower: lower bound; default minus infinity.
        :param upper: upper bound; default plus infinity.
        """
    def integer(self, name: str, lower: SupportsFloat = ..., upper: SupportsFloat = ...) -> Var:
        """Add an integer variable. It is unbounded unless ``lower`` or ``upper`` is given.

        :param lower: lower bound; default minus infinity.
        :param upper: upper bound; default plus infinity.
        """
    def binary(self, name: str) -> Var:
        """Add a binary variable (integer in [0, 1])."""
    def minimize(self, expr: _Operand) -> None:
        """Set the objective to minimize. Accepts Var, Expr, QuadExpr, NlExpr or a number."""
    def maximize(self, expr: _Operand) -> None:
        """Set the objective to maximize. Accepts Var, Expr, QuadExpr, NlExpr or a number."""
    def add(self, constraint: Constraint, name: str | None = None) -> None:
        """Add a constraint built by a comparison (``x + y <= 4``).

        :param name: the name diagnostics and exports show; default ``c0``, ``c1``, ... by
            position (``unnamed`` in some texts).
        """
    def add_soc_cone(self, vars: Sequence[Var]) -> int:
        """Require ``vars[0] >= ||(vars[1], vars[2], ...)||_2``; returns the cone's index."""
    def add_psd_cone(self, entries: Sequence[Var]) -> int:
        """Require a symmetric matrix, given by its upper triangle column by column, to be
        positive semidefinite; returns the cone's index."""
    def variables(
        self,
        prefix: str,
        count: SupportsIndex,
        lower: SupportsFloat | Sequence[SupportsFloat] | Any = ...,
        upper: SupportsFloat | Sequence[SupportsFloat] | Any = ...,
        names: Sequence[str] | None = None,
    ) -> list[Var]:
        """Batch-add ``count`` continuous variables named ``prefix_0``, ``prefix_1``, ...

        :param lower: lower bound, or one per variable (a sequence or NumPy array of length
            ``count``); default minus infinity.
        :param upper: upper bound, or one per variable; default plus infinity.
        :param names: one name per variable instead of ``prefix_i``.
        """
    def integers(
        self,
        prefix: str,
        count: SupportsIndex,
        lower: SupportsFloat | Sequence[SupportsFloat] | Any = ...,
        upper: SupportsFloat | Sequence[SupportsFloat] | Any = ...,
        names: Sequence[str] | None = None,
    ) -> list[Var]:
        """Batch-add ``count`` integer variables named ``prefix_0``, ``prefix_1``, ...

        :param lower: lower bound, or one per variable; default minus infinity.
        :param upper: upper bound, or one per variable; default plus infinity.
        :param names: one name per variable instead of ``prefix_i``.
        """
    def binaries(self, prefix: str, count: SupportsIndex, names: Sequence[str] | None = None) -> list[Var]:
        """Batch-add ``count`` binary variables named ``prefix_0``, ``prefix_1``, ...

        :param names: one name per variable instead of ``prefix_i``.
        """
    def add_matrix(
        self,
        A: Any,
        variables: Sequence[Var],
        sense: Literal["<=", ">=", "=="] | Sequence[str] | Any,
        rhs: SupportsFloat | Sequence[SupportsFloat] | Any,
        name: str | Sequence[str] | None = None,
    ) -> range:
        """Add one linear constraint per row of ``A @ variables  sense  rhs``, built straight
        from the array buffers; returns the positions of the new rows.

        :param A: a dense NumPy array or any ``scipy.sparse`` matrix, one column per variable.
        :param variables: the model's variables, one per column of ``A``.
        :param sense: ``"<="``, ``">="`` or ``"=="``, or one per row.
        :param rhs: a number, or one per row.
        :param name: a name for every row (``name[i]`` when a sequence is given).
        """
    def write(self, path: str | os.PathLike[str]) -> None:
        """Write the model to ``path``: ``.lp`` (the ``to_lp`` text) or ``.mps`` (through
        HiGHS), chosen by the suffix."""
    def solve(
        self,
        *,
        solver: _SolverName = ...,
        time_limit: SupportsFloat = ...,
        gap: SupportsFloat = ...,
        verbose: bool = False,
        threads: SupportsIndex = ...,
        warm_start: Result | Sequence[SupportsFloat] = ...,
        presolve: bool = True,
        basis: object = ...,
        solver_method: str = ...,
        run_crossover: str = ...,
        parallel: str = ...,
        scale_cleanup: bool = False,
        simplex_scale_strategy: SupportsIndex = ...,
        eliminate_redundant: bool = False,
        ranging: bool = False,
    ) -> Result:
        """Solve the model. The solver is chosen from the problem class unless forced.

        :param solver: force a solver: ``"highs"``, ``"osqp"``, ``"clarabel"``, ``"ipopt"``,
            ``"bonmin"``, ``"scipy"`` or ``"slsqp"`` (any case). Default: any cone gives
            Clarabel, LP/MILP/MIQP HiGHS (Bonmin for a MIQP whose relaxation is not integral),
            QP OSQP, NLP Ipopt (Bonmin with integer variables). A solver that cannot take the
            whole model raises ``ValueError``.
        :param time_limit: seconds; default no limit. SLSQP turns it into an iteration cap of
            100 per second.
        :param gap: relative MIP gap at which HiGHS stops; default HiGHS's own.
        :param verbose: let the solver print its log.
        :param threads: HiGHS thread count; default HiGHS's own.
        :param warm_start: a previous ``Result`` or a list of values in variable order; the
            starting point of Ipopt, Bonmin and SLSQP. Anything else is ignored.
        :param presolve: run the solver's presolve (HiGHS).
        :param basis: a ``Result.basis()`` to start HiGHS from; its presence turns presolve off.
        :param solver_method: HiGHS's ``solver`` option (``"simplex"``, ``"ipm"``, ``"choose"``).
        :param run_crossover: HiGHS's ``run_crossover`` option (``"on"``, ``"off"``, ``"choose"``).
        :param parallel: HiGHS's ``parallel`` option (``"on"``, ``"off"``, ``"choose"``).
        :param scale_cleanup: tidy the matrix form first: drop tiny coefficients, tighten
            bounds implied by singleton rows.
        :param simplex_scale_strategy: HiGHS's ``simplex_scale_strategy`` option (0 to 5).
        :param eliminate_redundant: drop duplicate rows before solving; each dual stays with
            its own constraint (a removed one shows 0.0).
        :param ranging: after an optimal LP run on HiGHS, also compute cost and
            right-hand-side ranges for ``Result.ranging()`` (about half a solve more).
        """
    def validate(self) -> list[dict[str, str]]:
        """Likely modelling errors as dicts with ``severity``, ``category`` and ``message``."""
    def to_lp(self) -> str:
        """The model in LP format (nonlinear parts and cones become comment lines)."""
    def to_python(self) -> str:
        """A standalone Python program that rebuilds, solves and prints the model."""
    def summary(self) -> str:
        """One line: counts of variables by kind, constraints by sense, nonzeros, the class."""
    @property
    def num_vars(self) -> int:
        """Number of variables."""
    @property
    def num_constraints(self) -> int:
        """Number of constraints."""
    @property
    def problem_type(self) -> str:
        """Detected problem type: ``"LP"``, ``"MILP"``, ``"QP"``, ``"MIQP"`` or ``"NLP"``."""

@final
class Var:
    """A variable of a Model. Prints as ``x`` followed by its creation index (``x0``)."""
    def __neg__(self) -> Expr: ...
    def __add__(self, other: Any, /) -> Any: ...
    def __radd__(self, other: Any, /) -> Any: ...
    def __sub__(self, other: Any, /) -> Any: ...
    def __rsub__(self, other: Any, /) -> Any: ...
    def __mul__(self, other: Any, /) -> Any: ...
    def __rmul__(self, other: Any, /) -> Any: ...
    def __truediv__(self, other: Any, /) -> Any: ...
    def __rtruediv__(self, other: Any, /) -> NlExpr: ...
    def __pow__(self, exponent: int, modulo: None = None, /) -> QuadExpr: ...
    def __le__(self, other: Any, /) -> Constraint: ...  # type: ignore[override]
    def __ge__(self, other: Any, /) -> Constraint: ...  # type: ignore[override]
    def __eq__(self, other: Any, /) -> Constraint: ...  # type: ignore[override]
    def __ne__(self, other: Any, /) -> bool: ...  # type: ignore[override]
    __hash__: None  # type: ignore[assignment]

@final
class Expr:
    """A linear expression: a constant plus coefficients times variables."""
    def __neg__(self) -> Expr: ...
    def __add__(self, other: Any, /) -> Any: ...
    def __radd__(self, other: Any, /) -> Any: ...
    def __sub__(self, other: Any, /) -> Any: ...
    def __rsub__(self, other: Any, /) -> Any: ...
    def __mul__(self, other: Any, /) -> Any: ...
    def __rmul__(self, other: Any, /) -> Any: ...
    def __truediv__(self, other: Any, /) -> Any: ...
    def __rtruediv__(self, other: Any, /) -> NlExpr: ...
    def __le__(self, other: Any, /) -> Constraint: ...  # type: ignore[override]
    def __ge__(self, other: Any, /) -> Constraint: ...  # type: ignore[override]
    def __eq__(self, other: Any, /) -> Constraint: ...  # type: ignore[override]
    def __ne__(self, other: Any, /) -> bool: ...  # type: ignore[override]
    __hash__: None  # type: ignore[assignment]

@final
class QuadExpr:
    """A quadratic expression: products of two variables plus a linear part."""
    def __neg__(self) -> QuadExpr: ...
    def __add__(self, other: Any, /) -> Any: ...
    def __radd__(self, other: Any, /) -> Any: ...
    def __sub__(self, other: Any, /) -> Any: ...
    def __mul__(self, other: Any, /) -> Any: ...
    def __rmul__(self, other: Any, /) -> Any: ...
    def __truediv__(self, other: Any, /) -> Any: ...
    def __rtruediv__(self, other: Any, /) -> NlExpr: ...
    def __le__(self, other: Any, /) -> Constraint: ...  # type: ignore[override]
    def __ge__(self, other: Any, /) -> Constraint: ...  # type: ignore[override]
    def __eq__(self, other: Any, /) -> Constraint: ...  # type: ignore[override]
    def __ne__(self, other: Any, /) -> bool: ...  # type: ignore[override]
    __hash__: None  # type: ignore[assignment]

@final
class NlExpr:
    """A nonlinear expression tree (``sin``, ``cos``, ``sqrt``, divisions, products)."""
    def __neg__(self) -> NlExpr: ...
    def __add__(self, other: Any, /) -> NlExpr: ...
    def __radd__(self, other: Any, /) -> NlExpr: ...
    def __sub__(self, other: Any, /) -> NlExpr: ...
    def __rsub__(self, other: Any, /) -> NlExpr: ...
    def __mul__(self, other: Any, /) -> NlExpr: ...
    def __rmul__(self, other: Any, /) -> NlExpr: ...
    def __truediv__(self, other: Any, /) -> NlExpr: ...
    def __rtruediv__(self, other: Any, /) -> NlExpr: ...
    def __le__(self, other: Any, /) -> Constraint: ...  # type: ignore[override]
    def __ge__(self, other: Any, /) -> Constraint: ...  # type: ignore[override]
    def __eq__(self, other: Any, /) -> Constraint: ...  # type: ignore[override]
    def __ne__(self, other: Any, /) -> bool: ...  # type: ignore[override]
    __hash__: None  # type: ignore[assignment]

@final
class Constraint:
    """A comparison of expressions, ready for ``Model.add``."""
    def __bool__(self) -> NoReturn:
        """Raises ``ValueError``: a constraint has no truth value, so ``lb <= e <= ub``, ``in``
        and ``list.index`` fail instead of testing one side. Add a range as two constraints."""

@final
class Result:
    """The solve result returned to Python."""
    @property
    def status(self) -> str:
        """``"optimal"``, ``"infeasible"``, ``"unbounded"``, ``"time_limit"``, ``"error"``, ..."""
    @property
    def objective(self) -> float | None:
        """Objective value in the model's own sense; None without a solution."""
    @property
    def solve_time(self) -> float:
        """Solver run time in seconds."""
    @property
    def solver(self) -> str:
        """The solver's display name (``"HiGHS"``, ``"OSQP"``, ...)."""
    @property
    def iterations(self) -> int | None:
        """Iterations the solver reported."""
    @property
    def nodes(self) -> int | None:
        """Branch-and-bound nodes (MIP only)."""
    @property
    def gap(self) -> float | None:
        """Relative MIP gap (MIP only)."""
    @property
    def is_optimal(self) -> bool:
        """Whether the status is ``"optimal"``."""
    @property
    def primals(self) -> list[float]:
        """Values in variable creation order; raises ValueError without a solution."""
    @property
    def var_names_list(self) -> list[str]:
        """Variable names in creation order."""
    @property
    def duals(self) -> list[float] | None:
        """Row duals of the minimisation form, when the solver gives them."""
    def value(self, var: Var) -> float:
        """The value of one variable."""
    def values(self) -> dict[str, float]:
        """Values by variable name."""
    def basis(self) -> Any:
        """HiGHS's basis (pass it to ``solve(basis=...)``), or None."""
    def infeasibility_report(self) -> dict[str, Any]:
        """A small conflicting set of constraints with relaxation hints."""
    def sensitivity(self) -> dict[str, list[tuple[Any, ...]]]:
        """Shadow prices, tight constraints and where each variable sits in its bounds."""
    def why(self, var: Var) -> str:
        """A sentence saying what fixes the variable's value."""
    def why_detail(self, var: Var) -> dict[str, Any]:
        """The facts behind ``why`` as a dict."""
    def ranging(self) -> dict[str, list[tuple[Any, ...]]]:
        """Cost and right-hand-side ranges of an LP solved by HiGHS with ``solve(ranging=True)``."""

@final
class BlackBoxResult:
    """Black-box result returned from metaheuristic solvers."""
    @property
    def x(self) -> list[float]:
        """The best point found."""
    @property
    def objective(self) -> float:
        """Its objective value."""
    @property
    def iterations(self) -> int:
        """Generations or iterations run."""
    @property
    def evaluations(self) -> int:
        """Objective calls made."""
    @property
    def converged(self) -> bool:
        """Whether the run stopped on its tolerance rather than its budget."""
    @property
    def history(self) -> list[float]:
        """The best value after each generation or iteration."""
    @property
    def message(self) -> str:
        """Why the run ended: ``"converged"``, ``"max_generations"``, ``"max_evals"``,
        ``"time_limit"`` or ``"callback"``."""
    @property
    def constraint_violation(self) -> float:
        """Total violation of ``constraints`` at ``x`` (sum of positive parts); 0.0 when feasible."""

@final
class PersistentHighs:
    """A model loaded into HiGHS once, changed in place and re-solved (LP and QP)."""
    @staticmethod
    def from_model(
        *,
        model: Model,
        verbose: bool = False,
        threads: SupportsIndex = ...,
        gap: SupportsFloat = ...,
        time_limit: SupportsFloat = ...,
    ) -> PersistentHighs:
        """Load ``model`` into a new ``highspy.Highs`` with presolve off, so re-solves start
        from the last basis.

        :param model: the model to load (required).
        :param verbose: let HiGHS print its log.
        :param threads: HiGHS thread count; default HiGHS's own.
        :param gap: relative MIP gap; default HiGHS's own.
        :param time_limit: seconds per solve; default no limit.
        """
    def update_col_bounds(
        self, indices: _IndexArray, lowers: _FloatArray, uppers: _FloatArray
    ) -> None:
        """Change the bounds of the variables at ``indices`` (creation order)."""
    def update_row_bounds(
        self, indices: _IndexArray, lowers: _FloatArray, uppers: _FloatArray
    ) -> None:
        """Change the bounds of the linear constraints at ``indices`` (insertion order)."""
    def update_col_costs(self, indices: _IndexArray, costs: _FloatArray) -> None:
        """Change costs, in the minimisation form (negate them for a maximised model)."""
    def update_matrix_coeffs(
        self, rows: _IndexArray, cols: _IndexArray, values: _FloatArray
    ) -> None:
        """Change constraint coefficients."""
    def row_bounds(self) -> tuple[list[float], list[float]]:
        """The row bounds HiGHS now holds: (lowers, uppers)."""
    def col_bounds(self) -> tuple[list[float], list[float]]:
        """The column bounds HiGHS now holds: (lowers, uppers)."""
    def col_costs(self) -> list[float]:
        """The costs HiGHS now holds (minimisation form)."""
    def resolve(self) -> Result:
        """Solve again from the current basis."""
    def num_cols(self) -> int:
        """Number of columns (variables)."""
    def num_rows(self) -> int:
        """Number of rows (linear constraints)."""

def minimize(
    objective: _Operand,
    constraints: Sequence[Constraint] | None = None,
    *,
    verbose: bool = False,
    time_limit: SupportsFloat = ...,
) -> Result:
    """Solve a minimization problem in one line, over free continuous variables ``x0``, ``x1``, ...

    OSQP for a quadratic objective, Ipopt when anything is nonlinear, HiGHS otherwise.

    :param constraints: the constraints; default none.
    :param verbose: let the solver print its log.
    :param time_limit: seconds; default no limit.
    """
def maximize(
    objective: _Operand,
    constraints: Sequence[Constraint] | None = None,
    *,
    verbose: bool = False,
    time_limit: SupportsFloat = ...,
) -> Result:
    """Solve a maximization problem in one line; as :func:`minimize`.

    :param constraints: the constraints; default none.
    :param verbose: let the solver print its log.
    :param time_limit: seconds; default no limit.
    """
def sum(items: list[_Linear | _Number]) -> Expr:
    """The sum of a list of Var, Expr and numbers, as one Expr."""
def sin(obj: _Operand) -> NlExpr:
    """The sine of an expression."""
def cos(obj: _Operand) -> NlExpr:
    """The cosine of an expression."""
def sqrt(obj: _Operand) -> NlExpr:
    """The square root of an expression."""
def solve_de(
    obj_func: _Objective,
    bounds: _Bounds,
    *,
    pop_size: SupportsIndex = ...,
    max_generations: SupportsIndex = 1000,
    f: SupportsFloat = 0.8,
    cr: SupportsFloat = 0.9,
    seed: SupportsIndex = 42,
    tol: SupportsFloat = 1e-8,
    x0: Sequence[SupportsFloat] | None = None,
    max_evals: SupportsIndex | None = None,
    time_limit: SupportsFloat | None = None,
    callback: Callable[[dict[str, Any]], Any] | None = None,
    integrality: Sequence[bool] | None = None,
    constraints: Callable[[list[float]], Sequence[SupportsFloat]] | None = None,
) -> BlackBoxResult:
    """Minimise ``obj_func(list_of_floats)`` over a box by differential evolution
    (rand/1/bin).

    :param pop_size: population; default (or 0) 10 per dimension.
    :param max_generations: generation budget.
    :param f: differential weight.
    :param cr: crossover probability.
    :param seed: seed of the run's random numbers; a seed replays the run exactly.
    :param tol: stop once the best value has moved less than this over ten generations;
        0 runs the whole budget.
    :param x0: a start point inside the box (replaces the first member of the initial
        population, or is the start point or initial mean).
    :param max_evals: never more than this many objective calls.
    :param time_limit: seconds; the run ends at the first generation or iteration
        boundary after it.
    :param callback: called after each generation or iteration with a dict
        (``"generation"``, ``"evaluations"``, ``"best_x"``, ``"best_value"``); returning ``True`` ends the run, its exceptions propagate.
    :param integrality: n bools; marked coordinates are rounded half away from zero before
        every evaluation and in the result.
    :param constraints: ``g(x) -> floats``, feasible when every value is <= 0; compared by
        the feasibility rules (feasible beats infeasible, then objective, then violation).
    """
def solve_pso(
    obj_func: _Objective,
    bounds: _Bounds,
    *,
    pop_size: SupportsIndex = ...,
    max_iterations: SupportsIndex = 1000,
    seed: SupportsIndex = 42,
    tol: SupportsFloat = 1e-8,
    x0: Sequence[SupportsFloat] | None = None,
    max_evals: SupportsIndex | None = None,
    time_limit: SupportsFloat | None = None,
    callback: Callable[[dict[str, Any]], Any] | None = None,
    integrality: Sequence[bool] | None = None,
    constraints: Callable[[list[float]], Sequence[SupportsFloat]] | None = None,
) -> BlackBoxResult:
    """Minimise over a box with a global-best particle swarm (constriction coefficients).

    :param pop_size: swarm size; default (or 0) min(10 per dimension, 20).
    :param max_iterations: iteration budget.
    :param seed: seed of the run's random numbers.
    :param tol: stop once the best value has moved less than this over ten iterations.
    :param x0: a start point inside the box (replaces the first member of the initial
        population, or is the start point or initial mean).
    :param max_evals: never more than this many objective calls.
    :param time_limit: seconds; the run ends at the first generation or iteration
        boundary after it.
    :param callback: called after each generation or iteration with a dict
        (``"generation"``, ``"evaluations"``, ``"best_x"``, ``"best_value"``); returning ``True`` ends the run, its exceptions propagate.
    :param integrality: n bools; marked coordinates are rounded half away from zero before
        every evaluation and in the result.
    :param constraints: ``g(x) -> floats``, feasible when every value is <= 0; compared by
        the feasibility rules (feasible beats infeasible, then objective, then violation).
    """
def solve_sa(
    obj_func: _Objective,
    bounds: _Bounds,
    *,
    max_iterations: SupportsIndex = 10000,
    seed: SupportsIndex = 42,
    temp_init: SupportsFloat = 100.0,
    cooling_rate: SupportsFloat = 0.999,
    x0: Sequence[SupportsFloat] | None = None,
    max_evals: SupportsIndex | None = None,
    time_limit: SupportsFloat | None = None,
    callback: Callable[[dict[str, Any]], Any] | None = None,
    integrality: Sequence[bool] | None = None,
    constraints: Callable[[list[float]], Sequence[SupportsFloat]] | None = None,
) -> BlackBoxResult:
    """Minimise over a box by simulated annealing from one random start (Gaussian steps of a
    tenth of the box width, geometric cooling; stops below temperature 1e-8).

    :param max_iterations: iteration budget.
    :param seed: seed of the run's random numbers.
    :param temp_init: starting temperature.
    :param cooling_rate: factor applied to the temperature after each step.
    :param x0: a start point inside the box (replaces the first member of the initial
        population, or is the start point or initial mean).
    :param max_evals: never more than this many objective calls.
    :param time_limit: seconds; the run ends at the first generation or iteration
        boundary after it.
    :param callback: called after each generation or iteration with a dict
        (``"generation"``, ``"evaluations"``, ``"best_x"``, ``"best_value"``); returning ``True`` ends the run, its exceptions propagate.
    :param integrality: n bools; marked coordinates are rounded half away from zero before
        every evaluation and in the result.
    :param constraints: ``g(x) -> floats``, feasible when every value is <= 0; compared by
        a penalty of the total violation added to the objective.
    """
def solve_cmaes(
    obj_func: _Objective,
    bounds: _Bounds,
    *,
    pop_size: SupportsIndex = ...,
    max_generations: SupportsIndex = 1000,
    sigma: SupportsFloat = 0.3,
    seed: SupportsIndex = 42,
    tol: SupportsFloat = 1e-8,
    variant: Literal["simple", "full"] = "simple",
    restarts: SupportsIndex = 0,
    executor: _Executor | None = None,
    x0: Sequence[SupportsFloat] | None = None,
    max_evals: SupportsIndex | None = None,
    time_limit: SupportsFloat | None = None,
    callback: Callable[[dict[str, Any]], Any] | None = None,
    integrality: Sequence[bool] | None = None,
    constraints: Callable[[list[float]], Sequence[SupportsFloat]] | None = None,
) -> BlackBoxResult:
    """Minimise over a box with an evolution strategy.

    ``variant="simple"`` is an isotropic strategy with a success-rule step size, quick on
    smooth bowls; ``variant="full"`` is CMA-ES with covariance adaptation and cumulative step
    size, the strongest of the black-box optimisers. (The module's one-line docstring,
    "Solve using CMA-ES (simplified).", describes the default variant only.)

    :param pop_size: offspring per generation; default (or 0) 4 + floor(3 ln n), at least 5
        (simple) or 4 (full).
    :param max_generations: generation budget per run.
    :param sigma: initial step: relative to the box width (simple), absolute (full).
    :param seed: seed of the run's random numbers.
    :param tol: stop once the best value moves less than this; the full variant also stops
        once the best value is below it.
    :param variant: ``"simple"`` or ``"full"`` (any case).
    :param restarts: full variant: rerun with twice the population up to this many times
        until a run gets below ``tol``.
    :param executor: evaluate each generation's candidates through ``executor.submit``; the
        answer is the serial run's, bit for bit.
    :param x0: a start point inside the box (replaces the first member of the initial
        population, or is the start point or initial mean).
    :param max_evals: never more than this many objective calls.
    :param time_limit: seconds; the run ends at the first generation or iteration
        boundary after it.
    :param callback: called after each generation or iteration with a dict
        (``"generation"``, ``"evaluations"``, ``"best_x"``, ``"best_value"``); returning ``True`` ends the run, its exceptions propagate.
    :param integrality: n bools; marked coordinates are rounded half away from zero before
        every evaluation and in the result.
    :param constraints: ``g(x) -> floats``, feasible when every value is <= 0; compared by
        the feasibility rules (feasible beats infeasible, then objective, then violation).
    """
def pareto_frontier(
    objectives: Sequence[_Objective],
    bounds: _Bounds,
    n_points: SupportsIndex = 20,
    *,
    seed: SupportsIndex = 42,
    method: _Method | None = None,
    pop_size: SupportsIndex = ...,
    generations: SupportsIndex = 250,
    das_dennis_divisions: SupportsIndex = 12,
    executor: _Executor | None = None,
    x0: Sequence[SupportsFloat] | None = None,
    max_evals: SupportsIndex | None = None,
    time_limit: SupportsFloat | None = None,
    callback: Callable[[dict[str, Any]], Any] | None = None,
    integrality: Sequence[bool] | None = None,
    constraints: Callable[[list[float]], Sequence[SupportsFloat]] | None = None,
) -> list[dict[str, Any]]:
    """Approximate the Pareto front of several objectives (all minimised) over a box.

    With two objectives and no ``method``: a weighted-sum sweep of ``n_points``
    differential-evolution runs, one dict (``x``, ``weights``, ``objectives``) per weight.
    With a ``method``, or by default NSGA-II for three objectives and NSGA-III for more:
    the first non-dominated front as dicts with ``x``, ``objectives``, ``rank`` and
    ``crowding``.
    Option values that do not convert fall back to their defaults. (``help()`` shows the
    module's one-line docstring, which says "epsilon-constraint method": no epsilon
    constraints are used, the two modes above are the whole method.)

    :param n_points: weights in the sweep; also sets the NSGA default population.
    :param seed: seed of the run's random numbers.
    :param method: ``"nsga2"`` or ``"nsga3"`` (any case).
    :param pop_size: NSGA population; default 5 * max(2, n_points), at least 4.
    :param generations: NSGA generations.
    :param das_dennis_divisions: NSGA-III reference lattice divisions.
    :param executor: NSGA modes: evaluate each generation's offspring through
        ``executor.submit``.
    :param x0: NSGA modes: a start point inside the box (replaces the first member of the initial
        population, or is the start point or initial mean).
    :param max_evals: NSGA modes: never more than this many points evaluated (each calls every objective).
    :param time_limit: NSGA modes: seconds; the run ends at the first generation or iteration
        boundary after it.
    :param callback: NSGA modes: called after each generation or iteration with a dict
        (``"generation"``, ``"evaluations"``, ``"front"``); returning ``True`` ends the run, its exceptions propagate.
    :param integrality: NSGA modes: n bools; marked coordinates are rounded half away from zero before
        every evaluation and in the result.
    :param constraints: NSGA modes: ``g(x) -> floats``, feasible when every value is <= 0; compared by
        constraint domination.
    """
def stochastic_solve(
    scenario_func: Callable[[list[float], Any], SupportsFloat],
    bounds: _Bounds,
    scenarios: Sequence[Any],
    *,
    max_generations: SupportsIndex = 500,
    seed: SupportsIndex = 42,
    pop_size: SupportsIndex = ...,
    executor: _Executor | None = None,
    x0: Sequence[SupportsFloat] | None = None,
    max_evals: SupportsIndex | None = None,
    time_limit: SupportsFloat | None = None,
    callback: Callable[[dict[str, Any]], Any] | None = None,
    integrality: Sequence[bool] | None = None,
    constraints: Callable[[list[float]], Sequence[SupportsFloat]] | None = None,
) -> BlackBoxResult:
    """Minimise the expected value of ``scenario_func(x, scenario)`` over the scenarios by
    differential evolution. Mappings with a numeric ``"probability"`` weigh by it.

    :param max_generations: generation budget.
    :param seed: seed of the run's random numbers.
    :param pop_size: population; default (or 0) 10 per dimension.
    :param executor: evaluate the scenario calls of one point through ``executor.submit``.
    :param x0: a start point inside the box (replaces the first member of the initial
        population, or is the start point or initial mean).
    :param max_evals: never more than this many points evaluated.
    :param time_limit: seconds; the run ends at the first generation or iteration
        boundary after it.
    :param callback: called after each generation or iteration with a dict
        (``"generation"``, ``"evaluations"``, ``"best_x"``, ``"best_value"``); returning ``True`` ends the run, its exceptions propagate.
    :param integrality: n bools; marked coordinates are rounded half away from zero before
        every evaluation and in the result.
    :param constraints: ``g(x) -> floats``, feasible when every value is <= 0; compared by
        the feasibility rules (feasible beats infeasible, then objective, then violation).
    """
def solve_portfolio(obj_func: _Objective, bounds: _Bounds, max_evals: SupportsIndex = 5000) -> BlackBoxResult:
    """Run differential evolution, the swarm, the simple strategy and annealing in turn with
    fixed seeds and return the best stage's result.

    :param max_evals: sets the stages' lengths (the result counts its own evaluations).
    """
def solve_parallel_de(
    obj_func: _Objective,
    bounds: _Bounds,
    *,
    pop_size: SupportsIndex = ...,
    max_generations: SupportsIndex = 1000,
    seed: SupportsIndex = 42,
    x0: Sequence[SupportsFloat] | None = None,
    max_evals: SupportsIndex | None = None,
    time_limit: SupportsFloat | None = None,
    callback: Callable[[dict[str, Any]], Any] | None = None,
    integrality: Sequence[bool] | None = None,
    constraints: Callable[[list[float]], Sequence[SupportsFloat]] | None = None,
) -> BlackBoxResult:
    """Differential evolution with a larger default population (15 per dimension), F 0.8,
    CR 0.9 and the stall stop at 1e-8; it runs serially, like :func:`solve_de`, despite its
    name. For evaluations side by side use :func:`solve_cmaes` with an ``executor``.

    :param pop_size: population; default 15 per dimension (0 gives 10 per dimension).
    :param max_generations: generation budget.
    :param seed: seed of the run's random numbers.
    :param x0: a start point inside the box (replaces the first member of the initial
        population, or is the start point or initial mean).
    :param max_evals: never more than this many objective calls.
    :param time_limit: seconds; the run ends at the first generation or iteration
        boundary after it.
    :param callback: called after each generation or iteration with a dict
        (``"generation"``, ``"evaluations"``, ``"best_x"``, ``"best_value"``); returning ``True`` ends the run, its exceptions propagate.
    :param integrality: n bools; marked coordinates are rounded half away from zero before
        every evaluation and in the result.
    :param constraints: ``g(x) -> floats``, feasible when every value is <= 0; compared by
        the feasibility rules (feasible beats infeasible, then objective, then violation).
    """
def solve_admm(
    subproblems: Sequence[Callable[[float, list[float]], Sequence[SupportsFloat]]],
    dim: SupportsIndex,
    rho: SupportsFloat = 1.0,
    max_iter: SupportsIndex = 200,
    tol: SupportsFloat = 1e-6,
    *,
    executor: _Executor | None = None,
) -> dict[str, Any]:
    """Scaled-form consensus ADMM: each subproblem ``(rho, target) -> point`` returns its own
    proximal step. Returns ``x``, ``z``, ``iterations``, ``primal_residual``,
    ``dual_residual`` and ``converged``.

    :param dim: length of the consensus vector.
    :param rho: penalty parameter.
    :param max_iter: iteration budget.
    :param tol: stop when both residuals are below it.
    :param executor: evaluate one iteration's subproblems through ``executor.submit``.
    """
