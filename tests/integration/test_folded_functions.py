"""The build's check for functions of two calling conventions at one address (i686 folding)."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake"))
from folded_functions import mixed_addresses  # noqa: E402

NOTE = "__ZN12_GLOBAL__N_117LoggingStatusSink4noteERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE"
INVOKE = ("__ZNSt17_Function_handlerIFvRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEEZN4tovi6client"
          "11originGuardERKNS9_9EngineApiENS9_14TrustedOriginsEEUlS7_E_E9_M_invokeERKSt9_Any_dataS7_")


class FoldedFunctionsTest(unittest.TestCase):
    def test_addresses(self):
        cases = [
            # The pair that crashed the client: a member and a std::function invoker, one body.
            ("member and static invoker", ["004016b0 T " + NOTE, "004016b0 t " + INVOKE], True),
            ("member and free function", ["00401000 T __ZN3Foo3barEv", "00401000 T __Z3bazv"], True),
            ("const member and free function", ["00401000 T __ZNK3Foo3getEv", "00401000 t __ZL4quuxv"], True),
            ("cdecl and stdcall C functions", ["00401000 T _f", "00401000 T _g@4"], True),
            # Aliases that are one function, or of one convention.
            ("constructor variants", ["00401000 T __ZN3FooC1Ev", "00401000 T __ZN3FooC2Ev"], False),
            ("destructor variants", ["00401000 T __ZN3FooD1Ev", "00401000 T __ZN3FooD2Ev"], False),
            ("two const members", ["00401000 T __ZNK3Foo1aEv", "00401000 T __ZNK3Bar1bEv"], False),
            ("two free functions", ["00401000 T __Z1av", "00401000 T __ZSt1bv"], False),
            ("C aliases", ["00401000 T _strdup", "00401000 T __strdup"], False),
            ("one symbol each", ["00401000 T " + NOTE, "00401010 t " + INVOKE], False),
            ("data at one address", ["00402000 D __ZN3Foo1xE", "00402000 B __Z1yv"], False),
        ]
        for name, lines, flagged in cases:
            with self.subTest(name):
                self.assertEqual(bool(mixed_addresses(lines)), flagged, mixed_addresses(lines))


if __name__ == "__main__":
    unittest.main()
