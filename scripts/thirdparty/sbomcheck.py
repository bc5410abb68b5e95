"""The SBOM's checks: the CycloneDX schema, offline, and what BSI TR-03183-2 and the release
ask of every component."""

import json
import os
import re
import subprocess
import sys
import tempfile

from thirdparty.debian import fail
from thirdparty.linkmap import stub_stem
from thirdparty.sbom import PROJECT, TOOLS, everything


def validate(path, schema_dir):
    import jsonschema  # Debian's python3-jsonschema

    store = {}
    for name in ("bom-1.7", "spdx", "jsf-0.82", "cryptography-defs"):
        with open(os.path.join(schema_dir, f"{name}.SNAPSHOT.schema.json"), encoding="utf-8") as f:
            schema = json.load(f)
        # By its own id and by the name that the others refer to it by: nothing is fetched.
        store[schema["$id"]] = schema
        store[f"http://cyclonedx.org/schema/{name}.SNAPSHOT.schema.json"] = schema
    bom_schema = store["http://cyclonedx.org/schema/bom-1.7.schema.json"]
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
    print(f"{path}: valid CycloneDX 1.7")


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


# packageurl-js, the reference JavaScript library of purls: a purl that it writes otherwise than
# it reads is not in the canonical form.
PURL_PARSER = """
const { PackageURL } = require("packageurl-js");
for (const p of JSON.parse(require("fs").readFileSync(0, "utf8"))) {
  try {
    const canonical = PackageURL.fromString(p).toString();
    if (canonical !== p) console.log(p + ": canonically " + canonical);
  } catch (error) { console.log(p + ": " + error); }
}
"""


# ScanCode's form of a LicenseRef, or one that names the owner and the licence (BSI TR-03183-2).
LICENSE_REF = re.compile(r"^LicenseRef-(scancode-[a-z0-9.+-]+|[A-Z][A-Za-z]*(-[A-Za-z0-9.]+){2,})$")
# BSI's taxonomy: each component has each of these once, with one of its two values.
KINDS = {"executable": ("executable", "non-executable"), "archive": ("archive", "no archive"),
         "structured": ("structured", "unstructured")}
# The npm packages that the validators from outside come from (scripts/install-deps).
NPM = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "build", "npm",
                   "node_modules")


def entities(bom):
    """(where, organisation) for every organisation that the BOM names."""
    found = [(f"metadata.{k}", bom["metadata"][k]) for k in ("supplier", "manufacturer")
             if k in bom["metadata"]]
    found += [("metadata.authors", a) for a in bom["metadata"].get("authors", [])]
    for component, name, _ in everything(bom["metadata"]["component"], bom.get("components", [])):
        found += [(f"{name}'s {k}", component[k]) for k in ("supplier", "manufacturer")
                  if k in component]
    return found


def node(script, given, path):
    """What a script of node's prints, one line a finding, given `given` on its standard input:
    text as it is, or values as a JSON list."""
    text = given if isinstance(given, str) else json.dumps(sorted(set(given)))
    return subprocess.run(["node", "-e", script], input=text, capture_output=True, text=True,
                          check=True, env={**os.environ, "NODE_PATH": path}).stdout.splitlines()


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
    references = meta.get("component", {}).get("externalReferences", [])
    security = [r["url"] for r in references if r["type"] == "security-contact"]
    if supplier.get("name") != PROJECT and not security:
        problems.append(f"the publisher {supplier.get('name')} is named without a contact")
    if meta.get("manufacturer") != supplier:
        problems.append("metadata.manufacturer, who made the BOM, is not the release's supplier")
    for where, organisation in entities(bom):
        for contact in organisation.get("contact", []):
            if not contact.get("email") and not contact.get("phone"):
                problems.append(f"{where} gives a contact without an e-mail address")
    for url in security:
        if not re.match(r"^(mailto:[^@\s]+@[^@\s]+|https?://\S+)$", url):
            problems.append(f"the security contact {url} is no e-mail address or URL")
        elif url.startswith("mailto:") and \
                url[7:] not in [c.get("email") for c in supplier.get("contact", [])]:
            problems.append(f"the security contact {url} is not the supplier's e-mail address")
        elif not url.startswith("mailto:") and url not in supplier.get("url", []):
            problems.append(f"the security contact {url} is not among the supplier's URLs")

    refs, purls, licenses, distributed = [], set(), [], []
    for component, name, pedigree in everything(meta["component"], bom.get("components", [])):
        # The system that the exe runs on cannot have a hash: each Windows has its own.
        system = component.get("type") == "operating-system" or \
            component.get("bom-ref", "").startswith("windows:")
        wanted = ["bom-ref", "version", "supplier", "manufacturer", "purl", "licenses"]
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
        properties = component.get("properties", [])
        given = [p["name"] for p in properties]
        problems += [f"{name} has the property {p}, of no namespace of BSI's or the project's"
                     for p in given if not re.match(r"^(bsi|zoltmgr):", p)]
        for kind, values in KINDS.items():
            found = [p["value"] for p in properties if p["name"] == "bsi:component:" + kind]
            if len(found) != 1 or found[0] not in values:
                problems.append(f"{name} has bsi:component:{kind} {found or 'not'}, not once "
                                f"with one of {' or '.join(values)}")
        filenames = given.count("bsi:component:filename")
        # A file is a component of type file or application, or one of Windows' DLLs.
        is_file = component.get("type") in ("file", "application") or \
            component.get("bom-ref", "").startswith("windows:")
        if filenames != (1 if is_file else 0):
            problems.append(f"{name} names {filenames} files, where a "
                            f"{'file names one' if is_file else 'logical part names none'}")
        if is_file and not system and \
                not any(h["alg"] == "SHA-512" for h in component.get("hashes", [])):
            problems.append(f"{name} names a file without its SHA-512")
        acknowledged = []
        for entry in component.get("licenses", []):
            licenses.append(entry.get("expression") or entry["license"].get("id", "?"))
            ack = entry.get("acknowledgement") or entry.get("license", {}).get("acknowledgement")
            acknowledged.append(ack)
            if ack not in ("declared", "concluded"):
                problems.append(f"{name}'s licence is neither declared nor concluded")
            elif ack == "concluded":
                distributed.append(entry.get("expression") or entry["license"].get("id", "?"))
        # Where both are known: what the project delivers, and each Debian package.
        if (component.get("bom-ref", "").startswith(("ZOLTMgr-", "package:")) and not pedigree
                and sorted(acknowledged) != ["concluded", "declared"]):
            problems.append(f"{name} has not one declared and one concluded licence")
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
    # A part whose files are a DLL's import library binds to that DLL, and its dependencies are
    # complete only if they name it.
    dll_refs = {part["name"].lower(): part["bom-ref"] for system in systems
                for part in system.get("components", [])}
    graph = {d["ref"]: set(d.get("dependsOn", [])) for d in bom.get("dependencies", [])}
    for component, name, _ in everything(meta["component"], bom.get("components", [])):
        for file in component.get("components", []):
            dll = dll_refs.get(stub_stem(file.get("name", "")).lower() + ".dll")
            if dll and dll not in graph.get(component.get("bom-ref"), set()):
                problems.append(f"{name} holds {file['name']}, but its dependencies do not name "
                                f"{dll}, which its stubs bind to")
    problems += [f"not a purl in the canonical form: {line}"
                 for line in node(PURL_PARSER, purls | {c.get("purl") for c, _, _ in everything(
                     meta["component"], bom.get("components", [])) if c.get("purl")}, NPM)]

    problems += [f"not a valid SPDX expression: {line}"
                 for line in node(SPDX_PARSER, licenses, "/usr/share/nodejs")]
    for ref in sorted(set(re.findall(r"LicenseRef-[\w.+-]+", " ".join(licenses)))):
        if not LICENSE_REF.match(ref):
            problems.append(f"{ref} is in none of BSI's forms of a LicenseRef")
    # What is distributed carries its licences' texts; what a package declares of all that it
    # holds, or Windows, does not.
    for ref in sorted(set(re.findall(r"LicenseRef-[\w.+-]+", " ".join(distributed)))):
        if f"-- {ref} " not in notices_text and f"SPDX: {ref}\n" not in notices_text:
            problems.append(f"{notices_path} has no text under the name {ref}")
    for problem in problems:
        print(f"{path}: {problem}")
    if problems:
        fail(f"{len(problems)} problems in {path}")
    print(f"{path}: {len(refs)} components identified, {len(set(licenses))} licences valid")


