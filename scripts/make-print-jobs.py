#!/usr/bin/env python3
"""Writes the print jobs of the printserver fixture (tests/fixtures/printserver).

Usage: make-print-jobs.py OUT_DIR

cupsd keeps each job's attributes in /var/spool/cups/c<id> as an IPP message
(RFC 8010: 8-byte header, attribute groups, end-of-attributes tag, written by
ippWriteIO) and a summary of all jobs in /var/cache/cups/job.cache. The jobs
are made up for the tests:

  c00005  Office_Laser  completed (kept for history only)
  c00007  Office_Laser  pending
  c00008  Label_Writer  held, name with language, a nested collection
  c00009  Old_Queue     processing; its format only in job.cache
  c00010  Office_Laser  pending, control file cut short
  job 11 is in job.cache only: its files have gone away
"""
import os
import struct
import sys

OUT = sys.argv[1] if len(sys.argv) > 1 else sys.exit(__doc__)

OPERATION, JOB, END = 0x01, 0x02, 0x03
NOVALUE, INTEGER, BOOLEAN, ENUM = 0x13, 0x21, 0x22, 0x23
DATETIME, BEGCOL, NAMELANG, ENDCOL = 0x31, 0x34, 0x36, 0x37
TEXT, NAME, KEYWORD, URI, CHARSET, LANGUAGE, MIMETYPE, MEMBER = 0x41, 0x42, 0x44, 0x45, 0x47, 0x48, 0x49, 0x4A


def attr(tag, name, *values):
    """One attribute; further values repeat the tag with an empty name."""
    out = b""
    for i, v in enumerate(values):
        n = name.encode() if i == 0 else b""
        out += struct.pack(">BH", tag, len(n)) + n + struct.pack(">H", len(v)) + v
    return out


def integer(tag, name, v):
    return attr(tag, name, struct.pack(">i", v))


def string(tag, name, *vs):
    return attr(tag, name, *(v.encode() for v in vs))


def date(epoch):
    """RFC 2579 DateAndTime in UTC."""
    import datetime
    t = datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc)
    return struct.pack(">HBBBBBBcBB", t.year, t.month, t.day, t.hour, t.minute, t.second, 0, b"+", 0, 0)


def message(op_attrs, job_attrs):
    header = struct.pack(">BBHI", 2, 0, 0x0002, 1)  # IPP/2.0 Print-Job, request 1
    return header + bytes([OPERATION]) + op_attrs + bytes([JOB]) + job_attrs + bytes([END])


def operation(fmt):
    return (string(CHARSET, "attributes-charset", "utf-8") + string(LANGUAGE, "attributes-natural-language", "en")
            + (string(MIMETYPE, "document-format", fmt) if fmt else b""))


def job(jid, printer, state, name, user, host, created, processing=None, priority=50, koctets=1,
        impressions_completed=0, sheets_completed=0, fmt=None, extra=b"", name_tag=NAME):
    j = string(URI, "job-printer-uri", "ipp://localhost/printers/" + printer)
    j += string(NAME, "job-originating-user-name", user)
    if name_tag == NAMELANG:
        j += attr(NAMELANG, "job-name", struct.pack(">H", 2) + b"en" + struct.pack(">H", len(name)) + name.encode())
    else:
        j += string(NAME, "job-name", name)
    j += string(NAME, "job-originating-host-name", host)
    j += attr(DATETIME, "date-time-at-creation", date(created))
    j += integer(INTEGER, "time-at-creation", created)
    j += integer(INTEGER, "time-at-processing", processing) if processing else attr(NOVALUE, "time-at-processing", b"")
    j += integer(INTEGER, "job-id", jid)
    j += integer(ENUM, "job-state", state)
    j += string(KEYWORD, "job-state-reasons", "none")
    j += integer(INTEGER, "job-impressions-completed", impressions_completed)
    j += integer(INTEGER, "job-media-sheets-completed", sheets_completed)
    j += integer(INTEGER, "job-priority", priority)
    j += integer(INTEGER, "job-k-octets", koctets)
    return message(operation(fmt), j + extra)


