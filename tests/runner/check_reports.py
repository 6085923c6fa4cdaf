#!/usr/bin/python3
"""Checks a qualrun results directory as a CI system and a reader would, and
prints it in short: results.json against its schema, the JUnit report against
the project's XSD with its counts recounted, one line per run.

    check_reports.py SCHEMA-DIR RESULTS-DIR
"""
import json
import os
import subprocess
import sys
import xml.etree.ElementTree as ET

import jsonschema

schemas, results = sys.argv[1], sys.argv[2]
problems = []
with open(f"{schemas}/results.schema.json") as f:
    schema = json.load(f)
with open(f"{results}/results.json") as f:
    doc = json.load(f)
jsonschema.Draft202012Validator.check_schema(schema)
for e in jsonschema.Draft202012Validator(schema).iter_errors(doc):
    problems.append(f"results.json: {e.message} at {list(e.absolute_path)}")
kinds, levels = {}, []
# A runner killed outright has written no JUnit report yet.
if os.path.exists(f"{results}/junit.xml"):
    x = subprocess.run(["xmllint", "--noout", "--schema", f"{schemas}/junit.xsd",
                        f"{results}/junit.xml"], capture_output=True, text=True)
    if x.returncode != 0:
        problems.append("junit.xml: " + x.stderr.strip())
    root = ET.parse(f"{results}/junit.xml").getroot()
    levels = [root] + root.findall("testsuite")
for level in levels:
    cases = level.iter("testcase")
    counted = {"tests": 0, "failures": 0, "errors": 0, "skipped": 0}
    for c in cases:
        counted["tests"] += 1
        for k, tag in (("failures", "failure"), ("errors", "error"), ("skipped", "skipped")):
            if c.find(tag) is not None:
                counted[k] += 1
                kinds[c.get("name")] = tag
        kinds.setdefault(c.get("name"), "pass")
        if not c.get("classname").startswith(doc["job"]["host"] + "."):
            problems.append(f"junit.xml: classname {c.get('classname')}")
    for k, v in counted.items():
        if level.get(k) != str(v):
            problems.append(f"junit.xml: {level.tag} says {k}={level.get(k)}, has {v}")
job = doc["job"]
print(f"job {job['plan_name']} exit {job['exit_status']}")
for r in doc["runs"]:
    # Only the tests' own kernel lines: others come from the rest of the machine.
    k = [l for l in (r["kernel"] or {}).get("lines", []) if "qualrun-test" in l["text"]]
    print(f"{r['name']}: {r['outcome']}, exit {r['exit']}, junit {kinds.get(r['name'])}"
          + "".join(f"; {x}" for x in r["reasons"])
          + (f"; kernel {len(k)}" if k else ""))
for l in job["kernel_outside"]["lines"]:
    if "qualrun-test" in l["text"]:
        print(f"job kernel, after {l['after']}: {l['text']}")
for p in problems:
    print("PROBLEM " + p)
