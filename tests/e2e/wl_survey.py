"""Survey replies as the wireless driver prints them: a header line, then
one fixed-width 115-byte row per access point."""


def record(ssid, channel="  6", yes="YES", pbc="PBC"):
    """One 115-byte survey table row."""
    row = bytearray(b" " * 115)
    row[0:3] = channel.encode()[:3].ljust(3)
    row[4:4 + len(ssid)] = ssid.encode()[:32]
    row[37:54] = b"00:11:22:33:44:55"
    row[56:63] = b"WPA2PSK"
    row[105:105 + len(yes)] = yes.encode()
    row[110:110 + len(pbc)] = pbc.encode()
    return bytes(row)


def table(*rows):
    header = b"Ch  SSID".ljust(114) + b"\n"
    return header + b"".join(rows)
