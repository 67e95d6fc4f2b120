"""The API reference, generated from the type stubs.

``.. velmo-api:: ../python/velmo_opt.pyi`` renders every public class, method, property and
function of a stub file with its typed signature and its stub docstring. Each ``:param:`` of a
docstring gets the parameter's type and default beside it. The build warns (an error under
``-W``) when a public name of the ``velmo`` package is documented nowhere, when a documented
function has no docstring, and when one of its options has no ``:param:`` line, so a name or
an option added to the stubs without its text cannot slip through.
"""

from __future__ import annotations

import ast
import re
from dataclasses import dataclass
from pathlib import Path

from docutils import nodes
from docutils.statemachine import StringList
from sphinx.util import logging
from sphinx.util.docutils import SphinxDirective

logger = logging.getLogger(__name__)

_PARAM = re.compile(r"^:param (\w+):")


@dataclass
class _Stub:
    aliases: dict[str, ast.expr]  # private aliases (``_Bounds = ...``), shown expanded
    classes: set[str]  # class names, to tell forward references from Literal texts


def _aliases(tree: ast.Module) -> dict[str, ast.expr]:
    """Private module-level aliases (``_Bounds = ...``), to be shown expanded."""
    out: dict[str, ast.expr] = {}
    for node in tree.body:
        if isinstance(node, ast.Assign) and len(node.targets) == 1:
            target = node.targets[0]
            if isinstance(target, ast.Name) and target.id.startswith("_"):
                out[target.id] = node.value
    return out


class _Expand(ast.NodeTransformer):
    def __init__(self, stub: _Stub):
        self.aliases = stub.aliases
        self.classes = stub.classes

    def visit_Name(self, node: ast.Name) -> ast.AST:
        if node.id in self.aliases:
            return self.visit(ast.parse(ast.unparse(self.aliases[node.id]), mode="eval").body)
        if node.id.startswith("_"):
            return ast.Name(id=node.id.lstrip("_"), ctx=node.ctx)  # a private Protocol: its plain name
        return node

    def visit_Constant(self, node: ast.Constant) -> ast.AST:
        # Forward references ("Var") read as plain names; Literal texts keep their quotes.
        if isinstance(node.value, str) and node.value in self.classes:
            return ast.Name(id=node.value, ctx=ast.Load())
        return node


def _text(node: ast.expr | None, stub: _Stub) -> str:
    if node is None:
        return ""
    return ast.unparse(_Expand(stub).visit(ast.parse(ast.unparse(node), mode="eval").body))


def _params(fn: ast.FunctionDef) -> list[tuple[ast.arg, ast.expr | None, str]]:
    """(argument, default, kind) in signature order; kind is "pos", "kw", "star" or "starstar"."""
    a = fn.args
    positional = a.posonlyargs + a.args
    defaults: list[ast.expr | None] = [None] * (len(positional) - len(a.defaults)) + list(a.defaults)
    out = [(arg, d, "pos") for arg, d in zip(positional, defaults)]
    if a.vararg:
        out.append((a.vararg, None, "star"))
    out += [(arg, d, "kw") for arg, d in zip(a.kwonlyargs, a.kw_defaults)]
    if a.kwarg:
        out.append((a.kwarg, None, "starstar"))
    return out


def _signature(fn: ast.FunctionDef, stub: _Stub, method: bool) -> str:
    parts: list[str] = []
    params = _params(fn)
    if method and params and params[0][0].arg in ("self", "cls"):
        params = params[1:]
    star_written = False
    for arg, default, kind in params:
        if kind == "kw" and not star_written:
            parts.append("*")
            star_written = True
        prefix = {"star": "*", "starstar": "**"}.get(kind, "")
        star_written = star_written or kind == "star"
        piece = prefix + arg.arg
        if arg.annotation is not None:
            piece += ": " + _text(arg.annotation, stub)
        if default is not None:
            piece += " = " + ast.unparse(default)
        parts.append(piece)
    text = "(" + ", ".join(parts) + ")"
    if fn.returns is not None:
        text += " -> " + _text(fn.returns, stub)
    return text


def _documented_options(fn: ast.FunctionDef) -> list[tuple[ast.arg, ast.expr | None]]:
    """Parameters a reader must be told about: keyword options and those with defaults."""
    return [(arg, d) for arg, d, kind in _params(fn) if kind == "kw" or (kind == "pos" and d is not None)]


