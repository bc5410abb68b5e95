"""What the linker's map says: every file of others that the exe links, the part of the runtime
that each belongs to, the notice that each needs, and which part calls which."""

import collections
import functools
import os
import re
import subprocess

from thirdparty.debian import (
    COPYRIGHT, GCC, GCC_COPYRIGHT, GXX, MINGW, combined, copyright_file, fail, gcc_version, names,
    owner, paragraph_expression, spdx)


# The scripts folder.
HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Each part of the runtime that the exe may link: its package, where its sources lie in the
# upstream tree, and the files of the package that are its.
PARTS = [
    {"name": "mingw-w64 runtime", "package": MINGW, "subpath": "mingw-w64-crt",
     "linked": "startup code, libmingw32, libmingwex (gdtoa and mingw_pformat), the static "
               "parts of libmsvcrt (such as rand_s), and the import libraries of KERNEL32, "
               "ADVAPI32, SETUPAPI and msvcrt"},
    {"name": "winpthreads", "package": MINGW, "subpath": "mingw-w64-libraries/winpthreads",
     "files": ["libpthread.a", "libwinpthread.a"],
     # Its header's notice, too: the runtime's code was compiled from it.
     "headers": ["mingw-w64-libraries/winpthreads/include/pthread.h"],
     "linked": "POSIX threads for Windows, which libstdc++ (exception memory) and libgcc "
               "(emulated thread-local storage) call in the POSIX thread model"},
    {"name": "libstdc++", "package": GXX, "subpath": "libstdc++-v3",
     "files": ["libstdc++.a", "libsupc++.a"], "linked": "the C++ standard library"},
    {"name": "libgcc", "package": GCC, "subpath": "libgcc",
     "files": ["libgcc.a", "libgcc_eh.a", "crtbegin.o", "crtend.o"],
     "linked": "GCC's support routines and unwinder"},
    {"name": "libssp", "package": GCC, "subpath": "libssp",
     "files": ["libssp.a", "libssp_nonshared.a"],
     "linked": "GCC's stack protector: the guard that protected functions check, seeded at "
               "start (ZOLTMgr ends a detected overrun with its own fast fail)"},
]


# The GCC runtime's archives carry no debug information, and its copyright file no Files
# paragraphs: each member that may be linked, and the notices it needs. A member that is not
# here fails check-map until its source's licence has been looked up and it has been added.
GCC_RUNTIME = "gcc-runtime"
GCC_MEMBERS = {
    "libstdc++.a": {
        GCC_RUNTIME: "bad_alloc bad_array_new bad_cast bad_typeid class_type_info cow-stdexcept "
                     "cow-string-inst del_op del_ops del_opv eh_alloc eh_call eh_catch "
                     "eh_exception eh_globals eh_personality eh_term_handler eh_terminate "
                     "eh_throw eh_type eh_unex_handler functexcept functional new_handler new_op "
                     "new_opnt new_opv new_opvnt random si_class_type_info snprintf_lite "
                     "sso_string stdexcept string-inst tinfo tinfo2 vterminate",
        # libiberty's demangler, for the verbose terminate handler.
        "libiberty-demangler": "cp-demangle",
        GCC_RUNTIME + " ryu": "floating_to_chars",
        GCC_RUNTIME + " fast_float": "floating_from_chars",
    },
    # libgcc2.c's routines, one member each, and the stack probe.
    "libgcc.a": {GCC_RUNTIME: "_chkstk_ms _ctors __main _absvdi2 _addvdi3 _ashldi3 _ashrdi3 "
                              "_bswapdi2 _bswapsi2 _clzdi2 _clzsi2 _ctzdi2 _ctzsi2 _divdi3 "
                              "_divmoddi4 _ffsdi2 _lshrdi3 _moddi3 _muldi3 _mulvdi3 _negdi2 "
                              "_paritydi2 _popcountdi2 _subvdi3 _udivdi3 _udivmoddi4 _umoddi3"},
    "libgcc_eh.a": {GCC_RUNTIME: "unwind-seh emutls"},
    "libssp.a": {GCC_RUNTIME: "ssp"},
    "crtbegin.o": {GCC_RUNTIME: "crtbegin"},
    "crtend.o": {GCC_RUNTIME: "crtend"},
}


# The GCC notices' licences, and where their texts come from (below scripts/notices/).
GCC_NOTICES = {
    GCC_RUNTIME: ("GPL-3.0-or-later WITH GCC-exception-3.1", None),
    "libiberty-demangler": ("GPL-2.0-or-later WITH GCC-exception-2.0", "libiberty-demangler.txt"),
    "ryu": ("Apache-2.0 OR BSL-1.0", "ryu.txt"),
    "fast_float": ("Apache-2.0 OR MIT", "fast_float.txt"),
}


