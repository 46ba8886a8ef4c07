#!/usr/bin/env python3
"""Checks the program's folders against their READMEs, and the size of every source file.

    check_structure.py SOURCE_ROOT QT_HEADERS

Every folder of src/ has a README; it and those of tools/, bench/ and devtools/ name each source file of
their folder in backticks (`Name.cpp`, `Name.h`, or `Name.*` for both). A README's "May include:" line names
the program's folders a file of its folder may include in backticks (`recordset/`, `engines/sqlite/`), the Qt
modules (QtCore, QtGui, QtWidgets: widgets bring Gui and Core with them) and the outside libraries (SQLite,
libxlsxwriter, libmdb, libpq); "everything" allows all. A file may include its own folder's headers. Headers
and folders named in backticks in a sentence starting "Never", before any colon, are refused in every file
of the folder; in one starting "Headers never", in its headers. No source file is longer than 500 lines,
and no function longer than 60 (80 in tests, benchmarks and developer tools), counted from its first
line to its closing brace.
Prints each problem and exits 1 if there is any.
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
qt_headers = pathlib.Path(sys.argv[2])

PROGRAM_FOLDERS = {"platform", "engines", "register", "recordset", "controls", "service", "windows"}
LIBRARIES = {"sqlite3.h": "SQLite", "xlsxwriter.h": "libxlsxwriter", "mdbtools.h": "libmdb",
             "libpq-fe.h": "libpq"}
QT_MODULES = ["QtWidgets", "QtGui", "QtCore"]
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
NAMED_FOLDERS = ("src", "tools", "bench", "devtools")
SOURCES = (".cpp", ".h", ".c")
MOST_LINES = 500
MOST_FUNCTION_LINES = {"src": 60, "tools": 60, "tests": 80, "bench": 80, "devtools": 80}
NOT_A_FUNCTION = re.compile(r"^(class|struct|namespace|enum|union|extern)\b|=$")


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


def sentences(rule):
    return re.split(r"(?<=\.)\s+", rule)


def allowed_folders(rule):
    allowed = set()
    for sentence in sentences(rule):
        if not sentence.startswith(("Never", "Headers never")):
            allowed |= {f + "/" for f in re.findall(r"`([a-z]+(?:/[a-z]+)*)/`", sentence)}
    return allowed


def refused(rule):
    """What is named after "Never" (all files) and after "Headers never" (headers only): headers, and
    folders ending in a slash."""
    everywhere, in_headers = set(), set()
    for sentence in sentences(rule):
        named = set(re.findall(r"`([A-Za-z]+(?:/[A-Za-z]+)*/(?:[A-Za-z]+\.h)?)`",
                               sentence.split(":")[0]))
        if sentence.startswith("Headers never"):
            in_headers |= named
        elif sentence.startswith("Never"):
            everywhere |= named
    return everywhere, in_headers


def matches(header, names):
    return any(header == n or (n.endswith("/") and header.startswith(n)) for n in names)


def check_includes(folder, rule):
    own = folder.relative_to(root / "src").as_posix() + "/" if folder.is_relative_to(root / "src") else ""
    folders = allowed_folders(rule) | ({own} if own and own != "./" else set())
    never, never_in_headers = refused(rule)
    qt = allowed_qt(rule)
    problems = []
    for source in sorted(f for f in folder.iterdir() if f.suffix in SOURCES):
        for kind, header in INCLUDE.findall(source.read_text(encoding="utf-8")):
            closing = '"' if kind == '"' else ">"
            where = f"{source.relative_to(root)}: #include {kind}{header}{closing}"
            if kind == '"':
                if matches(header, never) or (source.suffix == ".h" and matches(header, never_in_headers)):
                    problems.append(f"{where}: its README refuses it here")
                elif "/" in header and header.split("/")[0] in PROGRAM_FOLDERS and not matches(header, folders):
                    problems.append(f"{where}: its folder is not in its README's list")
            else:
                module = qt_module(header)
                if module and module not in qt:
                    problems.append(f"{where}: {module} is not in its README's list")
                library = LIBRARIES.get(header)
                if library and library not in rule:
                    problems.append(f"{where}: {library} is not in its README's list")
    return problems


def check_named(folder, readme):
    named = set(re.findall(r"`([A-Za-z0-9_.*-]+)`", readme.read_text(encoding="utf-8")))
    problems = []
    for source in sorted(f for f in folder.iterdir() if f.suffix in SOURCES):
        if source.name not in named and source.stem + ".*" not in named:
            problems.append(f"{source.relative_to(root)}: not named in {readme.relative_to(root)}")
    return problems


def skipped(path):
    return any(part in ("build", "demo", ".git") or part.startswith("build")
               for part in path.relative_to(root).parts)


problems = []
checked = 0
for folder in sorted(p for p in (root / "src").rglob("*") if p.is_dir()):
    if not (folder / "README.md").is_file():
        problems.append(f"{folder.relative_to(root)}: a folder of the program without a README")
for readme in sorted(root.rglob("README.md")):
    if skipped(readme):
        continue
    if readme.relative_to(root).parts[0] in NAMED_FOLDERS:
        problems += check_named(readme.parent, readme)
    rule = rule_of(readme)
    if rule is None or "everything" in rule:
        continue
    checked += 1
    problems += check_includes(readme.parent, rule)
for source in sorted(root.rglob("*")):
    if source.suffix in SOURCES and source.is_file() and not skipped(source):
        lines = source.read_text(encoding="utf-8", errors="replace").count("\n")
        if lines > MOST_LINES:
            problems.append(f"{source.relative_to(root)}: {lines} lines, more than {MOST_LINES}")

def long_functions(source, most):
    """Functions whose body opens with a brace alone at the start of a line, as the code is formatted."""
    lines = source.read_text(encoding="utf-8", errors="replace").split("\n")
    problems, at = [], 0
    while at < len(lines):
        if lines[at] == "{" and at > 0:
            first = at - 1
            while first > 0 and not re.match(r"\S", lines[first]):
                first -= 1
            end = next((e for e in range(at, len(lines)) if lines[e].startswith("}")), len(lines))
            if not NOT_A_FUNCTION.search(lines[first]) and end - first + 1 > most:
                problems.append(f"{source.relative_to(root)}:{first + 1}: a function of "
                                f"{end - first + 1} lines, more than {most}")
            at = end
        at += 1
    return problems


for source in sorted(root.rglob("*")):
    top = source.relative_to(root).parts[0]
    if source.suffix in SOURCES and source.is_file() and not skipped(source) and top in MOST_FUNCTION_LINES:
        problems += long_functions(source, MOST_FUNCTION_LINES[top])

for problem in problems:
    print(problem)
print(f"{checked} folders checked, {len(problems)} problems")
sys.exit(1 if problems or checked == 0 else 0)
