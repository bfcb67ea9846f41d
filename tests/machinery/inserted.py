"""Writes down each text that a program on the desktop tells assistive
technologies it has inserted, one JSON string a line, as a screen reader
hears of it: so a test knows that a typed key reached the field or the
terminal without waiting for the reader to echo it.  And, as {"focus":
"role name"}, each thing that takes the keyboard focus, so that it types
only once the field holds it.  Run by Debian's own python3, which has the
GObject bindings that Orca uses."""

import json
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def heard(event):
    print(json.dumps(event.any_data), flush=True)


def focused(event):
    if event.detail1:
        what = f"{event.source.get_role_name()} {event.source.get_name()}"
        print(json.dumps({"focus": what}), flush=True)


listener = Atspi.EventListener.new(heard)
listener.register("object:text-changed:insert")
focus = Atspi.EventListener.new(focused)
focus.register("object:state-changed:focused")
print(json.dumps(""), flush=True)
sys.exit(Atspi.event_main())
