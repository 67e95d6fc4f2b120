import os

from velmo_opt import Model

def read_model(path: str | os.PathLike[str]) -> Model: ...
