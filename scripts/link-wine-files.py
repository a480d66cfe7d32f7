#!/usr/bin/env python3
"""Turns the copies of Wine's own DLLs and programs in a freshly booted Wine
prefix into hard links to Wine's files.

Usage: link-wine-files.py PREFIX WINE_DIR

Booting copies them into the prefix's system directories (and its side-by-side
store): over a gigabyte a prefix, and a build tree's tests make several. Only a
copy still byte for byte Wine's file is linked. Where the two lie on different
file systems, or the system refuses a link to a file this user does not own
(fs.protected_hardlinks), the copy is linked instead to the one kept in
"wine-files" beside PREFIX (the first prefix's copy is kept there). Prints how
many bytes it freed.
"""

import filecmp
import glob
import os
import sys

# (directory of Wine's files under WINE_DIR/usr/lib, patterns of the prefix
# directories holding copies of them)
KINDS = (
    ("x86_64-linux-gnu/wine/x86_64-windows", ("system32", "winsxs/amd64_*")),
    ("i386-linux-gnu/wine/i386-windows", ("syswow64", "winsxs/x86_*")),
)


def copies(windows, places):
    for place in places:
        for root in sorted(glob.glob(os.path.join(windows, place))):
            for here, _, files in os.walk(root):
                for name in files:
                    yield os.path.join(here, name)


def replace_with_link(kept, path):
    """Replaces PATH, whole, by a hard link to KEPT; False when the system refuses the link."""
    temporary = path + ".qal-link"
    try:
        os.link(kept, temporary)
    except OSError:
        return False
    os.replace(temporary, path)
    return True


def link_to_pool(path, kept):
    """Where Wine's file cannot be linked, the first prefix's copy is kept in
    the pool beside the prefixes, and the later ones link to it."""
    if not os.path.exists(kept):
        os.makedirs(os.path.dirname(kept), exist_ok=True)
        try:
            os.link(path, kept)
        except OSError:
            pass
        return False
    return filecmp.cmp(path, kept, shallow=False) and replace_with_link(kept, path)


def link_prefix(prefix, wine_dir):
    windows = os.path.join(prefix, "drive_c", "windows")
    pool = os.path.join(os.path.dirname(os.path.abspath(prefix)), "wine-files")
    freed = 0
    for source_dir, places in KINDS:
        source_dir = os.path.realpath(os.path.join(wine_dir, "usr", "lib", source_dir))
        if not os.path.isdir(source_dir):
            continue
        for path in copies(windows, places):
            name = os.path.basename(path)
            source = os.path.join(source_dir, name)
            try:
                info = os.lstat(path)
                if (info.st_nlink != 1 or not os.path.isfile(source)
                        or not filecmp.cmp(path, source, shallow=False)):
                    continue
                if (replace_with_link(source, path)
                        or link_to_pool(path, os.path.join(pool, os.path.basename(source_dir), name))):
                    freed += info.st_size
            except OSError:
                continue
    return freed


def main(argv):
    if len(argv) == 2 and argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0
    if len(argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    print(link_prefix(argv[1], argv[2]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
