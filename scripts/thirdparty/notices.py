"""THIRD-PARTY-NOTICES.txt: the notices that the linked files need, and the check that a notices
file holds them all."""

import textwrap

from thirdparty.debian import dpkg, fail
from thirdparty.linkmap import expression, part_named, requirements


def notices(out, version, map_path):
    needed, licenses, _ = requirements(map_path)
    rule = "=" * 78
    lines = [
        f"ZOLTMgr {version}: third-party notices",
        "",
        "ZOLTMgr.exe is linked statically with parts of the runtime of the toolchain that",
        "built it (Debian's mingw-w64 and GCC). For each object file that it links, the notice",
        "that the file's source carries follows: the paragraph of the Debian package's copyright",
        "file that applies to that source, or GCC's own notice; then the licence texts that",
        "those paragraphs name.",
    ]
    written = {}
    for name, found in needed.items():
        part = part_named(name)
        package = part["package"]
        lines += ["", rule, f"== {name} ==", "",
                  f"Debian package {package} {dpkg(package, 'Version')}",
                  f"SPDX-License-Expression: {expression(n for n, _ in found.values())}",
                  *textwrap.wrap(f"Linked: {part['linked']}.", 78)]
        for notice, labels in found.values():
            lines += ["", f"-- {notice.heading}", f"   SPDX: {notice.spdx}",
                      *textwrap.wrap("For: " + ", ".join(labels), 78, initial_indent="   ",
                                     subsequent_indent="   ", break_on_hyphens=False), ""]
            lines.append(written.get(notice.key) or notice.text)
            # Where the text first stands, which every later mention points to.
            written.setdefault(notice.key, f"(The text given above, under {name}.)")
    lines += ["", rule, "== Licence texts ==", ""]
    for notice in licenses:
        lines += [f"-- {notice.spdx} (Debian: {notice.key[len('License: '):]})", "",
                  notice.text, ""]
    with open(out, "w", encoding="utf-8", newline="\r\n") as f:
        f.write("\n".join(lines).rstrip("\n") + "\n")


def check_map(map_path, notices_path):
    with open(notices_path, encoding="utf-8") as f:
        text = f.read().replace("\r\n", "\n")
    needed, licenses, _ = requirements(map_path)
    missing = []
    for name, found in needed.items():
        for notice, labels in found.values():
            if notice.text not in text or f"SPDX: {notice.spdx}" not in text:
                missing += [f"{label} needs {notice.heading} ({notice.spdx})" for label in labels]
        print(f"{name}: {sum(len(labels) for _, labels in found.values())} object files, "
              f"notices: {'; '.join(n.heading for n, _ in found.values())}")
    missing += [f"the licence text {n.heading}" for n in licenses if n.text not in text]
    for line in missing:
        print(f"{notices_path} lacks: {line}")
    if missing:
        fail(f"{len(missing)} notices missing from {notices_path}")
