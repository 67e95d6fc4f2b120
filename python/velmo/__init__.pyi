from velmo_opt import *
from velmo_opt import sum as sum

__version__: str
