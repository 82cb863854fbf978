#!/usr/bin/env python3
"""The Ardour harness's reader of `kestrune-host info --json`: the documented rows become the
harness's table, and output it cannot trust (an older host, a broken range) is refused by name."""

import copy
import unittest

import ardour_host

ROWS = [
    {"id": "instrument", "name": "Instrument", "kind": "choice", "start": 0, "end": 7, "step": 1, "skew": 1,
     "default": 0, "unit": "", "choices": ["BAGPIPES", "RECORDER", "HARP", "GUITAR", "ORGAN", "HORN", "CHANT",
                                           "RHODES"], "defaultText": "BAGPIPES"},
    {"id": "attack", "name": "Attack", "kind": "float", "start": 0.001, "end": 1, "step": 0.001, "skew": 0.4,
     "default": 0.01, "unit": "s", "defaultText": "0.010 s"},
    {"id": "droneOn", "name": "Drone On", "kind": "bool", "start": 0, "end": 1, "step": 1, "skew": 1,
     "default": 0, "unit": "", "defaultText": "Off"},
]


class ParameterTable(unittest.TestCase):
    def test_documented_rows_become_the_table_in_host_order(self):
        self.assertEqual(ardour_host.parameter_table({"parameters": ROWS}), [
            ("instrument", "Instrument", 0.0, 7.0, 1.0, 0.0),
            ("attack", "Attack", 0.001, 1.0, 0.4, 0.01),
            ("droneOn", "Drone On", 0.0, 1.0, 1.0, 0.0),
        ])

    def test_untrustworthy_output_is_refused_by_name(self):
        older_host = [{"index": 0, "id": "instrument", "name": "Instrument", "default": "BAGPIPES"}]
        cases = [
            ("older host without ranges", older_host, "'kind'"),
            ("no parameters", [], "lists no parameters"),
            ("unknown kind", [dict(ROWS[1], kind="integer")], "kind 'integer'"),
            ("default outside the range", [dict(ROWS[1], default=2)], "default 2"),
            ("empty range", [dict(ROWS[1], end=0.001)], "range"),
            ("bool where a number belongs", [dict(ROWS[2], default=False)], "'default'"),
            ("repeated ID", [ROWS[1], copy.deepcopy(ROWS[1])], "repeated"),
        ]
        for what, rows, message in cases:
            with self.subTest(what):
                with self.assertRaisesRegex(ardour_host.Failure, message):
                    ardour_host.parameter_table({"parameters": rows})


if __name__ == "__main__":
    unittest.main()
