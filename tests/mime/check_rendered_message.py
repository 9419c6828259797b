"""Reads a message written by mime_message_writer with Python's email
package and checks it against the parts that went in.

Usage: check_rendered_message.py <writer program> <work directory>
"""

import email
import email.header
import email.policy
import email.utils
import json
import os
import subprocess
import sys


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def check_lines(data):
    if not data.endswith(b"\r\n"):
        fail("the message does not end with CR LF")
    lines = data.split(b"\r\n")[:-1]
    for number, line in enumerate(lines, 1):
        if b"\n" in line or b"\r" in line:
            fail("line %d has a line end other than CR LF" % number)
        if len(line) > 998:
            fail("line %d has %d characters" % (number, len(line)))
        if any(byte > 127 for byte in line):
            fail("line %d is not 7-bit" % number)


def check_root(root, expected_subject):
    if root.get_content_type() != "multipart/related":
        fail("root type is " + root.get_content_type())
    if root.get_param("type") != "text/html":
        fail("root type parameter is %r" % root.get_param("type"))
    boundary = root.get_boundary()
    if not boundary or not boundary.startswith("----=_NextPart_") or not boundary.endswith("_.REL"):
        fail("boundary %r" % boundary)
    if root["MIME-Version"] != "1.0" or root["X-Unsent"] != "1":
        fail("MIME-Version or X-Unsent missing")
    subject = str(email.header.make_header(email.header.decode_header(root["Subject"])))
    if subject != expected_subject:
        fail("subject reads back as %r" % subject)
    if email.utils.parsedate_to_datetime(root["Date"]) is None:
        fail("Date does not parse")
    if root.preamble is None or "multi-part message" not in root.preamble:
        fail("preamble missing")


def check_parts(root, manifest, directory):
    parts = root.get_payload()
    if len(parts) != len(manifest["parts"]):
        fail("%d parts read, %d written" % (len(parts), len(manifest["parts"])))
    for index, (part, plan) in enumerate(zip(parts, manifest["parts"])):
        label = "part %d (%s)" % (index, plan["file"])
        if part.defects:
            fail("%s has defects %r" % (label, part.defects))
        if part.get_content_type() != plan["content_type"]:
            fail("%s type %s" % (label, part.get_content_type()))
        if plan["charset"] and part.get_param("charset") != plan["charset"]:
            fail("%s charset %r" % (label, part.get_param("charset")))
        if plan["name"] and part.get_param("name") != plan["name"]:
            fail("%s name %r" % (label, part.get_param("name")))
        if part["Content-Transfer-Encoding"] != plan["encoding"]:
            fail("%s encoding %r" % (label, part["Content-Transfer-Encoding"]))
        with open(os.path.join(directory, plan["file"]), "rb") as handle:
            expected = handle.read()
        payload = part.get_payload(decode=True)
        if payload != expected:
            fail("%s payload differs: %d bytes read, %d written" % (label, len(payload), len(expected)))


def main():
    writer, directory = sys.argv[1], sys.argv[2]
    os.makedirs(directory, exist_ok=True)
    subprocess.run([writer, directory], check=True)
    with open(os.path.join(directory, "message.eml"), "rb") as handle:
        data = handle.read()
    with open(os.path.join(directory, "manifest.json"), encoding="utf-8") as handle:
        manifest = json.load(handle)
    with open(os.path.join(directory, "subject.txt"), "rb") as handle:
        expected_subject = handle.read().decode("utf-8")

    check_lines(data)
    root = email.message_from_bytes(data, policy=email.policy.compat32)
    if root.defects:
        fail("root has defects %r" % root.defects)
    check_root(root, expected_subject)
    check_parts(root, manifest, directory)
    # The modern parser must agree on the subject.
    modern = email.message_from_bytes(data, policy=email.policy.default)
    if str(modern["Subject"]) != expected_subject:
        fail("default policy reads subject %r" % str(modern["Subject"]))
    print("OK: %d parts, %d bytes" % (len(manifest["parts"]), len(data)))


if __name__ == "__main__":
    main()
