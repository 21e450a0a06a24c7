#!/usr/bin/env python3
"""Runs cjsim with --json, --csv and --timeline on the default scenario and checks the files
against the shapes docs/simulator.md documents, and that a file that cannot be written fails the
run: before it when its folder is missing, after it when the write fails.
Usage: check_results.py OUTDIR [EMULATOR...] CJSIM"""
import csv
import json
import os
import subprocess
import sys
import xml.etree.ElementTree as ET

out_dir, cjsim = sys.argv[1], sys.argv[2:]
os.makedirs(out_dir, exist_ok=True)
paths = {k: os.path.join(out_dir, "result." + k) for k in ("json", "csv", "svg")}
run = subprocess.run(cjsim + ["--quiet", "--json", paths["json"], "--csv", paths["csv"],
                              "--timeline", paths["svg"]], capture_output=True, text=True)
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def shape(obj, fields, where):
    """fields: name -> type (or tuple of types); every name present with that type."""
    for name, kind in fields.items():
        check(name in obj and isinstance(obj[name], kind), f"{where}.{name}: {obj.get(name)!r}")


check(run.returncode == 0, f"exit code {run.returncode}: {run.stderr}")
with open(paths["json"], encoding="utf-8") as f:
    doc = json.load(f)
count = int
shape(doc, {"scenario": str, "duration": count, "threads": count, "seed": count,
            "module": str, "optimizer": count, "exitCode": count, "verification": dict, "peak": dict, "cycles": list,
            "collectionJobs": list, "singleJobs": list, "events": list}, "result")
v = doc["verification"]
shape(v, {"passed": bool, "reads": count, "values": count, "mismatches": count, "errors": count,
          "ivar": dict, "ydb": dict, "problems": list}, "verification")
check(v["passed"] and v["values"] == v["ivar"]["values"] + v["ydb"]["values"] > 0,
      f"verification counts {v}")
for k in doc["cycles"]:
    shape(k, {"service": str, "cycle": count, "type": count, "singleJobs": count,
              "jobsWithout": count, "jobsWith": count, "collectionJobs": count,
              "namesRequested": count, "namesReformed": count, "readsWithout": (int, float),
              "readsWith": (int, float)}, "cycles[]")
job_fields = {"rt": count, "es": count, "created": count, "deleted": (int, type(None)),
              "ranges": list, "clients": list, "executions": count, "elementsRead": count,
              "elementsWithout": count}
rts = set()
for cj in doc["collectionJobs"]:
    shape(cj, {"service": str, "cycle": count, "type": count, "ids": list, "recreations": count,
               "controllerJobsCreated": count, "controllerJobsDeleted": count,
               "elementsRead": count, "elementsWithout": count, "controllerJobs": list},
          "collectionJobs[]")
    check(cj["recreations"] == len(cj["ids"]) - 1, f"recreations of {cj['ids']}")
    check(sum(j["elementsRead"] for j in cj["controllerJobs"]) == cj["elementsRead"],
          f"elements read of {cj['ids']}")
    for j in cj["controllerJobs"]:
        shape(j, job_fields, "controllerJobs[]")
        rts.add(j["rt"])
for sj in doc["singleJobs"]:
    shape(sj["job"], job_fields, "singleJobs[].job")
    rts.add(sj["job"]["rt"])
# The default scenario merges: some collection job reads fewer elements than its clients asked.
check(any(cj["elementsRead"] < cj["elementsWithout"] for cj in doc["collectionJobs"]
          if cj["service"] == "IVar"), "no IVar collection job saved reads")
check(any(cj["recreations"] >= 2 for cj in doc["collectionJobs"]), "no job re-created twice")
kinds = {e["kind"] for e in doc["events"]}
check({"start", "cancel", "controller"} <= kinds, f"event kinds {kinds}")

with open(paths["csv"], newline="", encoding="utf-8") as f:
    rows = list(csv.DictReader(f))
check([(r["service"], int(r["cycle"]), int(r["type"]), int(r["jobs_with"])) for r in rows] ==
      [(k["service"], k["cycle"], k["type"], k["jobsWith"]) for k in doc["cycles"]],
      "CSV rows differ from the JSON cycles")

svg = ET.parse(paths["svg"]).getroot()
lanes = [g for g in svg.iter("{http://www.w3.org/2000/svg}g")]
check(len(lanes) == len(rts), f"{len(lanes)} lanes for {len(rts)} controller jobs")

# A result file in a missing folder is refused before the run (no header printed), exit 2.
bad = os.path.join(out_dir, "no-such-dir", "x.json")
run = subprocess.run(cjsim + ["--quiet", "--json", bad], capture_output=True, text=True)
check(run.returncode == 2 and f"cannot write '{bad}'" in run.stderr and run.stdout == "",
      f"JSON in a missing folder: exit {run.returncode}, {run.stderr!r}, {run.stdout[:80]!r}")
# One that fails while being written (a full disk) fails after a verified run, exit 3.
if len(cjsim) == 1 and os.path.exists("/dev/full"):
    run = subprocess.run(cjsim + ["--quiet", "--csv", "/dev/full"], capture_output=True,
                         text=True)
    check(run.returncode == 3 and "cannot write '/dev/full'" in run.stderr and
          "Verification PASSED" in run.stdout,
          f"CSV on a full disk: exit {run.returncode}, {run.stderr!r}")

for f in failures:
    print("FAILED:", f)
print("result files checked:", "FAILED" if failures else "OK")
sys.exit(1 if failures else 0)
