"""A short tour of voridez on what exists so far."""

import os
import tempfile

import voridez

print("voridez", voridez.__version__)

# The curve-mnemonic authority: trimmed, vintage tags stripped, aliases mapped.
for raw in ["phie_2019", " k ", "Net_Gross", "GRC", "Foo_2019"]:
    print(f"canonical_mnemonic({raw!r}) = {voridez.canonical_mnemonic(raw)!r}")

# Summary statistics. Wells, surfaces and point sets hand out Stats objects;
# until they exist, the module's private builder makes one from plain numbers.
porosity = [0.21, 0.18, float("nan"), 0.25, 0.12, 0.30]
stats = voridez._voridez._stats(porosity)
print(stats)
print(f"std={stats.std:.4f} p10={stats.p10:.3f} p90={stats.p90:.3f} percentile(0.75)={stats.percentile(0.75):.3f}")
print("geomean of permeabilities (mD):", voridez.Stats.geomean([120.0, 35.0, 410.0, 0.0]))

# Format detection: the opening lines decide, the extension only when they say
# nothing. The result is one of the cached FormatKind members.
with tempfile.TemporaryDirectory() as folder:
    samples = {
        "well.txt": "~Version information\n VERS. 2.0 :\n",
        "points.dat": "461288.8 5933414.9 1640.4\n462749.3 5932898.5 1603.0\n",
        "notes.txt": "nothing to recognise here\n",
    }
    for name, content in samples.items():
        path = os.path.join(folder, name)
        with open(path, "w") as f:
            f.write(content)
        kind = voridez.detect(path)
        print(f"detect({name!r}) = {kind} (ordinal {int(kind)}, is FormatKind.Las: {kind is voridez.FormatKind.Las})")
