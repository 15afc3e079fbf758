"""Lists a pakfile in data order and extracts it: list_and_extract.py LOCALE PAK [DIR]"""
import os
import sys

import kestrum

locale, pak_path, destination = (sys.argv[1:] + ["."])[:3]
kestrum.set_locale(locale)
with kestrum.open(pak_path) as pak:
    for entry in pak:
        print("%10d  %s" % (entry.size, entry.path))
        target = os.path.join(destination, *entry.path.split("\\"))
        os.makedirs(os.path.dirname(target) or ".", exist_ok=True)
        with kestrum.open_file(entry.path) as source, open(target, "wb") as out:
            out.write(source.read())
