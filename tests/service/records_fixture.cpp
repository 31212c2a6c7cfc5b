// Fixture of the records test.

extern const char *const fullJson;
const char *const fullJson = R"json({
  "api_version": 1, "version": "0.9.4 (212)", "computer_id": "7C2E41A0", "name": "Ana’s MacBook Pro",
  "capabilities": ["receive_transfer", "fast_copy", "multi_drive"], "control_busy": false, "uptime": 8812.5,
  "connection_issues": [{"kind": "update_required", "interface_index": 14, "peer_protocol": 2, "required_protocol": 3, "message": "Update."},
                        {"kind": "link_down", "interface_index": 4294967296, "peer_protocol": -1, "message": 7}],
  "peers": [
    {"id": "peer-a1", "name": "Bo’s iMac", "interface_index": 14, "link_speed": {"to_peer_bps": 40000000000, "from_peer_bps": 38000000000},
     "pairing_code": "5KQ2-77", "choice_required": false, "sharing": {"mode": "drive", "locations": [{"path": "/", "uuid": "x"}], "access": "read_write"},
     "remote_receive": true, "remote_share": {"label": "Bo’s Documents", "read_only": true},
     "mount": "/Volumes/Bo’s Documents", "ejected": false, "error": null, "future_key": {"x": [1, 2]}},
    {"id": "peer-b2", "name": "Studio \"Mac\" \\ 東京", "interface_index": 4294967295, "pairing_code": "", "choice_required": true,
     "sharing": {"mode": "receive", "folder": {"path": "/In"}}, "remote_receive": null, "ejected": true, "error": "Couldn’t mount."}],
  "remembered_computers": [{"id": "peer-c3", "name": "Old Mini \ud83d\ude80", "share": {"mode": "none"}}],
  "transfers": [{"id": "t1", "peer": "peer-a1", "state": "completed", "name": "Holiday.mov", "bytes": 39845888,
                 "total_bytes": 39845888, "delivered_items": 1, "delivered_files": 1, "seconds": 0.42, "skipped": 0}],
  "copies": [{"id": "c2", "peer": "peer-a1", "direction": "push", "name": "Archive", "destinations": ["/Volumes/Bo/Archive"],
              "state": "copying", "bytes": 10, "total_bytes": 100, "files": 1, "total_files": 9, "scanned": true,
              "bits_per_second": 8000000000, "error": null, "skipped": 3, "problem": {"path": "/d", "reason": "Input/output error"},
              "skipped_items": [{"path": "/a", "reason": "Permission denied"}, {"path": "/c", "reason": "Name too long"}]}],
  "event_sequence": 18446744073709551615
})json";
