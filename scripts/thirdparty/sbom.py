"""The SBOM's rules: what each component of the release is, who made and supplies it, its
licences, identifiers and dependencies, written as CycloneDX."""

import datetime
import hashlib
import json
import os
import re
import urllib.parse
import uuid

from thirdparty.debian import GXX, PACKAGES, deb_place, dpkg, fail, upstream_version
from thirdparty.linkmap import Notice, PARTS, classify, expression, graph, linked, requirements


# The scripts folder.
HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

PROJECT = "The ZOLTMgr developers"


def hashes(path, algorithms=("SHA-256", "SHA-512")):
    with open(path, "rb") as f:
        data = f.read()
    return [{"alg": a, "content": hashlib.new(a.replace("-", "").lower(), data).hexdigest()}
            for a in algorithms]


def file_properties(name, executable, archive, structured):
    """The properties that BSI TR-03183-2 asks of a component that is a file: one file name."""
    return [{"name": "bsi:component:filename", "value": name},
            {"name": "bsi:component:executable",
             "value": "executable" if executable else "non-executable"},
            {"name": "bsi:component:archive", "value": "archive" if archive else "no archive"},
            {"name": "bsi:component:structured",
             "value": "structured" if structured else "unstructured"}]


def licence(expression_text, acknowledgement):
    return [{"expression": expression_text, "acknowledgement": acknowledgement}]


# A purl's subpath is always a path within the package that the purl names: a file's path in a
# .deb, a folder of an upstream project's sources.
def deb_purl(package, version, arch, path=None):
    quoted = urllib.parse.quote(version, safe="")
    result = f"pkg:deb/debian/{package}@{quoted}?arch={arch}&distro=debian-12"
    return result + ("#" + urllib.parse.quote(path, safe="/") if path else "")


def upstream_purl(project, version, folder):
    return (f"pkg:generic/{project}@{urllib.parse.quote(version, safe='')}#"
            + urllib.parse.quote(folder, safe="/"))


def runtime_components(map_path):
    needed, _, by_file = requirements(map_path)
    files = {}
    for path, member in linked(map_path):
        files.setdefault(classify(path, member)[0]["name"], set()).add(path)
    debian = {"name": "Debian", "url": ["https://www.debian.org/"]}
    components = []
    for package, about in PACKAGES.items():
        version, arch = dpkg(package, "Version"), dpkg(package, "Architecture")
        homepage = dpkg(package, "Homepage")
        upstream = {"name": about["manufacturer"], **({"url": [homepage]} if homepage else {})}
        source = dpkg(package, "Source").split(" ")[0] or package
        source_version = dpkg(package, "source:Version")
        ancestors = [(source, source_version)]
        built_using = re.findall(r"([\w.+-]+) \(= ([^)]+)\)", dpkg(package, "Built-Using"))
        ancestors += [b for b in built_using if b[0] not in (a[0] for a in ancestors)]
        made = {"supplier": debian, "manufacturer": upstream}
        cpe = ({"cpe": f"cpe:2.3:a:gnu:{about['cpe']}:{upstream_version(package)}:*:*:*:*:*:*:*"}
               if about["cpe"] else {})
        parts = []
        for part in PARTS:
            if part["package"] != package or part["name"] not in needed:
                continue
            ref = "runtime:" + part["name"].replace(" ", "-")
            # A logical part: who made it, what it is, its licences and identifiers; its files
            # are its components.
            parts.append({
                "type": "library", "bom-ref": ref, "name": part["name"], **made,
                "version": upstream_version(package), **cpe,
                "description": f"Linked statically from Debian's {package} {version}: "
                               f"{part['linked']}.",
                "purl": upstream_purl(about["upstream"], upstream_version(package),
                                      part["subpath"]),
                "licenses": licence(expression(n for n, _ in needed[part["name"]].values()),
                                    "concluded"),
                "components": [{
                    "type": "file", "bom-ref": f"{ref}:{os.path.basename(path)}",
                    "name": os.path.basename(path), **made, "version": version,
                    "purl": deb_purl(package, version, arch, path.lstrip("/")),
                    "hashes": hashes(path, ("SHA-512",)),
                    # What its own members need.
                    "licenses": licence(expression(by_file[path].values()), "concluded"),
                    "properties": file_properties(os.path.basename(path), False,
                                                  path.endswith(".a"), path.endswith(".a")),
                } for path in sorted(files[part["name"]])],
            })
        if not parts:
            continue
        url, sha256 = deb_place(package, version)
        # Debian keeps a source package's files in the same folder as its binary packages.
        dsc = url.rsplit("/", 1)[0] + f"/{source}_{source_version.split(':')[-1]}.dsc"
        components.append({
            "type": "library", "bom-ref": "package:" + package, "name": package, **made,
            "version": version, **cpe,
            "description": "The Debian package that the build took the parts below from; known "
                           "by its purl and version, its .deb by the place and SHA-256 that "
                           "apt's lists give.",
            "purl": deb_purl(package, version, arch),
            # What the package's copyright file, its authors' statement, says of these parts.
            "licenses": licence(expression(
                n for part in PARTS if part["name"] in needed and part["package"] == package
                for n, _ in needed[part["name"]].values()), "declared"),
            "externalReferences": [
                {"type": "distribution", "url": url,
                 "hashes": [{"alg": "SHA-256", "content": sha256}]},
                {"type": "source-distribution", "url": dsc}],
            "pedigree": {"ancestors": [{"type": "library",
                                        "bom-ref": f"package:{package}:source:{name}",
                                        "name": name, "version": v, "supplier": debian,
                                        "purl": deb_purl(name, v, "source")}
                                       for name, v in ancestors]},
            "components": parts,
        })
    return components


