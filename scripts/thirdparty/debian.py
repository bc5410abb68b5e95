"""What Debian's packages say: which package holds a file, their versions and fields, their
copyright files' licences in SPDX, and where apt fetches their .debs from."""

import functools
import re
import subprocess
import sys

from debian import copyright as dep5  # Debian's python3-debian


MINGW = "mingw-w64-x86-64-dev"
GXX = "g++-mingw-w64-x86-64-posix"
GCC = "gcc-mingw-w64-x86-64-posix"
COPYRIGHT = "/usr/share/doc/{}/copyright"
GCC_COPYRIGHT = "/usr/share/doc/gcc-mingw-w64-base/copyright"


# Debian's short licence names, as its copyright files give them, and what each is in SPDX. A
# name that SPDX lacks (in the list that Debian's SPDX parser knows) is a LicenseRef in one of
# the forms that BSI TR-03183-2 gives: ScanCode's where ScanCode's licence database has it,
# else one that names the licence's owner and the licence; the notices hold its text under that
# name. A deprecated SPDX id is given by what replaced it.
DEBIAN_LICENSES = {
    "ZPL-2.1": "ZPL-2.1",
    "public-domain": "LicenseRef-scancode-public-domain",
    "public-domain-Vizzini": "LicenseRef-scancode-public-domain",
    "Lucent": "LicenseRef-Lucent-Technologies-gdtoa",
    "David-Gay": "LicenseRef-David-M-Gay-gdtoa",
    "Permissive-Sun": "LicenseRef-Sun-Microsystems-fdlibm",
    "Keith-Marshall": "LicenseRef-Keith-Marshall-mingw-pformat",
    "Cygwin": "LicenseRef-Red-Hat-Cygwin-profile",
    "expat": "MIT",
    "ISC": "ISC",
    "BSD-2-clause-NetBSD": "BSD-2-Clause",
    "BSD-3-clause": "BSD-3-Clause",
    "BSD-3-clause-Lockless": "BSD-3-Clause",
    "BSD-3-clause-MinGW-w64": "BSD-3-Clause",
    "GPL-2+": "GPL-2.0-or-later",
    "GPL-3+": "GPL-3.0-or-later",
    "LGPL-2+": "LGPL-2.0-or-later",
    "LGPL-2.1+": "LGPL-2.1-or-later",
}


# The Debian packages whose files the exe links, who made what they hold, and the upstream
# project whose sources the parts come from (a part's purl names its folder in those sources).
PACKAGES = {
    MINGW: {"manufacturer": "The mingw-w64 project", "cpe": None, "upstream": "mingw-w64"},
    GXX: {"manufacturer": "Free Software Foundation (GCC)", "cpe": "gcc", "upstream": "gcc"},
    GCC: {"manufacturer": "Free Software Foundation (GCC)", "cpe": "gcc", "upstream": "gcc"},
}


def fail(message):
    sys.exit("third-party: " + message)


@functools.lru_cache(maxsize=None)
def dpkg(package, field):
    return subprocess.run(["dpkg-query", "-W", "-f", "${" + field + "}", package],
                          check=True, capture_output=True, text=True).stdout


def spdx(debian_name):
    if debian_name not in DEBIAN_LICENSES:
        fail(f"no SPDX expression for Debian's licence name {debian_name!r}: add it to "
             "DEBIAN_LICENSES")
    return DEBIAN_LICENSES[debian_name]


@functools.lru_cache(maxsize=None)
def copyright_file(path):
    """A machine-readable copyright file, as Debian's own parser reads it."""
    with open(path, encoding="utf-8") as f:
        return dep5.Copyright(f, strict=False)


def gcc_version():
    """GCC's own version, which the Debian packages of the mingw-w64 build of it were built
    from (their Built-Using)."""
    built = re.search(r"gcc-\d+ \(= ([^)-]+)", dpkg(GXX, "Built-Using"))
    return built.group(1) if built else dpkg(GXX, "Version").split("-")[0]