# Members of mingw-w64's archives whose source their debug information cannot tell, and that
# carry no code of anyone's: the import libraries' stubs, and two assembler members.
IMPORT_STUB = re.compile(r"^lib[a-z0-9_]+?(s\d{5}|h|t)\.o$|^libmsvcrt_def(s\d{5}|h|t)\.o$")
NO_SOURCE = {"lib64_libmingwex_a-arithchk.o", "lib64_libmingwex_a-mingw_longjmp.o"}


def files_paragraph(source):
    """The Files paragraph that matches `source` last: the one that applies to it."""
    paragraph = copyright_file(COPYRIGHT.format(MINGW)).find_files_paragraph(source)
    if paragraph is None:
        fail(f"no paragraph of {COPYRIGHT.format(MINGW)} for {source}")
    return paragraph


# A notice: what one linked file needs. `refers` names the licences whose texts stand in
# paragraphs of their own.
Notice = collections.namedtuple("Notice", "key spdx heading text refers")


def paragraph_notice(paragraph):
    patterns = paragraph.files
    more = {1: ""}.get(len(patterns), f" (and {len(patterns) - 1} more)")
    return Notice("Files: " + patterns[0], paragraph_expression(paragraph),
                  f"Files: {patterns[0]}{more}", paragraph.dump().strip("\n"),
                  [] if paragraph.license.text else names(paragraph))


def license_notices(notices):
    """The stand-alone licence paragraphs that `notices` refer to."""
    wanted = []
    for notice in notices:
        wanted += [name for name in notice.refers if name not in wanted]
    result = []
    for name in wanted:
        texts = [p.dump().strip("\n") for p in
                 copyright_file(COPYRIGHT.format(MINGW)).all_license_paragraphs()
                 if p.license.synopsis == name]
        if not texts:
            fail(f"no text of the licence {name} in {COPYRIGHT.format(MINGW)}")
        result.append(Notice("License: " + name, spdx(name), "License: " + name, texts[0], []))
    return result


def gcc_text(entry):
    expression, name = GCC_NOTICES[entry]
    if name:
        with open(os.path.join(HERE, "notices", name), encoding="utf-8") as f:
            text = f.read().rstrip("\n")
        if "Apache-2.0" in expression:
            with open("/usr/share/common-licenses/Apache-2.0", encoding="utf-8") as f:
                text += "\n\n" + f.read().rstrip("\n")
        return text
    # GCC's own runtime: its copyright line and the GCC Runtime Library Exception, as Debian's
    # copyright file holds them.
    with open(GCC_COPYRIGHT, encoding="utf-8") as f:
        whole = f.read()
    owner = re.search(r"GCC is Copyright \(C\).*?Free Software Foundation, Inc\.", whole, re.S)
    last = "requirements of the license of GCC."
    start = whole.find("GCC RUNTIME LIBRARY EXCEPTION")
    end = whole.find(last, start)
    if not owner or start < 0 or end < 0:
        fail(f"no copyright line or GCC Runtime Library Exception in {GCC_COPYRIGHT}")
    # Debian's copyright file has not raised its years since GCC 9; the runtime is GCC 12's.
    return (owner.group(0) + "\n\n(These years are those of Debian's copyright file of "
            "gcc-mingw-w64, last\nraised for GCC 9; the linked runtime is that of GCC "
            f"{gcc_version()}.)\n\nLicensed under the GNU General Public License, version 3 or "
            "later, with version\n3.1 of the GCC Runtime Library Exception, which permits "
            "distributing a program\nthat links it under terms of one's choice, and asks for "
            "no notice. Its text,\nfor information:\n\n" + whole[start:end + len(last)])


def gcc_notice(entry):
    return Notice(entry, GCC_NOTICES[entry][0], "GCC: " + entry, gcc_text(entry), [])


def linked(map_path):
    """Every file of others that the map shows going into the exe, as (file, member): members
    of archives, and object files that were loaded whole (member None)."""
    result = set()
    with open(map_path, encoding="utf-8", errors="replace") as f:
        for line in f:
            member = re.match(r"^(/\S+\.a)\((\S+)\)", line)
            if member:
                result.add((os.path.realpath(member.group(1)), member.group(2)))
            loaded = re.match(r"^LOAD (/\S+\.o)$", line.rstrip())
            if loaded:
                result.add((os.path.realpath(loaded.group(1)), None))
    return result


def sources(path, cache={}):
    """The source file of each member of a mingw-w64 archive (or of an object file), from the
    compile unit that its own debug information names."""
    if path not in cache:
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "--dwarf=info", "--dwarf-depth=1",
                               path], check=True, capture_output=True, text=True).stdout
        found, member = {}, None
        for line in dump.splitlines():
            header = re.match(r"^(\S+):\s+file format", line)
            if header:
                member = os.path.basename(header.group(1))
            name = re.search(r"DW_AT_name\s*:.*?(\S+)$", line)
            if name and member and member not in found:
                found[member] = os.path.normpath(name.group(1))
        cache[path] = found
    return cache[path]