MICROSOFT = {"name": "Microsoft Corporation", "url": ["https://www.microsoft.com/"]}
# The Windows that the manifest names, 7 to 11.
WINDOWS_VERSIONS = "6.1 to 10.0 (Windows 7 to 11)"


def windows_component(exe):
    """The first level of dependencies outside the delivery: Windows, and the DLLs that the exe
    imports, as its import table names them. They have no hash (each Windows has its own), no
    SPDX licence and no purl."""
    import pefile  # Debian's python3-pefile

    pe = pefile.PE(exe, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
    dlls = sorted(entry.dll.decode() for entry in pe.DIRECTORY_ENTRY_IMPORT)
    made = {"supplier": MICROSOFT, "manufacturer": MICROSOFT, "version": WINDOWS_VERSIONS}
    return {
        "type": "operating-system", "bom-ref": "windows", "name": "Windows", **made,
        "cpe": "cpe:2.3:o:microsoft:windows:-:*:*:*:*:*:*:*",
        "description": "Not delivered: the system that ZOLTMgr.exe runs on, of which it imports "
                       "the DLLs below, from System32.",
        "components": [{
            "type": "library", "bom-ref": f"windows:{dll}", "name": dll, **made,
            "description": "Imported by ZOLTMgr.exe; part of every Windows that it runs on.",
            "properties": file_properties(dll, True, False, True),
        } for dll in dlls],
    }


SECURITY = os.path.join(HERE, "..", "SECURITY.md")


def security_contact():
    """The project's own contact, as SECURITY.md gives it; None while it has none."""
    with open(SECURITY, encoding="utf-8") as f:
        found = re.search(r"^Security contact: (.+)$", f.read(), re.M)
    value = found.group(1).strip() if found else ""
    return None if value in ("", "none yet") else value


def entity(name, url, contact):
    result = {"name": name}
    if url:
        result["url"] = [url]
    if contact:
        result["contact"] = [{"name": f"{name}, security",
                              **({"email": contact} if "@" in contact and ":" not in contact
                                 else {})}]
    return result


def makers():
    """Who made ZOLTMgr (its creator, whoever publishes it) and who supplies this release (the
    publisher, or the makers themselves), with the references to the supplier."""
    maker = entity(PROJECT, "", security_contact())
    name = os.environ.get("ZOLT_PUBLISHER")
    if not name:
        return maker, maker, ([{"type": "security-contact", "url": contact_url(security_contact())}]
                              if security_contact() else [])
    url = os.environ.get("ZOLT_PUBLISHER_URL", "")
    contact = os.environ.get("ZOLT_SECURITY_CONTACT", "")
    if not contact:
        fail("a publisher is named without ZOLT_SECURITY_CONTACT: BSI TR-03183-2 asks for the "
             "supplier's contact")
    references = [{"type": "website", "url": url}] if url else []
    references.append({"type": "security-contact", "url": contact_url(contact)})
    return maker, entity(name, url, contact), references


def contact_url(contact):
    return contact if ":" in contact else "mailto:" + contact


# The tools whose versions shape the released bytes, by their Debian packages.
TOOLS = [GXX, "binutils-mingw-w64-x86-64", "cmake", "wixl", "msitools", "zip", "faketime",
         "osslsigncode", "openssl", "python3", "python3-debian", "python3-pefile"]


def sbom(out, version, exe, msi, archive, product_code, upgrade_code, map_path):
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
    when = datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc)
    maker, supplier, references = makers()
    runtime = runtime_components(map_path)
    parts = [p for package in runtime for p in package["components"]]
    ref = {part["name"]: part["bom-ref"] for part in parts}
    windows = windows_component(exe)
    edges = graph(map_path)
    needed, _, _ = requirements(map_path)
    # What the product's bytes hold: the project's own code and the runtime linked into it.
    whole = expression([Notice("", "MIT", "", "", [])] +
                       [n for found in needed.values() for n, _ in found.values()])
    tools = [{"type": "application", "name": "scripts/third-party", "version": version,
              "description": "ZOLTMgr's SBOM generator", "supplier": {"name": PROJECT}}]
    tools += [{"type": "application", "name": package, "version": dpkg(package, "Version"),
               "supplier": {"name": "Debian"}} for package in TOOLS]
    # Its makers made it; the publisher supplies (and signs) it.
    product = {"supplier": supplier, "manufacturer": maker, "version": version,
               "licenses": licence(whole, "concluded"),
               **({"externalReferences": references} if references else {})}
    delivered = [{
        "type": "application", "bom-ref": "ZOLTMgr-exe", "name": "ZOLTMgr.exe", **product,
        "purl": f"pkg:generic/zoltmgr@{version}#ZOLTMgr.exe",
        "hashes": hashes(exe),
        # Statically linked: what it holds is no longer told apart inside the file.
        "properties": file_properties("ZOLTMgr.exe", True, False, False),
    }, {
        "type": "file", "bom-ref": "ZOLTMgr-zip", "name": os.path.basename(archive), **product,
        "description": "ZOLTMgr's archive: the exe and its documents",
        "purl": f"pkg:generic/zoltmgr@{version}?file_name={os.path.basename(archive)}",
        "hashes": hashes(archive),
        "properties": file_properties(os.path.basename(archive), False, True, True),
    }]
    product_component = {
        "type": "application", "bom-ref": "ZOLTMgr-msi", "name": "ZOLTMgr",
        "description": "ZOLTMgr, as its Windows Installer package installs it", **product,
        "purl": f"pkg:generic/zoltmgr@{version}?file_name={os.path.basename(msi)}",
        "hashes": hashes(msi),
        "properties": [{"name": "ProductCode", "value": product_code},
                       {"name": "UpgradeCode", "value": upgrade_code}] +
                      file_properties(os.path.basename(msi), False, True, True),
    }
    components = delivered + runtime + [windows]

    # Every component's entry; only the product's and the runtime's are known to be complete,
    # from the linker's map and the exe's import table.
    depends = {r: [] for r in all_refs(product_component, components)}
    depends["ZOLTMgr-msi"] = depends["ZOLTMgr-zip"] = ["ZOLTMgr-exe"]
    depends["ZOLTMgr-exe"] = sorted(ref.values()) + [c["bom-ref"] for c in windows["components"]]
    for name in ref:
        depends[ref[name]] = sorted(ref[b] for a, b in edges if a == name and b)
    known = ["ZOLTMgr-msi", "ZOLTMgr-zip", "ZOLTMgr-exe"] + list(ref.values())
    bom = {
        "$schema": "http://cyclonedx.org/schema/bom-1.6.schema.json",
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        "version": 1,
        "metadata": {
            "timestamp": when.strftime("%Y-%m-%dT%H:%M:%SZ"),
            "lifecycles": [{"phase": "build"}],
            "tools": {"components": tools},
            # Whoever made this SBOM: the release's supplier.
            "authors": [{k: v for k, v in supplier.get("contact", [{}])[0].items()
                         if k == "email"} | {"name": supplier["name"]}],
            "supplier": supplier,
            "manufacturer": maker,
            "component": product_component,
        },
        "components": components,
        "dependencies": [{"ref": r, "dependsOn": d} for r, d in depends.items()],
        "compositions": [
            {"aggregate": "complete", "dependencies": known},
            # Each part's files are every file of it that the map shows linked.
            {"aggregate": "complete", "assemblies": list(ref.values())},
            # The packages and Windows hold far more than what the exe takes of them.
            {"aggregate": "incomplete",
             "assemblies": [c["bom-ref"] for c in runtime] + ["windows"]},
            {"aggregate": "unknown", "dependencies": [r for r in depends if r not in known]},
        ],
    }
    # Names as they are written, in UTF-8, not as escapes.
    content = json.dumps(bom, indent=2, sort_keys=True, ensure_ascii=False)
    bom["serialNumber"] = "urn:uuid:" + str(uuid.uuid5(uuid.NAMESPACE_URL, content))
    with open(out, "w", encoding="utf-8") as f:
        f.write(json.dumps(bom, indent=2, sort_keys=True, ensure_ascii=False) + "\n")


def everything(top, components):
    """(component, where, in a pedigree) for every component anywhere: nested, and in pedigrees."""
    found = []
    def walk(component, where, pedigree):
        name = where + "/" + component.get("name", "?")
        found.append((component, name, pedigree))
        for nested in component.get("components", []):
            walk(nested, name, pedigree)
        for kind in ("ancestors", "descendants", "variants"):
            for other in component.get("pedigree", {}).get(kind, []):
                walk(other, name + f" ({kind[:-1]})", True)
    walk(top, "metadata", False)
    for component in components:
        walk(component, "", False)
    return found


def all_refs(top, components):
    return [c["bom-ref"] for c, _, _ in everything(top, components) if "bom-ref" in c]
