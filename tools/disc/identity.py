"""Who the images belong to, decided before anything is placed: the images of one Patient ID are
one patient only when they agree on who that is. A DICOMDIR keys its patients by ID alone, so two
people under one ID (a reused ID, a test patient, an ID left empty) would become one patient on
the disc, under the first one's name.

check(images) groups the images by patient and returns the findings of a table of rules, each a
small function over the images of one Patient ID.
"""

import os
from dataclasses import dataclass, field


@dataclass
class PatientGroup:
    key: tuple  # (patient ID, name, birth date) as decided here
    images: list = field(default_factory=list)


@dataclass
class Finding:
    paths: list
    reason: str
    refuse: bool


def name_key(name):
    """A name as two spellings of it compare: components without padding, case or empty ends,
    and of its alphabetic, ideographic and phonetic forms the first given (a report often
    carries the alphabetic one alone where its images have all three)."""
    for group in name.split("="):
        parts = [part.strip().upper() for part in group.split("^")]
        while parts and not parts[-1]:
            parts.pop()
        if parts:
            return "^".join(parts)
    return ""


def _identities(images):
    """{(name key, birth date): images}; an image without a birth date joins the one identity of its
    name that has one."""
    named = {}
    for image in images:
        named.setdefault(name_key(image.patient_name), []).append(image)
    identities = {}
    for key, of_name in named.items():
        dates = sorted({image.birth_date for image in of_name if image.birth_date})
        for image in of_name:
            date = image.birth_date or (dates[0] if len(dates) == 1 else "")
            identities.setdefault((key, date), []).append(image)
    return identities


def _described(identity, images):
    name, date = identity
    return "%s%s" % (images[0].patient_name or "(no name)", ", born %s" % date if date else "")


def _one_identity_per_id(patient_id, images):
    identities = _identities(images)
    names = {name for name, _date in identities}
    if len(identities) < 2:
        return None
    if len(names) > 1:
        what = "%d names" % len(names)
    else:
        what = "%d birth dates" % len(identities)
    return "patient ID %s has images under %s" % (patient_id or "(empty)", what), identities


def _one_issuer_per_id(patient_id, images):
    issuers = {}
    for image in images:
        if image.issuer:
            issuers.setdefault(("issuer " + image.issuer, ""), []).append(image)
    if len(issuers) < 2:
        return None
    return "patient ID %s is issued by %d authorities" % (patient_id or "(empty)", len(issuers)), issuers


RULES = (_one_identity_per_id, _one_issuer_per_id)


def check(images, keep_conflicts=False, base=""):
    """(patients, findings): a PatientGroup per patient, and a Finding per rule an ID breaks, which
    refuses the build unless keep_conflicts, when the images stay apart as they came."""
    by_id = {}
    for image in images:
        by_id.setdefault(image.patient_id, []).append(image)
    patients, findings = [], []
    for patient_id, of_id in by_id.items():
        broken = [found for found in (rule(patient_id, of_id) for rule in RULES) if found]
        for reason, parts in broken:
            findings.append(Finding([image.path for part in parts.values() for image in part],
                                    _report(reason, parts, base), not keep_conflicts))
        if broken and keep_conflicts:
            for (name, date), part in _identities(of_id).items():
                patients.append(PatientGroup((patient_id, name, date), part))
        else:
            patients.append(PatientGroup((patient_id, name_key(of_id[0].patient_name), of_id[0].birth_date),
                                         of_id))
    return patients, findings


_FILES_NAMED = 5


def _report(reason, parts, base):
    lines = [reason + ":"]
    for identity, images in parts.items():
        paths = [os.path.relpath(image.path, base) if base else image.path for image in images]
        shown = ", ".join(paths[:_FILES_NAMED])
        more = " and %d more" % (len(paths) - _FILES_NAMED) if len(paths) > _FILES_NAMED else ""
        label = identity[0] if identity[0].startswith("issuer ") else _described(identity, images)
        lines.append("    %s: %d file(s): %s%s" % (label, len(paths), shown, more))
    return "\n".join(lines)
