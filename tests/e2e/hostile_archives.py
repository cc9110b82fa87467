#!/usr/bin/env python3
"""Turns a release archive that launcher-publish made into one that an attacker or a careless
publisher could put on the server, for the acceptance tests. Changes the archive in place:

  hostile_archives.py inflating   <archive> <name> <bytes>    an entry whose headers claim 10
                                                              bytes and whose data inflate to bytes
  hostile_archives.py overlapping <archive> <name> <bytes> <copies>
                                                              copies entries (name, name.1, ...)
                                                              whose records all point at the
                                                              same data of bytes (inflated)
  hostile_archives.py outside     <archive> <name>            an entry whose compressed size
                                                              claims more than the archive holds
  hostile_archives.py many        <archive> <folder> <count>  count empty files below folder
  hostile_archives.py commented   <archive> <folder> <count> <comment bytes>
                                                              count small files, each with a
                                                              comment of that many bytes in the
                                                              central directory
  hostile_archives.py index       <archive> <bytes>           ReleaseIndex.sha256 replaced by
                                                              well-formed lines of about bytes
"""
import copy
import struct
import sys
import zipfile

INDEX = "ReleaseIndex.sha256"
# Offset of the uncompressed size in a local file header.
LOCAL_SIZE_FIELD = 22


def patch_local_size(archive, header_offset, size):
    with open(archive, "r+b") as file:
        file.seek(header_offset + LOCAL_SIZE_FIELD)
        file.write(struct.pack("<I", size))


def inflating(archive, name, size):
    with zipfile.ZipFile(archive, "a", zipfile.ZIP_DEFLATED) as zip_file:
        zip_file.writestr(name, b"\0" * int(size))
        info = zip_file.getinfo(name)
        info.file_size = 10  # what the central directory says
        offset = info.header_offset
    patch_local_size(archive, offset, 10)


def overlapping(archive, name, size, copies):
    with zipfile.ZipFile(archive, "a", zipfile.ZIP_DEFLATED) as zip_file:
        zip_file.writestr(name, b"\0" * int(size))
        original = zip_file.getinfo(name)
        for number in range(1, int(copies)):
            twin = copy.copy(original)
            twin.filename = twin.orig_filename = "%s.%d" % (name, number)
            zip_file.filelist.append(twin)
            zip_file.NameToInfo[twin.filename] = twin


def outside(archive, name):
    with zipfile.ZipFile(archive, "a", zipfile.ZIP_DEFLATED) as zip_file:
        zip_file.writestr(name, b"a few bytes")
        zip_file.getinfo(name).compress_size = 1 << 31


def many(archive, folder, count):
    with zipfile.ZipFile(archive, "a", zipfile.ZIP_STORED) as zip_file:
        for number in range(int(count)):
            zip_file.writestr("%s/%03d/%03d" % (folder, number // 1000, number % 1000), b"")


def commented(archive, folder, count, comment_bytes):
    with zipfile.ZipFile(archive, "a", zipfile.ZIP_STORED) as zip_file:
        for number in range(int(count)):
            info = zipfile.ZipInfo("%s/%05d" % (folder, number))
            info.comment = b"c" * int(comment_bytes)
            zip_file.writestr(info, b"x")


def index(archive, size):
    with zipfile.ZipFile(archive) as original:
        entries = [(info, original.read(info)) for info in original.infolist()]
    line = ("0" * 64 + "  padding\n").encode()
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as zip_file:
        for info, data in entries:
            if info.filename == INDEX:
                data = line * (int(size) // len(line))
            zip_file.writestr(info, data, zipfile.ZIP_DEFLATED)


if __name__ == "__main__":
    globals()[sys.argv[1]](*sys.argv[2:])
