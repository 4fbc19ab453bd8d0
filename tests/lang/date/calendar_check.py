#!/usr/bin/env python3
"""Writes the expected output of calendar_check.qel from Python's datetime."""
import datetime

MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()
EPOCH = datetime.date(1970, 1, 1)
for y in range(1600, 2401):
    day = datetime.date(y, 1, 1)
    start = (day - EPOCH).days
    sunday_first = day.isoweekday() == 7
    a = b = c = e = 0
    last = day
    while day.year == y:
        yd = day.timetuple().tm_yday
        a += day.isoweekday() * yd
        b += day.isocalendar()[1] * yd
        # %U counts the days before the first Sunday as week 0; the
        # language counts them as week 1.
        c += (int(day.strftime("%U")) + (0 if sunday_first else 1)) * yd
        e += (day.month * 32 + day.day) * yd
        last = day
        day += datetime.timedelta(days=1)
    print(f"{y} {start} {last.day}-{MONTHS[last.month - 1]}-{last.year} {a} {b} {c} {e}")
