"""Makes a package that cpack wrote the same, byte for byte, wherever it is
built: python3 normalise_package.py PACKAGE (a .deb or a .zip), rewritten in
place. Run by cmake/cpack_post_build.cmake with SOURCE_DATE_EPOCH set.

CPack leaves three things to the machine that builds:
- a zip's members come in the order the file system lists the folder (hash
  order on ext4, with a seed of each file system's own; newest first on
  tmpfs) and carry the builder's user and group ids;
- a .deb's Installed-Size adds up the sizes the file system gives its folders
  (4096 bytes each on ext4, far less on tmpfs);
- the modes of the .deb's three members follow the builder's umask.
"""
import gzip
import io
import math
import os
import sys
import tarfile
import time
import zipfile

AR_MAGIC = b"!<arch>\n"


def source_date():
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    return int(epoch) if epoch else None


def normalise_zip(path, epoch):
    with zipfile.ZipFile(path) as source:
        members = [(info, source.read(info)) for info in source.infolist()]
    with zipfile.ZipFile(path, "w") as target:
        for old, data in sorted(members, key=lambda member: member[0].filename):
            # DOS times hold no zone: the date is written as UTC, and a zip
            # cannot go back past 1980.
            stamp = time.gmtime(max(epoch, 315532800))[:6] if epoch else old.date_time
            info = zipfile.ZipInfo(old.filename, stamp)
            info.create_system = 3  # Unix, so that the mode bits count
            info.external_attr = old.external_attr
            info.compress_type = zipfile.ZIP_DEFLATED
            target.writestr(info, data, compresslevel=9)


def read_ar(data):
    if not data.startswith(AR_MAGIC):
        sys.exit("not an ar archive")
    members, offset = [], len(AR_MAGIC)
    while offset < len(data):
        header = data[offset:offset + 60]
        size = int(header[48:58])
        members.append([header, data[offset + 60:offset + 60 + size]])
        offset += 60 + size + size % 2
    return members


def installed_size(data_tar):
    """In KiB, as dpkg-gencontrol counts: each file's size rounded up, and
    one for every other entry (folders, links)."""
    with tarfile.open(fileobj=io.BytesIO(data_tar)) as archive:
        return sum(math.ceil(entry.size / 1024) if entry.isfile() else 1
                   for entry in archive.getmembers())


def with_installed_size(control_tar_gz, size):
    source = tarfile.open(fileobj=io.BytesIO(control_tar_gz))
    out = io.BytesIO()
    with gzip.GzipFile(fileobj=out, mode="wb", mtime=0, filename="") as packed:
        with tarfile.open(fileobj=packed, mode="w", format=tarfile.GNU_FORMAT) as target:
            for entry in source.getmembers():
                data = source.extractfile(entry).read()
                if entry.name.lstrip("./") == "control":
                    lines = data.decode().split("\n")
                    lines = [f"Installed-Size: {size}" if line.startswith("Installed-Size:")
                             else line for line in lines]
                    data = "\n".join(lines).encode()
                    entry.size = len(data)
                target.addfile(entry, io.BytesIO(data))
    return out.getvalue()


def normalise_deb(path):
    with open(path, "rb") as f:
        members = read_ar(f.read())
    data_tar = next(body for header, body in members if header.startswith(b"data.tar"))
    size = installed_size(data_tar)
    out = bytearray(AR_MAGIC)
    for header, body in members:
        if header.startswith(b"control.tar.gz"):
            body = with_installed_size(body, size)
        header = header[:40] + b"100644  " + f"{len(body):<10}".encode() + header[58:]
        out += header + body + (b"\n" if len(body) % 2 else b"")
    with open(path, "wb") as f:
        f.write(out)


def main():
    path = sys.argv[1]
    if path.endswith(".zip"):
        normalise_zip(path, source_date())
    elif path.endswith(".deb"):
        normalise_deb(path)


if __name__ == "__main__":
    main()
