"""Checks, for the demo, that a sound card played exactly the DSD stream the
sink received: the card's DSD_U32_BE capture against the sink's DSF file.
usage: demo-compare-card.py PLAYED.raw STREAM.dsf"""
import sys

played = open(sys.argv[1], "rb").read()
dsf = open(sys.argv[2], "rb").read()
# The card's frames: 4 DSD bytes of the left channel, then 4 of the right,
# the oldest bit first.
frames = range(0, len(played) - 7, 8)
card = [b"".join(played[i + 4 * c:i + 4 * c + 4] for i in frames) for c in (0, 1)]
# The DSF file: its data chunk in blocks of 4096 bytes per channel, each
# byte's oldest bit last.
data = dsf[dsf.index(b"data") + 12:]
flip = bytes(int(f"{b:08b}"[::-1], 2) for b in range(256))
blocks = [data[i:i + 4096] for i in range(0, len(data), 4096)]
received = [b"".join(blocks[c::2]).translate(flip) for c in (0, 1)]
same = all(card[c] and received[c].startswith(card[c]) for c in (0, 1))
print(f"  the card played {len(card[0])} DSD bytes per channel: "
      + ("the stream as the sink received it" if same else "NOT the stream the sink received"))
sys.exit(0 if same else 1)