def classify(path, member):
    """The part that a linked file or member belongs to, and the notices that it needs."""
    package = owner(path)
    base = os.path.basename(path)
    label = f"{base}({member})" if member else base
    if package == MINGW:
        name = member or base
        if IMPORT_STUB.match(name) or name in NO_SOURCE:
            return PARTS[0], label, [], None
        source = sources(path).get(name)
        if source is None:
            fail(f"{label}: its source cannot be told (no debug information)")
        part = next((p for p in PARTS[1:] if p["package"] == MINGW and
                     source.startswith(p["subpath"] + "/")), PARTS[0])
        return part, label, [], source
    for part in PARTS:
        if part["package"] == package and base in part.get("files", []):
            table = GCC_MEMBERS.get(base, {})
            stem = (member or base)[:-2]
            entries = next((k.split() for k, v in table.items() if stem in v.split()), None)
            if entries is None:
                fail(f"{label} is a GCC member that GCC_MEMBERS does not know: look up its "
                     "source's licence and add it")
            return part, label, entries, None
    fail(f"{path} (package {package}) is in no part of the notices")


# The import libraries' stubs are made from mingw-w64-crt's .def files, which the copyright
# file's last-matching paragraph covers.
IMPORT_DEFINITIONS = "mingw-w64-crt/lib-common/{}.def"


def stub_stem(path):
    """The DLL, without its extension, that an import library's stubs bind to: libkernel32.a's
    are KERNEL32's."""
    return re.sub(r"^lib|\.a$", "", os.path.basename(path))


def import_stubs(map_path):
    """{import library: how many of its stubs are linked}."""
    found = {}
    for path, member in linked(map_path):
        if member and IMPORT_STUB.match(member):
            found[path] = found.get(path, 0) + 1
    return found


@functools.lru_cache(maxsize=None)
def requirements(map_path):
    """({part name: {notice key: (notice, [labels])}}, in the order of PARTS, the licence
    texts, and {linked file: {notice key: notice}}: what each file's own members need)."""
    needed = {part["name"]: {} for part in PARTS}
    by_file = {}
    used = set()
    files = linked(map_path)
    owner(next(iter(files))[0], ask=[path for path, _ in files])
    for path, member in sorted(files, key=lambda x: (x[0], x[1] or "")):
        part, label, entries, source = classify(path, member)
        used.add(part["name"])
        notices = [gcc_notice(e) for e in entries]
        if source:
            notices.append(paragraph_notice(files_paragraph(source)))
        for notice in notices:
            needed[part["name"]].setdefault(notice.key, (notice, []))[1].append(label)
            by_file.setdefault(path, {})[notice.key] = notice
    # The import libraries' stubs: the notice of the definitions that they were made from, for
    # each archive whose stubs are linked.
    for path, stubs in sorted(import_stubs(map_path).items()):
        notice = paragraph_notice(files_paragraph(IMPORT_DEFINITIONS.format(stub_stem(path))))
        label = f"{os.path.basename(path)} ({stubs} import stubs)"
        needed[PARTS[0]["name"]].setdefault(notice.key, (notice, []))[1].append(label)
        by_file.setdefault(path, {})[notice.key] = notice
    for part in PARTS:
        if part["name"] in used:
            for header in part.get("headers", []):
                notice = paragraph_notice(files_paragraph(header))
                needed[part["name"]].setdefault(notice.key, (notice, []))[1].append(
                    f"the header {header}, which its object files were compiled with")
    licenses = license_notices([n for part in needed.values() for n, _ in part.values()])
    return {name: n for name, n in needed.items() if n}, licenses, by_file


def expression(notices):
    return combined(notice.spdx for notice in notices)


def part_named(name):
    return next(part for part in PARTS if part["name"] == name)


def graph(map_path):
    """Which part calls which, from the linker's cross-reference table: an edge from the part of
    each file that refers to a symbol to the part of the file that defines it ("" is the
    exe's own code)."""
    parts = {}
    def part(file):
        if file not in parts:
            archive = re.match(r"^(\S+?\.a)\((\S+)\)$", file)
            path, member = (archive.group(1), archive.group(2)) if archive else (file, None)
            parts[file] = "" if not os.path.isabs(path) else \
                classify(os.path.realpath(path), member)[0]["name"]
        return parts[file]

    edges, definer = set(), None
    with open(map_path, encoding="utf-8", errors="replace") as f:
        table = f.read().split("Cross Reference Table", 1)
    if len(table) != 2:
        fail(f"{map_path} has no cross-reference table (link with -Wl,--cref)")
    for line in table[1].splitlines()[3:]:
        fields = line.split()
        if not fields:
            continue
        if not line[0].isspace():
            definer = part(fields[-1]) if len(fields) == 2 else None
        elif definer is not None and part(fields[0]) != definer:
            edges.add((part(fields[0]), definer))
    return edges
