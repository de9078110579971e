#!/usr/bin/env python3
"""Find every module on the local networks and print what each says it is.

    python3 find_modules.py [SERIAL ...]

Broadcasts on every local interface: run it only on a network where that is
welcome (for the simulated rack: varnode-sim --netns --exec 'python3 find_modules.py').
"""
import sys

import varnode


def main() -> int:
    serials = [int(word, 0) for word in sys.argv[1:]]
    try:
        addresses = varnode.find(serials or None)
    except varnode.NotFoundError:
        print("not every serial number answered within 1 s", file=sys.stderr)
        return 1
    if not addresses:
        print("no module answered")
        return 0
    print(f"{'address':<16}{'kind':<6}{'serial':>10}  {'name':<12}{'firmware':<10}status")
    for address in addresses:
        module = varnode.Module(address)
        try:
            info = module.info()
            status = module.status()
        except varnode.Error as failure:
            print(f"{str(address):<16}({failure})")
            continue
        bad = [item.name for item in status if not item.in_range]
        verdict = "ok" if status.ok else "out of range: " + ", ".join(bad)
        print(f"{str(address):<16}{info.text_2:<6}{info.serial_number:>10}  {info.text_22:<12}{info.text_7:<10}"
              f"{verdict}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
