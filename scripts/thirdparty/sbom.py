"""The SBOM's rules: what each component of the release is, who made and supplies it, its
licences, identifiers and dependencies, written as CycloneDX."""

import datetime
import hashlib
import json
import os
import re
import urllib.parse
import uuid

from thirdparty.debian import GXX, PACKAGES, deb_place, declared, dpkg, fail, upstream_version
from thirdparty.linkmap import (
    Notice, PARTS, classify, expression, graph, import_stubs, linked, requirements, stub_stem)


# The scripts folder.
HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

PROJECT = "The ZOLTMgr developers"


def hashes(path, algorithms=("SHA-256", "SHA-512")):
    with open(path, "rb") as f:
        data = f.read()
    return [{"alg": a, "content": hashlib.new(a.replace("-", "").lower(), data).hexdigest()}
            for a in algorithms]


def kind(executable, archive, structured):
    """What BSI's taxonomy asks of every component, once each: whether it is executable, an
    archive, and structured (an archive that lists what it holds)."""
    return [{"name": "bsi:component:executable",
             "value": "executable" if executable else "non-executable"},
            {"name": "bsi:component:archive", "value": "archive" if archive else "no archive"},
            {"name": "bsi:component:structured",
             "value": "structured" if structured else "unstructured"}]


def file_properties(name, executable, archive, structured):
    """A component that is a file: its one file name, and its kind."""
    return [{"name": "bsi:component:filename", "value": name}] + \
        kind(executable, archive, structured)


# A package, a source package or a runtime part is what its files are: archives of object files
# that list their members. Windows, like the exe and its DLLs, is executable code that lists none.
PACKAGED = kind(False, True, True)
SYSTEM = kind(True, False, False)


def licence(expression_text, acknowledgement):
    return [{"expression": expression_text, "acknowledgement": acknowledgement}]


def licences(declared_text, concluded_text):
    """What the component's authors declare, and what is concluded of what is distributed."""
    return licence(declared_text, "declared") + licence(concluded_text, "concluded")


# A purl in its canonical form: each segment percent-encoded but for letters, digits and ".-_~"
# (so "g++" is "g%2B%2B"); a subpath's "/" stays. A purl's subpath is always a path within the
# package that the purl names: a file's path in a .deb, a folder of an upstream project's sources.
def segment(text):
    return urllib.parse.quote(text, safe="")


def deb_purl(package, version, arch, path=None):
    result = f"pkg:deb/debian/{segment(package)}@{segment(version)}?arch={arch}&distro=debian-12"
    return result + ("#" + urllib.parse.quote(path, safe="/") if path else "")


def upstream_purl(project, version, folder):
    return (f"pkg:generic/{segment(project)}@{segment(version)}#"
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
                "properties": PACKAGED,
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
            # What the package's copyright file, its authors' statement, says of all that it
            # holds; what is concluded of the parts that the exe takes of it.
            "licenses": licences(declared(package), expression(
                n for part in PARTS if part["name"] in needed and part["package"] == package
                for n, _ in needed[part["name"]].values())),
            "properties": PACKAGED,
            "externalReferences": [
                {"type": "distribution", "url": url,
                 "hashes": [{"alg": "SHA-256", "content": sha256}]},
                {"type": "source-distribution", "url": dsc}],
            # The source packages that it was built from, made by the same upstream project;
            # Debian's copyright file of a binary package is its source package's.
            "pedigree": {"ancestors": [{"type": "library",
                                        "bom-ref": f"package:{package}:source:{name}",
                                        "name": name, "version": v, **made,
                                        "purl": deb_purl(name, v, "source"),
                                        "licenses": licence(declared(package), "declared"),
                                        "properties": PACKAGED}
                                       for name, v in ancestors]},
            "components": parts,
        })
    return components


MICROSOFT = {"name": "Microsoft Corporation", "url": ["https://www.microsoft.com/"]}
# The lowest Windows that the manifest names, 7; it names every later one up to 11.
WINDOWS_VERSION = "6.1"
# Windows' licence terms, which the notices cannot hold: it is not delivered.
WINDOWS_LICENCE = "LicenseRef-Microsoft-Software-License-Terms"


