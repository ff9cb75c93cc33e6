# Copies a plug-in with its ELF header's machine changed to one this system does not run (the
# header's e_machine, two bytes at offset 18): a plug-in built for another processor.
import sys

data = bytearray(open(sys.argv[1], "rb").read())
assert data[:4] == b"\x7fELF"
little = data[5] == 1
other = 0xB7 if data[18:20] != (b"\xb7\x00" if little else b"\x00\xb7") else 0x3E  # AArch64 or x86-64
data[18:20] = other.to_bytes(2, "little" if little else "big")
open(sys.argv[2], "wb").write(bytes(data))
