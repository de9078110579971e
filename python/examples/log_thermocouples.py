#!/usr/bin/env python3
"""Log thermocouple temperatures of a HX01 to a CSV file once a second.

    python3 log_thermocouples.py ADDRESS CHANNEL=TYPE ... [--output FILE] [--count N]

e.g. `python3 log_thermocouples.py 198.18.0.19 1=K 2=J 3=T --count 10`
writes time (ISO 8601, UTC) and one column per channel, in °C, until Ctrl-C
or N rows. A failed reading is logged as an empty row and retried.
"""
import argparse
import csv
import datetime
import sys
import time

import varnode


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("address")
    parser.add_argument("sensors", nargs="+", metavar="CHANNEL=TYPE", help="e.g. 1=K (thermocouple type letter)")
    parser.add_argument("--output", default="-", help="CSV file (default: standard output)")
    parser.add_argument("--count", type=int, default=0, help="rows to write (default: until Ctrl-C)")
    parser.add_argument("--interval", type=float, default=1.0, help="seconds between rows (default 1)")
    arguments = parser.parse_args()

    sensors = {}
    for word in arguments.sensors:
        channel, _, kind = word.partition("=")
        sensors[int(channel)] = kind or "K"
    hx01 = varnode.HX01(arguments.address)
    hx01.set_sensor(sensors)
    channels = list(sensors)

    out = sys.stdout if arguments.output == "-" else open(arguments.output, "w", newline="")
    writer = csv.writer(out)
    writer.writerow(["time"] + [f"channel {c} ({sensors[c]}) °C" for c in channels])
    next_row = time.monotonic()
    rows = 0
    try:
        while arguments.count == 0 or rows < arguments.count:
            stamp = datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="milliseconds")
            try:
                celsius = [f"{kelvin - 273.15:.2f}" for kelvin in hx01.measure(channels)]
            except varnode.Error as failure:
                print(f"{stamp}: {failure}", file=sys.stderr)
                celsius = [""] * len(channels)
            writer.writerow([stamp] + celsius)
            out.flush()
            rows += 1
            # Keep to the clock, not to the time each reading took.
            next_row += arguments.interval
            time.sleep(max(0.0, next_row - time.monotonic()))
    except KeyboardInterrupt:
        pass
    finally:
        if out is not sys.stdout:
            out.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
