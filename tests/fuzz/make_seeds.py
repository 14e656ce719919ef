#!/usr/bin/env python3
"""Writes the small seed corpus of each fuzz target into tests/fuzz/corpus/<target>/.

Run again after a message layout changes; the seeds are checked in."""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def short(text):
    data = text.encode()
    return bytes([len(data)]) + data


# Client -> plug-in messages, as the read loop sees them after pairing.
write("client_messages_fuzz", "commands", bytes([0x01]) + bytes([0x04, 1]) + bytes([0x05, 0])
      + bytes([0x07]) + struct.pack("<H", 720) + bytes([0x08, 1, 2]) + bytes([0x22]))
write("client_messages_fuzz", "reports", bytes([0x03]) + bytes(24) + bytes([0x0E]) + bytes(32))
write("client_messages_fuzz", "variable", bytes([0x13]) + short("libx264")
      + bytes([0x18, 1, 2, 3, 4, 5, 3, 9, 9, 9]) + bytes([0x40]) + short("marker"))

# Plug-in -> client messages, as a phone reads them.
engines = bytes([2]) + short("auto") + short("Automatic") + short("") \
    + short("libx264") + short("Software H.264") + short("CPU")
write("plugin_messages_fuzz", "stream", bytes([0x06]) + struct.pack("<HHHI", 1920, 1080, 30, 500000)
      + bytes([0x16]) + struct.pack("<HHf", 1920, 1080, 29.97) + bytes([0x36, 2, 1])
      + bytes([0x37]) + short("libx264 ultrafast") + bytes([0x38, len(engines)]) + engines)
write("plugin_messages_fuzz", "pairing", bytes([0x09, 0x31, 0x33]) + short("t" * 43)
      + bytes([0x0F, 0x04, 0x1A, 1, 0x35, 0, 0x34]))

# The ClientHello.
write("client_hello_fuzz", "first", bytes([0x30]) + short("6F9619FF-8B86-D011-B42D-00C04FC964FF")
      + short("Phone") + short(""))
write("client_hello_fuzz", "token", bytes([0x30]) + short("phone-1") + short("Studio iPhone")
      + short("A" * 43) + bytes([0x32]) + b"123456")

# Datagrams, each behind a u16 length: one video frame of two data fragments and one parity
# fragment, then one audio packet.
FRAGMENT = 1440


def datagram(stream, flags, frame, seq, index, total, payload, trailer=None):
    head = b"SVV" + bytes([2, stream, flags]) + struct.pack("<HIIHHH", frame, seq, 1000, index,
                                                          total, len(payload))
    body = head + payload + (struct.pack("<I", trailer) if trailer is not None else b"")
    return struct.pack("<H", len(body)) + body


video = b""
video += datagram(1, 0x01 | 0x02 | (1 << 2), 7, 100, 0, 3, bytes(range(256)) * 5 + bytes(160), 5)
video += datagram(1, 0x01 | 0x02 | (1 << 2), 7, 101, 1, 3, b"\x00\x00\x00\x01\x65" * 20, 6)
video += datagram(1, 0x01 | (1 << 2), 7, 102, 2, 3, struct.pack("<H", 100) + bytes(FRAGMENT), None)
audio = datagram(2, 0, 3, 103, 0, 1, bytes(range(200)))
write("datagrams_fuzz", "video_and_audio", video + audio)
write("datagrams_fuzz", "audio_only", audio + datagram(2, 0, 4, 104, 0, 1, bytes(64)))

# State files.
write("state_json_fuzz", "install", b'{"id":"6f9619ff-8b86-d011-b42d-00c04fc964ff","name":"Edit \\"Bay\\" \\u00e9",'
      b'"discoverable":"false","enableAsyncHwEncoders":"true"}\n')
write("state_json_fuzz", "install_damaged", b'{"id":"abc" "name":"Desk","discoverable":"false"\n')
write("state_json_fuzz", "trusted", b'[{"id":"phone-1","name":"Studio\\tiPhone","token":"tok",'
      b'"firstPaired":"2025-03-04T17:05:09Z"},{"id":"p2","name":"","token":"x","firstPaired":""}]\n')

# Encoder output; the first byte picks HEVC (odd) or H.264 (even).
sc = b"\x00\x00\x00\x01"
h264 = sc + b"\x67\x42\xc0\x1f\xda" + sc + b"\x68\xce\x3c\x80" + b"\x00\x00\x01\x06\x05\x01" + sc \
    + b"\x65\x88\x84\x00\x33"
hevc = sc + b"\x40\x01\x0c\x01" + sc + b"\x42\x01\x01\x01" + sc + b"\x44\x01\xc1\x72" + sc \
    + b"\x26\x01\xaf\x0a"
write("annexb_fuzz", "h264_annexb", b"\x00" + h264)
write("annexb_fuzz", "hevc_annexb", b"\x01" + hevc)
write("annexb_fuzz", "h264_length_prefixed", b"\x00" + struct.pack(">I", 5) + b"\x67\x42\xc0\x1f\xda"
      + struct.pack(">I", 5) + b"\x65\x88\x84\x00\x33")
avcc = bytes([1, 0x42, 0xc0, 0x1f, 0xff, 0xe1]) + struct.pack(">H", 5) + b"\x67\x42\xc0\x1f\xda" \
    + bytes([1]) + struct.pack(">H", 4) + b"\x68\xce\x3c\x80"
write("annexb_fuzz", "avcc_record", b"\x00" + avcc)
hvcc = bytes(22) + bytes([3])
for nal_type, nal in ((32, b"\x40\x01\x0c\x01"), (33, b"\x42\x01\x01\x01"), (34, b"\x44\x01\xc1\x72")):
    hvcc += bytes([0x80 | nal_type]) + struct.pack(">HH", 1, len(nal)) + nal
write("annexb_fuzz", "hvcc_record", b"\x01" + hvcc)