def windows_component(exe):
    """The first level of dependencies outside the delivery: Windows, and the DLLs that the exe
    imports, as its import table names them. They have no hash (each Windows has its own) and no
    SPDX licence. Each has a purl of type generic in Microsoft's namespace, which names the DLL
    as a file the way the import table does; a CPE names products, and Microsoft's DLLs are none
    of their own."""
    import pefile  # Debian's python3-pefile

    pe = pefile.PE(exe, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
    dlls = sorted(entry.dll.decode() for entry in pe.DIRECTORY_ENTRY_IMPORT)
    made = {"supplier": MICROSOFT, "manufacturer": MICROSOFT, "version": WINDOWS_VERSION,
            "licenses": licence(WINDOWS_LICENCE, "declared")}
    return {
        "type": "operating-system", "bom-ref": "windows", "name": "Windows", **made,
        "cpe": "cpe:2.3:o:microsoft:windows:-:*:*:*:*:*:*:*",
        "purl": f"pkg:generic/microsoft/windows@{WINDOWS_VERSION}",
        "description": "Not delivered: the system that ZOLTMgr.exe runs on, Windows 7 (6.1) or "
                       "any later one up to 11, of which it imports the DLLs below, from "
                       "System32.",
        "properties": SYSTEM,
        "components": [{
            "type": "library", "bom-ref": f"windows:{dll}", "name": dll, **made,
            "purl": f"pkg:generic/microsoft/{segment(dll)}@{WINDOWS_VERSION}",
            "description": "Imported by ZOLTMgr.exe; part of every Windows that it runs on.",
            "properties": file_properties(dll, True, False, False),
        } for dll in dlls],
    }


SECURITY = os.path.join(HERE, "..", "SECURITY.md")


def security_contact():
    """The project's own contact, as SECURITY.md gives it; None while it has none."""
    with open(SECURITY, encoding="utf-8") as f:
        found = re.search(r"^Security contact: (.+)$", f.read(), re.M)
    value = found.group(1).strip() if found else ""
    return None if value in ("", "none yet") else value


def email(contact):
    """The address of a contact that is an e-mail address (plain or as a mailto: URL), else None."""
    address = contact[len("mailto:"):] if contact.startswith("mailto:") else contact
    return address if re.fullmatch(r"[^@\s:/]+@[^@\s:/]+", address) else None


def entity(name, url, contact):
    """An organisation: its web site, and where to report a vulnerability to it, an e-mail
    address as its contact or a URL among its URLs."""
    result = {"name": name}
    urls = [url] if url else []
    if contact and email(contact):
        result["contact"] = [{"name": f"{name}, security", "email": email(contact)}]
    elif contact and contact not in urls:
        urls.append(contact)
    if urls:
        result["url"] = urls
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
    return "mailto:" + email(contact) if email(contact) else contact


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
    # Where its sources and its deployable form are to be had, where the publisher says.
    places = (("source-distribution", "ZOLT_SOURCE_URL"), ("distribution", "ZOLT_DOWNLOAD_URL"))
    references += [{"type": place, "url": os.environ[variable]} for place, variable in places
                   if os.environ.get(variable)]
    # Its makers made it, under the licence that LICENSE gives; the publisher supplies (and
    # signs) it; what its bytes hold is its own code and the runtime linked into it.
    product = {"supplier": supplier, "manufacturer": maker, "version": version,
               "licenses": licences("MIT", whole),
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
        "properties": [{"name": "zoltmgr:msi:ProductCode", "value": product_code},
                       {"name": "zoltmgr:msi:UpgradeCode", "value": upgrade_code}] +
                      file_properties(os.path.basename(msi), False, True, True),
    }
    components = delivered + runtime + [windows]

    # Every component's entry; only the product's and the runtime's are known to be complete,
    # from the linker's map and the exe's import table: each part's calls into other parts, and
    # the DLLs that the import stubs among its files bind to.
    depends = {r: [] for r in all_refs(product_component, components)}
    depends["ZOLTMgr-msi"] = depends["ZOLTMgr-zip"] = ["ZOLTMgr-exe"]
    depends["ZOLTMgr-exe"] = sorted(ref.values()) + [c["bom-ref"] for c in windows["components"]]
    dlls = {c["name"].lower(): c["bom-ref"] for c in windows["components"]}
    for name in ref:
        depends[ref[name]] = sorted(ref[b] for a, b in edges if a == name and b)
    for path in import_stubs(map_path):
        dll = dlls.get(stub_stem(path).lower() + ".dll")
        if dll is None:
            fail(f"{path}'s stubs are linked, but the exe imports no {stub_stem(path)}.dll")
        part = ref[PARTS[0]["name"]]  # the stubs are the mingw-w64 runtime's
        depends[part] = sorted(set(depends[part]) | {dll})
    known = ["ZOLTMgr-msi", "ZOLTMgr-zip", "ZOLTMgr-exe"] + list(ref.values())
    bom = {
        "$schema": "http://cyclonedx.org/schema/bom-1.7.schema.json",
        "bomFormat": "CycloneDX",
        "specVersion": "1.7",
        "version": 1,
        "metadata": {
            "timestamp": when.strftime("%Y-%m-%dT%H:%M:%SZ"),
            "lifecycles": [{"phase": "build"}],
            "tools": {"components": tools},
            # Whoever made this SBOM: the release's supplier.
            "authors": [{k: v for k, v in supplier.get("contact", [{}])[0].items()
                         if k == "email"} | {"name": supplier["name"]}],
            "supplier": supplier,
            # Who made this BOM: whoever made the release.
            "manufacturer": supplier,
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
