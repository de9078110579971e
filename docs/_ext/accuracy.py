"""The accuracy page's figures: the library's conversions (sampled by
docs_accuracy_sample) against the reference functions of the sensors.

Usage: accuracy.py SAMPLES.csv OUTPUT-FOLDER
Writes OUTPUT-FOLDER/thermocouples.md, sensors.md and plots.md (included by docs/accuracy.md) and one plot
per sensor, OUTPUT-FOLDER/<sensor>.png.
"""
import csv
import json
import sys
from collections import defaultdict
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
SENSORS = ROOT / "data" / "sensors"
ZERO_CELSIUS = 273.15


class Thermocouple:
    def __init__(self, name: str, entry: dict):
        self.name = name
        self.pieces = entry["pieces"]
        self.exponential = entry.get("exponential")
        self.offset_uv = entry.get("offset_microvolts", 0.0)

    def microvolts(self, celsius: np.ndarray) -> np.ndarray:
        """E(t) in µV, reference junction at 0 °C."""
        t = np.asarray(celsius, dtype=float)
        e = np.zeros_like(t)
        # Each later piece takes over above its lower end; the first also
        # covers everything below it, the last everything above.
        chosen = np.zeros(t.shape, dtype=int)
        for i, p in enumerate(self.pieces[1:], start=1):
            low = p["low"] if p["unit"] == "C" else (p["low"] - 32) * 5 / 9
            chosen[t > low] = i
        for i, p in enumerate(self.pieces):
            x = t if p["unit"] == "C" else t * 9 / 5 + 32
            value = np.zeros_like(t)
            for c in reversed(p["c"]):
                value = value * x + c
            e = np.where(chosen == i, value, e)
        if self.exponential:
            a = self.exponential
            e = e + np.where(t > 0, a["a0"] * np.exp(a["a1"] * (t - a["a2"]) ** 2), 0.0)
        return e * 1000 + self.offset_uv

    def celsius(self, uv: np.ndarray, low: float, high: float) -> np.ndarray:
        """The inverse by bisection between low and high °C (E rises there)."""
        lo = np.full(uv.shape, low, dtype=float)
        hi = np.full(uv.shape, high, dtype=float)
        for _ in range(64):
            mid = (lo + hi) / 2
            above = self.microvolts(mid) > uv
            hi = np.where(above, mid, hi)
            lo = np.where(above, lo, mid)
        return (lo + hi) / 2


def platinum_ratio(celsius: np.ndarray) -> np.ndarray:
    """R(t)/R(0) of the platinum characteristic the tables are built from."""
    a, b, c = 3.90802e-3, -5.802e-7, -4.2735e-12
    t = np.asarray(celsius, dtype=float)
    return 1 + a * t + b * t * t + np.where(t < 0, c * (t - 100) * t ** 3, 0.0)


def platinum_celsius(ratio: np.ndarray, low: float, high: float) -> np.ndarray:
    lo = np.full(ratio.shape, low)
    hi = np.full(ratio.shape, high)
    for _ in range(64):
        mid = (lo + hi) / 2
        above = platinum_ratio(mid) > ratio
        hi = np.where(above, mid, hi)
        lo = np.where(above, lo, mid)
    return (lo + hi) / 2


def table(name: str):
    with open(SENSORS / f"{name}.csv", newline="") as f:
        rows = list(csv.reader(f))[1:]
    return np.array([[float(a), float(b)] for a, b in rows])


def load(path: Path):
    data = defaultdict(list)
    with open(path, newline="") as f:
        for row in csv.DictReader(f):
            data[(row["sensor"], row["direction"])].append((float(row["input"]), float(row["output"])))
    return {k: np.array(v) for k, v in data.items()}


def plot(out: Path, title: str, kelvin: np.ndarray, error_k: np.ndarray, error_uv=None) -> None:
    rows = 2 if error_uv is not None else 1
    fig, axes = plt.subplots(rows, 1, figsize=(7, 2.4 * rows + 0.6), sharex=True, squeeze=False)
    order = np.argsort(kelvin)
    axes[0][0].plot(kelvin[order], error_k[order] * 1000, lw=0.6)
    axes[0][0].set_ylabel("error (mK)")
    if error_uv is not None:
        axes[1][0].plot(kelvin[order], error_uv[order], lw=0.6, color="tab:orange")
        axes[1][0].set_ylabel("error (µV)")
    axes[-1][0].set_xlabel("temperature (K)")
    axes[0][0].set_title(title)
    for row in axes:
        row[0].grid(True, lw=0.3)
    fig.tight_layout()
    fig.savefig(out, dpi=80)
    plt.close(fig)


