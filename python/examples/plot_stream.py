#!/usr/bin/env python3
"""Stream two channels of a RE01 (or RA01) and plot them to a PNG.

    python3 plot_stream.py ADDRESS [--channels 1 2] [--samples 3000] [--frequency 1000] [--output stream.png]

Needs matplotlib (Debian: python3-matplotlib); without it the samples are
written as CSV instead.
"""
import argparse
import sys

import numpy

import varnode


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("address")
    parser.add_argument("--channels", type=int, nargs="+", default=[1, 2])
    parser.add_argument("--samples", type=int, default=3000, help="per channel, 1 to 1,000,000")
    parser.add_argument("--frequency", type=float, default=1000.0, help="Hz, 6 to 3000")
    parser.add_argument("--current", action="store_true", help="the module is a RA01 (amperes)")
    parser.add_argument("--output", default="stream.png")
    arguments = parser.parse_args()

    module = (varnode.RA01 if arguments.current else varnode.RE01)(arguments.address)
    values = module.measure(arguments.channels, arguments.samples, arguments.frequency)
    seconds = numpy.arange(arguments.samples) / arguments.frequency
    unit = "A" if arguments.current else "V"

    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        csv = arguments.output.rsplit(".", 1)[0] + ".csv"
        header = "seconds," + ",".join(f"channel {c} ({unit})" for c in arguments.channels)
        numpy.savetxt(csv, numpy.column_stack([seconds, values]), delimiter=",", header=header, comments="")
        print(f"matplotlib is not installed: {values.shape[0]} samples written to {csv}")
        return 0

    figure, axes = plt.subplots(figsize=(10, 4))
    for column, channel in enumerate(arguments.channels):
        axes.plot(seconds, values[:, column], label=f"channel {channel}", linewidth=0.8)
    axes.set_xlabel("s")
    axes.set_ylabel(unit)
    axes.set_title(f"{type(module).__name__} {module.address}: {arguments.samples} samples at "
                   f"{arguments.frequency:g} Hz")
    axes.legend(loc="upper right")
    axes.grid(True, alpha=0.3)
    figure.tight_layout()
    figure.savefig(arguments.output, dpi=100)
    print(f"{values.shape[0]} samples of channels {arguments.channels} plotted to {arguments.output}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
