"""Packed viewers kept for later discs. 7-Zip takes most of a CPU second to pack the viewer, which
is the same page from one disc to the next; an archive is kept under the digest of every name,
mode and byte of the folder it was packed from, so a viewer changed in any way is packed afresh.
The cache only saves time: where it cannot be read or written, the viewer is packed as ever."""

import hashlib
import os
import shutil
import stat
import tempfile

_KEPT = 4  # a few viewers side by side (branches, versions); the least used goes first
_SUFFIX = ".7z"
_PART = ".part-"
_BLOCK = 1 << 20


class _NotKeyed(Exception):
    pass


def viewer_key(folder, packing):
    """The digest of packing (how the archive is made) and of the folder's whole content, or None
    where the folder holds a link or a special file: what 7-Zip packs behind one could change
    while the digest stays the same."""
    digest = hashlib.sha256()
    _add(digest, repr(packing).encode("utf-8"))
    try:
        _add_folder(digest, folder, b"")
    except (_NotKeyed, OSError):
        return None
    return digest.hexdigest()


def _add(digest, data):
    # Length first, so that no two different sequences of parts give the same stream.
    digest.update(len(data).to_bytes(8, "little"))
    digest.update(data)


def _add_folder(digest, folder, relative):
    with os.scandir(folder) as listing:
        entries = sorted(listing, key=lambda entry: entry.name)
    for entry in entries:
        info = entry.stat(follow_symlinks=False)
        name = relative + os.fsencode(entry.name)
        if stat.S_ISDIR(info.st_mode):
            _add(digest, b"D" + name)
            _add(digest, stat.S_IMODE(info.st_mode).to_bytes(4, "little"))
            _add_folder(digest, entry.path, name + b"/")
        elif stat.S_ISREG(info.st_mode):
            _add(digest, b"F" + name)
            _add(digest, stat.S_IMODE(info.st_mode).to_bytes(4, "little"))
            _add_file(digest, entry.path)
        else:
            raise _NotKeyed(entry.path)


def _add_file(digest, path):
    content = hashlib.sha256()
    with open(path, "rb") as handle:
        for block in iter(lambda: handle.read(_BLOCK), b""):
            content.update(block)
    _add(digest, content.digest())


def _place(cache, key):
    return os.path.join(cache, key + _SUFFIX)


def take(cache, key, archive):
    """Copies the archive kept under key to archive; False where none is kept."""
    if not cache or not key:
        return False
    kept = _place(cache, key)
    try:
        shutil.copyfile(kept, archive)
    except FileNotFoundError:
        return False
    except OSError:
        if os.path.lexists(archive):
            os.unlink(archive)
        return False
    try:
        os.utime(kept)  # recently used: kept longest
    except OSError:
        pass
    return True


def keep(cache, key, archive):
    """Keeps a copy of archive under key. It appears whole or not at all, so that a build
    stopped half way or another one beside it never finds part of an archive."""
    if not cache or not key:
        return
    part = None
    try:
        os.makedirs(cache, exist_ok=True)
        handle, part = tempfile.mkstemp(prefix=_PART, dir=cache)
        os.close(handle)
        shutil.copyfile(archive, part)
        os.replace(part, _place(cache, key))
        part = None
        _prune(cache)
    except OSError:
        pass
    finally:
        if part is not None and os.path.lexists(part):
            os.unlink(part)


def _prune(cache):
    kept = []
    for name in os.listdir(cache):
        if name.endswith(_SUFFIX) and not name.startswith(_PART):
            path = os.path.join(cache, name)
            kept.append((os.stat(path).st_mtime, path))
    for _used, path in sorted(kept, reverse=True)[_KEPT:]:
        os.unlink(path)
