#!/usr/bin/python3
"""Copies pydicom's character set test files that carry a patient name into FOLDER/DICOM, each
under a patient ID of its own (the files share theirs, and an index would merge them), and prints
as JSON what pydicom reads from each: the file, its character set and the name's groups.

    /usr/bin/python3 make_charset_study.py FOLDER
"""

import json
import os
import sys

from pydicom import dcmread
from pydicom.data import get_charset_files


def groups(name):
    """The name's component groups (alphabetic, ideographic, phonetic), each as its components."""
    return [[c for c in group.split("^")] for group in str(name).split("=")]


def main():
    folder = os.path.join(sys.argv[1], "DICOM")
    os.makedirs(folder, exist_ok=True)
    out = []
    for number, path in enumerate(sorted(get_charset_files("chr*.dcm")), 1):
        ds = dcmread(path)
        if not ds.get("PatientName"):
            continue
        ds.PatientID = "CHR%03d" % number
        ds.save_as(os.path.join(folder, "CHR%05d" % number), write_like_original=False)
        read = dcmread(os.path.join(folder, "CHR%05d" % number))
        charset = read.SpecificCharacterSet
        out.append({"file": os.path.basename(path), "charset": charset if isinstance(charset, str) else "\\".join(charset),
                    "id": read.PatientID, "name": groups(read.PatientName)})
    print(json.dumps(out, ensure_ascii=False))


if __name__ == "__main__":
    main()
