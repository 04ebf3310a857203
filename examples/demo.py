"""A short tour of voridez on what exists so far."""

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
