"""The Python module tarvo: assemble and disassemble, with the expected
bytes worked out by hand from the V810's encodings (a halfword is written
low byte first; mov reg1, reg2 is opcode 0 with reg2 in bits 5-9 and reg1
in bits 0-4: mov $1, $2 is 0x0041)."""
import pytest

import tarvo

MOV_1_2 = bytes.fromhex("4100")


def test_assembles_the_default_language():
    r = tarvo.assemble("start:\n        mov $1, $2\n")
    assert r.ok and r.errors == 0 and r.messages == []
    assert r.image == MOV_1_2
    assert r.base == 0x07000000
    [start] = [n for n in r.names if n.name == "start"]
    assert (start.kind, start.value, start.file, start.line) == ("label", 0x07000000, "input.s", 1)


def test_assembles_gnu_syntax():
    r = tarvo.assemble("\t.text\n\tmov r1, r2\n", syntax="gnu")
    assert r.ok and r.image == MOV_1_2


def test_messages_have_a_place():
    r = tarvo.assemble("        mov $1, $2\n        movw 5, $3\n", path="game.s")
    assert not r.ok and r.errors == 1 and r.image == b""
    [m] = r.messages
    assert (m.severity, m.text, m.file, m.line) == ("error", "Invalid Opcode (movw)", "game.s", 2)
    assert (m.column, m.column_end) == (8, 12)
    # The name where it stands whole, not inside a longer one.
    [m] = tarvo.assemble("abc:\n        dw. abc, bc\n").messages
    assert (m.text, m.column, m.column_end) == ("Undefined name (bc)", 17, 19)


def test_options_are_keywords():
    # mov 5, $3 is opcode 0x10 with the immediate in reg1's place: 0x4065.
    assert tarvo.assemble("        mov FIVE, $3\n", defines={"FIVE": 5}).image == bytes.fromhex("6540")
    assert tarvo.assemble("        mov FIVE, $3\n", defines=["FIVE=5"]).image == bytes.fromhex("6540")
    # A label used as a displacement is a warning, and an error under --strict.
    text = "start:\n        jr start\n"
    assert [m.severity for m in tarvo.assemble(text).messages] == ["warning"]
    strict = tarvo.assemble(text, strict=True)
    assert not strict.ok and [m.severity for m in strict.messages] == ["error"]
    with pytest.raises(TypeError, match="no_such_option"):
        tarvo.assemble(text, no_such_option=True)
    with pytest.raises(ValueError):
        tarvo.assemble(text, syntax="intel")


def test_files_from_a_dict_or_a_callable():
    text = 'inc. "defs.inc"\n        mov FIVE, $3\n'
    r = tarvo.assemble(text, files={"defs.inc": b"df. FIVE 5\n"})
    assert r.ok and r.image == bytes.fromhex("6540")
    asked = []

    def read(name):
        asked.append(name)
        return "df. FIVE 5\n" if name.endswith("defs.inc") else None

    assert tarvo.assemble(text, files=read).image == bytes.fromhex("6540")
    assert asked and asked[0].endswith("defs.inc")
    # A patch's image comes through the same reader; a missing one stops the run.
    rom = {"rom.bin": b"ABCDEF"}
    assert tarvo.assemble("        db. 1\n", patch="rom.bin", files=rom).image == b"\x01BCDEF"
    # A local label's uses are its references, not the same digits as a number in an include.
    r = tarvo.assemble('1:\n        bne @1b\n        inc. "b.inc"\n', files={"b.inc": "        db. 1\n"})
    [local] = [n for n in r.names if n.name == "1"]
    assert [(u.file, u.line) for u in local.uses] == [("input.s", 2)]
    missing = tarvo.assemble("        db. 1\n", patch="none.bin", files=rom)
    assert not missing.ok and [m.text for m in missing.messages] == ["Cannot open none.bin for read."]
    # A file nobody has is an error of the run; the callable's exception is raised.
    assert not tarvo.assemble(text, files={}).ok

    def broken(name):
        raise KeyError(name)

    with pytest.raises(KeyError):
        tarvo.assemble(text, files=broken)


def test_disassembles_in_each_form():
    # mov $1, $2; then movhi 0x1234, $0, $5 (opcode 0x2F, reg2 5: 0xBCA0, then the immediate).
    data = MOV_1_2 + bytes.fromhex("a0bc3412")
    first, second = tarvo.disassemble(data)
    assert (first.address, first.size, first.bytes, first.mnemonic) == (0x07000000, 2, MOV_1_2, "mov")
    assert first.operands == ["$1", "$2"] and first.text == "mov $1, $2"
    assert (second.address, second.size, second.mnemonic, len(second.operands)) == (0x07000002, 4, "movhi", 3)
    [gnu] = tarvo.disassemble(MOV_1_2, address=0x8000, syntax="gnu")
    assert (gnu.address, gnu.text) == (0x8000, "mov r1, r2")
    # A tail too short for its instruction is one item of its bytes.
    assert [i.size for i in tarvo.disassemble(bytearray(MOV_1_2 + b"\xa0"))] == [2, 1]
    with pytest.raises(ValueError):
        tarvo.disassemble(data, syntax="intel")
