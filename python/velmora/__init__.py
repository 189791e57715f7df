# The documentation of the module is written in its type stubs (__init__.pyi); the extension
# carries it, and so does this package.

import datetime as _datetime
import sys as _sys
from typing import Any as _Any, List as _List, Sequence as _Sequence, Union as _Union

import numpy as _np
import numpy.typing as _npt

from ._velmora import *  # noqa: F401,F403
from ._velmora import __doc__, __version__  # noqa: F401
from ._velmora import models as _models
from ._velmora import sim as _sim

# The catalogue and the simulator live in the extension; make `import velmora.models` and
# `import velmora.sim` find them.
_sys.modules[__name__ + ".models"] = _models
_sys.modules[__name__ + ".sim"] = _sim
models = _models
sim = _sim

# Names for the types of the data, as in the type stubs (for annotations in applications).
Bytes = _npt.NDArray[_np.uint8]
Radians = _npt.NDArray[_np.float64]
ByteArg = _Union[_Sequence[int], _npt.NDArray[_np.integer[_Any]], bytes]
RadianArg = _Union[_Sequence[float], _npt.NDArray[_Union[_np.floating[_Any], _np.integer[_Any]]]]
Matrix = _Union[Bytes, _List[Bytes]]
Force = _Union[Bytes, _List[Matrix]]
Duration = _Union[_datetime.timedelta, float]
HandId = _Union["Side", int]
