"""The disc builder's section of bench/REPORT.md: written by bench/disc_bench.py between two
markers, and kept when bench/bench.py writes the rest of the report again."""

BEGIN = "<!-- disc builder: bench/disc_bench.py -->"
END = "<!-- end of disc builder -->"


def section_of(text):
    """The marked section in text, markers included, or ""."""
    start = text.find(BEGIN)
    end = text.find(END, start)
    if start < 0 or end < 0:
        return ""
    return text[start:end + len(END)]


def with_section(text, section):
    """text with its marked section replaced by section (appended when it has none)."""
    old = section_of(text)
    if old:
        return text.replace(old, section)
    if not section:
        return text
    return text.rstrip("\n") + "\n\n" + section + "\n"
