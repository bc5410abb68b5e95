"""The SBOM's checks: the CycloneDX schema, offline, and what BSI TR-03183-2 and the release
ask of every component."""

import json
import os
import re
import subprocess
import sys

from thirdparty.debian import fail
from thirdparty.sbom import PROJECT, TOOLS, everything


def validate(path, schema_dir):
    import jsonschema  # Debian's python3-jsonschema

    store = {}
    for name in ("bom-1.6", "spdx", "jsf-0.82"):
        with open(os.path.join(schema_dir, f"{name}.SNAPSHOT.schema.json"), encoding="utf-8") as f:
            schema = json.load(f)
        # By its own id and by the name that the others refer to it by: nothing is fetched.
        store[schema["$id"]] = schema
        store[f"http://cyclonedx.org/schema/{name}.SNAPSHOT.schema.json"] = schema
    bom_schema = store["http://cyclonedx.org/schema/bom-1.6.schema.json"]
    def refuse(uri):
        fail(f"the schema refers to {uri}, which is not here; nothing is fetched")

    resolver = jsonschema.RefResolver(bom_schema["$id"], bom_schema, store=store,
                                      handlers={"http": refuse, "https": refuse})
    with open(path, encoding="utf-8") as f:
        document = json.load(f)
    errors = sorted(jsonschema.Draft7Validator(bom_schema, resolver=resolver).iter_errors(document),
                    key=lambda e: list(e.absolute_path))
    for error in errors:
        print(f"{path}: {'/'.join(map(str, error.absolute_path))}: {error.message[:200]}")
    if errors:
        sys.exit(1)
    print(f"{path}: valid CycloneDX 1.6")


# Debian's node-spdx-expression-parse: whatever it refuses, or a deprecated id, is no licence.
SPDX_PARSER = """
const parse = require("spdx-expression-parse");
const deprecated = require("spdx-license-ids/deprecated");
for (const e of JSON.parse(require("fs").readFileSync(0, "utf8"))) {
  try {
    const ids = JSON.stringify(parse(e)).match(/"license":"[^"]*"/g) || [];
    for (const id of ids) if (deprecated.includes(id.slice(11, -1))) throw "deprecated " + id;
  } catch (error) { console.log(e + ": " + error); }
}
"""


# ScanCode's form of a LicenseRef, or one that names the owner and the licence (BSI TR-03183-2).
LICENSE_REF = re.compile(r"^LicenseRef-(scancode-[a-z0-9.+-]+|[A-Z][A-Za-z]*(-[A-Za-z0-9.]+){2,})$")
FILE_PROPERTIES = ("filename", "executable", "archive", "structured")