def _docstring_lines(fn: ast.FunctionDef, stub: _Stub, where: str) -> list[str]:
    doc = ast.get_docstring(fn) or ""
    if not doc:
        logger.warning("velmo-api: %s has no docstring in the stubs", where)
        return []
    params = {arg.arg: (arg.annotation, d) for arg, d, _ in _params(fn)}
    out: list[str] = []
    default_text = ""  # the current :param field's default, written after its last line
    for line in doc.splitlines():
        if default_text and not line.startswith("    "):
            out[-1] += default_text
            default_text = ""
        m = _PARAM.match(line)
        if m and m.group(1) in params:
            annotation, default = params[m.group(1)]
            if annotation is not None:
                out.append(f":type {m.group(1)}: ``{_text(annotation, stub)}``")
            if default is not None and not (isinstance(default, ast.Constant) and default.value is Ellipsis):
                default_text = f" Default: ``{ast.unparse(default)}``."
        out.append(line)
    if default_text:
        out[-1] += default_text
    named = {m.group(1) for line in doc.splitlines() if (m := _PARAM.match(line))}
    for arg, _ in _documented_options(fn):
        if arg.arg not in named:
            logger.warning("velmo-api: option %r of %s has no ':param %s:' line", arg.arg, where, arg.arg)
    return out


def _is_property(fn: ast.FunctionDef) -> bool:
    return any(isinstance(d, ast.Name) and d.id == "property" for d in fn.decorator_list)


def _is_static(fn: ast.FunctionDef) -> bool:
    return any(isinstance(d, ast.Name) and d.id == "staticmethod" for d in fn.decorator_list)


def _indent(lines: list[str], by: str) -> list[str]:
    return [by + line if line else "" for line in lines]


def render(path: Path) -> tuple[list[str], list[str]]:
    """rST for every public class and function of the stub at `path`, and the names documented."""
    tree = ast.parse(path.read_text(encoding="utf-8"))
    stub = _Stub(_aliases(tree), {n.name for n in tree.body if isinstance(n, ast.ClassDef)})
    lines: list[str] = []
    names: list[str] = []
    for node in tree.body:
        if isinstance(node, ast.ClassDef) and not node.name.startswith("_"):
            names.append(node.name)
            ctor = next((i for i in node.body if isinstance(i, ast.FunctionDef) and i.name in ("__new__", "__init__")), None)
            signature = _signature(ctor, stub, method=True).split(" -> ")[0] if ctor else ""
            lines += [f".. py:class:: {node.name}{signature}", ""]
            doc = ast.get_docstring(node)
            if doc:
                lines += _indent(doc.splitlines(), "   ") + [""]
            for item in node.body:
                if not isinstance(item, ast.FunctionDef) or item.name.startswith("_"):
                    continue
                where = f"{node.name}.{item.name}"
                if _is_property(item):
                    lines += [f"   .. py:property:: {item.name}", f"      :type: {_text(item.returns, stub)}", ""]
                else:
                    lines += [f"   .. py:method:: {item.name}{_signature(item, stub, method=True)}"]
                    if _is_static(item):
                        lines.append("      :staticmethod:")
                    lines.append("")
                lines += _indent(_docstring_lines(item, stub, where), "      ") + [""]
        elif isinstance(node, ast.FunctionDef) and not node.name.startswith("_"):
            names.append(node.name)
            lines += [f".. py:function:: {node.name}{_signature(node, stub, method=False)}", ""]
            lines += _indent(_docstring_lines(node, stub, node.name), "   ") + [""]
    return lines, names


class VelmoApi(SphinxDirective):
    required_arguments = 1

    def run(self):
        stub = (Path(self.env.srcdir) / self.arguments[0]).resolve()
        self.env.note_dependency(str(stub))
        self.env.note_dependency(__file__)  # a change of this generator re-renders the page too
        lines, names = render(stub)
        if not hasattr(self.env, "velmo_api_names"):
            self.env.velmo_api_names = {}
        self.env.velmo_api_names.setdefault(self.env.docname, set()).update(names)
        container = nodes.container()
        self.state.nested_parse(StringList(lines, source=str(stub)), self.content_offset, container)
        return container.children


def _check_complete(app, env):
    """Every public name of the package appears in the reference."""
    import velmo

    documented = set().union(*getattr(env, "velmo_api_names", {}).values())
    for name in sorted(set(getattr(velmo, "__all__", [])) - documented):
        logger.warning("velmo-api: public name velmo.%s is not in the API reference", name)


def _purge(app, env, docname):
    getattr(env, "velmo_api_names", {}).pop(docname, None)


def _merge(app, env, docnames, other):
    if not hasattr(env, "velmo_api_names"):
        env.velmo_api_names = {}
    for docname in docnames:
        if docname in getattr(other, "velmo_api_names", {}):
            env.velmo_api_names[docname] = other.velmo_api_names[docname]


def setup(app):
    app.add_directive("velmo-api", VelmoApi)
    app.connect("env-purge-doc", _purge)
    app.connect("env-merge-info", _merge)
    app.connect("env-check-consistency", _check_complete)
    return {"version": "1", "parallel_read_safe": True, "parallel_write_safe": True, "env_version": 1}
