from velmo_opt import *
from velmo._ext import exp as exp, log as log, tan as tan, atan as atan, tanh as tanh, abs as abs
from velmo._ext import power as power, square as square, product as product, dot as dot
from velmo._ext import quad_form as quad_form, sum as sum

ADDITIONS: tuple[str, ...]
__version__: str