def main(samples: Path, out: Path) -> None:
    out.mkdir(parents=True, exist_ok=True)
    data = load(samples)
    functions = json.loads((SENSORS / "reference_functions.json").read_text())["types"]
    lines = ["| type | range (K) | volts → kelvin: worst µV | worst K | kelvin → volts: worst µV | plot |",
             "|---|---|---|---|---|---|"]
    for name in sorted(functions):
        tc = Thermocouple(name, functions[name])
        rows = table(f"type_{name}")
        low_c, high_c = rows[0, 1], rows[-1, 1]  # the table's °C range
        v = data[(name, "volts_to_kelvin")]
        uv, lib_k = v[:, 0] * 1e6, v[:, 1]
        ref_c = tc.celsius(uv, low_c - 5, high_c + 5)
        err_k = lib_k - (ref_c + ZERO_CELSIUS)
        err_uv = tc.microvolts(lib_k - ZERO_CELSIUS) - uv
        k = data[(name, "kelvin_to_volts")]
        inverse_uv = k[:, 1] * 1e6 - tc.microvolts(k[:, 0] - ZERO_CELSIUS)
        png = f"type_{name}.png"
        plot(out / png, f"type {name}: library minus reference, volts → kelvin", ref_c + ZERO_CELSIUS, err_k, err_uv)
        lines.append(f"| {name} | {low_c + ZERO_CELSIUS:.2f} to {high_c + ZERO_CELSIUS:.2f} | "
                     f"{np.max(np.abs(err_uv)):.3f} | {np.max(np.abs(err_k)):.5f} | "
                     f"{np.max(np.abs(inverse_uv)):.3f} | {png[:-4]} |")
    (out / "thermocouples.md").write_text("\n".join(lines) + "\n", encoding="utf-8")
    lines = ["| sensor | reference | range (K) | worst K | plot |", "|---|---|---|---|---|"]
    for name, what in [("platinum", "function"), ("cold_junction", "function"), ("diode_curve1", "table"),
                       ("diode_curve2", "table"), ("ptc_1000_25", "table"), ("ptc_2000_25", "table"),
                       ("ptc_1000_25_180", "table"), ("ptc_1000_100", "table")]:
        rows = table(name)
        s = data[(name, "x_to_kelvin")]
        if what == "function":
            low_c, high_c = rows[:, 1].min() - ZERO_CELSIUS, rows[:, 1].max() - ZERO_CELSIUS
            ref_k = platinum_celsius(s[:, 0], low_c - 5, high_c + 5) + ZERO_CELSIUS
            lib_k = s[:, 1]
            label = "R/R0 formula"
        else:
            # Only the published rows are known: compare there.
            at_rows = np.isin(s[:, 0].astype(np.float32), rows[:, 0].astype(np.float32))
            lookup = dict(zip(rows[:, 0].astype(np.float32).tolist(), rows[:, 1].tolist()))
            lib_k = s[at_rows, 1]
            ref_k = np.array([lookup[x] for x in s[at_rows, 0].astype(np.float32).tolist()])
            label = "table rows"
        err_k = lib_k - ref_k
        png = f"{name}.png"
        plot(out / png, f"{name}: library minus reference ({label})", ref_k, err_k)
        lines.append(f"| {name} | {label} | {rows[:, 1].min():.2f} to {rows[:, 1].max():.2f} | "
                     f"{np.max(np.abs(err_k)):.5f} | {png[:-4]} |")
    (out / "sensors.md").write_text("\n".join(lines) + "\n", encoding="utf-8")
    plots = sorted(out.glob("*.png"))
    (out / "plots.md").write_text("".join(f"### {p.stem}\n\n![{p.stem}]({p.name})\n\n" for p in plots),
                                  encoding="utf-8")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(Path(sys.argv[1]), Path(sys.argv[2]))
