from velmo_opt import *
from velmo_opt import sum as sum

__version__: str
from velmo.model_files import read_model as read_model
