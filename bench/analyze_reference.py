#!/usr/bin/env python3
"""The run analysis written the way a user would in Python, with the decimal
module (C code since Python 3.3): reads Temp.dat, writes save.csv. Used only
to compare speed with zelvar-analyze; its last digits may differ, since its
rounding keeps 28 significant digits rather than 96 bits."""

import argparse
import csv
import decimal
import os
import sys
from decimal import Decimal


def analyze(directory, radius, weight, neutral, full):
    ctx = decimal.getcontext()
    ctx.prec = 28
    ctx.rounding = decimal.ROUND_HALF_EVEN
    pi = Decimal("3.141592654")
    thousand, two, sixty, hundred = Decimal(1000), Decimal(2), Decimal(60), Decimal(100)
    inertia = radius / thousand * (radius / thousand) * (weight / thousand) / two

    def fmt(d):
        s = format(d.normalize(), "f") if d else "0"
        return s

    with open(os.path.join(directory, "Temp.dat"), newline="") as src, \
            open(os.path.join(directory, "save.csv"), "w", newline="") as out:
        out.write('"Run Time (sec)","Output Voltage (V)","Output Current (A)","RPM","Torque (mNm)",'
                  '"Horse Power (W)","Input Power (W)","Efficiency (%)"\r\n')
        last_rpm = Decimal(0)
        last_time = Decimal(0)
        for fields in csv.reader(src):
            t, v, a, n = (Decimal(f) for f in fields)
            torque = Decimal(0)
            power = Decimal(0)
            rise = n - last_rpm
            if rise > 100:
                step = t - last_time
                if step > 0:
                    torque = inertia * rise * two * pi / sixty / step * thousand
                    power = torque * n * two * pi / sixty / thousand
            inp = v * a
            eff = Decimal(0)
            if inp != 0:
                eff = power / inp * hundred
                if eff > 100:
                    eff = hundred
            last_rpm, last_time = n, t
            out.write(",".join(fmt(x) for x in (t, v, a, n, torque, power, inp, eff)) + "\r\n")
        out.write("\r\n")
        out.write('"Flywheel Radius","Flywheel Weight","ESC Neutral Timing","ESC Full Throttle Timing"\r\n')
        out.write('%s,%s,"%s","%s"\r\n' % (fmt(radius), fmt(weight), neutral, full))


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--dir", default=".")
    p.add_argument("--radius", required=True, type=Decimal)
    p.add_argument("--weight", required=True, type=Decimal)
    p.add_argument("--esc-neutral", default="")
    p.add_argument("--esc-full", default="")
    args = p.parse_args()
    analyze(args.dir, args.radius, args.weight, args.esc_neutral, args.esc_full)
    return 0


if __name__ == "__main__":
    sys.exit(main())
