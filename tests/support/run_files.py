#!/usr/bin/env python3
"""Reads a run report or a metrics file of busytime-harvest the way their
consumers do (json, the Prometheus client's own parser) and prints what they
hold, one fact per line, for the tests to compare. Exits non-zero when a file
does not parse."""
import datetime
import json
import sys


def report(path):
    with open(path, encoding="utf-8") as f:
        r = json.load(f)
    times = [datetime.datetime.strptime(r[k], "%Y-%m-%dT%H:%M:%SZ") for k in ("started", "finished")]
    print("times", "ok" if times[0] <= times[1] else "backwards")
    for key in ("exit_code", "profiles", "written", "skipped", "profiles_skipped"):
        print(key, r[key])
    for u in r["users"]:
        seconds = "ok" if isinstance(u["seconds"], (int, float)) and u["seconds"] >= 0 else "bad"
        print("user", u["address"], u["url"], u["outcome"], u["reason"], u["http_status"],
              u["bytes"], u["periods"], seconds, sep=" | ")


def metrics(path):
    from prometheus_client.parser import text_string_to_metric_families
    with open(path, encoding="utf-8") as f:
        text = f.read()
    for family in text_string_to_metric_families(text):
        print(family.type, family.name, "documented" if family.documentation else "undocumented")
        for s in family.samples:
            labels = ",".join(f"{k}={v}" for k, v in sorted(s.labels.items()))
            value = "now" if s.name.endswith("timestamp_seconds") and s.value > 1.6e9 else s.value
            value = "small" if s.name.endswith("duration_seconds") and 0 <= s.value < 60 else value
            print(" ", s.name, labels, value)


{"report": report, "metrics": metrics}[sys.argv[1]](sys.argv[2])
