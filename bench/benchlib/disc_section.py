"""The disc builder's section of bench/REPORT.md: written by bench/disc_bench.py between two
markers, and kept when bench/bench.py writes the rest of the report again. The viewer's section
(bench/viewer_bench.js) is kept the same way, between its own markers."""

BEGIN = "<!-- disc builder: bench/disc_bench.py -->"
END = "<!-- end of disc builder -->"
VIEWER = ("<!-- viewer: bench/viewer_bench.js -->", "<!-- end of viewer -->")


def section_of(text, markers=(BEGIN, END)):
    """The marked section in text, markers included, or ""."""
    begin_marker, end_marker = markers
    start = text.find(begin_marker)
    end = text.find(end_marker, start)
    if start < 0 or end < 0:
        return ""
    return text[start:end + len(end_marker)]


def with_section(text, section, markers=(BEGIN, END)):
    """text with its marked section replaced by section (appended when it has none)."""
    old = section_of(text, markers)
    if old:
        return text.replace(old, section)
    if not section:
        return text
    return text.rstrip("\n") + "\n\n" + section + "\n"
