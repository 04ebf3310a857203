"""A short tour of voridez on what exists so far."""

import voridez

print("voridez", voridez.__version__)
for raw in ["phie_2019", " k ", "Net_Gross", "GRC", "Foo_2019"]:
    print(f"canonical_mnemonic({raw!r}) = {voridez.canonical_mnemonic(raw)!r}")
