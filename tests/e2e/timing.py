"""How much slower than an idle machine the programs under test may be.

Sanitizer builds and loaded CI machines set PICTORA_TEST_TIME_SCALE (a factor, default 1).
Waits that only guard against a hang grow with it. Where a test bounds a duration by a time-out
the program is configured with, that time-out grows with the factor as well, so that "one
time-out, not two" keeps its meaning at any factor.
"""
import os


def _factor():
    try:
        value = float(os.environ.get('PICTORA_TEST_TIME_SCALE', '1'))
    except ValueError:
        return 1.0
    return max(value, 1.0)


TIME_SCALE = _factor()


def scaled(seconds):
    return seconds * TIME_SCALE
