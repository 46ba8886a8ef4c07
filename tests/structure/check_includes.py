#!/usr/bin/env python3
"""Checks every #include of a folder against the "May include:" line of the folder's README.

    check_includes.py SOURCE_ROOT QT_HEADERS

A README's line names the program's folders it may use in backticks (`recordset/`), the Qt modules (QtCore, QtGui, QtWidgets: widgets bring
Gui and Core with them) and the outside libraries (SQLite, libxlsxwriter, libmdb, libpq); "everything"
allows all. Headers named in backticks (`platform/Sqlite.h`) in a sentence starting "Never", before
any colon, are refused in every file of the folder; in one starting "Headers never", in its headers. Prints each include that goes
against it and exits 1 if there is any.
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
qt_headers = pathlib.Path(sys.argv[2])

PROGRAM_FOLDERS = {"platform", "recordset", "controls", "service", "windows", "register"}
LIBRARIES = {"sqlite3.h": "SQLite", "xlsxwriter.h": "libxlsxwriter", "mdbtools.h": "libmdb",
             "libpq-fe.h": "libpq"}
QT_MODULES = ["QtWidgets", "QtGui", "QtCore"]
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def rule_of(readme):
    text = readme.read_text(encoding="utf-8")
    found = re.search(r"^May include:(.*?)(?:\n\s*\n|\Z)", text, re.M | re.S)
    return " ".join(found.group(1).split()) if found else None


def qt_module(header):
    name = header.split("/")[-1]
    if "/" in header and header.split("/")[0] in QT_MODULES:
        return header.split("/")[0]
    for module in QT_MODULES:
        if (qt_headers / module / name).is_file():
            return module
    return None


def allowed_qt(rule):
    modules = {m for m in QT_MODULES if m in rule}
    if "QtWidgets" in modules:
        modules |= {"QtGui", "QtCore"}
    if "QtGui" in modules:
        modules.add("QtCore")
    return modules


def refused_headers(rule):
    """The headers named after "Never" (all files) and after "Headers never" (headers only)."""
    everywhere, in_headers = set(), set()
    for sentence in re.split(r"(?<=\.)\s+", rule):
        named = set(re.findall(r"`([A-Za-z]+/[A-Za-z]+\.h)`", sentence.split(":")[0]))
        if sentence.startswith("Headers never"):
            in_headers |= named
        elif sentence.startswith("Never"):
            everywhere |= named
    return everywhere, in_headers


def check(folder, rule):
    folders = set(re.findall(r"`([a-z]+)/`", rule)) | {folder.name}
    refused, refused_in_headers = refused_headers(rule)
    qt = allowed_qt(rule)
    problems = []
    for source in sorted(list(folder.glob("*.cpp")) + list(folder.glob("*.h"))):
        for kind, header in INCLUDE.findall(source.read_text(encoding="utf-8")):
            closing = '"' if kind == '"' else ">"
            where = f"{source.relative_to(root)}: #include {kind}{header}{closing}"
            first = header.split("/")[0]
            if kind == '"':
                if header in refused or (source.suffix == ".h" and header in refused_in_headers):
                    problems.append(f"{where}: its README refuses {header} here")
                elif "/" in header and first in PROGRAM_FOLDERS and first not in folders:
                    problems.append(f"{where}: {first}/ is not in its README's list")
            else:
                module = qt_module(header)
                if module and module not in qt:
                    problems.append(f"{where}: {module} is not in its README's list")
                library = LIBRARIES.get(header)
                if library and library not in rule:
                    problems.append(f"{where}: {library} is not in its README's list")
    return problems


problems = []
checked = 0
for readme in sorted(root.rglob("README.md")):
    if any(part in ("build", "demo", ".git") for part in readme.relative_to(root).parts):
        continue
    rule = rule_of(readme)
    if rule is None or "everything" in rule:
        continue
    checked += 1
    problems += check(readme.parent, rule)

for problem in problems:
    print(problem)
print(f"{checked} folders checked, {len(problems)} includes against their README")
sys.exit(1 if problems or checked == 0 else 0)
