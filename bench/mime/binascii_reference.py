"""Times Python's C encoders on a file: prints the best seconds of one call.

Usage: binascii_reference.py base64|qp <file> <repetitions>
"""

import binascii
import sys
import time


def main():
    kind, path, repetitions = sys.argv[1], sys.argv[2], int(sys.argv[3])
    with open(path, "rb") as handle:
        data = handle.read()
    if kind == "base64":
        # 54 input bytes a line, as the message encoder writes them.
        def encode():
            return b"".join(binascii.b2a_base64(data[i:i + 54]) for i in range(0, len(data), 54))

        def encode_flat():
            return binascii.b2a_base64(data, newline=False)
    else:
        def encode():
            return binascii.b2a_qp(data)

        encode_flat = encode
    best = best_flat = float("inf")
    for _ in range(repetitions):
        start = time.perf_counter()
        encode()
        best = min(best, time.perf_counter() - start)
        start = time.perf_counter()
        encode_flat()
        best_flat = min(best_flat, time.perf_counter() - start)
    print("%.9f %.9f" % (best, best_flat))


if __name__ == "__main__":
    main()
