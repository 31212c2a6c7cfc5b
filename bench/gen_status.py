#!/usr/bin/env python3
"""Writes ServiceStatus documents shaped like the service's, for bench_decode.

    gen_status.py OUTDIR

makes status-2k.json, status-100k.json and status-1m.json (about 2 KiB, 100 KiB and
just under 1 MiB, the largest reply the client accepts). The seed is fixed, so every
build gets the same bytes. The documents hold non-ASCII names, escaped quotes and
backslashes, and an event_sequence above 2^63 - 1.
"""

import json
import os
import random
import sys

SIZES = {"status-2k.json": 2 * 1024, "status-100k.json": 100 * 1024, "status-1m.json": 1024 * 1024 - 512}

NAMES = ["Zoë’s MacBook Pro", "東京オフィス", "Café \"Luna\"", "Bo’s iMac", "Студия", "Ana's Mini",
         "Büro 2 \\ Keller", "Mañana", "Ελένη", "Studio ✦ 7"]
FILES = ["Holiday.mov", "Fotos 2024", "Präsentation.key", "写真", "report \"final\".pdf", "Backup\\old",
         "Übersicht.numbers", "Projekt Ärger", "🎵 Mixes", "notes.txt"]
REASONS = ["Permission denied", "Operation not permitted", "File name too long", "Input/output error",
           "The file “x” couldn’t be opened."]


def peer(rng, i):
    name = rng.choice(NAMES)
    share_mode = rng.choice(["drive", "folder", "receive", "none"])
    sharing = {"mode": share_mode}
    if share_mode == "drive":
        sharing["locations"] = [{"path": "/"}, {"path": "/Volumes/" + rng.choice(FILES)}]
        sharing["access"] = rng.choice(["read_only", "read_write"])
    elif share_mode == "folder":
        sharing["location"] = {"path": "/Users/ana/" + rng.choice(FILES)}
        sharing["access"] = "read_write"
    elif share_mode == "receive":
        sharing["folder"] = {"path": "/Users/ana/Downloads"}
    p = {
        "id": "peer-%04d-%08x" % (i, rng.getrandbits(32)),
        "name": name,
        "interface_index": rng.randrange(1, 2**32),
        "link_speed": {"to_peer_bps": rng.choice([40, 20, 10]) * 10**9,
                       "from_peer_bps": rng.choice([40, 20, 10]) * 10**9},
        "pairing_code": "%04X-%02d" % (rng.getrandbits(16), rng.randrange(100)),
        "choice_required": rng.random() < 0.2,
        "sharing": sharing,
        "remote_receive": rng.random() < 0.5,
        "remote_share": {"label": name + " – Documents", "read_only": rng.random() < 0.3},
        "mount": "/Volumes/" + name,
        "ejected": False,
    }
    if rng.random() < 0.2:
        p["error"] = "Couldn’t mount “%s”." % name
    return p


def transfer(rng, peers):
    total = rng.randrange(1, 2**40)
    state = rng.choice(["preparing", "sending", "verifying", "completed", "failed", "cancelled"])
    t = {
        "id": "%032x" % rng.getrandbits(128),
        "peer": rng.choice(peers)["id"],
        "state": state,
        "name": rng.choice(FILES),
        "bytes": rng.randrange(0, total + 1),
        "total_bytes": total,
        "delivered_items": rng.randrange(0, 5000),
    }
    if state in ("completed", "failed", "cancelled"):
        t["delivered_files"] = rng.randrange(0, 5000)
        t["seconds"] = round(rng.uniform(0.01, 5000), 3)
        t["skipped"] = rng.randrange(0, 3)
    if state == "failed":
        t["error"] = rng.choice(REASONS)
    return t


def copy(rng, peers):
    total = rng.randrange(1, 2**40)
    files = rng.randrange(1, 10**6)
    state = rng.choice(["copying", "done", "failed", "cancelled"])
    name = rng.choice(FILES)
    c = {
        "id": "%032x" % rng.getrandbits(128),
        "peer": rng.choice(peers)["id"],
        "direction": rng.choice(["pull", "push"]),
        "name": name,
        "destinations": ["/Users/ana/Downloads/" + name, "/Users/ana/Downloads/" + rng.choice(FILES)],
        "state": state,
        "bytes": rng.randrange(0, total + 1),
        "total_bytes": total,
        "files": rng.randrange(0, files + 1),
        "total_files": files,
        "scanned": rng.random() < 0.7,
        "bits_per_second": rng.randrange(0, 4 * 10**10),
    }
    if state == "failed":
        c["error"] = rng.choice(REASONS)
    skipped = rng.randrange(0, 4)
    if skipped:
        c["skipped"] = skipped
        c["skipped_items"] = [{"path": "/Volumes/Bo/%s/%d" % (rng.choice(FILES), k), "reason": rng.choice(REASONS)}
                              for k in range(skipped)]
    if state == "copying" and rng.random() < 0.2:
        c["problem"] = {"path": "/Volumes/Bo/" + rng.choice(FILES), "reason": rng.choice(REASONS)}
    return c


def status(rng, peers, remembered, transfers, copies):
    return {
        "api_version": 1,
        "version": "0.9.4 (212)",
        "computer_id": "7C2E41A0-0B7D-4E0F-9D3B-2F1A5C6E8B90",
        "name": "Ana’s MacBook Pro",
        "capabilities": ["receive_transfer", "fast_copy", "multi_drive", "dismiss"],
        "control_busy": False,
        "connection_issues": [{"kind": "update_required", "interface_index": 14, "peer_protocol": 2,
                               "required_protocol": 3, "message": "The other Mac needs a newer Corvane."}],
        "peers": peers,
        "remembered_computers": remembered,
        "transfers": transfers,
        "copies": copies,
        "event_sequence": 2**63 + 12345,
    }


def encode(doc):
    return json.dumps(doc, ensure_ascii=False, separators=(",", ":")).encode("utf-8")


def generate(target, seed):
    rng = random.Random(seed)
    peers = [peer(rng, 0)]
    remembered = [{"id": peers[0]["id"], "name": peers[0]["name"], "share": peers[0]["sharing"]}]
    transfers, copies = [], []
    size = len(encode(status(rng, peers, remembered, transfers, copies)))

    def added(items, item):
        return len(encode(item)) + (1 if items else 0)

    # Grow the lists in a fixed mix (a few peers, mostly transfers, some copies) while
    # the document stays within the target; the smallest kind fills the rest.
    step = 0
    while True:
        kind = step % 4
        step += 1
        if kind == 0 and len(peers) < 64:
            p = peer(rng, len(peers))
            r = {"id": p["id"], "name": p["name"], "share": p["sharing"]}
            grow = added(peers, p) + added(remembered, r)
            if size + grow <= target:
                peers.append(p)
                remembered.append(r)
                size += grow
                continue
        elif kind == 3:
            c = copy(rng, peers)
            if size + added(copies, c) <= target:
                size += added(copies, c)
                copies.append(c)
                continue
        t = transfer(rng, peers)
        if size + added(transfers, t) > target:
            break
        size += added(transfers, t)
        transfers.append(t)
    data = encode(status(rng, peers, remembered, transfers, copies))
    assert len(data) == size and len(data) <= target, (len(data), size)
    return data


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: gen_status.py OUTDIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for index, (name, target) in enumerate(sorted(SIZES.items())):
        data = generate(target, seed=20261206 + index)
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
