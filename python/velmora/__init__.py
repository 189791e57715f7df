"""Drive dexterous robot hands over CAN: the velmora SDK from Python.

    import velmora
    hand = velmora.VelmoraApi(velmora.TOVIN, velmora.RIGHT, velmora.CAN0)
    hand.finger_move([255] * 6 + [128] * 4)
    joints = hand.get_state()          # numpy.uint8 array

Names follow the C++ API in snake_case (fingerMove -> finger_move); `velmora.sim` holds the
simulated hands.
"""

import sys as _sys

from ._velmora import *  # noqa: F401,F403
from ._velmora import __version__  # noqa: F401
from ._velmora import sim as _sim

# The simulator lives in the extension; make `import velmora.sim` find it.
_sys.modules[__name__ + ".sim"] = _sim
sim = _sim