# The CycloneDX library's strict JSON validator.
STRICT_VALIDATOR = """
const { Spec, Validation } = require("@cyclonedx/cyclonedx-library");
const validator = new Validation.JsonStrictValidator(Spec.Version.v1dot7);
validator.validate(require("fs").readFileSync(0, "utf8")).then(
  (errors) => { if (errors) console.log(JSON.stringify(errors)); },
  (error) => console.log(String(error)));
"""
# What a release cannot mend: the BOM carries no signature of its own (BSI does not ask for one:
# the signed SHA256SUMS covers the SBOM); and a release of the project's own while SECURITY.md
# names no contact has none to give.
UNSIGNED_BOM = "SCVS-2.4"
NO_CONTACT = "CRA-MIN-002"


def check_outside(path):
    """The validators of others: cdxgen's cdx-validate --strict and the CycloneDX library's strict
    JSON validator. No error but those that a release cannot mend."""
    version = subprocess.run(["node", "--version"], capture_output=True, text=True).stdout
    if int(re.sub(r"^v(\d+).*", r"\1", version.strip() or "v0")) < 20:
        print(f"{path}: not checked by cdx-validate, which needs Node.js 20 or later, not "
              f"{version.strip() or 'none'}")
        return
    with open(path, encoding="utf-8") as f:
        text = f.read()
    bom = json.loads(text)
    problems = [f"the CycloneDX library's strict validator: {line}"
                for line in node(STRICT_VALIDATOR, text, NPM)]
    # Its report goes to a file: it ends before a pipe has taken all of it.
    with tempfile.TemporaryDirectory() as scratch:
        written = os.path.join(scratch, "report.json")
        subprocess.run([os.path.join(NPM, ".bin", "cdx-validate"), "--strict", "-r", "json",
                        "-o", written, "-i", path], capture_output=True, text=True)
        with open(written, encoding="utf-8") as f:
            report = json.load(f)
    if not (report["schemaValid"] and report["deepValid"]):
        problems.append("cdx-validate finds it invalid by the schema or its deep checks")
    allowed = {UNSIGNED_BOM}
    security = [r for r in bom["metadata"]["component"].get("externalReferences", [])
                if r["type"] == "security-contact"]
    if not security:
        allowed.add(NO_CONTACT)
    errors = sorted({f["ruleId"] for f in report["findings"]
                     if f["status"] == "fail" and f["severity"] in ("high", "critical")})
    problems += [f"cdx-validate: {f['ruleId']}: {f['message']}" for f in report["findings"]
                 if f["ruleId"] in set(errors) - allowed and f["status"] == "fail"]
    for problem in problems:
        print(f"{path}: {problem}")
    if problems:
        fail(f"{len(problems)} problems in {path} by the validators of others")
    print(f"{path}: valid for the CycloneDX library's strict validator; cdx-validate --strict: "
          f"no error but {', '.join(errors) or 'none'}, which no release can mend"
          + ("" if NO_CONTACT not in errors else " while SECURITY.md names no contact"))
