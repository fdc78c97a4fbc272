"""tolvex: self-service card terminals on a serial line, from Python.

A pure-Python package over the shared library (libtolvex.so.1, tolvex.dll) through
ctypes. ``Terminal`` opens a port and has one method per terminal command, each waiting
for its own outcome; ``tolvex.decode`` turns documented replies into Python values; the
pytest plugin (``tolvex.pytest_plugin``) gives tests a simulated terminal.
"""
from .decode import Sensors, Stacker
from .terminal import (Response, PortError, Terminal, TerminalError, TolvexError, command_names,
                       result_text)

__all__ = ["Terminal", "Response", "TolvexError", "TerminalError", "PortError", "Stacker", "Sensors",
           "command_names", "result_text"]