def owner(path, cache={}, ask=()):
    """The Debian package of `path`; those of `ask` too, in one call of dpkg."""
    wanted = sorted({path, *ask} - cache.keys())
    if wanted:
        found = subprocess.run(["dpkg", "-S", *wanted], capture_output=True, text=True).stdout
        for line in found.splitlines():
            package, _, file = line.partition(": ")
            cache[file] = package.split(":")[0]
    if path not in cache:
        fail(f"{path} belongs to no Debian package")
    return cache[path]


@functools.lru_cache(maxsize=None)
def deb_places():
    """Where apt fetches each package's .deb from, and its SHA-256, as apt's package lists give
    them, by the .deb's file name."""
    wanted = [f"{package}={dpkg(package, 'Version')}" for package in PACKAGES]
    shown = subprocess.run(["apt-get", "download", "--print-uris", *wanted],
                           capture_output=True, text=True)
    found = re.findall(r"^'(\S+)' (\S+) \d+ SHA256:([0-9a-f]{64})$", shown.stdout, re.M)
    if shown.returncode or len(found) != len(wanted):
        fail(f"apt's package lists give no place or SHA-256 of {' '.join(wanted)} "
             f"({shown.stderr.strip() or 'no answer'}): without them the SBOM would lose the "
             "packages' download references and hashes; run apt-get update, or give APT_CONFIG "
             "lists that carry these versions")
    return {name: (url, sha256) for url, name, sha256 in found}


def deb_place(package, version):
    arch = dpkg(package, "Architecture")
    return deb_places()[f"{package}_{version.split(':')[-1]}_{arch}.deb"]


# GCC's copyright file is prose, not machine-readable: the licences that it states for what the
# mingw-w64 packages of GCC ship (the compiler, the runtime libraries with their exception, and in
# the C compiler's, libquadmath), each with the words that state it, which must stand in the file.
GCC_DECLARED = {
    GXX: [("GPL-3.0-or-later",
           "GCC is free software; you can redistribute it and/or modify it under\n"
           "the terms of the GNU General Public License as published by the Free\n"
           "Software Foundation; either version 3, or (at your option) any later"),
          ("GPL-3.0-or-later WITH GCC-exception-3.1", "GCC RUNTIME LIBRARY EXCEPTION")],
}
GCC_DECLARED[GCC] = GCC_DECLARED[GXX] + [
    ("LGPL-2.0-or-later", "libquadmath/*.[hc]:")]


def names(paragraph):
    """The licence names of a paragraph's License field."""
    return re.split(r"\s+(?:and|or)\s+", paragraph.license.synopsis.strip())


def paragraph_expression(paragraph):
    """A copyright file paragraph's licences in SPDX."""
    joined = " OR " if re.search(r"\sor\s", paragraph.license.synopsis) else " AND "
    return joined.join(map(spdx, names(paragraph)))


def combined(expressions):
    """Several SPDX expressions as one that all hold, each term once."""
    terms = []
    for each in expressions:
        term = f"({each})" if " OR " in each else each
        for single in term.split(" AND ") if "(" not in term else [term]:
            if single not in terms:
                terms.append(single)
    return " AND ".join(terms)


def declared(package):
    """The whole licence expression of a package's copyright file, its authors' statement."""
    if package not in GCC_DECLARED:
        return combined(paragraph_expression(p) for p in
                        copyright_file(COPYRIGHT.format(package)).all_files_paragraphs())
    with open(GCC_COPYRIGHT, encoding="utf-8") as f:
        text = f.read()
    for _, words in GCC_DECLARED[package]:
        if words not in text:
            fail(f"{GCC_COPYRIGHT} no longer says {words!r}: look its licences up again")
    return combined(term for term, _ in GCC_DECLARED[package])


def upstream_version(package):
    return gcc_version() if PACKAGES[package]["upstream"] == "gcc" else \
        dpkg(package, "Version").split("-")[0]