def media_col(x, y):
    """media-col { media-size { x-dimension, y-dimension }, media-source }"""
    member = lambda n: attr(MEMBER, "", n.encode())
    return (attr(BEGCOL, "media-col", b"")
            + member("media-size") + attr(BEGCOL, "", b"")
            + member("x-dimension") + struct.pack(">BHH", INTEGER, 0, 4) + struct.pack(">i", x)
            + member("y-dimension") + struct.pack(">BHH", INTEGER, 0, 4) + struct.pack(">i", y)
            + attr(ENDCOL, "", b"")
            + member("media-source") + attr(KEYWORD, "", b"main")
            + attr(ENDCOL, "", b""))


def w(path, data):
    full = os.path.join(OUT, path.lstrip("/"))
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data)


spool = "/var/spool/cups/"
w(spool + "c00005", job(5, "Office_Laser", 9, "old invoice.pdf", "alice", "localhost", 1733400000,
                        processing=1733400005, impressions_completed=2, sheets_completed=2, fmt="application/pdf"))
w(spool + "c00007", job(7, "Office_Laser", 3, "Quarterly report.pdf", "alice", "localhost", 1733480100,
                        koctets=245, fmt="application/pdf",
                        extra=integer(INTEGER, "job-impressions", 12)
                        + string(KEYWORD, "media", "iso_a4_210x297mm")
                        + string(KEYWORD, "print-color-mode", "monochrome")))
w(spool + "c00008", job(8, "Label_Writer", 4, "Shipping labels #4", "bob", "192.0.2.77", 1733480200,
                        priority=100, koctets=3, fmt="text/plain", name_tag=NAMELANG,
                        extra=string(KEYWORD, "job-hold-until", "indefinite")
                        + media_col(21590, 27940)
                        + string(KEYWORD, "media", "na_letter_8.5x11in")
                        + string(KEYWORD, "print-color-mode", "color", "monochrome")))
w(spool + "c00009", job(9, "Old_Queue", 5, "notes.txt", "carol", "ws7.example.org", 1733480300,
                        processing=1733480400, priority=1, koctets=0, impressions_completed=3, sheets_completed=2))
whole = job(10, "Office_Laser", 3, "cut short.pdf", "dave", "localhost", 1733480500, fmt="application/pdf")
w(spool + "c00010", whole[: len(whole) // 2])

w("/var/cache/cups/job.cache", b"""# Job cache file for CUPS v2.4.2
# Written by cupsd
NextJobId 12
<Job 5>
State 9
Created 1733400000
Completed 1733400009
Priority 50
Username alice
Name old invoice.pdf
Destination Office_Laser
DestType 0
KOctets 1
NumFiles 1
File 1 application/pdf 0
</Job>
<Job 7>
State 3
Created 1733480100
Priority 50
Username alice
Name Quarterly report.pdf
Destination Office_Laser
DestType 0
KOctets 245
NumFiles 1
File 1 application/pdf 0
</Job>
<Job 8>
State 4
Created 1733480200
Priority 100
HoldUntil 2147483647
Username bob
Name Shipping labels \\#4
Destination Label_Writer
DestType 0
KOctets 3
NumFiles 1
File 1 text/plain 0
</Job>
<Job 9>
State 5
Created 1733480300
Priority 1
Username carol
Name notes.txt
Destination Old_Queue
DestType 0
KOctets 0
NumFiles 1
File 1 text/plain 0
</Job>
<Job 10>
State 3
Created 1733480500
Priority 50
Username dave
Name cut short.pdf
Destination Office_Laser
DestType 0
KOctets 1
NumFiles 1
File 1 application/pdf 0
</Job>
<Job 11>
State 3
Created 1733480600
Priority 50
Username erin
Name gone.pdf
Destination Office_Laser
DestType 0
KOctets 1
NumFiles 1
File 1 application/pdf 0
</Job>
""")
