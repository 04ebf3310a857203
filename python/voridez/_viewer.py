"""The log viewer that ``Well.view()`` and ``WellsView.view()`` hand wells to.

No interactive viewer is installed with voridez. This module is the small
stand-in that keeps the bridge usable: ``render`` wraps the per-well log
dictionaries and the display options into a ``LogSession``, whose
``bundle()`` returns the payload and ``save(path)`` writes it as JSON. Its
``serve()`` raises, as there is nothing to serve with.
"""

import json
import math
from dataclasses import asdict, dataclass

__all__ = ["ViewSpec", "ViewSettings", "LogSession", "render"]


@dataclass(frozen=True)
class ViewSpec:
    """What to show: curve mnemonics (None: all), tops (True or a list of
    names), the top to flatten on, flag curves and the porosity cutoff."""

    curves: tuple | list | None = None
    tops: object = None
    flatten_default: str | None = None
    phie_cutoff: float = 0.08
    flags: tuple | list | None = None


@dataclass(frozen=True)
class ViewSettings:
    """How to deliver it: serve interactively, and/or save to a path."""

    serve: bool = True
    save: str | None = None


def _plain(value):
    # JSON has no NaN or infinities: a missing log value is written as null.
    if isinstance(value, float) and not math.isfinite(value):
        return None
    if isinstance(value, dict):
        return {k: _plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [_plain(v) for v in value]
    return value


class LogSession:
    """One rendered payload with its options."""

    def __init__(self, payload, spec, settings, template=None):
        self._payload = payload
        self.spec = spec
        self.settings = settings
        self.template = template

    def bundle(self):
        """The payload as ``render`` received it: one well dictionary, or a
        list of them."""
        return self._payload

    def save(self, path):
        """Write the payload and the options to ``path`` as JSON (NaN values
        as null)."""
        document = {
            "wells": _plain(self._payload),
            "spec": _plain(asdict(self.spec)),
            "settings": _plain(asdict(self.settings)),
        }
        with open(path, "w", encoding="utf-8") as f:
            json.dump(document, f, allow_nan=False)
        return path

    def serve(self):
        raise RuntimeError(
            "no interactive viewer is installed with voridez; "
            "use bundle() for the payload or save(path) to write it as JSON"
        )

    def __repr__(self):
        wells = self._payload if isinstance(self._payload, list) else [self._payload]
        return f"LogSession(wells={len(wells)})"


def render(
    payload,
    *,
    spec=None,
    settings=None,
    template=None,
    tops=None,
    flatten_default=None,
    phie_cutoff=None,
    flags=None,
    serve=None,
    save=None,
):
    """A ``LogSession`` for the payload. Options missing here take the
    defaults of ``ViewSpec`` and ``ViewSettings``; a ``save`` path is written
    at once. Nothing is served: call ``serve()`` on the session to ask for
    that."""
    if spec is None:
        spec = ViewSpec(
            tops=tops,
            flatten_default=flatten_default,
            phie_cutoff=0.08 if phie_cutoff is None else phie_cutoff,
            flags=flags,
        )
    if settings is None:
        settings = ViewSettings(serve=True if serve is None else serve, save=save)
    session = LogSession(payload, spec, settings, template)
    if settings.save:
        session.save(settings.save)
    return session
