import voridez


def test_version():
    assert voridez.__version__ == "0.3.15"


def test_canonical_mnemonic_examples():
    assert voridez.canonical_mnemonic(" phie_2019 ") == "PHIE"
    assert voridez.canonical_mnemonic(raw="k") == "PERM"
