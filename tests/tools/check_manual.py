"""The manual builder over a long made-up manual: every line is printed once, on one page, and a
heading stays with the paragraph under it. Usage: check_manual.py MAKE_MANUAL"""
import os
import shutil
import subprocess
import sys
import tempfile

make_manual = sys.argv[1]
if shutil.which("pdftotext") is None:
    print("pdftotext (poppler-utils) is not installed")
    sys.exit(77)
with tempfile.TemporaryDirectory() as work:
    paragraphs = []
    for n in range(1, 121):
        if n % 17 == 0:
            paragraphs.append(f"## Раздел {n}")
        paragraphs.append(f"Абзац {n}: " + "слово " * (12 * (n % 5 + 1)) + f"конец№{n}.")
    source = os.path.join(work, "manual.md")
    with open(source, "w", encoding="utf-8") as out:
        out.write("\n\n".join(paragraphs) + "\n")
    pdf = os.path.join(work, "manual.pdf")
    environment = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    subprocess.run([make_manual, source, pdf], check=True, env=environment)

    pages = []
    page = 1
    while True:
        run = subprocess.run(["pdftotext", "-f", str(page), "-l", str(page), pdf, "-"],
                             capture_output=True, text=True)
        if run.returncode != 0:
            break
        pages.append([line.strip() for line in run.stdout.splitlines() if line.strip()])
        page += 1

failures = []
if len(pages) < 3:
    failures.append(f"only {len(pages)} pages")
text = "\n".join(line for lines in pages for line in lines)
for n in range(1, 121):
    for mark in (f"Абзац {n}:", f"конец№{n}."):
        if text.count(mark) != 1:
            failures.append(f"{mark!r} printed {text.count(mark)} times")
for number, (before, after) in enumerate(zip(pages, pages[1:]), start=1):
    if before and after and before[-1] == after[0]:
        failures.append(f"page {number} ends and page {number + 1} begins with {after[0]!r}")
    if before and before[-1].startswith("Раздел"):
        failures.append(f"page {number} ends with the heading {before[-1]!r}")
print("\n".join(failures) or f"{len(pages)} pages, every line once")
sys.exit(1 if failures else 0)