def check_sbom(path, notices_path):
    with open(path, encoding="utf-8") as f:
        bom = json.load(f)
    with open(notices_path, encoding="utf-8") as f:
        notices_text = f.read().replace("\r\n", "\n")
    meta, problems = bom["metadata"], []
    for field in ("authors", "supplier", "manufacturer", "lifecycles", "component"):
        if not meta.get(field):
            problems.append(f"metadata has no {field}")
    tools = meta.get("tools", {})
    if not isinstance(tools, dict) or not all(t and t.get("name") and t.get("version")
                                              for t in tools.get("components") or [None]):
        problems.append("metadata.tools names no components with their versions")
    named = {t.get("name") for t in tools.get("components", [])} if isinstance(tools, dict) else {}
    problems += [f"metadata.tools does not name {t}" for t in TOOLS if t not in named]
    if {"phase": "build"} not in meta.get("lifecycles", []):
        problems.append("metadata.lifecycles has no build phase")
    supplier = meta.get("supplier", {})
    if supplier.get("name") != PROJECT and not supplier.get("contact"):
        problems.append(f"the publisher {supplier.get('name')} is named without a contact")

    refs, purls, licenses = [], set(), []
    for component, name, pedigree in everything(meta["component"], bom.get("components", [])):
        # The system that the exe runs on cannot have a hash, an SPDX licence or a purl.
        system = component.get("type") == "operating-system" or \
            component.get("bom-ref", "").startswith("windows:")
        wanted = ["bom-ref", "version", "supplier"]
        wanted += [] if system else ["purl"] + ([] if pedigree else ["licenses"])
        problems += [f"{name} has no {field}" for field in wanted if not component.get(field)]
        if "bom-ref" in component:
            if component["bom-ref"] in refs:
                problems.append(f"{name}'s bom-ref {component['bom-ref']} is not its own")
            refs.append(component["bom-ref"])
        # One source package may be the ancestor of several: only delivered components' purls
        # must be their own.
        if not pedigree and "purl" in component:
            if component["purl"] in purls:
                problems.append(f"{name}'s purl {component['purl']} is not its own")
            purls.add(component["purl"])
        given = [p["name"] for p in component.get("properties", [])]
        filenames = given.count("bsi:component:filename")
        if filenames:
            if filenames != 1:
                problems.append(f"{name} names {filenames} files, not one")
            problems += [f"{name} has no bsi:component:{p}" for p in FILE_PROPERTIES
                         if "bsi:component:" + p not in given]
            if not system and not any(h["alg"] == "SHA-512" for h in component.get("hashes", [])):
                problems.append(f"{name} names a file without its SHA-512")
        else:
            if component.get("type") in ("file", "application"):
                problems.append(f"{name} is a file that names no file")
            problems += [f"{name}, a logical part, has bsi:component:{p}" for p in FILE_PROPERTIES
                         if "bsi:component:" + p in given]
        for entry in component.get("licenses", []):
            licenses.append(entry.get("expression") or entry["license"].get("id", "?"))
            ack = entry.get("acknowledgement") or entry.get("license", {}).get("acknowledgement")
            if ack not in ("declared", "concluded"):
                problems.append(f"{name}'s licence is neither declared nor concluded")
        if component.get("type") == "application" and \
                component.get("manufacturer", {}).get("name") != PROJECT:
            problems.append(f"{name}'s manufacturer is not its makers, {PROJECT}")

    entries = [d["ref"] for d in bom.get("dependencies", [])]
    for dependency in bom.get("dependencies", []):
        for ref in [dependency["ref"]] + dependency.get("dependsOn", []):
            if ref not in refs:
                problems.append(f"the dependency graph names {ref}, which no component is")
    problems += [f"{ref} has {entries.count(ref) or 'no'} dependency entries, not one"
                 for ref in refs if entries.count(ref) != 1]
    stated = {r for c in bom.get("compositions", []) for r in c.get("dependencies", [])}
    problems += [f"no composition says how complete {ref}'s dependencies are"
                 for ref in refs if ref not in stated]
    runtime = [d for d in bom.get("dependencies", []) if d["ref"].startswith("runtime:")]
    if not any(any(r.startswith("runtime:") for r in d.get("dependsOn", [])) for d in runtime):
        problems.append("no runtime part depends on another: the linker's graph is missing")
    systems = [c for c in bom.get("components", []) if c.get("type") == "operating-system"]
    outside = {part["bom-ref"] for system in systems for part in system.get("components", [])}
    if not outside or not any(outside <= set(d.get("dependsOn", []))
                              for d in bom.get("dependencies", [])):
        problems.append("no component depends on the operating system's DLLs")

    parsed = subprocess.run(["node", "-e", SPDX_PARSER], input=json.dumps(sorted(set(licenses))),
                            capture_output=True, text=True, check=True,
                            env={**os.environ, "NODE_PATH": "/usr/share/nodejs"}).stdout
    problems += [f"not a valid SPDX expression: {line}" for line in parsed.splitlines()]
    for ref in sorted(set(re.findall(r"LicenseRef-[\w.+-]+", " ".join(licenses)))):
        if not LICENSE_REF.match(ref):
            problems.append(f"{ref} is in none of BSI's forms of a LicenseRef")
        if f"-- {ref} " not in notices_text and f"SPDX: {ref}\n" not in notices_text:
            problems.append(f"{notices_path} has no text under the name {ref}")
    for problem in problems:
        print(f"{path}: {problem}")
    if problems:
        fail(f"{len(problems)} problems in {path}")
    print(f"{path}: {len(refs)} components identified, {len(set(licenses))} licences valid")
